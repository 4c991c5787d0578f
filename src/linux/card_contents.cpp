// What a card holds, in the terms its user knows it by: read from the
// card's bytes (its table, each volume's boot sector) and, for a FAT volume,
// from mtools (the label and the free space), without a mount.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <sstream>

#include "linux/card_files.h"
#include "linux/descriptor.h"
#include "linux/host_state.h"

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

PartitionContents Describe(const Card& card, std::uint32_t number, std::uint64_t offset, std::uint8_t type) {
  PartitionContents contents;
  contents.number = number;
  contents.offset = offset;
  contents.type = type;
  Sector sector{};
  if (!ReadBootSector(card.path, offset, sector) || sector[kSignature] != 0x55 || sector[kSignature + 1] != 0xAA) {
    return contents;
  }
  if (Holds(sector, kOemName, "NTFS    ")) contents.fileSystem = "NTFS";
  if (Holds(sector, kOemName, "EXFAT   ")) contents.fileSystem = "exFAT";
  if (!Holds(sector, kFat16Type, "FAT") && !Holds(sector, kFat32Type, "FAT32")) return contents;
  const std::uint64_t dataBytes = FatDataBytes(sector, contents.fileSystem);
  std::uint64_t freeBytes = 0;
  if (dataBytes != 0 && ReadFatUse({card.path, offset}, contents.label, freeBytes) && freeBytes <= dataBytes) {
    contents.usedKnown = true;
    contents.usedBytes = dataBytes - freeBytes;
  }
  return contents;
}

}  // namespace

bool ContentsOfCard(char letter, CardContents& contents) {
  const Card* card = nullptr;
  const MappedVolume* shown = HostState::Get().VolumeAt(letter, &card);
  if (shown == nullptr) return false;
  contents = CardContents{};
  contents.disk = card->path;
  contents.bytes = card->bytes;
  contents.vendor = card->vendor;
  contents.model = card->model;
  contents.gpt = card->layout.gpt;
  std::uint32_t place = 0;
  // A card shown as one volume from its first byte has no table, whatever
  // its boot code holds where a table would be.
  const bool whole = shown->range.partitionNumber == 0 && shown->range.offset == 0;
  for (const LayoutEntry& entry : whole ? std::vector<LayoutEntry>{} : card->layout.entries) {
    ++place;
    if (entry.partitionLength == 0 || (!card->layout.gpt && (entry.type == 0 || IsExtended(entry.type)))) continue;
    contents.table = true;
    const std::uint32_t number = entry.partitionNumber != 0 ? entry.partitionNumber : place;
    contents.partitions.push_back(
        Describe(*card, number, entry.startingOffset, card->layout.gpt ? std::uint8_t{0} : entry.type));
  }
  contents.table = contents.table || card->layout.gpt;
  if (!contents.table) contents.partitions.push_back(Describe(*card, 0, 0, 0));
  for (PartitionContents& partition : contents.partitions) partition.shownAs = partition.offset == shown->range.offset;
  return true;
}

}  // namespace linuxhost
