// The guards of every command that writes to a card: the user may swap cards
// or re-plug the reader while a question, a dialog, a prompt or a format is
// up, and may run the program from the card it is about to erase.
#pragma once

namespace disk {

// True when the card root still shows the card of CardState: its volume
// opens, lies on the same physical drive, not on a system disk, and that
// disk's size is unchanged. Otherwise shows "SD Card changed or missing!".
bool ConfirmSameCard();
// The same check, silent.
bool StillSameCard();

// Asks the user to remove the card (after a flush) and to re-insert it, then
// checks that the card root shows the table's first partition; asks once
// more when it does not. False, after "SD Card changed or missing!", when it
// still does not.
bool AskToRemoveAndReinsert();

// True, after "Run the installer from the PC, not from the SD Card!", when
// the program's own folder lies on the card's drive.
bool RefuseProgramOnCard();

}  // namespace disk
