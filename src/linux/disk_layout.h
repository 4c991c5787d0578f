// A disk's partition table read from the disk itself (the MBR with its chain
// of extended boot records, or a GUID table), answered as Windows answers
// the disk queries: DRIVE_LAYOUT_INFORMATION_EX and DISK_GEOMETRY(_EX).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace linuxhost {

constexpr std::uint64_t kSectorBytes = 512;

// What Windows reports for one partition of a layout.
struct LayoutEntry {
  std::uint64_t startingOffset = 0;
  std::uint64_t partitionLength = 0;
  std::uint32_t hiddenSectors = 0;
  std::uint32_t partitionNumber = 0;
  std::uint8_t type = 0;
  bool boot = false;
  bool basicData = false;  // a GUID table's entry of a type Windows mounts
};

struct DiskLayout {
  bool gpt = false;
  std::uint32_t signature = 0;  // the MBR's disk signature
  std::vector<LayoutEntry> entries;
};

// Reads size bytes at a byte offset of the disk; false when it cannot.
using DiskReader = std::function<bool(std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& bytes)>;

// Four entries for the MBR's table, then four for every extended boot record
// of the chain; a GUID table's entries in use. A sector 0 without the
// signature gives four empty entries.
DiskLayout ReadLayout(const DiskReader& read, std::uint64_t diskBytes);

bool IsExtended(std::uint8_t type);
// The partition types Windows mounts.
bool IsMountable(const LayoutEntry& entry);

// A byte range of the disk that shows as a volume.
struct VolumeRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint32_t partitionNumber = 0;
};
// Every partition Windows 10 and 11 mount, in the layout's order; a disk
// with none is one volume over the whole disk.
std::vector<VolumeRange> MountableVolumes(const DiskLayout& layout, std::uint64_t diskBytes);

// DRIVE_LAYOUT_INFORMATION_EX into the buffer; false when it does not fit.
bool EncodeLayout(const DiskLayout& layout, void* buffer, std::uint32_t size);
// DISK_GEOMETRY of a card (255 heads, 63 sectors a track, whole cylinders),
// and DISK_GEOMETRY_EX (the same, then the disk's size); false when the
// buffer is too small.
bool EncodeGeometry(std::uint64_t diskBytes, std::uint32_t bytesPerSector, void* buffer, std::uint32_t size);
bool EncodeGeometryEx(std::uint64_t diskBytes, std::uint32_t bytesPerSector, void* buffer, std::uint32_t size);

std::uint32_t GetLe32(const std::uint8_t* at);
std::uint64_t GetLe64(const std::uint8_t* at);
void PutLe32(std::uint8_t* at, std::uint64_t value);
void PutLe64(std::uint8_t* at, std::uint64_t value);

}  // namespace linuxhost
