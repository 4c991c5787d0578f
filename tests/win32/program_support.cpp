#include "program_support.h"

#include "ids.h"
#include "win32/main_window.h"
#include "window_support.h"

namespace wintest {
namespace {

constexpr char kProgramName[] = "vorninst.exe";
constexpr char kMainTitle[] = "VORN Installer (SCRIPT)";
constexpr char kInitialStatus[] = "Insert SD Card";

}  // namespace

bool PlaceProgram() {
  const std::string folder = kProgramFolder;
  FreshFolder(folder);
  PlaceFiles(folder + "\\", FileSet());
  return CopyFileA((BuildFolder() + kProgramName).c_str(), (folder + "\\" + kProgramName).c_str(),
                   FALSE) != FALSE &&
         PlaceFormatStandIn(folder);
}

Program::Program(const std::string& folder) {
  const std::string path = folder + "\\" + kProgramName;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // With no console, as when Explorer starts it: Wine would otherwise hand
  // it the tests' own, and format.com would share that one.
  if (CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                     folder.c_str(), &startup, &started)) {
    process_.reset(started.hProcess);
    ::CloseHandle(started.hThread);
    id_ = started.dwProcessId;
  }
}

Program::~Program() {
  if (process_ != nullptr && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 1);
  }
}

HWND Program::Find(const char* className, const char* title, bool shown) const {
  for (HWND window = FindWindowExA(nullptr, nullptr, className, title); window != nullptr;
       window = FindWindowExA(nullptr, window, className, title)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == id_ && (!shown || IsWindowVisible(window))) return window;
  }
  return nullptr;
}

HWND Program::WaitFor(const char* className, const char* title) const {
  HWND window = nullptr;
  WaitUntil([&] { return (window = Find(className, title, true)) != nullptr; },
            kProgramWaitMilliseconds);
  return window;
}

HWND Program::WaitForCard() const {
  const HWND main = WaitFor(win32::kMainClassName, kMainTitle);
  if (main == nullptr) return nullptr;
  const HWND status = GetDlgItem(main, IDC_STATUS);
  const bool identified = WaitUntil(
      [&] {
        const std::string text = WindowText(status);
        return !text.empty() && text != kInitialStatus;
      },
      kProgramWaitMilliseconds);
  return identified ? main : nullptr;
}

bool Program::Ended(DWORD expectedCode) const {
  DWORD code = 0;
  return WaitForSingleObject(process_.get(), kProgramWaitMilliseconds) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(process_.get(), &code) && code == expectedCode;
}

std::string BoxText(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassName(child) == "Static") text += WindowText(child);
  }
  return text;
}

bool Settled(HWND main) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, kProgramWaitMilliseconds, &result) != 0;
}

void PostCommand(HWND main, int id) { PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

bool Answer(HWND box, int button) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, 0), 0);
  return WaitUntil([&] { return !IsWindow(box); }, kProgramWaitMilliseconds);
}

}  // namespace wintest
