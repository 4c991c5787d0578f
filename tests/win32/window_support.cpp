#include "window_support.h"

#include <array>

#include "app/dispatch.h"

namespace wintest {
namespace {

constexpr UINT kPollMilliseconds = 50;
MainWindow* gRecording = nullptr;
WNDPROC gOriginalProc = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && gRecording != nullptr) {
    gRecording->Record(LOWORD(wParam));
    return 0;
  }
  return CallWindowProcA(gOriginalProc, window, message, wParam, lParam);
}

struct Pending {
  std::string title;
  std::function<void(HWND)> action;
  UINT_PTR timer = 0;
};
Pending gPending;

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
  const HWND window = FindWindowA(nullptr, gPending.title.c_str());
  if (window == nullptr || !IsWindowVisible(window)) return;
  KillTimer(nullptr, gPending.timer);
  auto action = std::move(gPending.action);
  gPending = Pending{};
  action(window);
}

}  // namespace

MainWindow::MainWindow() {
  window_ = win32::CreateMainWindow();
  if (window_ != nullptr) KillTimer(window_, app::kRefreshTimerId);
}

MainWindow::~MainWindow() {
  if (gRecording == this) gRecording = nullptr;
  if (window_ != nullptr) DestroyWindow(window_);
  win32::gMainWindow = nullptr;
}

void MainWindow::RecordCommands() {
  gRecording = this;
  gOriginalProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
}

void WhenWindowAppears(const std::string& title, std::function<void(HWND)> action) {
  gPending.title = title;
  gPending.action = std::move(action);
  gPending.timer = SetTimer(nullptr, 0, kPollMilliseconds, Poll);
}

void QuitAfter(UINT milliseconds) {
  SetTimer(nullptr, 0, milliseconds, [](HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostQuitMessage(1);
  });
}

std::string WindowText(HWND window) {
  std::array<char, 512> text{};
  GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  return text.data();
}

std::string ClassName(HWND window) {
  std::array<char, 256> name{};
  GetClassNameA(window, name.data(), static_cast<int>(name.size()));
  return name.data();
}

}  // namespace wintest
