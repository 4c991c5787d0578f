#include "window_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string_view>

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

UnexpectedWindows* gWatching = nullptr;

void CALLBACK CancelShownWindows(HWND, UINT, UINT_PTR, DWORD) {
  if (gWatching == nullptr) return;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM) -> BOOL {
        if (IsWindowVisible(window)) gWatching->Cancel(window);
        return TRUE;
      },
      0);
}

}  // namespace

UnexpectedWindows::UnexpectedWindows() {
  gWatching = this;
  timer_ = SetTimer(nullptr, 0, kPollMilliseconds, CancelShownWindows);
}

UnexpectedWindows::~UnexpectedWindows() {
  KillTimer(nullptr, timer_);
  gWatching = nullptr;
}

void UnexpectedWindows::Cancel(HWND window) {
  titles_.push_back(WindowText(window));
  PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
  PostMessageA(window, WM_CLOSE, 0, 0);
}

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

RECT ToPixels(HWND dialog, RECT units) {
  MapDialogRect(dialog, &units);
  return units;
}

namespace {

// The control's x, y, width and height within its parent, in pixels.
RECT PlaceInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

}  // namespace

void ExpectControls(HWND dialog, const ExpectedControl* expected, std::size_t count) {
  std::size_t index = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT), ++index) {
    ASSERT_LT(index, count) << "more controls than the template has";
    const ExpectedControl& want = expected[index];
    SCOPED_TRACE(want.text);
    const bool combo = std::string_view(want.className) == "ComboBox";
    EXPECT_EQ(GetDlgCtrlID(child), want.id);
    EXPECT_STRCASEEQ(ClassName(child).c_str(), want.className);
    EXPECT_EQ(WindowText(child), want.text);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    // A combo box takes WS_VSCROLL off itself for its list; the template
    // test sees the bit as written.
    const LONG flags = want.style & ~kKindMask & (combo ? ~WS_VSCROLL : ~0L);
    EXPECT_EQ(style & flags, flags);
    EXPECT_EQ(style & kKindMask, want.style & kKindMask);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
    const RECT pixels = ToPixels(dialog, want.dialogUnits);
    const RECT place = PlaceInParent(child);
    EXPECT_EQ(place.left, pixels.left);
    EXPECT_EQ(place.top, pixels.top);
    EXPECT_EQ(place.right, pixels.right);
    // A drop-down list's height is that of its list, not of the closed box.
    if (!combo) {
      EXPECT_EQ(place.bottom, pixels.bottom);
    }
  }
  EXPECT_EQ(index, count);
}

namespace {

const LPCSTR kDialogResource = MAKEINTRESOURCEA(5);  // RT_DIALOG

// DLGTEMPLATE and DLGITEMTEMPLATE as stored: 18 bytes each, no padding.
constexpr std::size_t kTemplateHeaderSize = 18;
constexpr std::size_t kItemHeaderSize = 18;
static_assert(sizeof(DLGTEMPLATE) == kTemplateHeaderSize && sizeof(DLGITEMTEMPLATE) == kItemHeaderSize);

constexpr WORD kOrdinalMark = 0xFFFF;

const WORD* SkipNameOrOrdinal(const WORD* at) {
  if (*at == kOrdinalMark) return at + 2;
  while (*at != 0) ++at;
  return at + 1;
}

// A stored UTF-16 string of plain ASCII characters; returns what follows it.
const WORD* ReadName(const WORD* at, std::string& name) {
  for (; *at != 0; ++at) name.push_back(static_cast<char>(*at));
  return at + 1;
}

}  // namespace

DialogTemplate ReadTemplate(const char* name) {
  DialogTemplate dialog;
  const HRSRC resource = FindResourceA(nullptr, name, kDialogResource);
  if (resource == nullptr) return dialog;
  const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, resource)));
  if (base == nullptr) return dialog;
  DLGTEMPLATE head{};
  std::memcpy(&head, base, sizeof head);
  dialog.style = head.style;
  dialog.place = {head.x, head.y, head.cx, head.cy};
  const WORD* at = reinterpret_cast<const WORD*>(base + kTemplateHeaderSize);
  at = ReadName(SkipNameOrOrdinal(SkipNameOrOrdinal(at)), dialog.title);  // menu, class, title
  if ((head.style & DS_SETFONT) != 0) {
    dialog.pointSize = *at;
    at = ReadName(at + 1, dialog.face);
  }
  for (WORD i = 0; i < head.cdit; ++i) {
    const auto offset = reinterpret_cast<const BYTE*>(at) - base;
    const BYTE* item = base + ((offset + 3) & ~3);  // items are DWORD-aligned
    DLGITEMTEMPLATE fixed{};
    std::memcpy(&fixed, item, sizeof fixed);
    dialog.items.push_back({fixed.style, {fixed.x, fixed.y, fixed.cx, fixed.cy}, fixed.id});
    at = SkipNameOrOrdinal(SkipNameOrOrdinal(reinterpret_cast<const WORD*>(item + kItemHeaderSize)));
    at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);  // creation data
  }
  return dialog;
}

void ExpectTemplateItems(const DialogTemplate& dialog, const ExpectedControl* expected,
                         std::size_t count) {
  ASSERT_EQ(dialog.items.size(), count);
  for (std::size_t i = 0; i < count; ++i) {
    const TemplateItem& item = dialog.items[i];
    const ExpectedControl& want = expected[i];
    SCOPED_TRACE(want.text);
    EXPECT_EQ(item.style, static_cast<DWORD>(want.style | WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(item.id, want.id);
    EXPECT_EQ(item.place.left, want.dialogUnits.left);
    EXPECT_EQ(item.place.top, want.dialogUnits.top);
    EXPECT_EQ(item.place.right, want.dialogUnits.right);
    EXPECT_EQ(item.place.bottom, want.dialogUnits.bottom);
  }
}

void ExpectTemplate(const char* name, const ExpectedFrame& frame, const ExpectedControl* expected,
                    std::size_t count) {
  const DialogTemplate dialog = ReadTemplate(name);
  EXPECT_EQ(dialog.style, frame.style);
  EXPECT_EQ(dialog.title, frame.title);
  EXPECT_EQ(dialog.pointSize, frame.pointSize);
  EXPECT_EQ(dialog.face, frame.face);
  EXPECT_EQ(dialog.place.left, frame.units.left);
  EXPECT_EQ(dialog.place.top, frame.units.top);
  EXPECT_EQ(dialog.place.right, frame.units.right);
  EXPECT_EQ(dialog.place.bottom, frame.units.bottom);
  ExpectTemplateItems(dialog, expected, count);
}

namespace {
constexpr int kPointsPerInch = 72;
}  // namespace

void ExpectShownFrame(HWND dialog, const ExpectedFrame& frame) {
  EXPECT_EQ(WindowText(dialog), frame.title);
  LOGFONTA font{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
  EXPECT_STREQ(font.lfFaceName, frame.face);
  HDC screen = GetDC(nullptr);
  const LONG height = -MulDiv(frame.pointSize, GetDeviceCaps(screen, LOGPIXELSY), kPointsPerInch);
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(font.lfHeight, height);
  RECT client{};
  GetClientRect(dialog, &client);
  const RECT size = ToPixels(dialog, {0, 0, frame.units.right, frame.units.bottom});
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
}

}  // namespace wintest
