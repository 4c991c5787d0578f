// Formatting through the real process primitive: a stand-in format.com in
// the prefix's system folder is started by its full path and waited for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "install/format.h"
#include "prefix_support.h"
#include "stand_in/format_stand_in.h"

namespace {

using install::FileSystem;

struct FormatRun {
  const char* name;
  bool standInPresent;
  int exitCode;
  bool quick;
  FileSystem fileSystem;
  const char* commandLine;  // as the stand-in records it; none when it cannot start
  int result;
};

TEST(Format, RunsTheSystemFoldersFormatAndWaitsForItsExitCode) {
  const std::string systemFolder = host::GetSystemDirectory();
  ASSERT_FALSE(systemFolder.empty());
  const std::string program = systemFolder + "\\" + stand_in::kProgramName;
  const FormatRun runs[] = {
      {"quick FAT, exit 0", true, 0, true, FileSystem::Fat, "format.com E: /q /fs:fat", 0},
      {"full FAT32, exit 4", true, 4, false, FileSystem::Fat32, "format.com E: /fs:fat32", 1},
      {"no format.com", false, 0, true, FileSystem::Fat, nullptr, 1},
  };
  for (const FormatRun& run : runs) {
    SCOPED_TRACE(run.name);
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
  }
  DeleteFileA(program.c_str());
}

}  // namespace
