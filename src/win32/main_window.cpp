#include "win32/main_window.h"

#include <objbase.h>

#include <array>

#include "app/dispatch.h"
#include "common/module_directory.h"

namespace win32 {

HINSTANCE gInstance = nullptr;
HWND gMainWindow = nullptr;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      // The window exists for the primitives before the timer is started.
      gMainWindow = window;
      app::OnCreate();
      return 0;
    case WM_CLOSE:
      // Disabled, the window is in the middle of a command, under a box, a
      // dialog or format.com: a close from outside (End task) must not end
      // that command half-way.
      if (IsWindowEnabled(window)) app::OnClose();
      return 0;
    case WM_TIMER:
      app::OnTimer();
      return 0;
    case WM_COMMAND:
      if (app::OnCommand(LOWORD(wParam), HIWORD(wParam))) return 0;
      return DefDlgProcA(window, message, wParam, lParam);
    default:
      return DefDlgProcA(window, message, wParam, lParam);
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, 1);
    return TRUE;
  }
  return FALSE;
}

namespace {

// IDC_ARROW, whatever the character set of the Win32 macros.
const LPCSTR kArrowCursor = MAKEINTRESOURCEA(32512);

// The main window's dialog procedure: TRUE from WM_INITDIALOG has the system
// give the first tab stop the focus; everything else is MainWindowProc's.
INT_PTR CALLBACK MainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG ? TRUE : FALSE;
}

// Without OLE 1.0's DDE, which nothing here uses.
constexpr DWORD kApartmentFlags = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;

}  // namespace

ComApartment::ComApartment()
    : entered_(SUCCEEDED(CoInitializeEx(nullptr, kApartmentFlags))) {}

ComApartment::~ComApartment() {
  if (entered_) CoUninitialize();
}

ATOM RegisterMainClass(HINSTANCE instance) {
  WNDCLASSA windowClass{};
  windowClass.style = 0;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.cbClsExtra = 0;
  windowClass.cbWndExtra = DLGWINDOWEXTRA;  // a window made from a dialog template
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, kIconName);
  windowClass.hCursor = LoadCursorA(nullptr, kArrowCursor);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(kBackgroundBrush));
  windowClass.lpszMenuName = kMenuName;
  windowClass.lpszClassName = kMainClassName;
  return RegisterClassA(&windowClass);
}

void FillModuleDirectory() {
  std::array<char, MAX_PATH> path{};
  GetModuleFileNameA(nullptr, path.data(), MAX_PATH);
  common::gModuleDirectory = common::CutToFolder(path.data());
}

HWND CreateMainWindow() {
  return CreateDialogParamA(gInstance, kMainTemplate, nullptr, MainDialogProc, 0);
}

int RunMessageLoop(HWND window, HACCEL accelerators) {
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (TranslateAcceleratorA(window, accelerators, &message)) continue;
    if (IsDialogMessageA(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace win32
