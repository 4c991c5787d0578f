// The program's entry: set the process up, register the class, find the
// program's folder, put up the main window and run its messages.
#include "win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
  // A locked card, an empty reader or a card pulled out makes the read or
  // write fail, which the program reports, rather than put up the system's
  // own blocking box inside it.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  const win32::ComApartment apartment;
  if (previous == nullptr) win32::RegisterMainClass(instance);
  win32::gInstance = instance;
  win32::FillModuleDirectory();
  const HWND window = win32::CreateMainWindow();
  if (window == nullptr) return 1;
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  const HACCEL accelerators = LoadAcceleratorsA(instance, win32::kAcceleratorName);
  return win32::RunMessageLoop(window, accelerators);
}
