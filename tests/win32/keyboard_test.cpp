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
    wintest::QuitAfter(10000);
    EXPECT_EQ(win32::RunMessageLoop(main.Get(), nullptr), 0) << key;
  }
}

// The window opens with its first tab stop focused; Tab goes through the
// tab stops in template order, past the statics, and the arrow keys move
// within a group: each key is handled by the program's loop.
TEST(MessageLoop, FocusStartsOnExitAndMovesWithTabAndArrows) {
  struct Step {
    WPARAM key;
    int focused;  // the control that has the focus afterwards
  };
  const Step steps[] = {
      {VK_TAB, IDC_DRIVE_COMBO}, {VK_TAB, IDC_MAKE_BOOTABLE}, {VK_DOWN, IDC_FORMAT},
      {VK_UP, IDC_MAKE_BOOTABLE}, {VK_TAB, IDC_FORMAT},       {VK_TAB, IDC_COPY_VORN},
  };
  wintest::MainWindow main;
  EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_EXIT);
  for (const Step& step : steps) {
    const int from = GetDlgCtrlID(GetFocus());
    PostMessageA(GetFocus(), WM_KEYDOWN, step.key, 0);
    PostQuitMessage(0);  // taken after the key, which is posted before it
    win32::RunMessageLoop(main.Get(), nullptr);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), step.focused) << "key " << step.key << " from " << from;
  }
}

TEST(MessageLoop, MenuExitCloses) {
  wintest::MainWindow main;
  PostMessageA(main.Get(), WM_COMMAND, MAKEWPARAM(IDC_EXIT, 0), 0);
  EXPECT_EQ(win32::RunMessageLoop(main.Get(), nullptr), 0);
}

}  // namespace

namespace {

void PressCtrlA() {
  INPUT keys[4]{};
  const WORD codes[] = {VK_CONTROL, 'A', 'A', VK_CONTROL};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = codes[i];
    keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
  }
  SendInput(4, keys, sizeof(INPUT));
}

// Ctrl+A, taken by the accelerator before the dialog keyboard interface,
// opens the About box from the main window.
TEST(MessageLoop, CtrlAOpensTheAboutBox) {
  wintest::MainWindow main;
  SetForegroundWindow(main.Get());
  SetFocus(GetDlgItem(main.Get(), IDC_DRIVE_COMBO));
  bool aboutShown = false;
  wintest::WhenWindowAppears("About VORN Installer", [&](HWND dialog) {
    aboutShown = true;
    SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    PostMessageA(main.Get(), WM_COMMAND, MAKEWPARAM(IDC_EXIT, 0), 0);
  });
  PressCtrlA();
  wintest::QuitAfter(10000);
  const HACCEL accelerators = LoadAcceleratorsA(win32::gInstance, win32::kAcceleratorName);
  EXPECT_EQ(win32::RunMessageLoop(main.Get(), accelerators), 0);
  EXPECT_TRUE(aboutShown);
}

}  // namespace
