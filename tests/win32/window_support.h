// Helpers of the Wine tests: the main window built as the program builds it,
// a way to act inside modal loops, and dialogs compared with their templates.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "win32/main_window.h"

namespace wintest {

// The main window from the real template; the refresh timer is stopped so
// that no scan runs behind the test's back. Destroyed at the end of the scope.
class MainWindow {
 public:
  MainWindow();
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  HWND Get() const { return window_; }
  // From now on WM_COMMAND is recorded instead of handled.
  void RecordCommands();
  const std::vector<unsigned>& Commands() const { return commands_; }
  void Record(unsigned commandId) { commands_.push_back(commandId); }

 private:
  HWND window_ = nullptr;
  std::vector<unsigned> commands_;
};

// Runs action once, from inside whatever modal loop is running, as soon as a
// top-level window with this title exists; gives it that window.
void WhenWindowAppears(const std::string& title, std::function<void(HWND)> action);

// Ends the running message loop after a while, so that a test whose event
// never comes fails instead of hanging.
void QuitAfter(UINT milliseconds);

// While it lives, every window that this thread shows (a box or dialog put
// up inside a call) is cancelled and its title kept, so that a call which
// would wait for the user fails the test instead of hanging it.
class UnexpectedWindows {
 public:
  UnexpectedWindows();
  ~UnexpectedWindows();
  UnexpectedWindows(const UnexpectedWindows&) = delete;
  UnexpectedWindows& operator=(const UnexpectedWindows&) = delete;
  const std::vector<std::string>& Titles() const { return titles_; }
  void Cancel(HWND window);

 private:
  UINT_PTR timer_ = 0;
  std::vector<std::string> titles_;
};

std::string WindowText(HWND window);
std::string ClassName(HWND window);

// A control as its dialog template gives it.
struct ExpectedControl {
  int id;
  const char* className;
  LONG style;  // besides WS_CHILD and WS_VISIBLE
  RECT dialogUnits;  // x, y, width, height
  const char* text;
};

// The low bits of a button's or static's style are a kind, not flags.
constexpr LONG kKindMask = 0x1F;

// Position and size in pixels: the dialog manager converts each separately.
RECT ToPixels(HWND dialog, RECT units);

// The dialog's child windows, in order, against the expected controls: id,
// class, text, kind, style flags and place.
void ExpectControls(HWND dialog, const ExpectedControl* expected, std::size_t count);

// A dialog template as stored in the program's resources.
struct TemplateItem {
  DWORD style;
  RECT place;  // x, y, width, height
  WORD id;
};
struct DialogTemplate {
  DWORD style = 0;
  RECT place{};  // x, y, width, height
  std::string title;
  WORD pointSize = 0;
  std::string face;
  std::vector<TemplateItem> items;
};
// Empty when there is no such template.
DialogTemplate ReadTemplate(const char* name);

// Every item's style, id and place exactly as expected.
void ExpectTemplateItems(const DialogTemplate& dialog, const ExpectedControl* expected,
                         std::size_t count);

// A dialog's own part of its template.
struct ExpectedFrame {
  DWORD style;
  const char* title;
  WORD pointSize;
  const char* face;
  RECT units;  // x, y, width, height
};
// The named template: its frame and every item exactly as expected.
void ExpectTemplate(const char* name, const ExpectedFrame& frame, const ExpectedControl* expected,
                    std::size_t count);
// The dialog as the system made it from that frame: title, font face and
// height, and client size.
void ExpectShownFrame(HWND dialog, const ExpectedFrame& frame);

}  // namespace wintest
