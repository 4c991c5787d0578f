#include "linux/disk_layout.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace linuxhost {
namespace {

constexpr std::size_t kTableOffset = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryCount = 4;
constexpr std::size_t kEntryBoot = 0;
constexpr std::size_t kEntryType = 4;
constexpr std::size_t kEntryFirst = 8;
constexpr std::size_t kEntrySectors = 12;
constexpr std::uint8_t kActive = 0x80;
constexpr std::size_t kSignatureOffset = 510;
constexpr std::size_t kDiskSignatureOffset = 440;
constexpr std::uint8_t kGptProtective = 0xEE;
// A chain longer than this loops.
constexpr int kMaximumChain = 1000;

// The GUID table's header, in sector 1, and its entries.
constexpr char kGptSignature[] = "EFI PART";
constexpr std::size_t kGptEntriesLba = 72;
constexpr std::size_t kGptEntryCount = 80;
constexpr std::size_t kGptEntrySize = 84;
constexpr std::uint32_t kGptMinimumEntrySize = 128;
// Entries are 128 bytes times a power of two; no table needs them over a
// sector, nor more than this many: a header that says otherwise is no table.
constexpr std::uint32_t kGptMaximumEntrySize = 4096;
constexpr std::uint32_t kGptEntrySizeUnit = 8;
constexpr std::uint32_t kGptMaximumEntries = 1024;
// The array follows the header, at sector 2 at the earliest.
constexpr std::uint64_t kGptFirstArrayLba = 2;
constexpr std::size_t kGptFirstLba = 32;
constexpr std::size_t kGptLastLba = 40;
constexpr std::size_t kGuidSize = 16;
// The basic data partition type, as a GUID table stores it.
constexpr std::uint8_t kBasicDataGuid[kGuidSize] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                                    0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};

// DRIVE_LAYOUT_INFORMATION_EX and PARTITION_INFORMATION_EX.
constexpr std::uint32_t kLayoutHead = 48;
constexpr std::uint32_t kLayoutEntry = 144;
constexpr std::size_t kLayoutStyle = 0;
constexpr std::size_t kLayoutCount = 4;
constexpr std::size_t kLayoutSignature = 8;
constexpr std::size_t kPartStyle = 0;
constexpr std::size_t kPartStart = 8;
constexpr std::size_t kPartLength = 16;
constexpr std::size_t kPartNumber = 24;
constexpr std::size_t kPartType = 32;
constexpr std::size_t kPartBoot = 33;
constexpr std::size_t kPartRecognized = 34;
constexpr std::size_t kPartHidden = 36;
constexpr std::uint32_t kStyleMbr = 0;
constexpr std::uint32_t kStyleGpt = 1;

// DISK_GEOMETRY and DISK_GEOMETRY_EX.
constexpr std::uint32_t kGeometrySize = 24;
constexpr std::uint32_t kGeometryExSize = 32;
constexpr std::uint32_t kTracksPerCylinder = 255;
constexpr std::uint32_t kSectorsPerTrack = 63;
constexpr std::uint32_t kRemovableMedia = 11;

bool HasSignature(const std::vector<std::uint8_t>& sector) {
  return sector.size() == kSectorBytes && sector[kSignatureOffset] == 0x55 && sector[kSignatureOffset + 1] == 0xAA;
}

std::vector<std::uint8_t> SectorAt(const DiskReader& read, std::uint64_t lba) {
  std::vector<std::uint8_t> sector;
  if (!read(lba * kSectorBytes, kSectorBytes, sector) || sector.size() != kSectorBytes) sector.clear();
  return sector;
}

// One entry of a table sector, its first sector relative to base.
LayoutEntry EntryAt(const std::vector<std::uint8_t>& sector, std::size_t index, std::uint64_t base) {
  const std::uint8_t* e = sector.data() + kTableOffset + kEntrySize * index;
  LayoutEntry entry;
  entry.type = e[kEntryType];
  entry.boot = e[kEntryBoot] == kActive;
  if (entry.type == 0) return entry;
  entry.hiddenSectors = GetLe32(e + kEntryFirst);
  entry.startingOffset = (base + GetLe32(e + kEntryFirst)) * kSectorBytes;
  entry.partitionLength = std::uint64_t{GetLe32(e + kEntrySectors)} * kSectorBytes;
  return entry;
}

bool ReadGpt(const DiskReader& read, std::uint64_t diskBytes, std::vector<LayoutEntry>& layout) {
  const std::vector<std::uint8_t> header = SectorAt(read, 1);
  if (header.empty() || std::memcmp(header.data(), kGptSignature, sizeof kGptSignature - 1) != 0) return false;
  const std::uint64_t entries = GetLe64(header.data() + kGptEntriesLba);
  const std::uint32_t count = GetLe32(header.data() + kGptEntryCount);
  const std::uint32_t size = GetLe32(header.data() + kGptEntrySize);
  if (size < kGptMinimumEntrySize || size > kGptMaximumEntrySize || size % kGptEntrySizeUnit != 0 ||
      count > kGptMaximumEntries) {
    return false;
  }
  // The whole array within the disk, checked before a byte is read.
  const std::uint64_t arrayBytes = std::uint64_t{count} * size;
  const std::uint64_t diskSectors = diskBytes / kSectorBytes;
  if (entries < kGptFirstArrayLba || entries >= diskSectors || arrayBytes > (diskSectors - entries) * kSectorBytes) {
    return false;
  }
  std::vector<std::uint8_t> table;
  if (!read(entries * kSectorBytes, static_cast<std::size_t>(arrayBytes), table) || table.size() < arrayBytes) {
    return false;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* e = table.data() + std::size_t{i} * size;
    if (std::all_of(e, e + kGuidSize, [](std::uint8_t b) { return b == 0; })) continue;
    const std::uint64_t first = GetLe64(e + kGptFirstLba);
    const std::uint64_t last = GetLe64(e + kGptLastLba);
    // An entry outside the disk is none (and its bytes would overflow).
    if (last < first || last >= diskSectors) continue;
    LayoutEntry entry;
    entry.startingOffset = first * kSectorBytes;
    entry.partitionLength = (last - first + 1) * kSectorBytes;
    entry.partitionNumber = static_cast<std::uint32_t>(layout.size() + 1);
    entry.basicData = std::memcmp(e, kBasicDataGuid, kGuidSize) == 0;
    layout.push_back(entry);
  }
  return true;
}

}  // namespace

std::uint32_t GetLe32(const std::uint8_t* at) {
  return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
         std::uint32_t{at[3]} << 24;
}

std::uint64_t GetLe64(const std::uint8_t* at) {
  return std::uint64_t{GetLe32(at)} | std::uint64_t{GetLe32(at + 4)} << 32;
}

void PutLe32(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutLe64(std::uint8_t* at, std::uint64_t value) {
  PutLe32(at, value & 0xFFFFFFFFu);
  PutLe32(at + 4, value >> 32);
}

bool IsExtended(std::uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

bool IsMountable(const LayoutEntry& entry) {
  switch (entry.type) {
    case 0x01: case 0x04: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E: return true;
    default: return entry.basicData;
  }
}

DiskLayout ReadLayout(const DiskReader& read, std::uint64_t diskBytes) {
  DiskLayout layout;
  const std::vector<std::uint8_t> mbr = SectorAt(read, 0);
  if (!HasSignature(mbr)) {
    layout.entries.resize(kEntryCount);
    return layout;
  }
  layout.gpt = mbr[kTableOffset + kEntryType] == kGptProtective && ReadGpt(read, diskBytes, layout.entries);
  if (layout.gpt) return layout;
  layout.signature = GetLe32(mbr.data() + kDiskSignatureOffset);
  std::uint64_t extendedStart = 0;
  for (std::size_t i = 0; i < kEntryCount; ++i) {
    layout.entries.push_back(EntryAt(mbr, i, 0));
    if (IsExtended(layout.entries.back().type) && extendedStart == 0) {
      extendedStart = layout.entries.back().startingOffset / kSectorBytes;
    }
  }
  std::uint64_t ebr = extendedStart;
  std::set<std::uint64_t> visited;
  // The chain ends at a link back to a record already read, or past the disk.
  for (int guard = 0; ebr != 0 && guard < kMaximumChain && visited.insert(ebr).second; ++guard) {
    if ((ebr + 1) * kSectorBytes > diskBytes) break;
    const std::vector<std::uint8_t> sector = SectorAt(read, ebr);
    if (!HasSignature(sector)) break;
    std::uint64_t next = 0;
    for (std::size_t i = 0; i < kEntryCount; ++i) {
      const bool link = IsExtended(sector[kTableOffset + kEntrySize * i + kEntryType]);
      LayoutEntry entry = EntryAt(sector, i, link ? extendedStart : ebr);
      if (link && next == 0) next = entry.startingOffset / kSectorBytes;
      layout.entries.push_back(entry);
    }
    ebr = next;
  }
  std::uint32_t number = 0;
  for (LayoutEntry& entry : layout.entries) {
    if (entry.type != 0 && !IsExtended(entry.type)) entry.partitionNumber = ++number;
  }
  return layout;
}

std::vector<VolumeRange> MountableVolumes(const DiskLayout& layout, std::uint64_t diskBytes) {
  std::vector<VolumeRange> volumes;
  for (const LayoutEntry& entry : layout.entries) {
    // Entries that reach past the disk's end are not mounted either.
    if (!IsMountable(entry) || entry.partitionLength == 0 ||
        entry.startingOffset + entry.partitionLength > diskBytes) {
      continue;
    }
    volumes.push_back({entry.startingOffset, entry.partitionLength, entry.partitionNumber});
  }
  if (volumes.empty()) volumes.push_back({0, diskBytes, 0});
  return volumes;
}

bool EncodeLayout(const DiskLayout& layout, void* buffer, std::uint32_t size) {
  if (size < kLayoutHead + std::uint64_t{kLayoutEntry} * layout.entries.size()) return false;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint32_t style = layout.gpt ? kStyleGpt : kStyleMbr;
  PutLe32(bytes + kLayoutStyle, style);
  PutLe32(bytes + kLayoutCount, layout.entries.size());
  if (!layout.gpt) PutLe32(bytes + kLayoutSignature, layout.signature);
  for (std::size_t k = 0; k < layout.entries.size(); ++k) {
    std::uint8_t* entry = bytes + kLayoutHead + kLayoutEntry * k;
    const LayoutEntry& e = layout.entries[k];
    PutLe32(entry + kPartStyle, style);
    PutLe64(entry + kPartStart, e.startingOffset);
    PutLe64(entry + kPartLength, e.partitionLength);
    PutLe32(entry + kPartNumber, e.partitionNumber);
    if (layout.gpt) continue;
    entry[kPartType] = e.type;
    entry[kPartBoot] = e.boot ? 1 : 0;
    entry[kPartRecognized] = e.partitionNumber != 0 ? 1 : 0;
    PutLe32(entry + kPartHidden, e.hiddenSectors);
  }
  return true;
}

bool EncodeGeometry(std::uint64_t diskBytes, std::uint32_t bytesPerSector, void* buffer, std::uint32_t size) {
  if (size < kGeometrySize) return false;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t cylinders = diskBytes / (kTracksPerCylinder * kSectorsPerTrack * kSectorBytes);
  PutLe64(bytes, cylinders);
  PutLe32(bytes + 8, kRemovableMedia);
  PutLe32(bytes + 12, kTracksPerCylinder);
  PutLe32(bytes + 16, kSectorsPerTrack);
  PutLe32(bytes + 20, bytesPerSector);
  return true;
}

bool EncodeGeometryEx(std::uint64_t diskBytes, std::uint32_t bytesPerSector, void* buffer, std::uint32_t size) {
  if (size < kGeometryExSize || !EncodeGeometry(diskBytes, bytesPerSector, buffer, size)) return false;
  PutLe64(static_cast<std::uint8_t*>(buffer) + kGeometrySize, diskBytes);
  return true;
}

}  // namespace linuxhost
