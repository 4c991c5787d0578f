#include "disk/card_guards.h"

#include <cctype>
#include <cstdint>
#include <string>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/module_directory.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "disk/system_disk.h"
#include "res/ids.h"

namespace disk {
namespace {

using common::gCardState;

bool SameCard() {
  UniqueHandle volume = OpenVolume(Access::Read);
  host::StorageDeviceNumber device;
  if (!volume.Valid() || !GetDeviceNumber(volume.Get(), device)) return false;
  volume.Close();
  if (common::PhysicalDrivePath(device.deviceNumber) != gCardState.physicalDrivePath ||
      JudgeDevice(device) != DeviceVerdict::Card) {
    return false;
  }
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  DiskSize size;
  return drive.Valid() && ReadDiskSize(drive.Get(), size) && size.sectors == gCardState.totalSectors;
}

// The first sector of the first entry in use of the card's table now.
bool FirstEntryStart(std::uint64_t& firstSector) {
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  Sector mbr{};
  if (!drive.Valid() || !ReadSector0(drive.Get(), mbr)) return false;
  for (std::size_t entry = kPartitionEntry1; entry < kSignatureOffset; entry += kPartitionEntrySize) {
    if (mbr[entry + kEntryType] == 0) continue;
    firstSector = ReadLe32(mbr, entry + kEntryFirstSector);
    return true;
  }
  return false;
}

// Windows maps a removable card's table when the card is inserted: the new
// first partition shows only once the card has been out.
bool VolumeShowsFirstEntry() {
  std::uint64_t firstSector = 0;
  if (!FirstEntryStart(firstSector)) return false;
  UniqueHandle volume = OpenVolume(Access::Read);
  host::PartitionInfo info;
  return volume.Valid() && host::QueryPartitionInfo(volume.Get(), info) &&
         info.startingOffset >= 0 &&
         static_cast<std::uint64_t>(info.startingOffset) == firstSector * kSectorSize;
}

void PromptRemoveAndReinsert() {
  FlushCardVolume();
  common::CatalogueMessageBox(MSG_CAPTION_REMOVE, MSG_REMOVE_CARD, common::ButtonSet::Notice);
  common::CatalogueMessageBox(MSG_CAPTION_REINSERT, MSG_REINSERT_CARD, common::ButtonSet::Notice);
}

char UpperLetter(char letter) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

}  // namespace

bool StillSameCard() { return SameCard(); }

bool ConfirmSameCard() {
  if (SameCard()) return true;
  common::ShowErrorMessage(MSG_CARD_CHANGED);
  return false;
}

bool AskToRemoveAndReinsert() {
  PromptRemoveAndReinsert();
  if (VolumeShowsFirstEntry()) return true;
  PromptRemoveAndReinsert();
  if (VolumeShowsFirstEntry()) return true;
  common::ShowErrorMessage(MSG_CARD_CHANGED);
  return false;
}

bool RefuseProgramOnCard() {
  const std::string& folder = common::gModuleDirectory;
  const std::string& root = gCardState.driveRoot;
  // "E:\..." against the card root "E:\"; a UNC folder is never on the card.
  const bool onCard = folder.size() >= 2 && folder[1] == ':' && !root.empty() &&
                      UpperLetter(folder[0]) == UpperLetter(root[0]);
  if (onCard) common::ShowErrorMessage(MSG_PROGRAM_ON_CARD);
  return onCard;
}

}  // namespace disk
