// Helpers of the Wine tests: the main window built as the program builds it,
// and a way to act inside modal loops.
#pragma once

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

std::string WindowText(HWND window);
std::string ClassName(HWND window);

}  // namespace wintest
