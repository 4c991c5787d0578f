// What the guided sequences (New Install, Version Up) share: the checks
// before they start and before they copy, and their early end.
#pragma once

#include "disk/partition_order.h"

namespace install {

// The checks before a sequence touches the card: a card is identified and
// has a size, the program does not run from it, the add-on's files lie
// beside the program, and the volume takes a write. Each refusal that the
// user can act on is shown.
bool ReadyForSequence();

// An early end: when the sequence left the large partition first, it is
// swapped back quietly and the card ejected, as the sequence's own last
// steps would have done. Nothing is written to a card that is no longer the
// one the sequence began with.
void EndEarly(disk::PartitionOrder& order);

// The card's volume still shows the chosen card; then copies may start.
bool ReadyToCopy();

}  // namespace install
