#include "install/version_up.h"

#include <cstdint>
#include <string>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/paths.h"
#include "disk/card_disk.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "install/file_set.h"
#include "install/install_setting.h"
#include "install/sequence.h"
#include "install/verify.h"
#include "res/ids.h"

namespace install {
namespace {

// A first partition up to this size is taken to be the small boot one.
constexpr std::uint64_t kSmallPartitionUpToSectors = 10 * 2048;

// An installed card has the boot file in the root of its boot partition.
bool OldVersionPresent(const std::string& root) {
  if (common::IsFile(root + kBootFile)) return true;
  common::ShowErrorMessage(MSG_NO_OLD_VERSION);
  return false;
}

// The card's configuration is moved aside before the add-on's folder can
// bring one of its own; the new one is installed last.
bool UpdateFolders(const std::string& root) {
  if (!ReadyToCopy(root)) return false;
  BackUpConfig(root);
  if (!CopyAddOnFolder(root) || !CopyImageFolder(root)) return false;
  InstallConfig(root);
  return true;
}

void Finish(const CardProof& proof) { FinishSequence(MSG_CAPTION_FINISH, MSG_VERSION_UP_FINISHED, proof); }

void OnePartitionSequence() {
  disk::TableEntry only;
  std::string root;
  if (!disk::FirstTableEntry(only) || !disk::FindPartitionRoot(only, root) ||
      !OldVersionPresent(root) || !ReadyToCopy(root) || !CopyBootFile(root) || !ProveBootFile(root) ||
      !UpdateFolders(root)) {
    return;
  }
  Finish({{only}, std::nullopt, std::nullopt, root});  // the card stays in the reader
}

// A card that is no VORN card after all goes back to the order it came in.
void RestoreOrder() {
  if (disk::SameCard() && disk::SwapPartitionEntries(true) == 0) disk::EjectCard();
}

// False when the sequence ended early.
bool TwoPartitionSteps(disk::PartitionOrder& order) {
  disk::Table table{};
  if (!disk::ReadCardTable(table)) return false;
  const bool smallFirst = table[0].sectors <= kSmallPartitionUpToSectors;
  const disk::TableEntry& small = smallFirst ? table[0] : table[1];
  const disk::TableEntry& large = smallFirst ? table[1] : table[0];
  // The boot partition; where only the first entry shows, a large first one
  // is put behind it.
  std::string smallRoot;
  bool swapped = false;
  if (smallFirst) {
    if (!disk::FindPartitionRoot(small, smallRoot)) return false;
  } else {
    swapped = disk::RootOfPartition(small).empty();
    if (!disk::ReachPartition(order, small, false, smallRoot)) return false;
  }
  if (!OldVersionPresent(smallRoot)) {
    if (swapped) RestoreOrder();
    return false;
  }
  std::string largeRoot;
  if (!ReadyToCopy(smallRoot) || !CopyBootFile(smallRoot) || !ProveBootFile(smallRoot) ||
      !disk::ReachPartition(order, large, true, largeRoot) || !UpdateFolders(largeRoot)) {
    return false;
  }
  // The camera starts from the first entry: the boot partition goes first.
  if (disk::LargePartitionFirst() && !disk::SwapBackQuietly(order)) return false;
  Finish({{small, large}, std::nullopt, std::nullopt, largeRoot});
  disk::EjectCard();
  return true;
}

}  // namespace

void VersionUp() {
  if (!ReadyForSequence() || RunInstallSetting(kVersionUpSettingTemplate) == 0 ||
      !ReadyAfterSetting()) {
    return;
  }
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
