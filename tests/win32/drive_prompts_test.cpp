// The system's offer to format a drive, played by a box of this test (a
// program other than the installer), is closed while the installer runs a
// command that writes a table, only then and only on the card's letter; the
// installer's windows refuse AutoPlay meanwhile.
#include <gtest/gtest.h>

#include <string>

#include "ids.h"
#include "program_support.h"

namespace {

constexpr char kPromptTitle[] = "Microsoft Windows";
constexpr DWORD kClosedWithinMs = 5000;
constexpr DWORD kLeftAloneForMs = 1500;

DWORD WINAPI ShowPrompt(LPVOID text) {
  return static_cast<DWORD>(MessageBoxA(nullptr, static_cast<const char*>(text), kPromptTitle, MB_OKCANCEL));
}

BOOL CALLBACK ClosePrompt(HWND window, LPARAM) {
  PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

// The offer on this drive letter, up for a while: true when something else
// closed it meanwhile. Left up, the test closes it itself.
bool PromptClosed(char letter, DWORD milliseconds) {
  const std::string text = std::string("You need to format the disk in drive ") + letter +
                           ": before you can use it.\nDo you want to format it?";
  DWORD threadId = 0;
  const wintest::UniqueHandle thread(
      CreateThread(nullptr, 0, ShowPrompt, const_cast<char*>(text.c_str()), 0, &threadId));
  const bool closed = WaitForSingleObject(thread.get(), milliseconds) == WAIT_OBJECT_0;
  while (WaitForSingleObject(thread.get(), kLeftAloneForMs) != WAIT_OBJECT_0) {
    EnumThreadWindows(threadId, ClosePrompt, 0);
  }
  return closed;
}

// What the window answers the shell's question before AutoPlay.
LRESULT AutoPlayAnswer(HWND window) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, RegisterWindowMessageA("QueryCancelAutoPlay"), 0, 0, SMTO_ABORTIFHUNG,
                      wintest::kProgramWaitMilliseconds, &result);
  return static_cast<LRESULT>(result);
}

TEST(DrivePrompts, ClosedOnTheCardWhileACommandWritesATable) {
  enum class Phase { Before, During, After };
  struct Check {
    Phase phase;  // before "Swap Partitions", while it asks "Sure?", after its No
    char letter;
    bool closed;
  };
  const Check checks[] = {{Phase::Before, 'E', false}, {Phase::During, 'E', true},
                          {Phase::During, 'C', false}, {Phase::After, 'E', false}};
  ASSERT_TRUE(wintest::PlaceProgram());
  wintest::Program program(wintest::kProgramFolder);
  const HWND main = program.WaitForCard();
  ASSERT_NE(main, nullptr) << "the program did not start, or the card was not identified";
  Phase now = Phase::Before;
  HWND box = nullptr;
  for (const Check& check : checks) {
    if (check.phase == Phase::During && now == Phase::Before) {
      wintest::PostCommand(main, IDC_SWAP_PARTITIONS);
      box = program.WaitFor(wintest::kDialogClass, "Confirm");
      ASSERT_NE(box, nullptr);
      ASSERT_EQ(wintest::BoxText(box), "Sure?");
    }
    if (check.phase == Phase::After && now == Phase::During) {
      ASSERT_TRUE(wintest::Answer(box, IDNO));
      ASSERT_TRUE(wintest::Settled(main));
    }
    now = check.phase;
    SCOPED_TRACE(std::string("phase ") + std::to_string(static_cast<int>(now)) + ", drive " + check.letter);
    EXPECT_EQ(PromptClosed(check.letter, check.closed ? kClosedWithinMs : kLeftAloneForMs), check.closed);
    EXPECT_EQ(AutoPlayAnswer(main), now == Phase::During ? TRUE : FALSE);
    if (now == Phase::During) {
      EXPECT_EQ(AutoPlayAnswer(box), TRUE);
    }
  }
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_TRUE(program.Ended(0));
}

}  // namespace
