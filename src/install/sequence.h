// What the guided sequences (New Install, Version Up) share: the checks
// before they start, after their dialog and before they copy, their end and
// their early end.
#pragma once

#include <string>

#include "disk/partition_order.h"
#include "install/verify.h"

namespace install {

// The checks before a sequence touches the card: a card is identified and
// has a size, the program does not run from it, it is not encrypted, the
// add-on's files lie beside the program, and the volume takes a write. Each
// refusal that the user can act on is shown.
bool ReadyForSequence();

// After the settings dialog: the reader still holds the chosen card, and the
// configuration for the camera position chosen lies beside the program.
bool ReadyAfterSetting();

// An early end: when the sequence left the large partition first, it is
// swapped back quietly and the card ejected, as the sequence's own last
// steps would have done. Nothing is written to a card that is no longer the
// one the sequence began with.
void EndEarly(disk::PartitionOrder& order);

// The card root lies on the chosen card; then copies may start.
bool ReadyToCopy(const std::string& cardRoot);

// The end message, once everything written has reached the card (the user
// takes it out while the message is up) and the card was read back as the
// proof says; no message when it is not so.
void FinishSequence(unsigned captionId, unsigned textId, const CardProof& proof);

}  // namespace install
