// The built program itself under Wine, started from a folder that holds the
// add-on's file set and driven from outside, as a user would: commands posted
// to its window, its message boxes and dialogs answered.
#pragma once

#include "win32/windows_clean.h"

#include <string>

#include "prefix_support.h"

namespace wintest {

constexpr char kProgramFolder[] = "C:\\vorn-installer";
// The class of message boxes and dialogs.
constexpr char kDialogClass[] = "#32770";
// The box that names the card before a command erases or rewrites it.
constexpr char kCardAtStakeCaption[] = "Confirm SD Card";
// Every wait ends: a window that never comes fails the test.
constexpr DWORD kProgramWaitMilliseconds = 20000;

// The program, its add-on's file set and a decoy format.com, which must
// never be the one that runs, laid out afresh in kProgramFolder; false when
// the program could not be copied there.
bool PlaceProgram();

// The program, started in its folder; ended by force if a test leaves it running.
class Program {
 public:
  explicit Program(const std::string& folder);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Its top-level window of this class and title, shown or not yet; null when none.
  HWND Find(const char* className, const char* title, bool shown = false) const;
  // Waits until it shows such a window.
  HWND WaitFor(const char* className, const char* title) const;
  // Waits for its main window and for the first scan to identify the card
  // on E: (the status line leaves its first text); null when it did not
  // start, or either wait ran out.
  HWND WaitForCard() const;
  // True when it ended in time with this exit code.
  bool Ended(DWORD expectedCode) const;

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

// The texts of a message box's static controls, one after the other.
std::string BoxText(HWND box);

// Returns once the program's window thread takes messages again.
bool Settled(HWND main);

void PostCommand(HWND main, int id);

// Presses the button and waits until the box or dialog has gone.
bool Answer(HWND box, int button);

}  // namespace wintest
