// The "Destination folder" dialog built from the real template and driven by
// messages, its setting in the registry, and the folder browser it opens.
#include <gtest/gtest.h>

#include "win32/windows_clean.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ids.h"
#include "images/destination.h"
#include "prefix_support.h"
#include "window_support.h"

namespace {

using wintest::ExpectedControl;

constexpr char kQuerySetting[] = "reg query HKCU\\Software\\Brenn\\quarlpix /v ToDir";
constexpr char kStringType[] = "REG_SZ";
constexpr char kBrowserTitle[] = "Browse for Folder";
constexpr char kBrowseParent[] = "C:\\vorn-browse";
constexpr char kBrowseFolder[] = "C:\\vorn-browse\\pick";
constexpr std::size_t kEditIndex = 2;

const wintest::ExpectedFrame kFrame{DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT,
                                    "Destination folder", 10, "MS Sans Serif", {20, 20, 343, 66}};

const ExpectedControl kControls[] = {
    {IDOK, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, {106, 45, 50, 14}, "OK"},
    {IDCANCEL, "Button", BS_PUSHBUTTON | WS_TABSTOP, {177, 45, 50, 14}, "CANCEL"},
    {IDC_DESTINATION, "Edit", ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, {32, 10, 272, 14}, ""},
    {IDC_UNADDRESSED, "Static", SS_LEFT, {4, 13, 26, 8}, "Folder :"},
    {IDC_BROWSE, "Button", BS_PUSHBUTTON | WS_TABSTOP, {307, 9, 31, 14}, "Browse.."},
    {IDC_DELETE_AFTER_COPY, "Button", BS_AUTOCHECKBOX | WS_TABSTOP, {31, 31, 118, 10},
     "Delete image folders after copy."},
};

TEST(DestinationDialog, TemplateIsAsDesigned) {
  wintest::ExpectTemplate(images::kDestinationTemplate, kFrame, kControls, std::size(kControls));
}

// A folder path of exactly this many characters.
std::string LongPath(std::size_t length) {
  std::string path = "C:\\Camera";
  while (path.size() < length) {
    path += path.size() % 20 == 0 ? '\\' : static_cast<char>('a' + path.size() % 26);
  }
  return path.substr(0, length);
}

// ToDir as another program sees it; "(none)" when reg finds no such value.
std::string QueriedSetting() {
  const std::string output = wintest::CommandOutput(kQuerySetting);
  const std::size_t type = output.find(kStringType);
  if (type == std::string::npos) return "(none)";
  const std::size_t start = output.find_first_not_of(' ', type + std::size(kStringType) - 1);
  return output.substr(start, output.find_first_of("\r\n", start) - start);
}

void Click(HWND dialog, int id) { SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// Types the text into the edit box, one key at a time, after clearing it.
void Type(HWND dialog, const std::string& text) {
  const HWND edit = GetDlgItem(dialog, IDC_DESTINATION);
  SetWindowTextA(edit, "");
  for (char key : text) SendMessageA(edit, WM_CHAR, static_cast<unsigned char>(key), 0);
}

// The browser's selected folder as its tree shows it.
std::string SelectedInBrowser(HWND browser) {
  const HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
  std::array<char, MAX_PATH> text{};
  TVITEMA item{};
  item.mask = TVIF_TEXT;
  item.hItem = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  item.pszText = text.data();
  item.cchTextMax = static_cast<int>(text.size());
  if (item.hItem == nullptr) return {};
  SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return text.data();
}

// Opens the browser, notes what it selected and cancels it.
std::string BrowseAndCancel(HWND dialog) {
  std::string selected = "(no browser)";
  wintest::WhenWindowAppears(kBrowserTitle, [&](HWND browser) {
    selected = SelectedInBrowser(browser);
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  });
  Click(dialog, IDC_BROWSE);
  return selected;
}

// Wine's browser finds the folder to select by comparing item ids byte for
// byte, and a folder's id holds its last access time. On a relatime mount a
// new folder's access time moves at its first listing, which then falls
// inside the browser and no folder is selected. Listing it first settles it.
void SettleAccessTime(const std::string& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
  }
}

// One showing of the dialog; each follows the one before.
struct Showing {
  const char* name;
  std::string typed;  // typed into the edit box
  bool toggle;        // the check box clicked
  bool browse;        // the browser opened and cancelled
  int close;
  std::string stored;  // ToDir afterwards
};

TEST(DestinationDialog, OfferStoreAndKeepTheDestination) {
  RegDeleteKeyA(HKEY_CURRENT_USER, images::kSettingsKey);
  CreateDirectoryA(kBrowseParent, nullptr);
  CreateDirectoryA(kBrowseFolder, nullptr);
  SettleAccessTime(kBrowseParent);
  SettleAccessTime(kBrowseFolder);
  const std::string medium = LongPath(150);
  const std::string longest = LongPath(images::kFolderMaximum);
  const std::string browsed = std::string(kBrowseFolder) + "\\";
  const Showing showings[] = {
      {"no setting yet, OK", medium, true, false, IDOK, medium},
      {"CANCEL", "C:\\Elsewhere", true, false, IDCANCEL, medium},
      {"typed past the limit", LongPath(300), true, false, IDOK, longest},
      // As typed: the browser gets the folder without its backslash.
      {"browser cancelled", browsed, false, true, IDOK, browsed},
  };
  std::string offered;  // what ToDir held before
  bool checked = false;
  images::gDeleteAfterCopy = checked;
  for (const Showing& showing : showings) {
    SCOPED_TRACE(showing.name);
    std::string selected;
    std::string afterBrowse;
    wintest::WhenWindowAppears(kFrame.title, [&](HWND dialog) {
      std::array<ExpectedControl, std::size(kControls)> controls{};
      std::copy(std::begin(kControls), std::end(kControls), controls.begin());
      controls[kEditIndex].text = offered.c_str();
      // A dialog's edit box trades WS_BORDER for a sunken edge when it is made.
      controls[kEditIndex].style &= ~WS_BORDER;
      wintest::ExpectShownFrame(dialog, kFrame);
      wintest::ExpectControls(dialog, controls.data(), controls.size());
      const HWND edit = GetDlgItem(dialog, IDC_DESTINATION);
      EXPECT_NE(GetWindowLongA(edit, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
      EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_DELETE_AFTER_COPY),
                checked ? BST_CHECKED : BST_UNCHECKED);
      Type(dialog, showing.typed);
      // The box itself takes no more than the program can store.
      EXPECT_EQ(static_cast<std::size_t>(GetWindowTextLengthA(edit)),
                std::min(showing.typed.size(), images::kFolderMaximum));
      if (showing.toggle) Click(dialog, IDC_DELETE_AFTER_COPY);
      if (showing.browse) {
        selected = BrowseAndCancel(dialog);
        afterBrowse = wintest::WindowText(GetDlgItem(dialog, IDC_DESTINATION));
      }
      Click(dialog, showing.close);
    });
    EXPECT_EQ(images::RunDestinationDialog(), showing.close == IDOK ? 1 : 0);
    if (showing.close == IDOK) checked = checked != showing.toggle;
    EXPECT_EQ(images::gDeleteAfterCopy, checked);
    EXPECT_EQ(QueriedSetting(), showing.stored);
    images::ReadSetting(images::kDestinationSetting, offered);
    EXPECT_EQ(offered, showing.stored);
    if (showing.browse) {
      EXPECT_EQ(selected, "pick");
      EXPECT_EQ(afterBrowse, showing.typed);
    }
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, images::kSettingsKey);
}

}  // namespace
