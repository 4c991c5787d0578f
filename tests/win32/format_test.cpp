// Formatting through the real process primitive: a stand-in format.com in
// the prefix's system folder is started by its full path and waited for,
// with its console shown and the main window disabled but alive meanwhile.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "install/format.h"
#include "prefix_support.h"
#include "stand_in/format_stand_in.h"
#include "window_support.h"

namespace {

using install::FileSystem;

struct FormatRun {
  const char* name;
  bool standInPresent;
  int exitCode;
  bool quick;
  FileSystem fileSystem;
  bool disabledBefore;  // as a box or dialog leaves the main window
  const char* commandLine;  // as the stand-in records it; none when it cannot start
  int result;
};

TEST(Format, RunsTheSystemFoldersFormatAndWaitsForItsExitCode) {
  const std::string systemFolder = host::GetSystemDirectory();
  ASSERT_FALSE(systemFolder.empty());
  const std::string program = systemFolder + "\\" + stand_in::kProgramName;
  // The program, a windows program, has no console: nor has the test, so
  // that format.com gets a console window of its own.
  FreeConsole();
  const FormatRun runs[] = {
      {"quick FAT, exit 0", true, 0, true, FileSystem::Fat, false, "format.com E: /q /fs:fat", 0},
      {"full FAT32, exit 4", true, 4, false, FileSystem::Fat32, false, "format.com E: /fs:fat32", 1},
      {"window already disabled", true, 0, true, FileSystem::Fat, true, "format.com E: /q /fs:fat", 0},
      {"no format.com", false, 0, true, FileSystem::Fat, false, nullptr, 1},
  };
  for (const FormatRun& run : runs) {
    SCOPED_TRACE(run.name);
    wintest::MainWindow main;
    EnableWindow(main.Get(), run.disabledBefore ? FALSE : TRUE);
    DeleteFileA(program.c_str());
    if (run.standInPresent) {
      ASSERT_TRUE(wintest::PlaceFormatStandIn(systemFolder));
    }
    wintest::ResetFormatRuns(run.exitCode);
    EXPECT_EQ(install::RunFormat("E:\\", run.quick, run.fileSystem), run.result);
    // The stand-in records its run last: the record is there only when
    // RunFormat waited for the end.
    std::vector<std::string> expected;
    if (run.commandLine != nullptr) expected.push_back(wintest::FormatRun(program, run.commandLine));
    EXPECT_EQ(wintest::FormatRuns(), expected);
    EXPECT_EQ(IsWindowEnabled(main.Get()) != FALSE, !run.disabledBefore);
    MSG quit{};
    EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the close ended the program";
  }
  DeleteFileA(program.c_str());
}

}  // namespace
