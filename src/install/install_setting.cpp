#include "install/install_setting.h"

#include "res/ids.h"

namespace install {

InstallOptions gInstallOptions;

namespace {

constexpr std::uintptr_t kCommandIdMask = 0xFFFF;

bool Checked(host::DialogWindow dialog, int id) {
  return host::IsDlgButtonChecked(dialog, id) == host::kBstChecked;
}

}  // namespace

std::intptr_t InstallSettingProc(host::DialogWindow dialog, unsigned message,
                                 std::uintptr_t wParam, std::intptr_t) {
  if (message == host::kWmInitDialog) {
    // INSTSET2 has no card size buttons: that call finds nothing to check.
    host::CheckRadioButton(dialog, IDC_CAMERA_LEFT, IDC_CAMERA_RIGHT,
                           IDC_CAMERA_LEFT + gInstallOptions.cameraPosition);
    host::CheckRadioButton(dialog, IDC_ONE_PARTITION, IDC_TWO_PARTITIONS,
                           IDC_ONE_PARTITION + gInstallOptions.cardSizeChoice);
    return 1;  // the system sets the default focus
  }
  if (message != host::kWmCommand) return 0;
  switch (static_cast<int>(wParam & kCommandIdMask)) {
    case host::kIdDialogOk:
      gInstallOptions.cameraPosition = Checked(dialog, IDC_CAMERA_RIGHT) ? kCameraRight : kCameraLeft;
      gInstallOptions.cardSizeChoice =
          Checked(dialog, IDC_TWO_PARTITIONS) ? kTwoPartitions : kOnePartition;
      host::EndDialog(dialog, 1);
      return 1;
    case host::kIdDialogCancel:  // also Esc and the close box
      host::EndDialog(dialog, 0);
      return 1;
    default:
      return 0;
  }
}

int RunInstallSetting(const char* templateName) {
  // -1, a dialog that could not be shown, is no answer at all.
  return host::RunDialog(templateName, InstallSettingProc) == 1 ? 1 : 0;
}

}  // namespace install
