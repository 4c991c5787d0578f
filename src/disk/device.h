// Raw access to the card: whole 512-byte sectors of the volume device (its
// sector 0 is the volume boot sector) or of the physical drive (its sector 0
// is the master boot record), and the device queries.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace disk {

constexpr std::uint32_t kSectorSize = 512;
using Sector = std::array<std::uint8_t, kSectorSize>;

enum class Access : std::uint32_t {
  Query = 0,  // device queries only: needs no rights to the data
  Attributes = host::kFileReadAttributes,  // the same, and no file system is mounted for it
  Read = host::kGenericRead,
  ReadWrite = host::kGenericRead | host::kGenericWrite,
};

// A buffer of whole sectors for device transfers, aligned for unbuffered I/O
// (4096 bytes covers every sector size a reader may have).
class SectorBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;
  explicit SectorBuffer(std::uint32_t sectors);
  SectorBuffer(const SectorBuffer&) = delete;
  SectorBuffer& operator=(const SectorBuffer&) = delete;
  SectorBuffer(SectorBuffer&&) noexcept = default;
  SectorBuffer& operator=(SectorBuffer&&) noexcept = default;

  std::uint8_t* Data() { return storage_.data() + offset_; }
  const std::uint8_t* Data() const { return storage_.data() + offset_; }
  std::uint32_t Bytes() const { return bytes_; }
  void Fill(std::uint8_t value);

 private:
  std::vector<std::uint8_t> storage_;
  std::size_t offset_ = 0;
  std::uint32_t bytes_ = 0;
};

// Owns a file or device handle and closes it on every path.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(host::Handle handle) : handle_(handle) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept;
  ~UniqueHandle() { Close(); }

  bool Valid() const { return handle_ != host::kInvalidHandle; }
  host::Handle Get() const { return handle_; }
  host::Handle Release();
  void Close();

 private:
  host::Handle handle_ = host::kInvalidHandle;
};

// "\\.\A:" with its letter moved to the given drive letter.
std::string VolumePath(char driveLetter);

// The volume of the CardState drive root, and the CardState physical drive.
// Both fail (invalid handle) when their path is empty. Opened to write, they
// work past the system's cache (kUnbuffered).
UniqueHandle OpenVolume(Access access);
// The volume of any drive root ("F:\").
UniqueHandle OpenVolumeOf(const std::string& root, Access access);
UniqueHandle OpenPhysicalDrive(Access access);
// Opens any device path with the program's sharing and OPEN_EXISTING, and
// these CreateFile flags.
UniqueHandle OpenDevice(const std::string& path, Access access, std::uint32_t flags = 0);
// Past the system's cache both ways: what is read is what the card holds.
constexpr std::uint32_t kUnbuffered = host::kFileFlagNoBuffering | host::kFileFlagWriteThrough;

// True when the sector holds the text (without its NUL) at this offset.
template <std::size_t N>
bool SectorHolds(const Sector& sector, std::size_t offset, const char (&text)[N]) {
  static_assert(N > 1, "a text to look for");
  return offset + N - 1 <= sector.size() &&
         std::equal(text, text + N - 1, sector.begin() + static_cast<std::ptrdiff_t>(offset));
}

// A transfer counts only when every byte moved. Once a stop is requested
// (host::StopRequested) every write is refused.
bool ReadSectors(host::Handle handle, std::uint64_t firstSector, SectorBuffer& buffer);
bool WriteSectors(host::Handle handle, std::uint64_t firstSector, const SectorBuffer& buffer);
// One sector. A write counts only when the sector reads back as written:
// some cards and readers take a write and keep nothing.
bool ReadSectorAt(host::Handle handle, std::uint64_t sectorNumber, Sector& sector);
bool WriteSectorAt(host::Handle handle, std::uint64_t sectorNumber, const Sector& sector);
// The bytes a sector held before the program wrote it (a size test's
// sample, a mark), put back as WriteSectors would: the one write that goes
// on after a stop.
bool PutBackSector(host::Handle handle, std::uint64_t sectorNumber, const Sector& original);
bool ReadSector0(host::Handle handle, Sector& sector);
bool WriteSector0(host::Handle handle, const Sector& sector);

// Writes the sector back; on failure shows the given message in an error box.
// The handle is closed on both paths.
void WriteBackBootSector(UniqueHandle handle, const Sector& sector, unsigned messageId);

// 0 when the card's volume accepts a write of its own sector 0, 1 otherwise.
int ProbeVolumeWritable();

// Answers of the device queries, decoded from their Win32 byte layouts.
struct DiskGeometry {
  std::int64_t cylinders = 0;
  std::uint32_t mediaType = 0;
  std::uint32_t tracksPerCylinder = 0;
  std::uint32_t sectorsPerTrack = 0;
  std::uint32_t bytesPerSector = 0;
};

struct PartitionInformation {
  std::int64_t startingOffset = 0;
  std::int64_t partitionLength = 0;
  std::uint32_t hiddenSectors = 0;
  std::uint32_t partitionNumber = 0;
  std::uint8_t partitionType = 0;
  bool bootIndicator = false;
  bool recognizedPartition = false;
  bool rewritePartition = false;
};

enum class PartitionStyle : std::uint32_t { Mbr = 0, Gpt = 1, Raw = 2 };

// The partition type fields are those of an MBR disk; a GPT disk's entries
// carry their place and size only.
struct DriveLayout {
  PartitionStyle style = PartitionStyle::Raw;
  std::uint32_t signature = 0;
  std::vector<PartitionInformation> entries;
};

bool GetDeviceNumber(host::Handle volume, host::StorageDeviceNumber& number);
// DISK_GEOMETRY_EX: the geometry and the disk size in bytes.
bool GetDriveGeometryEx(host::Handle drive, DiskGeometry& geometry, std::uint64_t& diskSize);
bool GetDriveGeometry(host::Handle drive, DiskGeometry& geometry);
bool GetDriveLayout(host::Handle drive, DriveLayout& layout);

// Where a volume lies on its disk, in sectors: its start from the partition
// information (false without it), its length from IOCTL_DISK_GET_LENGTH_INFO
// where that answers, else from the partition information too.
struct VolumeExtent {
  std::uint64_t startSector = 0;
  std::uint64_t sectors = 0;
};
bool GetVolumeExtent(host::Handle volume, VolumeExtent& extent);

// The disk's size from the geometry (the extended query, else the plain
// one); false when neither answers with a sector size.
struct DiskSize {
  std::uint64_t bytes = 0;
  std::uint64_t sectors = 0;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t tracksPerCylinder = 0;
  std::uint32_t sectorsPerTrack = 0;
};
bool ReadDiskSize(host::Handle drive, DiskSize& size);

}  // namespace disk
