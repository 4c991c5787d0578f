// The guards of every command that writes to a card: the user may swap cards
// or re-plug the reader while a question, a dialog, a prompt or a format is
// up, may run the program from the card it is about to erase, and may bring
// a card whose data is encrypted.
#pragma once

#include <string>

namespace disk {

// True when the reader still holds the card of CardState (see SameCard) and,
// when a root is given, that root's volume lies on it. Otherwise shows "SD
// Card changed or missing!". False, showing nothing, after a stop
// (host::StopRequested): no later step of the sequence runs.
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

// While it lives, the system's offers to format a drive of the card, and
// AutoPlay on it, are closed: on the card's letters and on every letter no
// drive holds, where a new partition of the card may show. An inner guard
// leaves the outer one in place.
class DrivePromptGuard {
 public:
  DrivePromptGuard();
  ~DrivePromptGuard();
  DrivePromptGuard(const DrivePromptGuard&) = delete;
  DrivePromptGuard& operator=(const DrivePromptGuard&) = delete;

 private:
  bool outermost_ = false;
};

}  // namespace disk
