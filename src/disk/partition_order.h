// The order of a card's two partitions while a command works on it: on the
// older Windows the large one is put first to reach it from the PC, and must
// not stay there, or the camera cannot start from the card.
#pragma once

#include <string>

#include "disk/card_disk.h"

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

// The root of the letter that shows this partition of the card. Where no
// letter does (the older Windows show the first entry only), the entries are
// swapped with the prompts first, bringing the large partition first or not
// as largeFirstAfter says. False, after its message, when the partition
// cannot be reached.
bool ReachPartition(PartitionOrder& order, const TableEntry& entry, bool largeFirstAfter,
                    std::string& root);

// True when the command left the large partition first and the card, still
// the chosen one, holds it so now: only then may it be swapped back.
bool LeftLargeFirst(const PartitionOrder& order);

}  // namespace disk
