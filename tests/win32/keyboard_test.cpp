// The main window's keyboard interface through the program's message loop.
#include <gtest/gtest.h>

#include "ids.h"
#include "win32/main_window.h"
#include "window_support.h"

namespace {

// Esc issues command 2 and Enter, with no push button focused, command 1:
// both close the program, ending the loop with 0.
TEST(MessageLoop, EscAndEnterCloseTheProgram) {
  for (WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) {
    wintest::MainWindow main;
    const HWND combo = GetDlgItem(main.Get(), IDC_DRIVE_COMBO);
    SetFocus(combo);
    PostMessageA(combo, WM_KEYDOWN, key, 0);
    EXPECT_EQ(win32::RunMessageLoop(main.Get(), nullptr), 0) << key;
  }
}

TEST(MessageLoop, MenuExitCloses) {
  wintest::MainWindow main;
  PostMessageA(main.Get(), WM_COMMAND, MAKEWPARAM(IDC_EXIT, 0), 0);
  EXPECT_EQ(win32::RunMessageLoop(main.Get(), nullptr), 0);
}

}  // namespace
