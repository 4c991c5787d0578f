// Raw access to the card: one whole 512-byte sector at byte 0 of the volume
// device (the volume boot sector) or of the physical drive (the master boot
// record), and the device queries.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host.h"

namespace disk {

constexpr std::uint32_t kSectorSize = 512;
using Sector = std::array<std::uint8_t, kSectorSize>;

enum class Access : std::uint32_t {
  Query = 0,  // device queries only: needs no rights to the data
  Read = host::kGenericRead,
  ReadWrite = host::kGenericRead | host::kGenericWrite,
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
// Both fail (invalid handle) when their path is empty.
UniqueHandle OpenVolume(Access access);
UniqueHandle OpenPhysicalDrive(Access access);
// Opens any device path with the program's sharing and OPEN_EXISTING.
UniqueHandle OpenDevice(const std::string& path, Access access);

// A transfer counts only when all 512 bytes moved. A write counts only when
// the sector reads back as written: some cards and readers take a write and
// keep nothing.
bool ReadSector0(host::Handle handle, Sector& sector);
bool WriteSector0(host::Handle handle, const Sector& sector);

// Writes the sector back; on failure shows the given message in an error box.
// The handle is closed on both paths.
void WriteBackBootSector(UniqueHandle handle, const Sector& sector, unsigned messageId);

// 0 when the card's volume accepts a write of its own sector 0, 1 otherwise.
int ProbeVolumeWritable();

// Writes the card volume's cached data through (FlushFileBuffers); a failure
// is not reported.
void FlushCardVolume();

// Flushes the card's volume, then asks the system to eject the card; false
// when the physical drive could not be opened.
bool EjectCard();

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

struct DriveLayout {
  std::uint32_t signature = 0;
  std::vector<PartitionInformation> entries;
};

bool GetDeviceNumber(host::Handle volume, host::StorageDeviceNumber& number);
// DISK_GEOMETRY_EX: the geometry and the disk size in bytes.
bool GetDriveGeometryEx(host::Handle drive, DiskGeometry& geometry, std::uint64_t& diskSize);
bool GetDriveGeometry(host::Handle drive, DiskGeometry& geometry);
bool GetDriveLayout(host::Handle drive, DriveLayout& layout);

// The disk's size from the geometry (the extended query, else the plain
// one); false when neither answers with a sector size.
struct DiskSize {
  std::uint64_t bytes = 0;
  std::uint64_t sectors = 0;
};
bool ReadDiskSize(host::Handle drive, DiskSize& size);

}  // namespace disk
