// The system's offer to format a drive, played by a box of this test (a
// program other than the installer), is closed while the installer runs a
// command that writes a table, only then and only on the card's letter; its
// windows refuse AutoPlay meanwhile.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "ids.h"
#include "program_support.h"

namespace {

DWORD WINAPI ShowPrompt(LPVOID text) {
  const auto* prompt = static_cast<const char*>(text);
  return static_cast<DWORD>(MessageBoxA(nullptr, prompt, "Microsoft Windows", MB_OKCANCEL));
}

// True when something else closed the offer on this drive within the time.
bool PromptClosed(char letter, DWORD milliseconds) {
  std::string text = std::string("You need to format the disk in drive ") + letter + ": before you can use it.";
  DWORD id = 0;
  const wintest::UniqueHandle thread(CreateThread(nullptr, 0, ShowPrompt, text.data(), 0, &id));
  const bool closed = WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0;
  while (WaitForSingleObject(thread.get(), milliseconds) != WAIT_OBJECT_0) {
    EnumThreadWindows(id, [](HWND window, LPARAM) { return PostMessageA(window, WM_CLOSE, 0, 0); }, 0);
  }
  return closed;
}

LRESULT AutoPlayAnswer(HWND window) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, RegisterWindowMessageA("QueryCancelAutoPlay"), 0, 0, SMTO_ABORTIFHUNG,
                      wintest::kProgramWaitMilliseconds, &result);
  return static_cast<LRESULT>(result);
}

TEST(DrivePrompts, ClosedOnTheCardWhileACommandWritesATable) {
  struct Check {
    bool during;  // while "Swap Partitions" asks "Sure?"; before it, or after its No
    char letter;
    bool closed;
  };
  const Check checks[] = {{false, 'E', false}, {true, 'E', true}, {true, 'C', false}, {false, 'E', false}};
  ASSERT_TRUE(wintest::PlaceProgram());
  wintest::Program program(wintest::kProgramFolder);
  const HWND main = program.WaitForCard();
  ASSERT_NE(main, nullptr);
  HWND box = nullptr;
  for (const Check& check : checks) {
    if (check.during && box == nullptr) {
      wintest::PostCommand(main, IDC_SWAP_PARTITIONS);
      const HWND card = program.WaitFor(wintest::kDialogClass, wintest::kCardAtStakeCaption);
      ASSERT_NE(card, nullptr);
      ASSERT_TRUE(wintest::Answer(card, IDYES));
      box = program.WaitFor(wintest::kDialogClass, "Confirm");
      ASSERT_NE(box, nullptr);
    } else if (!check.during && box != nullptr) {
      ASSERT_TRUE(wintest::Answer(std::exchange(box, nullptr), IDNO));
      ASSERT_TRUE(wintest::Settled(main));
    }
    SCOPED_TRACE(std::string(check.during ? "during, " : "not during, ") + check.letter);
    EXPECT_EQ(PromptClosed(check.letter, check.closed ? 5000 : 1500), check.closed);
    EXPECT_EQ(AutoPlayAnswer(main), check.during ? TRUE : FALSE);
    EXPECT_EQ(AutoPlayAnswer(check.during ? box : main), check.during ? TRUE : FALSE);
  }
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program.Ended(0));
}

}  // namespace
