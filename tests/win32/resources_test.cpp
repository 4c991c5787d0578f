// The real resources: the main window built from its template, the menu, the
// accelerator, the string table and the About box.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "host/host.h"
#include "ids.h"
#include "win32/main_window.h"
#include "window_support.h"

namespace {

using wintest::ExpectedControl;
using wintest::kKindMask;

// In template order, which is also the order of the child windows.
const ExpectedControl kMainControls[] = {
    {1, "Button", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, {64, 199, 92, 18}, "EXIT"},
    {200, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, {75, 5, 42, 97}, ""},
    {201, "Button", BS_PUSHBUTTON | WS_TABSTOP, {16, 85, 73, 14}, "Make bootable Disk"},
    {202, "Button", BS_PUSHBUTTON | WS_TABSTOP, {173, 85, 37, 14}, "Format"},
    {112, "Static", SS_LEFT | SS_SUNKEN | WS_GROUP, {5, 21, 214, 9}, "Insert SD Card"},
    {65535, "Static", SS_LEFT | WS_GROUP, {5, 6, 70, 7}, "Select SD card drive : "},
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
  const RECT size = wintest::ToPixels(window, {0, 0, 225, 220});  // x, y, width, height
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  wintest::ExpectControls(window, kMainControls, std::size(kMainControls));
}

TEST(MainWindow, TemplateStylesAreExact) {
  const wintest::DialogTemplate main = wintest::ReadTemplate(win32::kMainTemplate);
  EXPECT_EQ(main.style, DWORD{WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT});
  wintest::ExpectTemplateItems(main, kMainControls, std::size(kMainControls));
}

TEST(AboutBox, TemplateIsAsDesigned) {
  const wintest::DialogTemplate about = wintest::ReadTemplate(win32::kAboutTemplate);
  EXPECT_EQ(about.style, DWORD{WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT});
  const std::vector<wintest::TemplateItem>& items = about.items;
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

const LPCSTR kIconGroupResource = MAKEINTRESOURCEA(14);  // RT_GROUP_ICON

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

// The manifest as the loader reads it into the process's activation context:
// system DPI awareness, and Windows 7 to 11 as supported systems (without
// them, Windows 8.1 and later run the program in a compatibility mode).
TEST(Resources, ManifestDeclaresSystemDpiAwarenessAndWindowsSevenToEleven) {
  const struct {
    const wchar_t* schema;
    const wchar_t* name;
    std::wstring value;
  } settings[] = {
      {L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true"},
      {L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"system"},
  };
  for (const auto& setting : settings) {
    std::array<wchar_t, 64> value{};
    SIZE_T length = 0;
    EXPECT_TRUE(QueryActCtxSettingsW(0, nullptr, setting.schema, setting.name, value.data(),
                                     value.size(), &length))
        << GetLastError();
    EXPECT_EQ(std::wstring(value.data()), setting.value);
  }
  // COMPATIBILITY_CONTEXT_ELEMENT as Windows 10 and Wine fill it, with the
  // MaxVersionTested field that MinGW's headers lack.
  struct Element {
    GUID id;
    DWORD type;
    ULONGLONG maxVersionTested;
  };
  struct Compatibility {
    DWORD count;
    std::array<Element, 8> elements;
  } compatibility{};
  SIZE_T size = 0;
  ASSERT_TRUE(QueryActCtxW(0, nullptr, nullptr, CompatibilityInformationInActivationContext,
                           &compatibility, sizeof compatibility, &size))
      << GetLastError();
  std::vector<GUID> systems;
  for (DWORD i = 0; i < std::min<DWORD>(compatibility.count, compatibility.elements.size()); ++i) {
    if (compatibility.elements[i].type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS) {
      systems.push_back(compatibility.elements[i].id);
    }
  }
  const std::pair<const char*, GUID> supported[] = {
      {"Windows 7", {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}}},
      {"Windows 8", {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}}},
      {"Windows 8.1", {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}}},
      {"Windows 10 and 11", {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}}},
  };
  EXPECT_EQ(systems.size(), std::size(supported));
  for (const auto& [name, id] : supported) {
    EXPECT_NE(std::find(systems.begin(), systems.end(), id), systems.end()) << name;
  }
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
