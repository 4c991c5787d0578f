// New Install and Version Up in the built program under Wine, up to where
// Wine stops them: the "Install Setting" dialogs of the real program, and a
// partition table write that the system refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "ids.h"
#include "prefix_support.h"
#include "program_support.h"

namespace {

using wintest::kDialogClass;

constexpr char kCardRoot[] = "E:\\";
constexpr char kSettingTitle[] = "Install Setting";

// A message box the command shows, and the button that answers it.
struct Box {
  const char* caption;
  const char* text;
  int answer;
};
const Box kTwoPartitionsYes{"Confirm", "Need to re-create two partitions.\nContinue to install VORN ? ",
                            IDYES};
// Wine's card counts as about 82 GB: too large for one FAT partition, which
// is said before anything is asked.
const Box kOnePartitionTooLarge{"Error", "Card size is not supported for this partition layout!", IDOK};
// Wine locks the card's volume but cannot dismount it: the table is never
// written there.
const Box kTableRefused{"Error",
                        "The SD Card is in use: a file or a window is open on it.\nClose everything that is "
                        "open on the card, then try again.",
                        IDOK};

// One command, run after the ones before it in the same program.
struct SettingRun {
  const char* name;
  int command;
  int camera;    // the camera button checked when the dialog opens
  int cardSize;  // likewise the card size button; 0 where the dialog has none
  std::vector<int> clicks;
  int close;
  std::vector<Box> boxes;  // what follows the dialog, in order
};

// True when E:\ holds nothing.
bool CardRootEmpty() {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((std::string(kCardRoot) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    const std::string name = found.cFileName;
    empty = empty && (name == "." || name == "..");
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return empty;
}

int CheckedOf(HWND dialog, int first, int last) {
  for (int id = first; id <= last; ++id) {
    if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) return id;
  }
  return 0;
}

TEST(NewInstall, SettingDialogsOfTheProgramAndARefusedTableWrite) {
  ASSERT_TRUE(wintest::PlaceProgram());
  // Any format.com that runs is the stand-in, and leaves its record.
  ASSERT_TRUE(wintest::PlaceFormatStandIn(host::GetSystemDirectory()));
  wintest::ResetFormatRuns(0);
  wintest::FreshFolder(kCardRoot);

  // Wine's card counts as about 82 GB: New Install offers two partitions.
  const SettingRun runs[] = {
      {"New Install, CANCEL", IDC_NEW_INSTALL, IDC_CAMERA_LEFT, IDC_TWO_PARTITIONS,
       {IDC_CAMERA_RIGHT, IDC_ONE_PARTITION}, IDCANCEL, {}},
      {"New Install, two partitions", IDC_NEW_INSTALL, IDC_CAMERA_LEFT, IDC_TWO_PARTITIONS,
       {IDC_CAMERA_RIGHT}, IDOK, {kTwoPartitionsYes, kTableRefused}},
      {"New Install, one partition", IDC_NEW_INSTALL, IDC_CAMERA_RIGHT, IDC_TWO_PARTITIONS,
       {IDC_CAMERA_LEFT, IDC_ONE_PARTITION}, IDOK, {kOnePartitionTooLarge}},
      {"Version Up, CANCEL", IDC_VERSION_UP, IDC_CAMERA_LEFT, 0, {IDC_CAMERA_RIGHT}, IDCANCEL, {}},
  };

  wintest::Program program(wintest::kProgramFolder);
  const HWND main = program.WaitForCard();
  ASSERT_NE(main, nullptr) << "the program did not start, or the card was not identified";
  for (const SettingRun& run : runs) {
    SCOPED_TRACE(run.name);
    wintest::PostCommand(main, run.command);
    if (run.command == IDC_NEW_INSTALL) {
      const HWND card = program.WaitFor(kDialogClass, wintest::kCardAtStakeCaption);
      ASSERT_NE(card, nullptr);
      ASSERT_TRUE(wintest::Answer(card, IDYES));
    }
    const HWND dialog = program.WaitFor(kDialogClass, kSettingTitle);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(CheckedOf(dialog, IDC_CAMERA_LEFT, IDC_CAMERA_RIGHT), run.camera);
    EXPECT_EQ(CheckedOf(dialog, IDC_ONE_PARTITION, IDC_TWO_PARTITIONS), run.cardSize);
    EXPECT_EQ(GetDlgItem(dialog, IDC_TWO_PARTITIONS) != nullptr, run.cardSize != 0);
    for (int id : run.clicks) SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
    ASSERT_TRUE(wintest::Answer(dialog, run.close));
    for (const Box& want : run.boxes) {
      const HWND box = program.WaitFor(kDialogClass, want.caption);
      ASSERT_NE(box, nullptr) << want.text;
      EXPECT_EQ(wintest::BoxText(box), want.text);
      ASSERT_TRUE(wintest::Answer(box, want.answer));
    }
    // The command has ended there: no further box, no format, nothing copied.
    ASSERT_TRUE(wintest::Settled(main));
    EXPECT_EQ(program.Find(kDialogClass, nullptr, true), nullptr);
    EXPECT_EQ(wintest::FormatRuns(), std::vector<std::string>{});
    EXPECT_TRUE(CardRootEmpty());
  }

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program.Ended(0));
}

}  // namespace
