#include "card/card_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/catalogue.h"
#include "common/card_state.h"
#include "disk/boot_marks.h"
#include "disk/card_disk.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "disk/system_disk.h"
#include "host/host.h"
#include "res/ids.h"

namespace card {

using common::gCardState;
using common::gDriveSlots;

namespace {

constexpr std::uint64_t kBytesPerMb = 1048576;
constexpr std::uint64_t kDecimalsBelowMb = 10;
constexpr std::size_t kLineBufferSize = 512;


// Where a boot sector names its file system, and the names of the two that
// never take the boot mark: it would land in their own fields.
constexpr std::size_t kFat32NameOffset = 82;
constexpr char kFat32Name[] = "FAT32   ";
constexpr std::size_t kNtfsNameOffset = 3;
constexpr char kNtfsName[] = "NTFS    ";

enum class FileSystem { Fat12, Fat16, Ntfs, Fat32, Other };

FileSystem FileSystemOf(std::uint8_t type) {
  switch (type) {
    case disk::kPartitionTypeFat12: return FileSystem::Fat12;
    case disk::kPartitionTypeFat16Small:
    case disk::kPartitionTypeFat16:
    case disk::kPartitionTypeFat16Lba: return FileSystem::Fat16;
    case disk::kPartitionTypeNtfs: return FileSystem::Ntfs;
    case disk::kPartitionTypeFat32:
    case disk::kPartitionTypeFat32Lba: return FileSystem::Fat32;
    default: return FileSystem::Other;
  }
}

unsigned TypeLabelFormat(std::uint8_t type) {
  switch (FileSystemOf(type)) {
    case FileSystem::Fat12: return MSG_FMT_TYPE_FAT12;
    case FileSystem::Fat16: return MSG_FMT_TYPE_FAT16;
    case FileSystem::Ntfs: return MSG_FMT_TYPE_NTFS;
    case FileSystem::Fat32: return MSG_FMT_TYPE_FAT32;
    case FileSystem::Other: break;
  }
  return MSG_FMT_TYPE_OTHER;
}

// The formats come from the program's own string table and hold at most two
// %d conversions.
std::string Format(unsigned formatId, int first, int second = 0) {
  char line[kLineBufferSize];
  std::snprintf(line, sizeof line, common::LoadMessageText(formatId), first, second);
  return line;
}

int ToMb(std::uint64_t bytes) { return static_cast<int>(bytes / kBytesPerMb); }

void ClearCardState() {
  const std::string root = gCardState.driveRoot;
  const std::string path = gCardState.physicalDrivePath;
  gCardState = common::CardState{};
  gCardState.driveRoot = root;
  gCardState.physicalDrivePath = path;
}

enum class Identification { Identified, NoVolume, NoDeviceNumber, SystemDiskUnknown };

// The selected letter's volume: on which disk, and where on it.
struct SelectedVolume {
  std::uint32_t deviceNumber = 0;
  bool placed = false;
  host::PartitionInfo place;
};

Identification IdentifyPhysicalDrive(SelectedVolume& selected) {
  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::ReadWrite);
  if (!volume.Valid()) return Identification::NoVolume;
  host::StorageDeviceNumber device;
  if (!disk::GetDeviceNumber(volume.Get(), device)) return Identification::NoDeviceNumber;
  selected.placed = host::QueryPartitionInfo(volume.Get(), selected.place);
  volume.Close();
  switch (disk::JudgeDevice(device)) {
    case disk::DeviceVerdict::Card: break;
    case disk::DeviceVerdict::NotACard: return Identification::NoVolume;
    case disk::DeviceVerdict::SystemDiskUnknown: return Identification::SystemDiskUnknown;
  }
  selected.deviceNumber = device.deviceNumber;
  gCardState.physicalDrivePath = common::PhysicalDrivePath(device.deviceNumber);
  return Identification::Identified;
}

// False when the card's sectors are not the 512 bytes that every table and
// boot sector here is made of.
bool ReadCapacity(host::Handle drive, bool& usableSectors) {
  disk::DiskSize size;
  usableSectors = true;
  if (!disk::ReadDiskSize(drive, size)) return false;
  usableSectors = size.bytesPerSector == disk::kSectorSize;
  gCardState.totalSizeMb = ToMb(size.bytes);
  gCardState.totalSectors = size.sectors;
  return true;
}

void TakeVolumeSize(std::uint64_t bytes) {
  gCardState.volumeSizeMb = ToMb(bytes);
  gCardState.volumeSectors = bytes / disk::kSectorSize;
}

std::string PartitionLine(std::size_t position, const disk::PartitionInformation& entry) {
  const std::uint64_t length = static_cast<std::uint64_t>(entry.partitionLength);
  std::string line = Format(MSG_FMT_PARTITION, static_cast<int>(position + 1));
  line += Format(TypeLabelFormat(entry.partitionType), entry.partitionType);
  line += FormatSize(length, MSG_FMT_CAPACITY_MB, MSG_FMT_CAPACITY_DECIMAL);
  return line;
}

// Appends the partition lines and finds the selected letter's partition
// (the first entry where the system does not say which); returns false when
// the layout could not be read.
bool ReadPartitions(host::Handle drive, const SelectedVolume& selected, std::string& report,
                    std::uint8_t& selectedType) {
  disk::DriveLayout layout;
  if (!disk::GetDriveLayout(drive, layout)) return false;
  if (layout.style == disk::PartitionStyle::Gpt) {
    gCardState.gptDisk = true;
    report += common::LoadMessageText(MSG_REPORT_GPT);
    return true;
  }
  for (std::size_t k = 0; k < layout.entries.size(); ++k) {
    const disk::PartitionInformation& entry = layout.entries[k];
    if (entry.partitionType == 0) continue;
    ++gCardState.partitionCount;
    report += PartitionLine(k, entry);
    const auto length = static_cast<std::uint64_t>(entry.partitionLength);
    if (k == 0) gCardState.firstPartitionSizeMb = ToMb(length);
    const bool shown = selected.placed ? entry.startingOffset == selected.place.startingOffset : k == 0;
    if (shown) {
      selectedType = entry.partitionType;
      if (!selected.placed) TakeVolumeSize(length);
    }
  }
  return true;
}

unsigned FileSystemSuffix(std::uint8_t volumeType, bool& offerBootMark) {
  offerBootMark = false;
  switch (FileSystemOf(volumeType)) {
    case FileSystem::Fat12: offerBootMark = true; return MSG_SUFFIX_FAT12;
    case FileSystem::Fat16: offerBootMark = true; return MSG_SUFFIX_FAT16;
    case FileSystem::Ntfs: return MSG_SUFFIX_NTFS;
    case FileSystem::Fat32: return MSG_SUFFIX_FAT32;
    case FileSystem::Other: break;
  }
  return 0;
}

void WriteStatusLine(std::uint8_t volumeType) {
  std::string line;
  std::uint64_t volumeBytes = 0;
  if (host::GetDiskTotalBytes(gCardState.driveRoot.c_str(), volumeBytes)) {
    line = FormatSize(volumeBytes, MSG_FMT_SIZE_MB, MSG_FMT_SIZE_DECIMAL);
    host::ShowControl(IDC_FOLDER_OPEN, host::kSwShow);
  }
  bool offerBootMark = false;
  const unsigned suffix = FileSystemSuffix(volumeType, offerBootMark);
  if (suffix != 0) line += common::LoadMessageText(suffix);
  if (offerBootMark) host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwShow);

  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::ReadWrite);
  disk::Sector sector{};
  if (!volume.Valid() || !disk::ReadSector0(volume.Get(), sector)) {
    host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
    return;
  }
  // Whatever the table's type says, the volume is what it is.
  if (disk::SectorHolds(sector, kFat32NameOffset, kFat32Name) ||
      disk::SectorHolds(sector, kNtfsNameOffset, kNtfsName)) {
    host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
  }
  if (disk::HasBootMark(sector)) {
    gCardState.bootMarkSeen = 1;
    line += common::LoadMessageText(MSG_SUFFIX_BOOTABLE);
    host::SetControlText(IDC_STATUS, line.c_str());
    host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
    return;
  }
  if (FileSystemOf(volumeType) == FileSystem::Fat12 || FileSystemOf(volumeType) == FileSystem::Fat16) {
    line += common::LoadMessageText(MSG_SUFFIX_NOT_BOOTABLE);
  }
  host::SetControlText(IDC_STATUS, line.c_str());
}

// A reader whose sectors are not 512 bytes holds no card the program can
// make: it says so, and identifies nothing.
void RefuseReader() {
  ClearCardState();
  gCardState.physicalDrivePath.clear();
  host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
  host::ShowControl(IDC_FORMAT, host::kSwHide);
  host::SetControlText(IDC_STATUS, common::LoadMessageText(MSG_SECTOR_SIZE_NOT_SUPPORTED));
}

}  // namespace

std::string FormatSize(std::uint64_t bytes, unsigned wholeFormatId, unsigned decimalFormatId) {
  if (bytes / kBytesPerMb >= kDecimalsBelowMb) return Format(wholeFormatId, ToMb(bytes));
  const int hundredths = static_cast<int>(bytes * 100 / kBytesPerMb);
  return Format(decimalFormatId, hundredths / 100, hundredths % 100);
}

void InspectCard() {
  ClearCardState();
  std::uint8_t selectedType = 0;
  host::ShowControl(IDC_FORMAT, host::kSwShow);
  host::ShowControl(IDC_SWAP_PARTITIONS, host::kSwHide);
  host::ShowControl(IDC_FOLDER_OPEN, host::kSwHide);
  host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
  host::SetControlText(IDC_STATUS, "");
  host::SetControlText(IDC_REPORT, "");
  std::string& root = gCardState.driveRoot;
  if (!root.empty()) root[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));

  // A card that is no longer reachable must not stay the target of commands.
  gCardState.physicalDrivePath.clear();
  SelectedVolume selected;
  const Identification identification = IdentifyPhysicalDrive(selected);
  if (identification == Identification::NoVolume ||
      identification == Identification::SystemDiskUnknown) {
    host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
    host::ShowControl(IDC_FORMAT, host::kSwHide);
    // Silence here would look like a card that is simply not there.
    if (identification == Identification::SystemDiskUnknown) {
      host::SetControlText(IDC_STATUS, common::LoadMessageText(MSG_SYSTEM_DISK_UNKNOWN));
    }
    return;
  }

  disk::UniqueHandle drive = disk::OpenPhysicalDrive(disk::Access::Read);
  if (!drive.Valid()) {
    common::ShowErrorMessage(MSG_RUN_AS_ADMINISTRATOR);
    host::SendClose();
    return;
  }
  std::string report;
  bool usableSectors = true;
  if (ReadCapacity(drive.Get(), usableSectors)) {
    report += Format(MSG_FMT_TOTAL_CAPACITY, gCardState.totalSizeMb);
  }
  if (!usableSectors) {
    RefuseReader();
    return;
  }
  if (selected.placed) TakeVolumeSize(static_cast<std::uint64_t>(selected.place.partitionLength));
  if (ReadPartitions(drive.Get(), selected, report, selectedType)) {
    if (gCardState.partitionCount == 2) host::ShowControl(IDC_SWAP_PARTITIONS, host::kSwShow);
    host::SetControlText(IDC_REPORT, report.c_str());
  }
  drive.Close();
  disk::IdentifyCard(selected.deviceNumber);
  WriteStatusLine(selectedType);
}

}  // namespace card
