#include "install/new_install.h"

#include <cstdint>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/boot_marks.h"
#include "disk/card_guards.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "install/file_set.h"
#include "install/format.h"
#include "install/install_setting.h"
#include "install/sequence.h"
#include "res/ids.h"

namespace install {
namespace {

// Cards from this size (in MB) get two partitions unless the user says otherwise.
constexpr std::int32_t kTwoPartitionsFromMb = 4000;

bool Confirmed(unsigned textId) {
  return common::CatalogueMessageBox(MSG_CAPTION_CONFIRM, textId, common::ButtonSet::Question) ==
         host::kIdYes;
}

bool AskQuick() { return Confirmed(MSG_QUICK_FORMAT); }

// Formats the card root after making sure it is still the chosen card; a
// failed format is reported and ends the sequence.
bool Format(bool quick, FileSystem fileSystem) {
  if (!disk::ConfirmSameCard()) return false;
  if (RunFormat(common::gCardState.driveRoot, quick, fileSystem) == 0) return true;
  common::ShowErrorMessage(MSG_CANNOT_FORMAT);
  return false;
}

// The boot partition: formatted FAT, the boot mark right after, its file.
bool MarkAfterFatFormat(bool quick) {
  return Format(quick, FileSystem::Fat) && disk::ConfirmSameCard() && disk::WriteInstallBootMark();
}

bool CopyFolders() {
  if (!CopyAddOnFolder() || !CopyImageFolder()) return false;
  InstallConfig();
  return true;
}

void Finish(unsigned captionId, unsigned textId) {
  common::CatalogueMessageBox(captionId, textId, common::ButtonSet::Notice);
  disk::EjectCard();
}

void OnePartitionSequence() {
  if (common::gCardState.partitionCount == 1) {
    if (!Confirmed(MSG_NEED_FORMAT)) return;
  } else {
    if (!Confirmed(MSG_RECREATE_ONE_PARTITION) || disk::WriteSinglePartitionTable() != 0 ||
        !disk::AskToRemoveAndReinsert()) {
      return;
    }
  }
  if (!MarkAfterFatFormat(AskQuick()) || !ReadyToCopy() || !CopyBootFile() || !CopyFolders()) return;
  Finish(MSG_CAPTION_FINISH, MSG_INSTALL_FINISHED);
}

// False when the sequence ended early.
bool TwoPartitionSteps(disk::PartitionOrder& order) {
  if (!Confirmed(MSG_RECREATE_TWO_PARTITIONS) || disk::WriteDualPartitionTable() != 0 ||
      !disk::AskToRemoveAndReinsert()) {
    return false;
  }
  // The small partition shows now: never formatted quickly, it carries the
  // boot mark and the boot file.
  if (!MarkAfterFatFormat(false) || !ReadyToCopy() || !CopyBootFile()) return false;
  // The large partition next: the folders and the configuration.
  if (!disk::SwapWithPrompts(order, true) || !Format(AskQuick(), FileSystem::Fat32) || !ReadyToCopy() ||
      !CopyFolders()) {
    return false;
  }
  if (!disk::SwapBackQuietly(order)) return false;
  host::BringMainWindowToFront();
  Finish(MSG_CAPTION_CONFIRM, MSG_INSTALL_FINISHED_CONFIRM);
  return true;
}

void TwoPartitionSequence() {
  disk::PartitionOrder order;
  if (!TwoPartitionSteps(order)) EndEarly(order);
}

}  // namespace

void NewInstall() {
  if (!ReadyForSequence()) return;
  gInstallOptions.cardSizeChoice =
      common::gCardState.totalSizeMb >= kTwoPartitionsFromMb ? kTwoPartitions : kOnePartition;
  if (RunInstallSetting(kInstallSettingTemplate) == 0) return;
  if (gInstallOptions.cardSizeChoice == kOnePartition) {
    OnePartitionSequence();
  } else {
    TwoPartitionSequence();
  }
}

}  // namespace install
