// The built program itself under Wine, started from a folder that holds the
// add-on's file set and a decoy format.com: it finds the card on E:, formats
// through the system folder's format.com, reports a failed format, copies
// the file set and opens the card's folder. Driven from outside, as a user
// would: commands posted to its window, its message boxes answered.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host.h"
#include "ids.h"
#include "prefix_support.h"
#include "program_support.h"
#include "stand_in/format_stand_in.h"

namespace {

using wintest::kDialogClass;
using wintest::kProgramWaitMilliseconds;

constexpr char kCardRoot[] = "E:\\";
// How the box that names the card begins and ends. Between them Wine tells
// its disk's size (in GB) and what it makes of the volume; no vendor.
constexpr char kCardNamedBegins[] = "SD Card E:  ";
constexpr char kCardNamedVolume[] = " GB\n  Volume (E:): ";
constexpr char kCardNamedEnds[] = "\nEverything on E: will be erased.\nContinue?";

struct FormatAnswer {
  const char* name;
  int quick;  // the answer to "Quick Format ?"
  int exitCode;
  const char* commandLine;
  bool failureShown;
};

TEST(Program, FormatsThroughTheSystemFolderAndCopiesTheFileSet) {
  ASSERT_TRUE(wintest::PlaceProgram());
  const std::string systemFolder = host::GetSystemDirectory();
  ASSERT_TRUE(wintest::PlaceFormatStandIn(systemFolder));
  const std::string systemFormat = systemFolder + "\\" + stand_in::kProgramName;
  wintest::FreshFolder(kCardRoot);

  wintest::Program program(wintest::kProgramFolder);
  // The first scan and inspection identify the card: the status line shows it.
  const HWND main = program.WaitForCard();
  ASSERT_NE(main, nullptr) << "the program did not start, or the card was not identified";
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_FORMAT)));
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(main, IDC_COPY_VORN)));

  // Wine reports no partition layout, so the first partition counts as 0 MB
  // and 202 takes FAT without asking.
  const FormatAnswer answers[] = {
      {"quick, format.com fails", IDYES, 4, "format.com E: /q /fs:fat", true},
      {"full, format.com succeeds", IDNO, 0, "format.com E: /fs:fat", false},
  };
  // The card is named first: No there ends the command.
  const auto startFormat = [&program, main](int named) {
    wintest::PostCommand(main, IDC_FORMAT);
    const HWND card = program.WaitFor(kDialogClass, wintest::kCardAtStakeCaption);
    if (card == nullptr) return false;
    const std::string text = wintest::BoxText(card);
    EXPECT_EQ(text.rfind(kCardNamedBegins, 0), 0u) << text;
    EXPECT_NE(text.find(kCardNamedVolume), std::string::npos) << text;
    EXPECT_EQ(text.size() - text.rfind(kCardNamedEnds), sizeof kCardNamedEnds - 1) << text;
    return wintest::Answer(card, named);
  };
  wintest::ResetFormatRuns(0);
  ASSERT_TRUE(startFormat(IDNO));
  ASSERT_TRUE(wintest::Settled(main));
  EXPECT_EQ(program.Find(kDialogClass, nullptr), nullptr);
  EXPECT_EQ(wintest::FormatRuns(), std::vector<std::string>{});
  for (const FormatAnswer& answer : answers) {
    SCOPED_TRACE(answer.name);
    wintest::ResetFormatRuns(answer.exitCode);
    ASSERT_TRUE(startFormat(IDYES));
    const HWND question = program.WaitFor(kDialogClass, "Confirm");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(wintest::BoxText(question), "Quick Format ?");
    ASSERT_TRUE(wintest::Answer(question, answer.quick));
    if (answer.failureShown) {
      const HWND failure = program.WaitFor(kDialogClass, "Error");
      ASSERT_NE(failure, nullptr);
      EXPECT_EQ(wintest::BoxText(failure), "Cannot format SD Card!");
      ASSERT_TRUE(wintest::Answer(failure, IDOK));
    }
    // format.com has run and the command has ended: no box is left.
    ASSERT_TRUE(
        wintest::WaitUntil([] { return !wintest::FormatRuns().empty(); }, kProgramWaitMilliseconds));
    ASSERT_TRUE(wintest::Settled(main));
    EXPECT_EQ(program.Find(kDialogClass, nullptr), nullptr);
    EXPECT_EQ(wintest::FormatRuns(),
              std::vector<std::string>{wintest::FormatRun(systemFormat, answer.commandLine)});
  }

  wintest::PostCommand(main, IDC_COPY_VORN);
  EXPECT_TRUE(wintest::CloseFolderWindow(wintest::kCardFolderTitleEnd, kProgramWaitMilliseconds))
      << "the card's folder did not open";
  const wintest::FileList arrived = {
      {"DISKBOOT.BIN", "boot"},
      {"LYRE\\MODULES\\DEEP.BIN", "deep"},
      {"DCIM\\100VORN\\README.TXT", "images"},
  };
  for (const auto& [path, text] : arrived) {
    EXPECT_EQ(wintest::ReadTextFile(kCardRoot + path).value_or("(missing)"), text) << path;
  }

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program.Ended(0));
}

}  // namespace
