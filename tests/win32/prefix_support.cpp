#include "prefix_support.h"

#include <tlhelp32.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "common/module_directory.h"
#include "stand_in/format_stand_in.h"
#include "window_support.h"

namespace wintest {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kPollMilliseconds = 50;

// Wine's file browser: its program and its window class.
constexpr char kFileBrowserProgram[] = "explorer.exe";
constexpr char kFileBrowserClass[] = "ExplorerWClass";

HWND FindFolderWindow(std::string_view end) {
  for (HWND window = FindWindowExA(nullptr, nullptr, kFileBrowserClass, nullptr); window != nullptr;
       window = FindWindowExA(nullptr, window, kFileBrowserClass, nullptr)) {
    const std::string title = WindowText(window);
    if (IsWindowVisible(window) && title.size() >= end.size() &&
        title.compare(title.size() - end.size(), end.size(), end) == 0) {
      return window;
    }
  }
  return nullptr;
}

}  // namespace

std::string BuildFolder() {
  std::array<char, MAX_PATH> path{};
  GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
  return common::CutToFolder(path.data());
}

void FreshFolder(const std::string& path) {
  std::error_code error;
  fs::create_directories(path, error);
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    fs::remove_all(entry.path(), error);
  }
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::error_code error;
  fs::create_directories(fs::path(path).parent_path(), error);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::optional<std::string> ReadTextFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

const FileList& FileSet() {
  static const FileList files = {
      {"DISKBOOT.BIN", "boot"},
      {"PS.FIR", "firmware"},
      {"LYRE\\ADDON.BIN", "add-on"},
      {"LYRE\\MODULES\\DEEP.BIN", "deep"},
      {"DCIM\\100VORN\\README.TXT", "images"},
      {"LYRE.CFG.L", "left"},
      {"LYRE.CFG.R", "right"},
  };
  return files;
}

void PlaceFiles(const std::string& folder, const FileList& files) {
  for (const auto& [path, text] : files) WriteTextFile(folder + path, text);
}

bool PlaceFormatStandIn(const std::string& folder) {
  const std::string built = BuildFolder() + stand_in::kProgramName;
  const std::string placed = folder + "\\" + stand_in::kProgramName;
  return CopyFileA(built.c_str(), placed.c_str(), FALSE) != FALSE;
}

void ResetFormatRuns(int exitCode) {
  FreshFolder(stand_in::kFolder);
  WriteTextFile(stand_in::kExitCodeFile, std::to_string(exitCode));
}

std::vector<std::string> FormatRuns() {
  std::vector<std::string> runs;
  std::ifstream file(stand_in::kRunsFile);
  for (std::string line; std::getline(file, line);) runs.push_back(line);
  return runs;
}

std::string FormatRun(const std::string& program, const std::string& commandLine) {
  const std::string separator(1, stand_in::kSeparator);
  return program + separator + commandLine + separator + stand_in::kShowField +
         std::to_string(SW_SHOWNORMAL) + separator + stand_in::kConsoleField + "shown" + separator +
         stand_in::kMainWindowField + "disabled,answered";
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (!condition()) {
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMilliseconds);
  }
  return true;
}

std::vector<DWORD> FileBrowserProcesses() {
  std::vector<DWORD> found;
  const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (_stricmp(entry.szExeFile, kFileBrowserProgram) == 0) found.push_back(entry.th32ProcessID);
  }
  return found;
}

bool CloseFolderWindow(const std::string& titleEnd, DWORD milliseconds) {
  HWND window = nullptr;
  if (!WaitUntil([&] { return (window = FindFolderWindow(titleEnd)) != nullptr; }, milliseconds)) {
    return false;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  PostMessageA(window, WM_CLOSE, 0, 0);
  return process != nullptr && WaitForSingleObject(process.get(), milliseconds) == WAIT_OBJECT_0;
}

std::string CommandOutput(const std::string& commandLine) {
  SECURITY_ATTRIBUTES inherited{};
  inherited.nLength = sizeof inherited;
  inherited.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return {};
  const UniqueHandle reader(readEnd);
  UniqueHandle writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return {};
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  writer.reset();  // the pipe ends when the child's copy of the write end closes
  std::string output;
  std::array<char, 4096> chunk{};
  DWORD got = 0;
  while (ReadFile(readEnd, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0) {
    output.append(chunk.data(), got);
  }
  WaitForSingleObject(process.get(), INFINITE);
  return output;
}

}  // namespace wintest
