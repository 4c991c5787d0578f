// Helpers of the Wine tests that set up the prefix for themselves: folders
// and files on C: and E:, the add-on's file set, the stand-in format.com,
// and waiting with a time limit.
#pragma once

#include "win32/windows_clean.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wintest {

// The folder of the running test program, where the build also put the
// program and the stand-in. Read from only: other prefixes share it.
std::string BuildFolder();

// The folder, emptied (and made when missing); a drive root keeps itself.
void FreshFolder(const std::string& path);
// Writes the file, making its folders.
void WriteTextFile(const std::string& path, const std::string& text);
// The file's text; none when there is no such file.
std::optional<std::string> ReadTextFile(const std::string& path);

// The add-on's items and their files, as the tests lay them beside the
// program: paths relative to that folder, and each file's text.
using FileList = std::vector<std::pair<std::string, std::string>>;
const FileList& FileSet();
void PlaceFiles(const std::string& folder, const FileList& files);

// The stand-in format.com copied into the folder, as folder\format.com.
bool PlaceFormatStandIn(const std::string& folder);
// A fresh record of runs; the stand-in's next runs exit with this code.
void ResetFormatRuns(int exitCode);
// The runs recorded, one line each, as FormatRun gives them.
std::vector<std::string> FormatRuns();
// A run as the program must make it: its console window shown normally, and
// the main window disabled meanwhile, answering a close and not closing.
std::string FormatRun(const std::string& program, const std::string& commandLine);

// Polls until the condition holds; false when the time ran out first.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds);

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The processes of the shell's file browser now running.
std::vector<DWORD> FileBrowserProcesses();
// Waits for the shell's file browser window whose title ends with this text
// (the folder's name; "(E:)" for the card root), closes it and waits for its
// process to end; false when no such window came or it would not go.
bool CloseFolderWindow(const std::string& titleEnd, DWORD milliseconds);
constexpr char kCardFolderTitleEnd[] = "(E:)";

// Runs the command line and returns what it wrote to its standard output.
std::string CommandOutput(const std::string& commandLine);

}  // namespace wintest
