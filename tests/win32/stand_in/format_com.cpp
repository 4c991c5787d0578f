// A stand-in for the system's format.com: it formats nothing. It records
// which program ran with which command line, how its console window was
// asked to show and whether it shows, and how the program's main window
// fares meanwhile: disabled, and still taking messages, asked as Task
// Manager's End task asks, with a close. Then it exits with the code the
// test asked for.
#include <windows.h>

#include <array>
#include <fstream>
#include <string>

#include "format_stand_in.h"
#include "win32/main_window.h"

namespace {

// Long enough that a caller which does not wait finds no record yet.
constexpr DWORD kRunMilliseconds = 300;
// A window whose thread takes its messages answers at once.
constexpr UINT kAnswerMilliseconds = 2000;

std::string ShowRequested() {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0) return "default";
  return std::to_string(startup.wShowWindow);
}

std::string ConsoleWindow() {
  const HWND console = GetConsoleWindow();
  if (console == nullptr) return "none";
  return IsWindowVisible(console) ? "shown" : "hidden";
}

std::string MainWindow() {
  const HWND main = FindWindowA(win32::kMainClassName, nullptr);
  if (main == nullptr) return "none";
  std::string state = IsWindowEnabled(main) ? "enabled" : "disabled";
  DWORD_PTR result = 0;
  const bool answered =
      SendMessageTimeoutA(main, WM_CLOSE, 0, 0, SMTO_NORMAL, kAnswerMilliseconds, &result) != 0;
  return state + (answered ? ",answered" : ",not answered");
}

}  // namespace

int main() {
  const std::string show = ShowRequested();
  const std::string console = ConsoleWindow();
  const std::string main = MainWindow();
  Sleep(kRunMilliseconds);
  std::array<char, MAX_PATH> self{};
  GetModuleFileNameA(nullptr, self.data(), MAX_PATH);
  std::ofstream(stand_in::kRunsFile, std::ios::app)
      << self.data() << stand_in::kSeparator << GetCommandLineA() << stand_in::kSeparator
      << stand_in::kShowField << show << stand_in::kSeparator << stand_in::kConsoleField << console
      << stand_in::kSeparator << stand_in::kMainWindowField << main << '\n';
  int exitCode = 0;
  std::ifstream(stand_in::kExitCodeFile) >> exitCode;
  return exitCode;
}
