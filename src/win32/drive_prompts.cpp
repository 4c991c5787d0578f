// The system's own prompts on the card's drives, closed while a command
// writes a table or formats: Windows' offer to format a new raw partition,
// and AutoPlay opening the card. A click on "Format disk" there would format
// behind the program's back.
#include "win32/windows_clean.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "win32/main_window.h"

namespace host {
namespace {

// The shell asks the foreground window this before AutoPlay acts; TRUE
// cancels it.
constexpr char kQueryCancelAutoPlay[] = "QueryCancelAutoPlay";
constexpr char kDialogClass[] = "#32770";
constexpr UINT_PTR kAutoPlaySubclassId = 1;
// A hung program's window is passed over rather than waited for.
constexpr UINT kTextTimeoutMs = 200;
constexpr int kTextBufferSize = 512;
// How much of a dialog's accessible tree is read: a prompt is small.
constexpr int kAccessibleDepth = 4;
constexpr long kAccessibleChildren = 64;
constexpr int kAccessibleNodes = 256;

struct PromptGuard {
  HWINEVENTHOOK hook = nullptr;
  std::string letters;
  UINT autoPlayMessage = 0;
  bool looking = false;  // an event is being looked at: one at a time
};
PromptGuard gGuard;

LRESULT CALLBACK RefuseAutoPlay(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR) {
  if (message == gGuard.autoPlayMessage && gGuard.hook != nullptr) return TRUE;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(window, RefuseAutoPlay, kAutoPlaySubclassId);
  return DefSubclassProc(window, message, wParam, lParam);
}

// The window answers AutoPlay's question, which the shell, not elevated as
// the program is, may send it.
void AnswerAutoPlay(HWND window) {
  SetWindowSubclass(window, RefuseAutoPlay, kAutoPlaySubclassId, 0);
  ChangeWindowMessageFilterEx(window, gGuard.autoPlayMessage, MSGFLT_ALLOW, nullptr);
}

bool IsDialog(HWND window) {
  std::array<char, sizeof kDialogClass + 1> name{};
  GetClassNameA(window, name.data(), static_cast<int>(name.size()));
  return std::string(name.data()) == kDialogClass;
}

// A window of another program gives its text only when asked with a message.
std::string TextOf(HWND window) {
  std::array<char, kTextBufferSize> text{};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, kTextTimeoutMs, &copied)) {
    return {};
  }
  text.back() = '\0';
  return text.data();
}

std::string Narrow(BSTR wide) {
  if (wide == nullptr) return {};
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::vector<char> text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), length, nullptr, nullptr);
  return text.data();
}

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};
using Accessible = std::unique_ptr<IAccessible, ComRelease>;

std::string AccessibleName(IAccessible& object, LONG child) {
  VARIANT id{};
  id.vt = VT_I4;
  id.lVal = child;
  BSTR name = nullptr;
  if (object.get_accName(id, &name) != S_OK) return {};
  std::string text = Narrow(name);
  SysFreeString(name);
  return text;
}

// The names an accessibility client reads out: the texts of a dialog that
// draws them without child windows of their own, as a task dialog does.
void AddAccessibleNames(IAccessible& object, int depth, int& budget, std::vector<std::string>& texts) {
  texts.push_back(AccessibleName(object, CHILDID_SELF));
  long count = 0;
  if (depth >= kAccessibleDepth || --budget <= 0 || object.get_accChildCount(&count) != S_OK || count <= 0) {
    return;
  }
  std::vector<VARIANT> children(static_cast<std::size_t>(std::min(count, kAccessibleChildren)));
  long obtained = 0;
  if (FAILED(AccessibleChildren(&object, 0, static_cast<LONG>(children.size()), children.data(), &obtained))) {
    return;
  }
  for (long i = 0; i < obtained; ++i) {
    VARIANT& child = children[static_cast<std::size_t>(i)];
    if (child.vt == VT_I4) texts.push_back(AccessibleName(object, child.lVal));
    IAccessible* inner = nullptr;
    if (child.vt == VT_DISPATCH && child.pdispVal != nullptr &&
        SUCCEEDED(child.pdispVal->QueryInterface(IID_IAccessible, reinterpret_cast<void**>(&inner)))) {
      const Accessible held(inner);
      if (budget > 0) AddAccessibleNames(*held, depth + 1, budget, texts);
    }
    VariantClear(&child);
  }
}

BOOL CALLBACK AddChildText(HWND child, LPARAM texts) {
  reinterpret_cast<std::vector<std::string>*>(texts)->push_back(TextOf(child));
  return TRUE;
}

// The accessible names cost calls into the other program: read once, as
// the dialog is shown.
std::vector<std::string> TextsOf(HWND dialog, bool accessible) {
  std::vector<std::string> texts = {TextOf(dialog)};
  EnumChildWindows(dialog, AddChildText, reinterpret_cast<LPARAM>(&texts));
  IAccessible* object = nullptr;
  if (accessible && SUCCEEDED(AccessibleObjectFromWindow(dialog, static_cast<DWORD>(OBJID_CLIENT),
                                                         IID_IAccessible, reinterpret_cast<void**>(&object)))) {
    const Accessible held(object);
    int budget = kAccessibleNodes;
    AddAccessibleNames(*held, 0, budget, texts);
  }
  return texts;
}

// "F:" as a drive, not as the end of a longer word.
bool NamesDrive(const std::string& text, char letter) {
  for (std::size_t at = text.find(std::string{letter, ':'}); at != std::string::npos;
       at = text.find(std::string{letter, ':'}, at + 1)) {
    if (at == 0 || std::isalnum(static_cast<unsigned char>(text[at - 1])) == 0) return true;
  }
  return false;
}

bool NamesGuardedDrive(HWND dialog, bool accessible) {
  for (const std::string& text : TextsOf(dialog, accessible)) {
    for (const char letter : gGuard.letters) {
      if (NamesDrive(text, letter)) return true;
    }
  }
  return false;
}

// A window made or shown anywhere. Wine tells only of windows made, Windows
// of both; a dialog's texts are there by the time an event is taken, which
// is after the event.
void CALLBACK OnWindowEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                            DWORD) {
  if (event == EVENT_OBJECT_DESTROY || window == nullptr || object != OBJID_WINDOW ||
      child != CHILDID_SELF || gGuard.looking) {
    return;
  }
  const HWND top = GetAncestor(window, GA_ROOT);
  if (top == nullptr) return;
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(top, &process);
  gGuard.looking = true;
  if (thread == GetCurrentThreadId()) {
    if (IsDialog(top)) AnswerAutoPlay(top);  // a box or dialog of the program's, which may be in front
  } else if (process != GetCurrentProcessId() && IsDialog(top) &&
             NamesGuardedDrive(top, event == EVENT_OBJECT_SHOW && window == top)) {
    PostMessageA(top, WM_CLOSE, 0, 0);  // a dialog takes it as its Cancel
  }
  gGuard.looking = false;
}

}  // namespace

bool BeginClosingDrivePrompts(const std::string& letters) {
  EndClosingDrivePrompts();
  gGuard.letters = letters;
  gGuard.autoPlayMessage = RegisterWindowMessageA(kQueryCancelAutoPlay);
  if (win32::gMainWindow != nullptr) AnswerAutoPlay(win32::gMainWindow);
  gGuard.hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, OnWindowEvent, 0, 0,
                                WINEVENT_OUTOFCONTEXT);
  return gGuard.hook != nullptr;
}

void EndClosingDrivePrompts() {
  if (gGuard.hook != nullptr) UnhookWinEvent(gGuard.hook);
  if (win32::gMainWindow != nullptr) {
    RemoveWindowSubclass(win32::gMainWindow, RefuseAutoPlay, kAutoPlaySubclassId);
  }
  gGuard = PromptGuard{};
}

}  // namespace host
