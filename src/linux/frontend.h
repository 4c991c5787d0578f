// The seam between the Linux host and whoever faces the user: a terminal, a
// script, or a test. The host keeps the main window's state (window.h) and
// runs the logic's commands; it turns to the front end only where Windows
// would hand the user a box, a dialog, the folder browser or a folder
// window, to tell the progress of long work, and to learn of an
// interruption (Ctrl-C).
//
// Contract:
// - Every call comes from the one thread that runs the logic, inside a
//   command; none may run a command itself (no host::SendCommand).
// - Paths handed to and taken from the front end are Linux paths
//   ("/home/me/Pictures"); the host converts them from and to the logic's
//   Z:\ and C:\ form.
// - An interruption is seen by the host only through Interrupted(): at a
//   box or a dialog the front end itself answers as the user's Cancel (or No
//   where there is no Cancel); during work the host lets the step in hand
//   end, and refuses the steps after it, so the command ends as the
//   program's early ends do, never in the middle of a sector.
#pragma once

#include <string>

#include "linux/dialog.h"

namespace linuxhost {

class Frontend {
 public:
  virtual ~Frontend() = default;

  // MessageBoxA: the text and caption as the program shows them, and its
  // flags (host::kMbOk, kMbYesNo or kMbYesNoCancel, with
  // host::kMbIconWarning). Returns host::kIdOk, kIdYes, kIdNo or kIdCancel;
  // any other value counts as a box that could not be shown. The remove
  // and re-insert prompts are boxes too: after the answer the host reads the
  // card again (an image or a loop device), or watches a reader until its
  // card has gone and come back.
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;

  // A modal dialog driven by the logic's own procedure (INSTSET, INSTSET2,
  // TODIR), already initialised. The front end plays its controls (Click,
  // Type, Escape) until dialog.Ended(); a dialog left open counts as one
  // that could not be shown (-1). Inside it, TODIR's Browse.. may call
  // BrowseForFolder.
  virtual void RunDialog(Dialog& dialog) = 0;

  // The folder browser: title, and the folder preselected (may be empty).
  // The folder chosen, or empty for Cancel.
  virtual std::string BrowseForFolder(const std::string& title, const std::string& selected) = 0;

  // The About box.
  virtual void About() = 0;

  // The shell's "open" of a folder: a card's root ("E:\" and its device)
  // or a PC folder (a Linux path).
  virtual void OpenFolder(const std::string& folder) = 0;

  // Long work in progress (a format and its zeroing, copies, the program's
  // own FAT32 format): one line that replaces the previous one.
  virtual void Progress(const std::string& line) = 0;

  // A line for the user that needs no answer: something the system would
  // not do for the program (the card not ejected).
  virtual void Notice(const std::string& line) { Progress(line); }

  // True once the user has asked to stop (Ctrl-C).
  virtual bool Interrupted() = 0;
};

}  // namespace linuxhost
