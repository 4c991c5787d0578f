// The order of a card's two partitions while a command works on it: the
// large one is put first to reach it from the PC, and must not stay there,
// or the camera cannot start from the card.
#pragma once

namespace disk {

// Whether the card's large partition is first in its table because the
// command put it there.
struct PartitionOrder {
  bool largeFirst = false;
};

// Swaps the first two entries, then asks for the card to be removed and
// re-inserted and checks that it was. largeFirstAfter says which partition
// the swap brings first. False when the command must end.
bool SwapWithPrompts(PartitionOrder& order, bool largeFirstAfter);

// The last swap: quietly, the small partition first again.
bool SwapBackQuietly(PartitionOrder& order);

}  // namespace disk
