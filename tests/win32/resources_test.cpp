// The real resources: the main window built from its template, the menu, the
// accelerator, the string table and the About box.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "ids.h"
#include "win32/main_window.h"
#include "window_support.h"

namespace {

struct ExpectedControl {
  int id;
  const char* className;
  LONG style;  // besides WS_CHILD and WS_VISIBLE
  RECT dialogUnits;  // x, y, width, height
  const char* text;
};

// In template order, which is also the order of the child windows.
const ExpectedControl kMainControls[] = {
    {1, "Button", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, {64, 199, 92, 18}, "EXIT"},
    {200, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, {75, 5, 42, 97}, ""},
    {201, "Button", BS_PUSHBUTTON | WS_TABSTOP, {16, 85, 73, 14}, "Make bootable Disk"},
    {202, "Button", BS_PUSHBUTTON | WS_TABSTOP, {173, 85, 37, 14}, "Format"},
    {112, "Static", SS_LEFT | SS_SUNKEN | WS_GROUP, {5, 21, 214, 9}, "Insert SD Card"},
    {65535, "Static", SS_LEFT | WS_GROUP, {5, 6, 67, 7}, "Select SD card drive : "},
    {207, "Button", BS_PUSHBUTTON | WS_TABSTOP, {92, 85, 78, 14}, "Copy VORN to SD Card"},
    {113, "Static", SS_LEFT | SS_SUNKEN | WS_GROUP, {15, 145, 194, 25}, ""},
    {208, "Button", BS_PUSHBUTTON | WS_TABSTOP, {18, 175, 93, 14}, "Swap Partitions"},
    {211, "Button", BS_PUSHBUTTON | WS_TABSTOP, {114, 175, 93, 14}, "Create partition"},
    {65535, "Button", BS_GROUPBOX, {5, 134, 216, 59}, "Partition"},
    {65535, "Button", BS_GROUPBOX, {5, 72, 216, 58}, "Drive"},
    {206, "Button", BS_PUSHBUTTON | WS_TABSTOP, {121, 5, 42, 12}, "Folder Open"},
    {65535, "Button", BS_GROUPBOX, {4, 35, 216, 31}, "Auto"},
    {210, "Button", BS_PUSHBUTTON | WS_TABSTOP, {111, 46, 46, 14}, "New Install"},
    {212, "Button", BS_PUSHBUTTON | WS_TABSTOP, {160, 46, 46, 14}, "Version Up"},
    {213, "Button", BS_PUSHBUTTON | WS_TABSTOP, {11, 46, 97, 14}, "Copy Image Folder to PC"},
    {223, "Button", BS_PUSHBUTTON | WS_TABSTOP, {15, 107, 73, 14}, "Set Script Flag"},
    {222, "Button", BS_PUSHBUTTON | WS_TABSTOP, {92, 107, 78, 14}, "SD boot sector Write"},
};

// The low bits of a button's or static's style are a kind, not flags.
constexpr LONG kKindMask = 0x1F;

// Position and size in pixels: the dialog manager converts each separately.
RECT ToPixels(HWND dialog, RECT units) {
  MapDialogRect(dialog, &units);
  return units;
}

// The control's x, y, width and height within its parent, in pixels.
RECT PlaceInParent(HWND child) {
  RECT rect{};
  GetWindowRect(child, &rect);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void ExpectControls(HWND dialog, const ExpectedControl* expected, std::size_t count) {
  std::size_t index = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT), ++index) {
    ASSERT_LT(index, count) << "more controls than the template has";
    const ExpectedControl& want = expected[index];
    SCOPED_TRACE(want.text);
    const bool combo = want.id == IDC_DRIVE_COMBO;
    EXPECT_EQ(GetDlgCtrlID(child), want.id);
    EXPECT_STRCASEEQ(wintest::ClassName(child).c_str(), want.className);
    EXPECT_EQ(wintest::WindowText(child), want.text);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    // A combo box takes WS_VSCROLL off itself for its list; the template
    // test below sees the bit as written.
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

TEST(MainWindow, IsBuiltFromTheTemplateWithItsOwnClass) {
  wintest::MainWindow main;
  const HWND window = main.Get();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(win32::gMainWindow, window);
  EXPECT_EQ(wintest::ClassName(window), "VORNINST");
  EXPECT_EQ(wintest::WindowText(window), "VORN Installer (SCRIPT)");
  EXPECT_EQ(GetClassLongPtrA(window, GCL_CBWNDEXTRA), 30);
  EXPECT_EQ(GetClassLongPtrA(window, GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
  EXPECT_NE(GetClassLongPtrA(window, GCLP_HICON), 0);
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU), WS_POPUP | WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  RECT client{};
  GetClientRect(window, &client);
  const RECT size = ToPixels(window, {0, 0, 225, 220});  // x, y, width, height
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  ExpectControls(window, kMainControls, std::size(kMainControls));
}

// The template as stored: every item's style, id and place exactly.
struct TemplateItem {
  DWORD style;
  RECT place;
  WORD id;
};

// Resource types, whatever the character set of the Win32 macros.
const LPCSTR kDialogResource = MAKEINTRESOURCEA(5);      // RT_DIALOG
const LPCSTR kIconGroupResource = MAKEINTRESOURCEA(14);  // RT_GROUP_ICON

// DLGTEMPLATE and DLGITEMTEMPLATE as stored: 18 bytes each, no padding.
constexpr std::size_t kTemplateHeaderSize = 18;
constexpr std::size_t kItemHeaderSize = 18;
static_assert(sizeof(DLGTEMPLATE) == kTemplateHeaderSize && sizeof(DLGITEMTEMPLATE) == kItemHeaderSize);

const WORD* SkipNameOrOrdinal(const WORD* at) {
  if (*at == 0xFFFF) return at + 2;
  while (*at != 0) ++at;
  return at + 1;
}

std::vector<TemplateItem> ReadTemplate(const char* name, DWORD& dialogStyle) {
  const HRSRC resource = FindResourceA(nullptr, name, kDialogResource);
  const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, resource)));
  std::vector<TemplateItem> items;
  if (base == nullptr) return items;
  DLGTEMPLATE head{};
  std::memcpy(&head, base, sizeof head);
  dialogStyle = head.style;
  const WORD* at = reinterpret_cast<const WORD*>(base + kTemplateHeaderSize);
  at = SkipNameOrOrdinal(SkipNameOrOrdinal(SkipNameOrOrdinal(at)));  // menu, class, title
  if ((head.style & DS_SETFONT) != 0) at = SkipNameOrOrdinal(at + 1);  // size, face
  for (WORD i = 0; i < head.cdit; ++i) {
    const auto offset = reinterpret_cast<const BYTE*>(at) - base;
    const BYTE* item = base + ((offset + 3) & ~3);  // items are DWORD-aligned
    DLGITEMTEMPLATE fixed{};
    std::memcpy(&fixed, item, sizeof fixed);
    items.push_back({fixed.style, {fixed.x, fixed.y, fixed.cx, fixed.cy}, fixed.id});
    at = SkipNameOrOrdinal(SkipNameOrOrdinal(reinterpret_cast<const WORD*>(item + kItemHeaderSize)));
    at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);  // creation data
  }
  return items;
}

TEST(MainWindow, TemplateStylesAreExact) {
  DWORD dialogStyle = 0;
  const std::vector<TemplateItem> items = ReadTemplate(win32::kMainTemplate, dialogStyle);
  EXPECT_EQ(dialogStyle, DWORD{WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT});
  ASSERT_EQ(items.size(), std::size(kMainControls));
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ExpectedControl& want = kMainControls[i];
    SCOPED_TRACE(want.text);
    EXPECT_EQ(items[i].style, static_cast<DWORD>(want.style | WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(items[i].id, want.id);
    EXPECT_EQ(items[i].place.left, want.dialogUnits.left);
    EXPECT_EQ(items[i].place.top, want.dialogUnits.top);
    EXPECT_EQ(items[i].place.right, want.dialogUnits.right);
    EXPECT_EQ(items[i].place.bottom, want.dialogUnits.bottom);
  }
}

TEST(AboutBox, TemplateIsAsDesigned) {
  DWORD dialogStyle = 0;
  const std::vector<TemplateItem> items = ReadTemplate(win32::kAboutTemplate, dialogStyle);
  EXPECT_EQ(dialogStyle, DWORD{WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
  const std::pair<DWORD, RECT> want[] = {
      {BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, {42, 57, 66, 14}},
      {SS_LEFT | WS_GROUP, {53, 4, 50, 8}},
      {SS_LEFT | WS_GROUP, {52, 16, 48, 8}},
      {SS_CENTER | WS_GROUP, {39, 31, 106, 23}},
      {SS_ICON, {8, 9, 20, 20}},
  };
  ASSERT_EQ(items.size(), std::size(want));
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i].style, want[i].first | WS_CHILD | WS_VISIBLE) << i;
    EXPECT_EQ(items[i].id, i == 0 ? IDOK : IDC_UNADDRESSED) << i;
    EXPECT_EQ(items[i].place.left, want[i].second.left) << i;
    EXPECT_EQ(items[i].place.top, want[i].second.top) << i;
    EXPECT_EQ(items[i].place.right, want[i].second.right) << i;
    EXPECT_EQ(items[i].place.bottom, want[i].second.bottom) << i;
  }
}

TEST(MainWindow, MenuHasTwoDirectCommands) {
  wintest::MainWindow main;
  const HMENU menu = GetMenu(main.Get());
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 2);
  const std::pair<UINT, const char*> items[] = {{IDC_EXIT, "EXIT"}, {IDM_ABOUT, "ABOUT"}};
  for (int position = 0; position < 2; ++position) {
    EXPECT_EQ(GetMenuItemID(menu, position), items[position].first);
    EXPECT_EQ(GetSubMenu(menu, position), nullptr);
    std::array<char, 64> text{};
    GetMenuStringA(menu, static_cast<UINT>(position), text.data(), 64, MF_BYPOSITION);
    EXPECT_STREQ(text.data(), items[position].second);
  }
}

// The flag that marks a table's last entry, which CopyAcceleratorTable may pass on.
constexpr BYTE kLastAcceleratorEntry = 0x80;

TEST(Resources, AcceleratorIsCtrlAForAbout) {
  const HACCEL table = LoadAcceleratorsA(win32::gInstance, win32::kAcceleratorName);
  ASSERT_NE(table, nullptr);
  std::array<ACCEL, 4> entries{};
  ASSERT_EQ(CopyAcceleratorTableA(table, entries.data(), 4), 1);
  EXPECT_EQ(entries[0].fVirt & ~kLastAcceleratorEntry, FVIRTKEY | FCONTROL | FNOINVERT);
  EXPECT_EQ(entries[0].key, 'A');
  EXPECT_EQ(entries[0].cmd, IDM_ABOUT);
}

TEST(Resources, StringTableHoldsEveryTextExactly) {
  const std::pair<unsigned, const char*> table[] = {
#define VORN_STRING(id, text) {id, text},
#include "messages.def"
#undef VORN_STRING
  };
  for (const auto& [id, text] : table) {
    std::array<char, 256> buffer{};
    LoadStringA(GetModuleHandleA(nullptr), id, buffer.data(), 256);
    EXPECT_STREQ(buffer.data(), text) << id;
  }
  std::array<char, 256> buffer{'x'};
  EXPECT_EQ(LoadStringA(GetModuleHandleA(nullptr), 2045, buffer.data(), 256), 0);
  EXPECT_STREQ(buffer.data(), "");
  // Line breaks are single newline characters.
  LoadStringA(GetModuleHandleA(nullptr), MSG_FMT_TOTAL_CAPACITY, buffer.data(), 256);
  EXPECT_STREQ(buffer.data(), "Total capacity : %d MB\n");
}

// GRPICONDIR: a 6-byte header, then one 14-byte GRPICONDIRENTRY per image.
constexpr std::size_t kIconCountOffset = 4;
constexpr std::size_t kIconHeaderSize = 6;
constexpr std::size_t kIconEntrySize = 14;
constexpr std::size_t kEntryWidth = 0;
constexpr std::size_t kEntryHeight = 1;
constexpr std::size_t kEntryColourCount = 2;
constexpr std::size_t kEntryBitCount = 6;

TEST(Resources, IconHasTwoSixteenColourImages) {
  const HRSRC group = FindResourceA(nullptr, win32::kIconName, kIconGroupResource);
  ASSERT_NE(group, nullptr);
  const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, group)));
  ASSERT_NE(bytes, nullptr);
  ASSERT_EQ(bytes[kIconCountOffset], 2);
  const int sizes[] = {32, 16};
  for (int i = 0; i < 2; ++i) {
    const BYTE* entry = bytes + kIconHeaderSize + kIconEntrySize * static_cast<std::size_t>(i);
    EXPECT_EQ(entry[kEntryWidth], sizes[i]);
    EXPECT_EQ(entry[kEntryHeight], sizes[i]);
    EXPECT_EQ(entry[kEntryColourCount], 16);
    EXPECT_EQ(entry[kEntryBitCount], 4);
  }
}

// The manifest the loader reads (RT_MANIFEST, id 1): visual styles and the
// administrator rights that opening disks for writing needs.
const LPCSTR kManifestResource = MAKEINTRESOURCEA(24);  // RT_MANIFEST
const LPCSTR kProcessManifestId = MAKEINTRESOURCEA(1);  // CREATEPROCESS_MANIFEST_RESOURCE_ID

TEST(Resources, ManifestAsksForCommonControlsSixAndAdministrator) {
  const HRSRC resource = FindResourceA(nullptr, kProcessManifestId, kManifestResource);
  ASSERT_NE(resource, nullptr);
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
  ASSERT_NE(bytes, nullptr);
  const std::string manifest(bytes, SizeofResource(nullptr, resource));
  const std::size_t controls = manifest.find("name=\"Microsoft.Windows.Common-Controls\"");
  ASSERT_NE(controls, std::string::npos);
  EXPECT_EQ(manifest.find("version=\"6.0.0.0\"", controls), manifest.find("version=", controls));
  EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
}

// The About box ends with 1 however it is closed.
TEST(AboutBox, EndsWithOneOnOkEnterEscAndClose) {
  const std::pair<const char*, std::function<void(HWND)>> ways[] = {
      {"OK button", [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); }},
      {"Enter", [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_RETURN, 0); }},
      {"Esc", [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0); }},
      {"close box", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    std::string title;
    std::vector<std::string> texts;
    LRESULT icon = 0;
    wintest::WhenWindowAppears("About VORN Installer", [&, close = close](HWND dialog) {
      title = wintest::WindowText(dialog);
      for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        texts.push_back(wintest::WindowText(child));
        if ((GetWindowLongA(child, GWL_STYLE) & kKindMask) == SS_ICON) {
          icon = SendMessageA(child, STM_GETICON, 0, 0);
        }
      }
      // Other commands leave it open.
      SendMessageA(dialog, WM_COMMAND, 3, 0);
      EXPECT_TRUE(IsWindow(dialog));
      close(dialog);
    });
    EXPECT_EQ(host::RunDialog("ABOUT"), 1);
    EXPECT_EQ(title, "About VORN Installer");
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[0], "OK");
    EXPECT_EQ(texts[1], "VORN Installer");
    EXPECT_EQ(texts[2], "Version 0.21b");
    // The author and year line: two lines, one break.
    const std::size_t lineBreak = texts[3].find('\n');
    ASSERT_NE(lineBreak, std::string::npos);
    EXPECT_GT(lineBreak, 0u);
    EXPECT_LT(lineBreak + 1, texts[3].size());
    EXPECT_EQ(texts[3].find('\n', lineBreak + 1), std::string::npos);
    // The icon static found the program's icon by name.
    EXPECT_NE(icon, 0);
  }
}

TEST(AboutBox, HelpHasNoTemplateAndShowsNothing) {
  EXPECT_EQ(host::RunDialog("HELP"), -1);
}

}  // namespace
