#include "card/scan.h"

#include <cstdint>
#include <string>

#include "common/module_directory.h"
#include "common/card_state.h"
#include "common/paths.h"
#include "disk/device.h"
#include "host/host.h"
#include "res/ids.h"

namespace card {

using common::gCardState;
using common::gDriveSlots;

namespace {

// Letters A:, B: and C: are never probed.
constexpr int kFirstProbedLetter = 3;  // D, counted from A = 0
constexpr int kLetterCount = 26;

// Shown and hidden together when drives come and go.
constexpr int kCardControls[] = {IDC_FOLDER_OPEN,   IDC_COPY_IMAGES, IDC_NEW_INSTALL,
                                 IDC_VERSION_UP,    IDC_MAKE_BOOTABLE, IDC_COPY_VORN,
                                 IDC_FORMAT,        IDC_SWAP_PARTITIONS, IDC_CREATE_PARTITION};
// Need the add-on's boot file beside the program.
constexpr int kInstallControls[] = {IDC_COPY_VORN, IDC_NEW_INSTALL, IDC_VERSION_UP};

int gButtonState = kButtonsShown;

std::string RootOfDriveNumber(int driveNumber) {
  std::string root = "A:\\";
  root[0] = static_cast<char>('A' + driveNumber - 1);
  return root;
}

// A removable drive counts when its volume opens and sector 0 reads.
bool DriveHoldsReadableMedium() {
  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::Read);
  if (!volume.Valid()) return false;
  disk::Sector sector{};
  return disk::ReadSector0(volume.Get(), sector);
}

void ShowCardControls(int showCommand) {
  for (int id : kCardControls) host::ShowControl(id, showCommand);
}

void UpdateCardControls(int drivesFound) {
  if (drivesFound == 0) {
    gCardState.physicalDrivePath.clear();
    gButtonState = kButtonsHidden;
    ShowCardControls(host::kSwHide);
  } else if (gButtonState == kButtonsHidden) {
    gButtonState = kButtonsShown;
    ShowCardControls(host::kSwShow);
  } else {
    gButtonState = kButtonsUntouched;
  }
}

void RefillCombo() {
  host::ComboReset(IDC_DRIVE_COMBO);
  for (std::int32_t driveNumber : gDriveSlots) {
    if (driveNumber == 0) continue;
    gCardState.driveRoot = RootOfDriveNumber(driveNumber);
    host::ComboAddString(IDC_DRIVE_COMBO, gCardState.driveRoot.c_str());
  }
  host::ComboSetCurSel(IDC_DRIVE_COMBO, 0);
}

void HideInstallControlsWithoutBootFile() {
  if (!common::IsFile(common::gModuleDirectory + kBootFileName)) {
    for (int id : kInstallControls) host::ShowControl(id, host::kSwHide);
  }
}

}  // namespace

void TakeSelectedDriveRoot() {
  const int index = host::ComboGetCurSel(IDC_DRIVE_COMBO);
  std::string root;
  if (index == host::kCbErr || !host::ComboGetText(IDC_DRIVE_COMBO, index, root)) root.clear();
  gCardState.driveRoot = root;
}

int ButtonVisibilityState() { return gButtonState; }
void ResetButtonVisibilityState() { gButtonState = kButtonsShown; }

void ScanDrives() {
  bool changed = false;
  int found = 0;
  for (int letter = kFirstProbedLetter; letter < kLetterCount; ++letter) {
    const int driveNumber = letter + 1;
    gCardState.driveRoot = RootOfDriveNumber(driveNumber);
    if (host::GetDriveType(gCardState.driveRoot.c_str()) != host::kDriveRemovable) continue;
    if (!DriveHoldsReadableMedium()) continue;
    if (gDriveSlots[static_cast<std::size_t>(found)] != driveNumber) {
      changed = true;
      gDriveSlots[static_cast<std::size_t>(found)] = driveNumber;
    }
    ++found;
  }
  UpdateCardControls(found);
  if (found < common::kDriveSlotCount && gDriveSlots[static_cast<std::size_t>(found)] != 0) changed = true;
  for (std::size_t slot = static_cast<std::size_t>(found); slot < gDriveSlots.size(); ++slot) {
    gDriveSlots[slot] = 0;
  }
  if (changed) RefillCombo();
  TakeSelectedDriveRoot();
  HideInstallControlsWithoutBootFile();
  if (changed) host::SendCommand(IDC_INSPECT);
}

}  // namespace card
