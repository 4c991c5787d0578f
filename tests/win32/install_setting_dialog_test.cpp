// The "Install Setting" dialogs built from the real templates and driven by
// messages, as New Install and Version Up show them.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "ids.h"
#include "install/install_setting.h"
#include "window_support.h"

namespace {

using install::InstallOptions;
using wintest::ExpectedControl;

constexpr char kTitle[] = "Install Setting";
constexpr DWORD kDialogStyle = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT;
constexpr LONG kRadio = BS_AUTORADIOBUTTON;

const ExpectedControl kInstallSetting[] = {
    {IDOK, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, {23, 104, 50, 14}, "OK"},
    {IDCANCEL, "Button", BS_PUSHBUTTON | WS_TABSTOP, {83, 104, 50, 14}, "CANCEL"},
    {IDC_CAMERA_LEFT, "Button", kRadio | WS_GROUP, {21, 20, 42, 11}, "Left"},
    {IDC_CAMERA_RIGHT, "Button", kRadio, {21, 35, 40, 11}, "Right"},
    {IDC_ONE_PARTITION, "Button", kRadio | WS_GROUP, {20, 64, 105, 11}, "4GB or less (One partition)"},
    {IDC_TWO_PARTITIONS, "Button", kRadio, {20, 79, 99, 11}, "Over 8GB (Two partitions)"},
    {IDC_UNADDRESSED, "Button", BS_GROUPBOX, {14, 9, 130, 39}, "Camera Position "},
    {IDC_UNADDRESSED, "Button", BS_GROUPBOX, {14, 55, 130, 39}, "Card Size"},
};

const ExpectedControl kVersionUpSetting[] = {
    {IDOK, "Button", BS_DEFPUSHBUTTON | WS_TABSTOP, {23, 57, 50, 14}, "OK"},
    {IDCANCEL, "Button", BS_PUSHBUTTON | WS_TABSTOP, {83, 57, 50, 14}, "CANCEL"},
    {IDC_CAMERA_LEFT, "Button", kRadio | WS_GROUP, {21, 20, 42, 11}, "Left"},
    {IDC_CAMERA_RIGHT, "Button", kRadio, {21, 35, 40, 11}, "Right"},
    {IDC_UNADDRESSED, "Button", BS_GROUPBOX, {14, 9, 130, 39}, "Camera Position "},
};

struct DialogShape {
  const char* name;
  wintest::ExpectedFrame frame;
  const ExpectedControl* controls;
  std::size_t count;
  bool asksCardSize;
};

const DialogShape kInstall{install::kInstallSettingTemplate,
                           {kDialogStyle, kTitle, 10, "MS Sans Serif", {20, 20, 159, 127}},
                           kInstallSetting, std::size(kInstallSetting), true};
const DialogShape kVersionUp{install::kVersionUpSettingTemplate,
                             {kDialogStyle, kTitle, 10, "MS Sans Serif", {20, 20, 159, 79}},
                             kVersionUpSetting, std::size(kVersionUpSetting), false};

TEST(InstallSettingDialogs, TemplatesAreAsDesigned) {
  for (const DialogShape* shape : {&kInstall, &kVersionUp}) {
    SCOPED_TRACE(shape->name);
    wintest::ExpectTemplate(shape->name, shape->frame, shape->controls, shape->count);
  }
}

// How the user ends the dialog.
struct Close {
  const char* name;
  std::function<void(HWND)> action;
};
const Close kOk{"OK", [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0); }};
const Close kCancel{"CANCEL",
                    [](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }};
// Through the dialog's own message loop, which turns Esc into IDCANCEL.
const Close kEsc{"Esc", [](HWND dialog) {
                   PostMessageA(GetDlgItem(dialog, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
                 }};
const Close kCloseBox{"close box",
                      [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }};

// The checked button of a radio group; 0 when none is.
int CheckedOf(HWND dialog, int first, int last) {
  for (int id = first; id <= last; ++id) {
    if (IsDlgButtonChecked(dialog, id) == BST_CHECKED) return id;
  }
  return 0;
}

// The controls Tab visits from OK on, until it comes back to OK.
std::vector<int> TabOrder(HWND dialog) {
  std::vector<int> ids;
  const HWND ok = GetDlgItem(dialog, IDOK);
  HWND at = ok;
  do {
    ids.push_back(GetDlgCtrlID(at));
    at = GetNextDlgTabItem(dialog, at, FALSE);
  } while (at != nullptr && at != ok && ids.size() <= std::size(kInstallSetting));
  return ids;
}

// What the dialog showed when it came up.
struct Shown {
  int camera = 0;
  int cardSize = 0;
  std::vector<int> tabOrder;
};

Shown Observe(HWND dialog, const DialogShape& shape) {
  Shown shown;
  wintest::ExpectShownFrame(dialog, shape.frame);
  shown.camera = CheckedOf(dialog, IDC_CAMERA_LEFT, IDC_CAMERA_RIGHT);
  shown.cardSize = CheckedOf(dialog, IDC_ONE_PARTITION, IDC_TWO_PARTITIONS);
  shown.tabOrder = TabOrder(dialog);
  wintest::ExpectControls(dialog, shape.controls, shape.count);
  return shown;
}

// One showing of a dialog. Runs follow each other: what OK stores is what
// the next dialog preselects.
struct Showing {
  const DialogShape* shape;
  std::vector<int> clicks;  // radio buttons the user clicks
  const Close* close;
  int result;
  InstallOptions after;
};

TEST(InstallSettingDialogs, PreselectAndKeepTheAnswersOnlyOnOk) {
  const InstallOptions start{install::kCameraLeft, install::kOnePartition};
  const Showing runs[] = {
      {&kInstall, {IDC_CAMERA_RIGHT, IDC_TWO_PARTITIONS}, &kOk, 1,
       {install::kCameraRight, install::kTwoPartitions}},
      // The camera position carries over from New Install to Version Up.
      {&kVersionUp, {IDC_CAMERA_LEFT}, &kCancel, 0, {install::kCameraRight, install::kTwoPartitions}},
      {&kInstall, {IDC_CAMERA_LEFT, IDC_ONE_PARTITION}, &kEsc, 0,
       {install::kCameraRight, install::kTwoPartitions}},
      {&kVersionUp, {IDC_CAMERA_LEFT}, &kCloseBox, 0,
       {install::kCameraRight, install::kTwoPartitions}},
      // Without card size buttons the choice reads as one partition.
      {&kVersionUp, {IDC_CAMERA_LEFT}, &kOk, 1, {install::kCameraLeft, install::kOnePartition}},
  };
  install::gInstallOptions = start;
  for (const Showing& run : runs) {
    const DialogShape& shape = *run.shape;
    SCOPED_TRACE(std::string(shape.name) + ", " + run.close->name);
    const InstallOptions before = install::gInstallOptions;
    Shown shown;
    wintest::WhenWindowAppears(kTitle, [&](HWND dialog) {
      shown = Observe(dialog, shape);
      for (int id : run.clicks) SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
      run.close->action(dialog);
    });
    EXPECT_EQ(install::RunInstallSetting(shape.name), run.result);

    const int camera = IDC_CAMERA_LEFT + before.cameraPosition;
    const int cardSize = shape.asksCardSize ? IDC_ONE_PARTITION + before.cardSizeChoice : 0;
    EXPECT_EQ(shown.camera, camera);
    EXPECT_EQ(shown.cardSize, cardSize);
    // Tab goes from the buttons into each group at its checked button.
    std::vector<int> tabOrder = {IDOK, IDCANCEL, camera};
    if (cardSize != 0) tabOrder.push_back(cardSize);
    EXPECT_EQ(shown.tabOrder, tabOrder);

    EXPECT_EQ(install::gInstallOptions.cameraPosition, run.after.cameraPosition);
    EXPECT_EQ(install::gInstallOptions.cardSizeChoice, run.after.cardSizeChoice);
  }
}

}  // namespace
