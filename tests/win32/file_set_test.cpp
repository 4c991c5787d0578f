// The shell file steps through the real SHFileOperationA, onto the removable
// drive E: (under Wine its files lie in the prefix's drive_e folder), with
// the add-on's file set in a program folder on C:.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/card_state.h"
#include "common/module_directory.h"
#include "common/paths.h"
#include "host/host.h"
#include "install/file_set.h"
#include "install/install_setting.h"
#include "prefix_support.h"
#include "window_support.h"

namespace {

constexpr char kProgramFolder[] = "C:\\vorn-program\\";
constexpr char kCardRoot[] = "E:\\";
constexpr char kCardDrive[] = "\\\\.\\PHYSICALDRIVE1";
// Long enough for Wine to start its file browser.
constexpr DWORD kWindowWaitMilliseconds = 20000;

// The card's own files, some of them older copies of the add-on's.
const wintest::FileList kCardsOwnFiles = {
    {"LYRE\\ADDON.BIN", "old add-on"},
    {"LYRE\\NOTES.TXT", "own"},
    {"DCIM\\100CAMERA\\PHOTO.JPG", "photo"},
};
const wintest::FileList kCardWithConfig = {
    {"LYRE\\LYRE.CFG", "previous"},
    {"LYRE\\LYRE.CFG.OLD", "older"},
};

// A path on the card and its text afterwards; none when it must be absent.
using CardFile = std::pair<const char*, const char*>;
const std::vector<CardFile> kCopiedSet = {
    {"DISKBOOT.BIN", "boot"},
    {"LYRE\\ADDON.BIN", "add-on"},
    {"LYRE\\MODULES\\DEEP.BIN", "deep"},
    {"LYRE\\NOTES.TXT", "own"},
    {"DCIM\\100VORN\\README.TXT", "images"},
    {"DCIM\\100CAMERA\\PHOTO.JPG", "photo"},
    {"LYRE\\LYRE.CFG", nullptr},  // 207 installs no configuration
};

std::vector<CardFile> With(std::vector<CardFile> files, const CardFile& file) {
  files.push_back(file);
  return files;
}

void CopyToCard() { install::CopyFileSet(); }
void ReplaceConfig() {
  install::BackUpConfig(kCardRoot);
  install::InstallConfig(kCardRoot);
}

struct StepsCase {
  const char* name;
  void (*command)();
  const char* missingItem;  // taken away from beside the program
  std::int32_t cameraPosition;
  bool cardHasConfig;
  std::vector<CardFile> cardAfter;
  bool opensFolder;
};

TEST(FileSet, StepsCopyOntoTheCardAndEndTheCommandWhenRequired) {
  // The real shell's part: folders merged, files replaced, a file copied
  // under a new name, a move, a failed step's result; the rest of the
  // steps' rules are tested in the simulated PC.
  const StepsCase cases[] = {
      {"207 onto a card with an older add-on", CopyToCard, nullptr, install::kCameraLeft, false,
       With(kCopiedSet, {"PS.FIR", "firmware"}), true},
      {"207 without DCIM beside the program", CopyToCard, "DCIM", install::kCameraLeft, false,
       {{"DISKBOOT.BIN", "boot"}, {"LYRE\\ADDON.BIN", "add-on"}, {"DCIM\\100VORN", nullptr}}, false},
      {"configuration replaced, camera Right", ReplaceConfig, nullptr, install::kCameraRight, true,
       {{"LYRE\\LYRE.CFG", "right"}, {"LYRE\\LYRE.CFG.OLD", "previous"}, {"LYRE\\NOTES.TXT", "own"}},
       false},
  };
  common::gModuleDirectory = kProgramFolder;
  for (const StepsCase& test : cases) {
    SCOPED_TRACE(test.name);
    wintest::FileList beside;
    for (const auto& file : wintest::FileSet()) {
      if (test.missingItem == nullptr || file.first.rfind(test.missingItem, 0) != 0) beside.push_back(file);
    }
    wintest::FreshFolder(kProgramFolder);
    wintest::PlaceFiles(kProgramFolder, beside);
    wintest::FreshFolder(kCardRoot);
    wintest::PlaceFiles(kCardRoot, kCardsOwnFiles);
    if (test.cardHasConfig) wintest::PlaceFiles(kCardRoot, kCardWithConfig);
    common::gCardState = common::CardState{};
    common::gCardState.driveRoot = kCardRoot;
    common::gCardState.physicalDrivePath = kCardDrive;
    install::gInstallOptions.cameraPosition = test.cameraPosition;
    const std::vector<DWORD> browsers = wintest::FileBrowserProcesses();

    {
      // No step may wait for the user: no question, no error window.
      const wintest::UnexpectedWindows shown;
      test.command();
      EXPECT_EQ(shown.Titles(), std::vector<std::string>{});
    }

    for (const auto& [path, text] : test.cardAfter) {
      const std::string onCard = std::string(kCardRoot) + path;
      if (text == nullptr) {
        EXPECT_EQ(GetFileAttributesA(onCard.c_str()), INVALID_FILE_ATTRIBUTES) << path;
      } else {
        EXPECT_EQ(wintest::ReadTextFile(onCard).value_or("(missing)"), text) << path;
      }
    }
    // The shell has started its file browser by the time the command returns.
    const bool opened = wintest::FileBrowserProcesses() != browsers;
    EXPECT_EQ(opened, test.opensFolder);
    if (opened) {
      EXPECT_TRUE(wintest::CloseFolderWindow(wintest::kCardFolderTitleEnd, kWindowWaitMilliseconds));
    }
  }
}

}  // namespace

// The steps never let the shell ask, so a cancelled copy comes from its
// progress window; here its overwrite question stands in for it. The host
// hands back the aborted flag, which the steps count as a failure.
TEST(FileSet, ACancelledCopyReportsTheAbortedFlag) {
  wintest::FreshFolder(kProgramFolder);
  wintest::PlaceFiles(kProgramFolder, wintest::FileSet());
  wintest::FreshFolder(kCardRoot);
  wintest::PlaceFiles(kCardRoot, {{"DISKBOOT.BIN", "card's own"}});
  const std::string from = common::ShellPathList(std::string(kProgramFolder) + "DISKBOOT.BIN");
  const std::string to = common::ShellPathList(kCardRoot);
  host::FileOperation operation;
  operation.function = host::kFoCopy;
  operation.from = from.c_str();
  operation.to = to.c_str();
  std::string question;
  wintest::WhenWindowAppears("Confirm file overwrite", [&](HWND dialog) {
    question = wintest::WindowText(dialog);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  host::ShellFileOperation(operation);
  EXPECT_EQ(question, "Confirm file overwrite");
  EXPECT_TRUE(operation.anyOperationsAborted);
  EXPECT_EQ(wintest::ReadTextFile(std::string(kCardRoot) + "DISKBOOT.BIN").value_or(""), "card's own");
}
