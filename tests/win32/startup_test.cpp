// Start-up pieces that depend on where the program lies.
#include <gtest/gtest.h>

#include <string>

#include "common/module_directory.h"
#include "win32/main_window.h"

namespace {

constexpr char kTestProgram[] = "vorn_win32_tests.exe";

// The folder comes from the real module file name, backslash kept, so that
// the add-on's files are looked for beside the program.
TEST(Startup, ModuleDirectoryIsTheProgramsOwnFolder) {
  common::gModuleDirectory.clear();
  win32::FillModuleDirectory();
  const std::string folder = common::gModuleDirectory;
  ASSERT_GE(folder.size(), 3u);
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_EQ(folder.find(kTestProgram), std::string::npos);
  const DWORD attributes = GetFileAttributesA((folder + kTestProgram).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_NE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

}  // namespace
