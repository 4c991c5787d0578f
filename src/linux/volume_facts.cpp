#include "linux/volume_facts.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <sstream>

#include "linux/descriptor.h"
#include "linux/disk_layout.h"

namespace linuxhost {
namespace {

constexpr std::size_t kBootSectorBytes = 512;
// Boot sector fields (BIOS parameter block), little-endian.
constexpr std::size_t kBytesPerSector = 11;
constexpr std::size_t kSectorsPerCluster = 13;
constexpr std::size_t kReservedSectors = 14;
constexpr std::size_t kFatCount = 16;
constexpr std::size_t kRootEntries = 17;
constexpr std::size_t kTotalSectors16 = 19;
constexpr std::size_t kFatSectors16 = 22;
constexpr std::size_t kTotalSectors32 = 32;
constexpr std::size_t kFatSectors32 = 36;
constexpr std::size_t kOemName = 3;
constexpr std::size_t kFat16Type = 54;
constexpr std::size_t kFat32Type = 82;
constexpr std::size_t kSignature = 510;
constexpr std::uint64_t kDirectoryEntryBytes = 32;
// FAT12 holds fewer clusters than this, FAT16 fewer than the next.
constexpr std::uint64_t kFat16Clusters = 4085;
constexpr std::uint64_t kFat32Clusters = 65525;

using Sector = std::array<std::uint8_t, kBootSectorBytes>;

std::uint32_t Le16(const Sector& sector, std::size_t at) {
  return static_cast<std::uint32_t>(sector[at] | (sector[at + 1] << 8));
}

bool Holds(const Sector& sector, std::size_t at, const char* text) {
  for (std::size_t i = 0; text[i] != '\0'; ++i) {
    if (sector[at + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

bool ReadBootSector(const std::string& path, std::uint64_t offset, Sector& sector) {
  const Fd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return file.Get() >= 0 && ::pread(file.Get(), sector.data(), sector.size(), static_cast<off_t>(offset)) ==
                                static_cast<ssize_t>(sector.size());
}

// The bytes of a FAT volume's data area, from its boot sector; 0 when the
// sector describes no FAT volume. FAT12, FAT16 or FAT32 by its clusters.
std::uint64_t FatDataBytes(const Sector& sector, std::string& fileSystem) {
  const std::uint64_t bytesPerSector = Le16(sector, kBytesPerSector);
  const std::uint64_t perCluster = sector[kSectorsPerCluster];
  const std::uint64_t total16 = Le16(sector, kTotalSectors16);
  const std::uint64_t total = total16 != 0 ? total16 : GetLe32(sector.data() + kTotalSectors32);
  const std::uint64_t fat16 = Le16(sector, kFatSectors16);
  const std::uint64_t fatSectors = fat16 != 0 ? fat16 : GetLe32(sector.data() + kFatSectors32);
  const std::uint64_t rootSectors =
      bytesPerSector == 0 ? 0 : (Le16(sector, kRootEntries) * kDirectoryEntryBytes + bytesPerSector - 1) / bytesPerSector;
  const std::uint64_t overhead = Le16(sector, kReservedSectors) + sector[kFatCount] * fatSectors + rootSectors;
  if (bytesPerSector == 0 || perCluster == 0 || fatSectors == 0 || total <= overhead) return 0;
  const std::uint64_t clusters = (total - overhead) / perCluster;
  fileSystem = clusters < kFat16Clusters ? "FAT12" : clusters < kFat32Clusters ? "FAT16" : "FAT32";
  return clusters * perCluster * bytesPerSector;
}

// The label and free bytes that mdir tells of a FAT volume.
bool ReadFatUse(const CardVolume& volume, std::string& label, std::uint64_t& freeBytes) {
  const ToolResult listing = RunMtools("mdir", volume, {"::/"});
  if (!listing.Succeeded()) return false;
  constexpr char kLabelSays[] = " Volume in drive : is ";
  constexpr char kFreeSays[] = "bytes free";
  bool freeSeen = false;
  std::istringstream lines(listing.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(kLabelSays, 0) == 0) {
      label = line.substr(sizeof kLabelSays - 1);
      while (!label.empty() && label.back() == ' ') label.pop_back();
    }
    if (line.find(kFreeSays) == std::string::npos) continue;
    // "   243 255 296 bytes free": digits grouped as the locale groups them.
    freeBytes = 0;
    for (const char c : line.substr(0, line.find(kFreeSays))) {
      if (std::isdigit(static_cast<unsigned char>(c))) freeBytes = freeBytes * 10 + static_cast<std::uint64_t>(c - '0');
    }
    freeSeen = true;
  }
  return freeSeen;
}

}  // namespace

std::string VolumeFacts::SystemName() const {
  return fileSystem == "FAT12" || fileSystem == "FAT16" ? "FAT" : fileSystem;
}

VolumeFacts ReadVolumeFacts(const CardVolume& volume) {
  VolumeFacts facts;
  Sector sector{};
  if (!ReadBootSector(volume.device, volume.offset, sector) || sector[kSignature] != 0x55 ||
      sector[kSignature + 1] != 0xAA) {
    return facts;
  }
  if (Holds(sector, kOemName, "NTFS    ")) facts.fileSystem = "NTFS";
  if (Holds(sector, kOemName, "EXFAT   ")) facts.fileSystem = "exFAT";
  if (!Holds(sector, kFat16Type, "FAT") && !Holds(sector, kFat32Type, "FAT32")) return facts;
  facts.dataBytes = FatDataBytes(sector, facts.fileSystem);
  facts.useKnown = facts.dataBytes != 0 && ReadFatUse(volume, facts.label, facts.freeBytes) &&
                   facts.freeBytes <= facts.dataBytes;
  return facts;
}

}  // namespace linuxhost
