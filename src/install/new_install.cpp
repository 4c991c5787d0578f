#include "install/new_install.h"

#include <cstdint>
#include <string>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/boot_marks.h"
#include "disk/card_at_stake.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "disk/card_size.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "install/file_set.h"
#include "install/format.h"
#include "install/install_setting.h"
#include "install/sequence.h"
#include "install/verify.h"
#include "res/ids.h"

namespace install {
namespace {

// Cards from this size (in MB) get two partitions unless the user says otherwise.
constexpr std::int32_t kTwoPartitionsFromMb = 4000;

using common::gCardState;

bool Confirmed(unsigned textId) {
  return common::CatalogueMessageBox(MSG_CAPTION_CONFIRM, textId, common::ButtonSet::Question) ==
         host::kIdYes;
}

bool AskQuick() { return Confirmed(MSG_QUICK_FORMAT); }

// The sectors of the card that a layout leaves to its last partition; none
// on a card too small for it.
std::uint64_t PartitionAfter(std::uint64_t sectorsBefore) {
  const std::uint64_t total = gCardState.totalSectors;
  return total > sectorsBefore ? total - sectorsBefore : 0;
}

// Nothing is asked for that the card cannot get: the layout's partition
// must be one the file system can hold.
bool Holds(FileSystem fileSystem, std::uint64_t sectors) {
  if (FileSystemHolds(fileSystem, sectors)) return true;
  common::ShowErrorMessage(MSG_CARD_SIZE_NOT_SUPPORTED);
  return false;
}

// Formats the volume of the root after making sure it is still on the
// chosen card; a failed format is reported and ends the sequence.
bool Format(const std::string& root, bool quick, FileSystem fileSystem) {
  return disk::ConfirmSameCard(root) && FormatChosenVolume(root, quick, fileSystem);
}

// The boot partition: formatted FAT, the boot mark right after, its file.
bool MakeBootPartition(const std::string& root, bool quick) {
  return Format(root, quick, FileSystem::Fat) && disk::ConfirmSameCard(root) &&
         disk::WriteInstallBootMark(root) && ReadyToCopy(root) && CopyBootFile(root) && ProveBootFile(root);
}

// What the table must hold when the layout was written.
disk::TableEntry LayoutEntry(disk::Layout layout, std::size_t index) {
  return disk::TableOf(disk::BuildLayout(layout, gCardState.totalSectors))[index];
}

bool CopyFolders(const std::string& root) {
  if (!ReadyToCopy(root) || !CopyAddOnFolder(root) || !CopyImageFolder(root)) return false;
  InstallConfig(root);
  return true;
}

void Finish(unsigned captionId, unsigned textId, const CardProof& proof) {
  FinishSequence(captionId, textId, proof);
  disk::EjectCard();
}

// The single partition: the card's own one when it has exactly one, else a
// new table's. The card's real size is proven once the user has agreed to
// erase it. False when the sequence ends.
bool OnePartition(disk::TableEntry& partition) {
  if (gCardState.partitionCount == 1 && disk::FirstTableEntry(partition)) {
    return Holds(FileSystem::Fat, partition.sectors) && Confirmed(MSG_NEED_FORMAT) && disk::ProveCardSize();
  }
  if (!Holds(FileSystem::Fat, PartitionAfter(disk::kSingleFirstSector)) ||
      !Confirmed(MSG_RECREATE_ONE_PARTITION) || !disk::ProveCardSize() ||
      disk::WriteSinglePartitionTable() != 0 || !disk::AskToRemoveAndReinsert()) {
    return false;
  }
  partition = LayoutEntry(disk::Layout::Single, 0);
  return true;
}

void OnePartitionSequence() {
  disk::TableEntry partition;
  std::string root;
  if (!OnePartition(partition) || !disk::FindPartitionRoot(partition, root)) return;
  if (!MakeBootPartition(root, AskQuick()) || !CopyFolders(root)) return;
  Finish(MSG_CAPTION_FINISH, MSG_INSTALL_FINISHED, {{partition}, partition, std::nullopt, root});
}

// False when the sequence ended early.
bool TwoPartitionSteps(disk::PartitionOrder& order) {
  if (!Holds(FileSystem::Fat32, PartitionAfter(disk::kDualSecondReserved)) ||
      !Confirmed(MSG_RECREATE_TWO_PARTITIONS) || !disk::ProveCardSize() ||
      disk::WriteDualPartitionTable() != 0 || !disk::AskToRemoveAndReinsert()) {
    return false;
  }
  const std::vector<disk::TableEntry> table = {LayoutEntry(disk::Layout::Dual, 0),
                                               LayoutEntry(disk::Layout::Dual, 1)};
  // The small partition: never formatted quickly, it carries the boot mark
  // and the boot file.
  std::string small;
  if (!disk::FindPartitionRoot(table[0], small) || !MakeBootPartition(small, false)) return false;
  // The large partition: the folders and the configuration.
  std::string large;
  if (!disk::ReachPartition(order, table[1], true, large) ||
      !Format(large, AskQuick(), FileSystem::Fat32) || !CopyFolders(large)) {
    return false;
  }
  if (order.largeFirst && !disk::SwapBackQuietly(order)) return false;
  host::BringMainWindowToFront();
  Finish(MSG_CAPTION_CONFIRM, MSG_INSTALL_FINISHED_CONFIRM, {table, table[0], table[1], large});
  return true;
}

void TwoPartitionSequence() {
  disk::PartitionOrder order;
  if (!TwoPartitionSteps(order)) EndEarly(order);
}

}  // namespace

void NewInstall() {
  if (!ReadyForSequence() || disk::RefuseOver2Tb(gCardState.totalSectors) ||
      !disk::ConfirmCardAtStake(disk::Stake::Card)) {
    return;
  }
  gInstallOptions.cardSizeChoice =
      gCardState.totalSizeMb >= kTwoPartitionsFromMb ? kTwoPartitions : kOnePartition;
  if (RunInstallSetting(kInstallSettingTemplate) == 0 || !ReadyAfterSetting()) return;
  if (gInstallOptions.cardSizeChoice == kOnePartition) {
    OnePartitionSequence();
  } else {
    TwoPartitionSequence();
  }
}

}  // namespace install
