#include "prefix_support.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "common/module_directory.h"
#include "stand_in/format_stand_in.h"

namespace wintest {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kPollMilliseconds = 50;

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
  return program + stand_in::kSeparator + commandLine;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
  const ULONGLONG end = GetTickCount64() + milliseconds;
  while (!condition()) {
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMilliseconds);
  }
  return true;
}

}  // namespace wintest
