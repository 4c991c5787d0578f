// The program's entry: register the class, find the program's folder, put up
// the main window and run its messages.
#include "win32/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
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
