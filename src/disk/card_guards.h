// The guards of every command that writes to a card: the user may swap cards
// or re-plug the reader while a question, a dialog, a prompt or a format is
// up, may run the program from the card it is about to erase, and may bring
// a card whose data is encrypted.
#pragma once

#include <string>

namespace disk {

// True when the reader still holds the card of CardState (see SameCard) and,
// when a root is given, that root's volume lies on it. Otherwise shows "SD
// Card changed or missing!".
bool ConfirmSameCard(const std::string& root = {});

// Asks the user to remove the card (after a flush) and to re-insert it, then
// checks that it is the same card and that a letter shows the table's first
// partition; asks once more when not. False, after "SD Card changed or
// missing!", when it still is not so.
bool AskToRemoveAndReinsert();

// True, after "Run the installer from the PC, not from the SD Card!", when
// the program's own folder lies on any volume of the card.
bool RefuseProgramOnCard();

// True, after its message, when a volume of the card is encrypted with
// BitLocker: no write of the program's may touch it.
bool RefuseEncryptedCard();

// Both of the above: the refusals of every command that writes the card.
bool RefuseCardForWriting();

}  // namespace disk
