#include "install/version_up.h"

#include <cstdint>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/paths.h"
#include "disk/device.h"
#include "host/host.h"
#include "install/file_set.h"
#include "install/install_setting.h"
#include "install/sequence.h"
#include "res/ids.h"

namespace install {
namespace {

// A first partition up to this size (MB) is taken to be the small boot one.
constexpr std::int32_t kSmallPartitionUpToMb = 10;

// An installed card has the boot file in the root that the card root shows.
bool OldVersionPresent() {
  if (common::IsFile(common::gCardState.driveRoot + kBootFile)) return true;
  common::ShowErrorMessage(MSG_NO_OLD_VERSION);
  return false;
}

// The card's configuration is moved aside before the add-on's folder can
// bring one of its own; the new one is installed last.
bool UpdateFolders() {
  BackUpConfig();
  if (!CopyAddOnFolder() || !CopyImageFolder()) return false;
  InstallConfig();
  return true;
}

void Finish() {
  common::CatalogueMessageBox(MSG_CAPTION_FINISH, MSG_VERSION_UP_FINISHED, common::ButtonSet::Notice);
}

void OnePartitionSequence() {
  if (!OldVersionPresent() || !ReadyToCopy() || !CopyBootFile() || !UpdateFolders()) return;
  Finish();  // the card stays in the reader
}

// False when the sequence ended early.
bool TwoPartitionSteps(disk::PartitionOrder& order) {
  // A large first partition is put behind the boot partition first.
  if (common::gCardState.firstPartitionSizeMb > kSmallPartitionUpToMb &&
      !disk::SwapWithPrompts(order, false)) {
    return false;
  }
  if (!OldVersionPresent() || !ReadyToCopy() || !CopyBootFile()) return false;
  if (!disk::SwapWithPrompts(order, true) || !ReadyToCopy() || !UpdateFolders()) return false;
  if (!disk::SwapBackQuietly(order)) return false;
  Finish();
  disk::EjectCard();
  return true;
}

}  // namespace

void VersionUp() {
  if (!ReadyForSequence() || RunInstallSetting(kVersionUpSettingTemplate) == 0) return;
  switch (common::gCardState.partitionCount) {
    case 1:
      OnePartitionSequence();
      break;
    case 2: {
      disk::PartitionOrder order;
      if (!TwoPartitionSteps(order)) EndEarly(order);
      break;
    }
    default:
      break;  // not a card that New Install made
  }
}

}  // namespace install
