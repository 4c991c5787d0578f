#include "disk/device.h"

#include <algorithm>

#include "common/catalogue.h"
#include "common/card_state.h"
#include "res/ids.h"

namespace disk {
namespace {

constexpr char kVolumePathTemplate[] = "\\\\.\\A:";
constexpr std::size_t kVolumePathLetterIndex = 4;
constexpr std::uint32_t kShareReadWrite = host::kFileShareRead | host::kFileShareWrite;

// Byte layouts of the query answers.
constexpr std::uint32_t kDiskGeometrySize = 24;
constexpr std::size_t kGeometryCylinders = 0;
constexpr std::size_t kGeometryMediaType = 8;
constexpr std::size_t kGeometryTracksPerCylinder = 12;
constexpr std::size_t kGeometrySectorsPerTrack = 16;
constexpr std::size_t kGeometryBytesPerSector = 20;
constexpr std::size_t kGeometryExDiskSize = 24;
constexpr std::uint32_t kGeometryExMinimumSize = 32;

constexpr std::size_t kLayoutPartitionCount = 0;
constexpr std::size_t kLayoutSignature = 4;
constexpr std::size_t kLayoutFirstEntry = 8;
constexpr std::size_t kLayoutEntrySize = 32;
constexpr std::size_t kEntryStartingOffset = 0;
constexpr std::size_t kEntryPartitionLength = 8;
constexpr std::size_t kEntryHiddenSectors = 16;
constexpr std::size_t kEntryPartitionNumber = 20;
constexpr std::size_t kEntryPartitionType = 24;
constexpr std::size_t kEntryBootIndicator = 25;
constexpr std::size_t kEntryRecognized = 26;
constexpr std::size_t kEntryRewrite = 27;

// Room for the geometry answer and for 632 layout entries after the head.
constexpr std::uint32_t kQueryBufferSize = 20240;

std::uint32_t Le32(const std::uint8_t* bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

std::int64_t Le64(const std::uint8_t* bytes) {
  const std::uint64_t low = Le32(bytes);
  const std::uint64_t high = Le32(bytes + 4);
  return static_cast<std::int64_t>((high << 32) | low);
}

DiskGeometry DecodeGeometry(const std::uint8_t* bytes) {
  DiskGeometry geometry;
  geometry.cylinders = Le64(bytes + kGeometryCylinders);
  geometry.mediaType = Le32(bytes + kGeometryMediaType);
  geometry.tracksPerCylinder = Le32(bytes + kGeometryTracksPerCylinder);
  geometry.sectorsPerTrack = Le32(bytes + kGeometrySectorsPerTrack);
  geometry.bytesPerSector = Le32(bytes + kGeometryBytesPerSector);
  return geometry;
}

PartitionInformation DecodeEntry(const std::uint8_t* bytes) {
  PartitionInformation entry;
  entry.startingOffset = Le64(bytes + kEntryStartingOffset);
  entry.partitionLength = Le64(bytes + kEntryPartitionLength);
  entry.hiddenSectors = Le32(bytes + kEntryHiddenSectors);
  entry.partitionNumber = Le32(bytes + kEntryPartitionNumber);
  entry.partitionType = bytes[kEntryPartitionType];
  entry.bootIndicator = bytes[kEntryBootIndicator] != 0;
  entry.recognizedPartition = bytes[kEntryRecognized] != 0;
  entry.rewritePartition = bytes[kEntryRewrite] != 0;
  return entry;
}

}  // namespace

UniqueHandle& UniqueHandle::operator=(UniqueHandle&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

host::Handle UniqueHandle::Release() {
  const host::Handle handle = handle_;
  handle_ = host::kInvalidHandle;
  return handle;
}

void UniqueHandle::Close() {
  if (Valid()) host::CloseHandle(Release());
}

std::string VolumePath(char driveLetter) {
  std::string path = kVolumePathTemplate;
  path[kVolumePathLetterIndex] = static_cast<char>(path[kVolumePathLetterIndex] + (driveLetter - 'A'));
  return path;
}

UniqueHandle OpenDevice(const std::string& path, Access access) {
  if (path.empty()) return UniqueHandle();
  return UniqueHandle(host::CreateFile(path.c_str(), static_cast<std::uint32_t>(access),
                                       kShareReadWrite, host::kOpenExisting));
}

UniqueHandle OpenVolume(Access access) {
  const std::string& root = common::gCardState.driveRoot;
  if (root.empty()) return UniqueHandle();
  return OpenDevice(VolumePath(root[0]), access);
}

UniqueHandle OpenPhysicalDrive(Access access) {
  return OpenDevice(common::gCardState.physicalDrivePath, access);
}

bool ReadSector0(host::Handle handle, Sector& sector) {
  std::uint32_t transferred = 0;
  return host::ReadAtZero(handle, sector.data(), kSectorSize, transferred) &&
         transferred == kSectorSize;
}

bool WriteSector0(host::Handle handle, const Sector& sector) {
  std::uint32_t transferred = 0;
  if (!host::WriteAtZero(handle, sector.data(), kSectorSize, transferred) ||
      transferred != kSectorSize) {
    return false;
  }
  Sector readBack{};
  return ReadSector0(handle, readBack) && readBack == sector;
}

void WriteBackBootSector(UniqueHandle handle, const Sector& sector, unsigned messageId) {
  if (!WriteSector0(handle.Get(), sector)) common::ShowErrorMessage(messageId);
  handle.Close();
}

int ProbeVolumeWritable() {
  UniqueHandle volume = OpenVolume(Access::ReadWrite);
  if (!volume.Valid()) return 1;
  Sector sector{};
  if (!ReadSector0(volume.Get(), sector)) return 1;
  return WriteSector0(volume.Get(), sector) ? 0 : 1;
}

void FlushCardVolume() {
  UniqueHandle volume = OpenVolume(Access::ReadWrite);
  if (volume.Valid()) host::FlushFileBuffers(volume.Get());
}

bool EjectCard() {
  FlushCardVolume();  // nothing cached may be lost when the card comes out
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  if (!drive.Valid()) return false;
  host::EjectMedia(drive.Get());  // the remove prompts follow whatever it answers
  return true;
}

bool GetDeviceNumber(host::Handle volume, host::StorageDeviceNumber& number) {
  return host::QueryDeviceNumber(volume, number);
}

bool GetDriveGeometryEx(host::Handle drive, DiskGeometry& geometry, std::uint64_t& diskSize) {
  std::vector<std::uint8_t> buffer(kQueryBufferSize, 0);
  if (!host::QueryDriveGeometryEx(drive, buffer.data(), kQueryBufferSize)) return false;
  static_assert(kGeometryExMinimumSize <= kQueryBufferSize, "answer fits");
  geometry = DecodeGeometry(buffer.data());
  diskSize = static_cast<std::uint64_t>(Le64(buffer.data() + kGeometryExDiskSize));
  return true;
}

bool GetDriveGeometry(host::Handle drive, DiskGeometry& geometry) {
  std::array<std::uint8_t, kDiskGeometrySize> buffer{};
  if (!host::QueryDriveGeometry(drive, buffer.data(), kDiskGeometrySize)) return false;
  geometry = DecodeGeometry(buffer.data());
  return true;
}

bool GetDriveLayout(host::Handle drive, DriveLayout& layout) {
  std::vector<std::uint8_t> buffer(kQueryBufferSize, 0);
  if (!host::QueryDriveLayout(drive, buffer.data(), kQueryBufferSize)) return false;
  layout.signature = Le32(buffer.data() + kLayoutSignature);
  layout.entries.clear();
  // Never trust the count beyond what the buffer can hold.
  const std::size_t capacity = (kQueryBufferSize - kLayoutFirstEntry) / kLayoutEntrySize;
  const std::size_t count = std::min<std::size_t>(Le32(buffer.data() + kLayoutPartitionCount), capacity);
  for (std::size_t k = 0; k < count; ++k) {
    layout.entries.push_back(DecodeEntry(buffer.data() + kLayoutFirstEntry + k * kLayoutEntrySize));
  }
  return true;
}


bool ReadDiskSize(host::Handle drive, DiskSize& size) {
  DiskGeometry geometry;
  std::uint64_t diskSize = 0;
  if (GetDriveGeometryEx(drive, geometry, diskSize) && geometry.bytesPerSector != 0) {
    size.bytes = diskSize;
    size.sectors = diskSize / geometry.bytesPerSector;
    return true;
  }
  // A zero sector size answers nothing here either.
  if (GetDriveGeometry(drive, geometry) && geometry.cylinders >= 0 && geometry.bytesPerSector != 0) {
    const std::uint64_t sectors = static_cast<std::uint64_t>(geometry.cylinders) *
                                  geometry.tracksPerCylinder * geometry.sectorsPerTrack;
    size.bytes = sectors * geometry.bytesPerSector;
    size.sectors = sectors;
    return true;
  }
  return false;
}

}  // namespace disk
