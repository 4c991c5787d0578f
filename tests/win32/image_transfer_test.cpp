// "Copy Image Folder to PC" in the built program under Wine: the camera's
// folders go from the removable drive E: to a new folder on C:, copied or
// moved, and the destination opens in the shell; an empty destination is
// refused in the dialog before anything happens.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "ids.h"
#include "images/destination.h"
#include "prefix_support.h"
#include "program_support.h"

namespace {

using wintest::kDialogClass;
using wintest::kProgramWaitMilliseconds;

constexpr char kDialogTitle[] = "Destination folder";
// Neither the destination nor its parent exists before a run.
constexpr char kImagesRoot[] = "C:\\vorn-images";
constexpr char kDestination[] = "C:\\vorn-images\\new\\2026";
constexpr char kDestinationName[] = "2026";
constexpr char kCardImages[] = "E:\\DCIM\\";
constexpr char kEmptyCameraFolder[] = "101TEST";
constexpr char kPhoto[] = "100ABCDE\\IMG_0001.JPG";
constexpr char kPhotoText[] = "photo";
// A file of DCIM itself, not in a camera folder: Windows' "*." passes it by.
constexpr char kLooseFile[] = "IMG.JPG";
constexpr char kFoldersPattern[] = "E:\\DCIM\\*.";

struct TransferRun {
  const char* name;
  const char* destination;  // typed into the dialog
  bool deleteAfterCopy;     // the check box at OK
  const char* refusal;      // the error shown instead; none when the folders go
};

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether the system's own search for the pattern lists this name. Windows
// keeps "*." to names without an extension; Wine 8 lists every name, so
// there the shell takes the loose file along.
bool SearchLists(const char* pattern, const std::string& name) {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool listed = false;
  do {
    listed = listed || name == found.cFileName;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return listed;
}

// Answers the program's dialog as the user would.
void AnswerDialog(HWND dialog, const TransferRun& run) {
  SetDlgItemTextA(dialog, IDC_DESTINATION, run.destination);
  const HWND box = GetDlgItem(dialog, IDC_DELETE_AFTER_COPY);
  if ((SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != run.deleteAfterCopy) {
    SendMessageA(box, BM_CLICK, 0, 0);
  }
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);  // a refusal shows its box inside
}

// The refusal's box over the dialog, which stays up with the folder's box
// focused for a correction; the user then gives up.
void RefusedInTheDialog(const wintest::Program& program, HWND dialog, const char* refusal) {
  const HWND box = program.WaitFor(kDialogClass, "Error");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(wintest::BoxText(box), refusal);
  EXPECT_EQ(GetWindow(box, GW_OWNER), dialog);
  ASSERT_TRUE(wintest::Answer(box, IDOK));
  GUITHREADINFO focus{};
  focus.cbSize = sizeof focus;
  EXPECT_TRUE(wintest::WaitUntil([&] {
    return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &focus) &&
           focus.hwndFocus == GetDlgItem(dialog, IDC_DESTINATION);
  }, kProgramWaitMilliseconds));
  ASSERT_TRUE(wintest::Answer(dialog, IDCANCEL));
}

TEST(ImageTransfer, CopiesAndMovesTheCameraFoldersIntoANewFolderOnC) {
  ASSERT_TRUE(wintest::PlaceProgram());
  RegDeleteKeyA(HKEY_CURRENT_USER, images::kSettingsKey);
  const TransferRun runs[] = {
      // With the box checked, an accepted empty destination would take the
      // folders off the card to wherever the program's current folder is.
      {"empty destination", "", true,
       "Destination folder must be a full path outside the SD Card, such as C:\\Images!"},
      {"copy", kDestination, false, nullptr},
      {"move", kDestination, true, nullptr},
  };

  wintest::Program program(wintest::kProgramFolder);
  const HWND main = program.WaitForCard();
  ASSERT_NE(main, nullptr) << "the program did not start, or the card was not identified";
  for (const TransferRun& run : runs) {
    SCOPED_TRACE(run.name);
    std::error_code error;
    std::filesystem::remove_all(kImagesRoot, error);
    wintest::FreshFolder("E:\\");
    wintest::PlaceFiles(kCardImages, {{kPhoto, kPhotoText}, {kLooseFile, "loose"}});
    ASSERT_TRUE(CreateDirectoryA((std::string(kCardImages) + kEmptyCameraFolder).c_str(), nullptr));
    const std::vector<DWORD> browsers = wintest::FileBrowserProcesses();
    const bool looseFileGoes = SearchLists(kFoldersPattern, kLooseFile);

    wintest::PostCommand(main, IDC_COPY_IMAGES);
    const HWND dialog = program.WaitFor(kDialogClass, kDialogTitle);
    ASSERT_NE(dialog, nullptr);
    AnswerDialog(dialog, run);
    if (run.refusal != nullptr) {
      RefusedInTheDialog(program, dialog, run.refusal);
      HKEY key = nullptr;  // nothing stored: the setting's key is not even made
      EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, images::kSettingsKey, 0, KEY_READ, &key), ERROR_SUCCESS);
      if (key != nullptr) RegCloseKey(key);
    } else {
      EXPECT_TRUE(wintest::CloseFolderWindow(kDestinationName, kProgramWaitMilliseconds))
          << "the destination did not open";
    }
    ASSERT_TRUE(wintest::Settled(main));
    EXPECT_EQ(program.Find(kDialogClass, nullptr, true), nullptr);

    const std::string arrived = std::string(kDestination) + "\\";
    const bool taken = run.refusal == nullptr;
    EXPECT_EQ(Exists(kImagesRoot), taken);
    EXPECT_EQ(wintest::ReadTextFile(arrived + kPhoto).value_or("(missing)"),
              taken ? kPhotoText : "(missing)");
    EXPECT_EQ(IsFolder(arrived + kEmptyCameraFolder), taken);
    EXPECT_EQ(Exists(arrived + kLooseFile), taken && looseFileGoes);
    // A move takes the camera's folders off the card.
    const bool kept = !(taken && run.deleteAfterCopy);
    EXPECT_EQ(Exists(kCardImages + std::string(kPhoto)), kept);
    EXPECT_EQ(IsFolder(kCardImages + std::string(kEmptyCameraFolder)), kept);
    EXPECT_EQ(Exists(kCardImages + std::string(kLooseFile)), kept || !looseFileGoes);
    if (!taken) {
      EXPECT_EQ(wintest::FileBrowserProcesses(), browsers) << "a folder was opened";
    }
  }

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program.Ended(0));
  RegDeleteKeyA(HKEY_CURRENT_USER, images::kSettingsKey);
  std::error_code error;
  std::filesystem::remove_all(kImagesRoot, error);
}

}  // namespace
