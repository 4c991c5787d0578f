#include "card/card_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "common/catalogue.h"
#include "common/card_state.h"
#include "disk/boot_marks.h"
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

constexpr std::size_t kBootMarkLength = sizeof(disk::kBootMark) - 1;

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
  gCardState.bootMarkSeen = 0;
  gCardState.firstPartitionSizeMb = 0;
  gCardState.totalSizeMb = 0;
  gCardState.partitionCount = 0;
  gCardState.totalSectors = 0;
}

enum class Identification { Identified, NoVolume, NoDeviceNumber, SystemDiskUnknown };

Identification IdentifyPhysicalDrive() {
  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::ReadWrite);
  if (!volume.Valid()) return Identification::NoVolume;
  host::StorageDeviceNumber device;
  if (!disk::GetDeviceNumber(volume.Get(), device)) return Identification::NoDeviceNumber;
  volume.Close();
  switch (disk::JudgeDevice(device)) {
    case disk::DeviceVerdict::Card: break;
    case disk::DeviceVerdict::NotACard: return Identification::NoVolume;
    case disk::DeviceVerdict::SystemDiskUnknown: return Identification::SystemDiskUnknown;
  }
  gCardState.physicalDrivePath = common::PhysicalDrivePath(device.deviceNumber);
  return Identification::Identified;
}

bool ReadCapacity(host::Handle drive) {
  disk::DiskSize size;
  if (!disk::ReadDiskSize(drive, size)) return false;
  gCardState.totalSizeMb = ToMb(size.bytes);
  gCardState.totalSectors = size.sectors;
  return true;
}

std::string PartitionLine(std::size_t position, const disk::PartitionInformation& entry) {
  const std::uint64_t length = static_cast<std::uint64_t>(entry.partitionLength);
  std::string line = Format(MSG_FMT_PARTITION, static_cast<int>(position + 1));
  line += Format(TypeLabelFormat(entry.partitionType), entry.partitionType);
  line += FormatSize(length, MSG_FMT_CAPACITY_MB, MSG_FMT_CAPACITY_DECIMAL);
  return line;
}

// Appends the partition lines; returns false when the layout could not be read.
bool ReadPartitions(host::Handle drive, std::string& report, std::uint8_t& firstType) {
  disk::DriveLayout layout;
  if (!disk::GetDriveLayout(drive, layout)) return false;
  for (std::size_t k = 0; k < layout.entries.size(); ++k) {
    const disk::PartitionInformation& entry = layout.entries[k];
    if (entry.partitionType == 0) continue;
    ++gCardState.partitionCount;
    report += PartitionLine(k, entry);
    if (k == 0) {
      firstType = entry.partitionType;
      gCardState.firstPartitionSizeMb = ToMb(static_cast<std::uint64_t>(entry.partitionLength));
    }
  }
  return true;
}

unsigned FileSystemSuffix(std::uint8_t firstType, bool& offerBootMark) {
  offerBootMark = false;
  switch (FileSystemOf(firstType)) {
    case FileSystem::Fat12: offerBootMark = true; return MSG_SUFFIX_FAT12;
    case FileSystem::Fat16: offerBootMark = true; return MSG_SUFFIX_FAT16;
    case FileSystem::Ntfs: return MSG_SUFFIX_NTFS;
    case FileSystem::Fat32: return MSG_SUFFIX_FAT32;
    case FileSystem::Other: break;
  }
  return 0;
}

bool HasBootMark(const disk::Sector& sector) {
  return std::equal(disk::kBootMark, disk::kBootMark + kBootMarkLength,
                    sector.begin() + disk::kBootMarkOffset);
}

void WriteStatusLine(std::uint8_t firstType) {
  std::string line;
  std::uint64_t volumeBytes = 0;
  if (host::GetDiskTotalBytes(gCardState.driveRoot.c_str(), volumeBytes)) {
    line = FormatSize(volumeBytes, MSG_FMT_SIZE_MB, MSG_FMT_SIZE_DECIMAL);
    host::ShowControl(IDC_FOLDER_OPEN, host::kSwShow);
  }
  bool offerBootMark = false;
  const unsigned suffix = FileSystemSuffix(firstType, offerBootMark);
  if (suffix != 0) line += common::LoadMessageText(suffix);
  if (offerBootMark) host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwShow);

  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::ReadWrite);
  disk::Sector sector{};
  if (!volume.Valid() || !disk::ReadSector0(volume.Get(), sector)) {
    host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
    return;
  }
  if (HasBootMark(sector)) {
    gCardState.bootMarkSeen = 1;
    line += common::LoadMessageText(MSG_SUFFIX_BOOTABLE);
    host::SetControlText(IDC_STATUS, line.c_str());
    host::ShowControl(IDC_MAKE_BOOTABLE, host::kSwHide);
    return;
  }
  if (FileSystemOf(firstType) == FileSystem::Fat12 || FileSystemOf(firstType) == FileSystem::Fat16) {
    line += common::LoadMessageText(MSG_SUFFIX_NOT_BOOTABLE);
  }
  host::SetControlText(IDC_STATUS, line.c_str());
}

}  // namespace

std::string FormatSize(std::uint64_t bytes, unsigned wholeFormatId, unsigned decimalFormatId) {
  if (bytes / kBytesPerMb >= kDecimalsBelowMb) return Format(wholeFormatId, ToMb(bytes));
  const int hundredths = static_cast<int>(bytes * 100 / kBytesPerMb);
  return Format(decimalFormatId, hundredths / 100, hundredths % 100);
}

void InspectCard() {
  ClearCardState();
  std::uint8_t firstType = 0;
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
  const Identification identification = IdentifyPhysicalDrive();
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
  if (ReadCapacity(drive.Get())) {
    report += Format(MSG_FMT_TOTAL_CAPACITY, gCardState.totalSizeMb);
  }
  if (ReadPartitions(drive.Get(), report, firstType)) {
    if (gCardState.partitionCount == 2) host::ShowControl(IDC_SWAP_PARTITIONS, host::kSwShow);
    host::SetControlText(IDC_REPORT, report.c_str());
  }
  drive.Close();
  WriteStatusLine(firstType);
}

}  // namespace card
