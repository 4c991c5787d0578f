// The message catalogue: every user-facing text by numeric id, and the one
// way message boxes are put up.
#pragma once

#include "host/host.h"

namespace common {

constexpr int kMessageBufferSize = 256;

// Button sets of the catalogue's message boxes.
enum class ButtonSet : unsigned {
  Notice = host::kMbIconWarning,   // OK, warning icon
  Question = host::kMbYesNo,       // Yes, No
  Choice = host::kMbYesNoCancel,   // Yes, No, Cancel
};

// Loads the text of an id into the next of two buffers, used in turn, and
// returns it. The text stays valid until the second call after this one.
const char* LoadMessageText(unsigned id);

// Shows a box on the main window: caption loaded first, then the text.
int CatalogueMessageBox(unsigned captionId, unsigned textId, ButtonSet set);

// Long work: the status line tells its percent through a catalogue format
// when it has changed, and the window repaints (it must take no input
// meanwhile). shown holds the percent last told; -1 before the first.
void ShowProgress(unsigned formatId, int percent, int& shown);

// The common error box: caption "Error", the Notice set.
void ShowErrorMessage(unsigned textId);
// The same over a dialog of the program, which waits for it.
void ShowErrorMessage(unsigned textId, host::DialogWindow owner);

}  // namespace common
