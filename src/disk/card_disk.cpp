#include "disk/card_disk.h"

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/partition_table.h"
#include "disk/system_disk.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

// What tells one card from another of the same size in the same reader.
struct CardPicture {
  bool taken = false;
  std::uint32_t deviceNumber = 0;
  std::uint64_t sectors = 0;
  // Unreadable sectors stay empty: an unreadable card matches no readable one.
  std::optional<Sector> table;
  // The boot sector of every partition of the table, by its first sector.
  std::vector<std::pair<std::uint32_t, std::optional<Sector>>> bootSectors;

  bool operator==(const CardPicture& other) const {
    return taken == other.taken && deviceNumber == other.deviceNumber && sectors == other.sectors &&
           table == other.table && bootSectors == other.bootSectors;
  }
};

CardPicture gPicture;

std::optional<Sector> ReadOptional(host::Handle drive, std::uint64_t sectorNumber) {
  Sector sector{};
  if (!ReadSectorAt(drive, sectorNumber, sector)) return std::nullopt;
  return sector;
}

}  // namespace

Table TableOf(const Sector& mbr) {
  Table table{};
  if (mbr[kSignatureOffset] != kSignatureByte0 || mbr[kSignatureOffset + 1] != kSignatureByte1) {
    return table;
  }
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::size_t entry = kPartitionEntry1 + i * kPartitionEntrySize;
    table[i] = {mbr[entry + kEntryType], ReadLe32(mbr, entry + kEntryFirstSector),
                ReadLe32(mbr, entry + kEntrySectorCount)};
  }
  return table;
}

namespace {

// The card in the reader now, as a picture.
CardPicture TakePicture(std::uint32_t deviceNumber) {
  CardPicture picture;
  UniqueHandle drive = OpenDevice(common::PhysicalDrivePath(deviceNumber), Access::Read);
  DiskSize size;
  if (!drive.Valid() || !ReadDiskSize(drive.Get(), size)) return picture;
  picture.taken = true;
  picture.deviceNumber = deviceNumber;
  picture.sectors = size.sectors;
  picture.table = ReadOptional(drive.Get(), 0);
  if (!picture.table) return picture;
  for (const TableEntry& entry : TableOf(*picture.table)) {
    // An entry may point past the card's end: there is nothing to read there.
    if (entry.InUse() && entry.firstSector < picture.sectors) {
      picture.bootSectors.emplace_back(entry.firstSector, ReadOptional(drive.Get(), entry.firstSector));
    }
  }
  return picture;
}

// The two pictures differ at most in the boot sector of the partition that
// starts here (a volume over the whole card has its boot sector in the
// table's place).
bool SameButPartition(CardPicture now, CardPicture before, std::uint64_t startSector) {
  for (CardPicture* picture : {&now, &before}) {
    if (startSector == 0) picture->table.reset();
    for (auto& [start, sector] : picture->bootSectors) {
      if (start == startSector) sector.reset();
    }
  }
  return now == before;
}

bool OnCardDisk(const host::StorageDeviceNumber& device) {
  return gPicture.taken && device.deviceType == host::kFileDeviceDisk &&
         device.deviceNumber == gPicture.deviceNumber;
}

}  // namespace

std::string DriveRoot(char letter) { return std::string(1, letter) + ":\\"; }

std::vector<CardVolume> CardVolumes() {
  std::vector<CardVolume> volumes;
  if (!gPicture.taken) return volumes;
  for (char letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
    const unsigned type = host::GetDriveType(DriveRoot(letter).c_str());
    if (type != host::kDriveRemovable && type != host::kDriveFixed) continue;
    // Queries only: they need no rights to the volume's data.
    UniqueHandle volume = OpenDevice(VolumePath(letter), Access::Query);
    host::StorageDeviceNumber device;
    if (!volume.Valid() || !GetDeviceNumber(volume.Get(), device) || !OnCardDisk(device)) continue;
    CardVolume found;
    found.letter = letter;
    VolumeExtent extent;
    if (GetVolumeExtent(volume.Get(), extent)) {
      found.placed = true;
      found.startSector = extent.startSector;
      found.sectors = extent.sectors;
    }
    volumes.push_back(found);
  }
  return volumes;
}

std::string RootOfPartition(const TableEntry& entry) {
  for (const CardVolume& volume : CardVolumes()) {
    if (volume.placed && volume.startSector == entry.firstSector && volume.sectors == entry.sectors) {
      return DriveRoot(volume.letter);
    }
  }
  return {};
}

bool FindPartitionRoot(const TableEntry& entry, std::string& root) {
  root = RootOfPartition(entry);
  if (!root.empty()) return true;
  common::ShowErrorMessage(MSG_CARD_CHANGED);
  return false;
}

bool RootOnCard(const std::string& root) {
  if (root.empty()) return false;
  for (const CardVolume& volume : CardVolumes()) {
    if (volume.letter == root[0]) return true;
  }
  return false;
}

bool ReadCardTable(Table& table) {
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  Sector mbr{};
  if (!drive.Valid() || !ReadSector0(drive.Get(), mbr)) return false;
  table = TableOf(mbr);
  return true;
}

bool FirstTableEntry(TableEntry& entry) {
  Table table{};
  if (!ReadCardTable(table)) return false;
  for (const TableEntry& candidate : table) {
    if (!candidate.InUse()) continue;
    entry = candidate;
    return true;
  }
  return false;
}

bool LargePartitionFirst() {
  Table table{};
  return ReadCardTable(table) && table[0].InUse() && table[1].InUse() && table[0].sectors > table[1].sectors;
}

void IdentifyCard(std::uint32_t deviceNumber) { gPicture = TakePicture(deviceNumber); }

void RememberCard() {
  if (gPicture.taken) gPicture = TakePicture(gPicture.deviceNumber);
}

void RememberPartition(const std::string& root) {
  if (!gPicture.taken) return;
  std::optional<std::uint64_t> start;
  for (const CardVolume& volume : CardVolumes()) {
    if (volume.placed && !root.empty() && volume.letter == root[0]) start = volume.startSector;
  }
  const CardPicture now = TakePicture(gPicture.deviceNumber);
  // Anything else changed: another card is in the reader now.
  if (start && SameButPartition(now, gPicture, *start)) {
    gPicture = now;
  } else {
    gPicture.taken = false;
  }
}

bool SameCard() {
  if (!gPicture.taken ||
      common::gCardState.physicalDrivePath != common::PhysicalDrivePath(gPicture.deviceNumber) ||
      gPicture.sectors != common::gCardState.totalSectors ||
      JudgeDevice({host::kFileDeviceDisk, gPicture.deviceNumber, 0}) != DeviceVerdict::Card) {
    return false;
  }
  return TakePicture(gPicture.deviceNumber) == gPicture;
}

void FlushCard() {
  for (const CardVolume& volume : CardVolumes()) {
    UniqueHandle handle = OpenDevice(VolumePath(volume.letter), Access::ReadWrite);
    if (handle.Valid()) host::FlushFileBuffers(handle.Get());
  }
}

bool EjectCard() {
  FlushCard();  // nothing cached may be lost when the card comes out
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  if (!drive.Valid()) return false;
  host::EjectMedia(drive.Get());  // the remove prompts follow whatever it answers
  return true;
}

bool VolumeLocks::Acquire() {
  for (const CardVolume& volume : CardVolumes()) {
    UniqueHandle handle = OpenDevice(VolumePath(volume.letter), Access::ReadWrite);
    if (!handle.Valid() || !host::LockVolume(handle.Get()) || !host::DismountVolume(handle.Get())) {
      volumes_.clear();
      common::ShowErrorMessage(MSG_VOLUME_IN_USE);
      return false;
    }
    volumes_.push_back(std::move(handle));
  }
  return true;
}

}  // namespace disk
