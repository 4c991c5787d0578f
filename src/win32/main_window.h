// The main window and the About box on Win32.
#pragma once

#include "win32/windows_clean.h"

namespace win32 {

constexpr char kMainClassName[] = "VORNINST";
constexpr char kMainTemplate[] = "VORNINST";
constexpr char kAboutTemplate[] = "ABOUT";
constexpr char kHelpTemplate[] = "HELP";
constexpr char kIconName[] = "VORNINST";
constexpr char kMenuName[] = "VORNINST";
constexpr char kAcceleratorName[] = "VORNINST";
constexpr int kBackgroundBrush = COLOR_BTNFACE + 1;

// The program instance and the main window, for the host primitives.
extern HINSTANCE gInstance;
extern HWND gMainWindow;

// The main window is a dialog of its own class: what it does not handle goes
// to DefDlgProcA, which gives it the dialog keyboard interface.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// COM on this thread, apartment-threaded as the shell's objects (the folder
// browser, item lists, ShellExecute) need, while it lives.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool entered_ = false;
};

// Start-up in pieces, so that the tests can build the window as the program does.
ATOM RegisterMainClass(HINSTANCE instance);
void FillModuleDirectory();
// Modeless, from the template; the first tab stop has the focus.
HWND CreateMainWindow();
// Runs until the quit message and returns its exit code.
int RunMessageLoop(HWND window, HACCEL accelerators);

}  // namespace win32
