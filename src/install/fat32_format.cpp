#include "install/fat32_format.h"

#include <algorithm>

#include "common/catalogue.h"
#include "disk/device.h"
#include "res/ids.h"

namespace install {
namespace {

using disk::kSectorSize;
using disk::Sector;

// The first data cluster of every volume lands on a multiple of this from
// the card's start.
constexpr std::uint64_t kAlignmentSectors = 8192;  // 4 MiB
constexpr std::uint64_t kMinimumReservedSectors = 32;
constexpr std::uint64_t kFatCount = 2;
constexpr std::uint64_t kFatEntryBytes = 4;
constexpr std::uint64_t kFirstCluster = 2;
// FAT32 is what has from 65,525 clusters to the 28 bits of a FAT entry.
constexpr std::uint64_t kMinimumClusters = 65525;
constexpr std::uint64_t kMaximumClusters = 0x0FFFFFF5;
constexpr std::uint64_t kMaximumSectors = 0xFFFFFFFF;
constexpr std::uint32_t kChunkSectors = 2048;  // 1 MiB a transfer

// The boot sector's fields.
constexpr std::uint8_t kJump[] = {0xEB, 0x58, 0x90};
constexpr char kOemName[] = "MSWIN4.1";
constexpr std::size_t kOemNameOffset = 3;
constexpr std::size_t kBytesPerSectorOffset = 11;
constexpr std::size_t kSectorsPerClusterOffset = 13;
constexpr std::size_t kReservedSectorsOffset = 14;
constexpr std::size_t kFatCountOffset = 16;
constexpr std::size_t kMediaOffset = 21;
constexpr std::size_t kSectorsPerTrackOffset = 24;
constexpr std::size_t kHeadsOffset = 26;
constexpr std::size_t kHiddenSectorsOffset = 28;
constexpr std::size_t kTotalSectorsOffset = 32;
constexpr std::size_t kFatSectorsOffset = 36;
constexpr std::size_t kRootClusterOffset = 44;
constexpr std::size_t kFsInfoSectorOffset = 48;
constexpr std::size_t kBackupBootSectorOffset = 50;
constexpr std::size_t kDriveNumberOffset = 64;
constexpr std::size_t kBootSignatureOffset = 66;
constexpr std::size_t kSerialOffset = 67;
constexpr std::size_t kLabelOffset = 71;
constexpr char kLabel[] = "NO NAME    ";
constexpr std::size_t kFileSystemTypeOffset = 82;
constexpr char kFileSystemType[] = "FAT32   ";
constexpr std::size_t kBootCodeOffset = 90;
// A card in a PC's boot order hands over to the next device: int 18h.
constexpr std::uint8_t kBootCode[] = {0xCD, 0x18, 0xEB, 0xFE};
constexpr std::uint8_t kMedia = 0xF8;
constexpr std::uint8_t kDriveNumber = 0x80;
constexpr std::uint8_t kExtendedBootSignature = 0x29;
constexpr std::uint16_t kDefaultSectorsPerTrack = 63;
constexpr std::uint16_t kDefaultHeads = 255;

constexpr std::uint32_t kFsInfoSector = 1;
constexpr std::uint32_t kBackupBootSector = 6;
constexpr std::size_t kFsInfoLeadOffset = 0;
constexpr std::uint32_t kFsInfoLead = 0x41615252;
constexpr std::size_t kFsInfoStructOffset = 484;
constexpr std::uint32_t kFsInfoStruct = 0x61417272;
constexpr std::size_t kFsInfoFreeOffset = 488;
constexpr std::size_t kFsInfoNextOffset = 492;
constexpr std::size_t kFsInfoTrailOffset = 508;
constexpr std::uint32_t kFsInfoTrail = 0xAA550000;
constexpr std::size_t kSignatureOffset = 510;

// The first FAT entries: the media, a clean volume, the root folder's end.
constexpr std::uint32_t kMediaEntry = 0x0FFFFF00 | kMedia;
constexpr std::uint32_t kCleanEntry = 0x0FFFFFFF;
constexpr std::uint32_t kEndOfChain = 0x0FFFFFFF;

template <typename T>
void Put(std::uint8_t* at, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

template <std::size_t N>
void PutText(Sector& sector, std::size_t offset, const char (&text)[N]) {
  std::copy(text, text + N - 1, sector.begin() + static_cast<long>(offset));
}

void PutSignature(Sector& sector) {
  sector[kSignatureOffset] = 0x55;
  sector[kSignatureOffset + 1] = 0xAA;
}

Sector BootSector(const Fat32Plan& plan) {
  Sector sector{};
  std::copy(std::begin(kJump), std::end(kJump), sector.begin());
  PutText(sector, kOemNameOffset, kOemName);
  std::uint8_t* s = sector.data();
  Put(s + kBytesPerSectorOffset, static_cast<std::uint16_t>(kSectorSize));
  s[kSectorsPerClusterOffset] = static_cast<std::uint8_t>(plan.sectorsPerCluster);
  Put(s + kReservedSectorsOffset, static_cast<std::uint16_t>(plan.reservedSectors));
  s[kFatCountOffset] = static_cast<std::uint8_t>(kFatCount);
  s[kMediaOffset] = kMedia;
  Put(s + kSectorsPerTrackOffset, plan.sectorsPerTrack);
  Put(s + kHeadsOffset, plan.heads);
  Put(s + kHiddenSectorsOffset, plan.hiddenSectors);
  Put(s + kTotalSectorsOffset, plan.totalSectors);
  Put(s + kFatSectorsOffset, plan.fatSectors);
  Put(s + kRootClusterOffset, static_cast<std::uint32_t>(kFirstCluster));
  Put(s + kFsInfoSectorOffset, static_cast<std::uint16_t>(kFsInfoSector));
  Put(s + kBackupBootSectorOffset, static_cast<std::uint16_t>(kBackupBootSector));
  s[kDriveNumberOffset] = kDriveNumber;
  s[kBootSignatureOffset] = kExtendedBootSignature;
  Put(s + kSerialOffset, plan.serial);
  PutText(sector, kLabelOffset, kLabel);
  PutText(sector, kFileSystemTypeOffset, kFileSystemType);
  std::copy(std::begin(kBootCode), std::end(kBootCode), sector.begin() + kBootCodeOffset);
  PutSignature(sector);
  return sector;
}

// Every cluster is free but the root folder's.
Sector FsInfo(const Fat32Plan& plan) {
  Sector sector{};
  std::uint8_t* s = sector.data();
  Put(s + kFsInfoLeadOffset, kFsInfoLead);
  Put(s + kFsInfoStructOffset, kFsInfoStruct);
  Put(s + kFsInfoFreeOffset, plan.clusters - 1);
  Put(s + kFsInfoNextOffset, static_cast<std::uint32_t>(kFirstCluster + 1));
  Put(s + kFsInfoTrailOffset, kFsInfoTrail);
  return sector;
}

Sector FirstFatSector() {
  Sector sector{};
  Put(sector.data(), kMediaEntry);
  Put(sector.data() + kFatEntryBytes, kCleanEntry);
  Put(sector.data() + 2 * kFatEntryBytes, kEndOfChain);
  return sector;
}

// The writes of one format, with the progress over all of them.
class Writer {
 public:
  Writer(host::Handle volume, std::uint64_t totalSectors, const std::function<void(int)>& progress)
      : volume_(volume), total_(std::max<std::uint64_t>(totalSectors, 1)), progress_(progress) {}

  bool Zeros(std::uint64_t first, std::uint64_t count) {
    disk::SectorBuffer zeros(static_cast<std::uint32_t>(std::min<std::uint64_t>(count, kChunkSectors)));
    return EachChunk(first, count, [this, &zeros](std::uint64_t at, std::uint32_t sectors) {
      return sectors == zeros.Bytes() / kSectorSize
                 ? disk::WriteSectors(volume_, at, zeros)
                 : disk::WriteSectors(volume_, at, disk::SectorBuffer(sectors));
    });
  }

  // Zeros only where the sectors hold something: the padding that aligns
  // the data can reach 4 MiB, and zeros over zeros only wear the flash.
  bool ClearWhereUsed(std::uint64_t first, std::uint64_t count) {
    return EachChunk(first, count, [this](std::uint64_t at, std::uint32_t sectors) {
      disk::SectorBuffer old(sectors);
      if (!disk::ReadSectors(volume_, at, old)) return false;
      const bool clear =
          std::all_of(old.Data(), old.Data() + old.Bytes(), [](std::uint8_t b) { return b == 0; });
      return clear || disk::WriteSectors(volume_, at, disk::SectorBuffer(sectors));
    });
  }

  bool One(std::uint64_t sectorNumber, const Sector& sector) {
    return disk::WriteSectorAt(volume_, sectorNumber, sector);
  }

 private:
  template <typename Step>
  bool EachChunk(std::uint64_t first, std::uint64_t count, Step step) {
    for (std::uint64_t done = 0; done < count;) {
      const auto sectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(count - done, kChunkSectors));
      if (!step(first + done, sectors)) return false;
      done += sectors;
      written_ += sectors;
      progress_(static_cast<int>(std::min<std::uint64_t>(100, written_ * 100 / total_)));
    }
    return true;
  }

  host::Handle volume_;
  std::uint64_t total_;
  std::uint64_t written_ = 0;
  const std::function<void(int)>& progress_;
};

std::uint16_t Clamped(std::uint32_t value, std::uint16_t fallback) {
  return value == 0 || value > 0xFFFF ? fallback : static_cast<std::uint16_t>(value);
}

// The card's geometry, as its boot sector records it; the usual one where
// the card gives none.
void TakeGeometry(Fat32Plan& plan) {
  disk::UniqueHandle drive = disk::OpenPhysicalDrive(disk::Access::Read);
  disk::DiskSize size;
  const bool known = drive.Valid() && disk::ReadDiskSize(drive.Get(), size);
  plan.sectorsPerTrack = Clamped(known ? size.sectorsPerTrack : 0, kDefaultSectorsPerTrack);
  plan.heads = Clamped(known ? size.tracksPerCylinder : 0, kDefaultHeads);
}

// Fresh for every format, as Windows makes it: from the time.
std::uint32_t NewSerial() {
  const std::uint64_t now = host::GetSystemTimeAsFileTime();
  return static_cast<std::uint32_t>(now ^ (now >> 32));
}

}  // namespace

bool PlanFat32(std::uint64_t startSector, std::uint64_t sectors, std::uint32_t sectorsPerCluster,
               Fat32Plan& plan) {
  if (sectors > kMaximumSectors || startSector > kMaximumSectors || sectorsPerCluster == 0) return false;
  // With FATs of this many sectors: the reserved sectors that put the data
  // on its boundary, and the clusters left after them.
  std::uint64_t reserved = 0;
  std::uint64_t clusters = 0;
  const auto layOut = [&](std::uint64_t fat) {
    const std::uint64_t start = startSector + kMinimumReservedSectors + kFatCount * fat;
    const std::uint64_t dataStart = (start + kAlignmentSectors - 1) / kAlignmentSectors * kAlignmentSectors;
    reserved = dataStart - startSector - kFatCount * fat;
    if (reserved + kFatCount * fat >= sectors) return false;
    clusters = (sectors - reserved - kFatCount * fat) / sectorsPerCluster;
    return true;
  };
  const auto fatFor = [](std::uint64_t count) {
    return ((count + kFirstCluster) * kFatEntryBytes + kSectorSize - 1) / kSectorSize;
  };
  // The smallest FAT that maps the clusters left beside it: a larger FAT
  // leaves no more clusters, so one that maps them still does.
  if (!layOut(0)) return false;
  std::uint64_t tooSmall = 0;
  std::uint64_t fat = fatFor(clusters);
  while (fat - tooSmall > 1) {
    const std::uint64_t middle = tooSmall + (fat - tooSmall) / 2;
    (layOut(middle) && fatFor(clusters) <= middle ? fat : tooSmall) = middle;
  }
  if (!layOut(fat) || clusters < kMinimumClusters || clusters > kMaximumClusters) return false;
  plan = Fat32Plan{};
  plan.totalSectors = static_cast<std::uint32_t>(sectors);
  plan.hiddenSectors = static_cast<std::uint32_t>(startSector);
  plan.sectorsPerCluster = sectorsPerCluster;
  plan.reservedSectors = static_cast<std::uint32_t>(reserved);
  plan.fatSectors = static_cast<std::uint32_t>(fat);
  plan.clusters = static_cast<std::uint32_t>(clusters);
  plan.sectorsPerTrack = kDefaultSectorsPerTrack;
  plan.heads = kDefaultHeads;
  return true;
}

int WriteFat32(host::Handle volume, const Fat32Plan& plan, bool full,
               const std::function<void(int percent)>& progress) {
  const std::uint64_t dataStart = plan.DataStart();
  const std::uint64_t dataSectors = plan.totalSectors - dataStart;
  Writer writer(volume, dataStart + (full ? dataSectors : plan.sectorsPerCluster), progress);
  bool written = writer.ClearWhereUsed(0, plan.reservedSectors);
  for (std::uint64_t fat = 0; fat < kFatCount && written; ++fat) {
    const std::uint64_t first = plan.reservedSectors + fat * plan.fatSectors;
    written = writer.One(first, FirstFatSector()) && writer.Zeros(first + 1, plan.fatSectors - 1);
  }
  // The root folder's cluster first: it is the data area's first.
  written = written && writer.Zeros(dataStart, full ? dataSectors : plan.sectorsPerCluster);
  const Sector info = FsInfo(plan);
  const Sector boot = BootSector(plan);
  written = written && writer.One(kFsInfoSector, info) &&
            writer.One(kBackupBootSector + kFsInfoSector, info) && writer.One(kBackupBootSector, boot) &&
            writer.One(0, boot);
  if (!written) return 1;
  progress(100);
  return 0;
}

bool PrepareVolumeForFormat(host::Handle volume) {
  // While the file system still answers for the handle.
  return host::LockVolume(volume) && host::AllowExtendedDasdIo(volume) && host::DismountVolume(volume);
}

int FormatFat32Volume(const std::string& cardRoot, bool quick) {
  disk::UniqueHandle volume = disk::OpenVolumeOf(cardRoot, disk::Access::ReadWrite);
  disk::VolumeExtent extent;
  Fat32Plan plan;
  if (!volume.Valid() || !disk::GetVolumeExtent(volume.Get(), extent) ||
      !PlanFat32(extent.startSector, extent.sectors, kOwnFormatSectorsPerCluster, plan)) {
    return 1;
  }
  TakeGeometry(plan);
  plan.serial = NewSerial();
  if (!PrepareVolumeForFormat(volume.Get())) return 1;
  int shown = -1;
  // As while format.com runs: the window repaints, and takes no input.
  const bool wasDisabled = host::EnableMainWindow(false);
  const int result =
      WriteFat32(volume.Get(), plan, !quick, [&shown](int percent) { common::ShowProgress(MSG_FMT_FORMAT_PROGRESS, percent, shown); });
  if (!wasDisabled) host::EnableMainWindow(true);
  return result;
}

}  // namespace install
