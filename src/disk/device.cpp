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

// DRIVE_LAYOUT_INFORMATION_EX and its PARTITION_INFORMATION_EX entries.
constexpr std::size_t kLayoutStyle = 0;
constexpr std::size_t kLayoutPartitionCount = 4;
constexpr std::size_t kLayoutSignature = 8;
constexpr std::size_t kLayoutFirstEntry = 48;
constexpr std::size_t kLayoutEntrySize = 144;
constexpr std::size_t kEntryStartingOffset = 8;
constexpr std::size_t kEntryPartitionLength = 16;
constexpr std::size_t kEntryPartitionNumber = 24;
constexpr std::size_t kEntryRewrite = 28;
constexpr std::size_t kEntryPartitionType = 32;
constexpr std::size_t kEntryBootIndicator = 33;
constexpr std::size_t kEntryRecognized = 34;
constexpr std::size_t kEntryHiddenSectors = 36;

// Room for the geometry answer, and for the layout's head and 632 entries.
constexpr std::uint32_t kQueryBufferSize = 48 + 632 * 144;

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

PartitionInformation DecodeEntry(const std::uint8_t* bytes, PartitionStyle style) {
  PartitionInformation entry;
  entry.startingOffset = Le64(bytes + kEntryStartingOffset);
  entry.partitionLength = Le64(bytes + kEntryPartitionLength);
  entry.partitionNumber = Le32(bytes + kEntryPartitionNumber);
  entry.rewritePartition = bytes[kEntryRewrite] != 0;
  if (style != PartitionStyle::Mbr) return entry;
  entry.hiddenSectors = Le32(bytes + kEntryHiddenSectors);
  entry.partitionType = bytes[kEntryPartitionType];
  entry.bootIndicator = bytes[kEntryBootIndicator] != 0;
  entry.recognizedPartition = bytes[kEntryRecognized] != 0;
  return entry;
}

// What the program writes it reads back through the same handle to see it
// kept: past the system's cache both ways.
std::uint32_t FlagsFor(Access access) { return access == Access::ReadWrite ? kUnbuffered : 0; }

bool Transferred(bool result, std::uint32_t transferred, std::uint32_t size) {
  return result && transferred == size;
}

}  // namespace

SectorBuffer::SectorBuffer(std::uint32_t sectors)
    : storage_(sectors * std::size_t{kSectorSize} + kAlignment, 0), bytes_(sectors * kSectorSize) {
  const auto address = reinterpret_cast<std::uintptr_t>(storage_.data());
  offset_ = (kAlignment - address % kAlignment) % kAlignment;
}

void SectorBuffer::Fill(std::uint8_t value) { std::fill(Data(), Data() + bytes_, value); }

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

UniqueHandle OpenDevice(const std::string& path, Access access, std::uint32_t flags) {
  if (path.empty()) return UniqueHandle();
  return UniqueHandle(host::CreateFile(path.c_str(), static_cast<std::uint32_t>(access),
                                       kShareReadWrite, host::kOpenExisting, flags));
}

UniqueHandle OpenVolume(Access access) { return OpenVolumeOf(common::gCardState.driveRoot, access); }

UniqueHandle OpenVolumeOf(const std::string& root, Access access) {
  if (root.empty()) return UniqueHandle();
  return OpenDevice(VolumePath(root[0]), access, FlagsFor(access));
}

UniqueHandle OpenPhysicalDrive(Access access) {
  return OpenDevice(common::gCardState.physicalDrivePath, access, FlagsFor(access));
}

bool ReadSectors(host::Handle handle, std::uint64_t firstSector, SectorBuffer& buffer) {
  std::uint32_t transferred = 0;
  const bool result =
      host::ReadAt(handle, firstSector * kSectorSize, buffer.Data(), buffer.Bytes(), transferred);
  return Transferred(result, transferred, buffer.Bytes());
}

namespace {

bool WriteEvenAfterStop(host::Handle handle, std::uint64_t firstSector, const SectorBuffer& buffer) {
  std::uint32_t transferred = 0;
  const bool result =
      host::WriteAt(handle, firstSector * kSectorSize, buffer.Data(), buffer.Bytes(), transferred);
  return Transferred(result, transferred, buffer.Bytes());
}

}  // namespace

bool WriteSectors(host::Handle handle, std::uint64_t firstSector, const SectorBuffer& buffer) {
  // After a stop the step in hand ends here, at its next write.
  return !host::StopRequested() && WriteEvenAfterStop(handle, firstSector, buffer);
}

bool ReadSectorAt(host::Handle handle, std::uint64_t sectorNumber, Sector& sector) {
  SectorBuffer buffer(1);
  if (!ReadSectors(handle, sectorNumber, buffer)) return false;
  std::copy(buffer.Data(), buffer.Data() + kSectorSize, sector.begin());
  return true;
}

bool WriteSectorAt(host::Handle handle, std::uint64_t sectorNumber, const Sector& sector) {
  SectorBuffer buffer(1);
  std::copy(sector.begin(), sector.end(), buffer.Data());
  if (!WriteSectors(handle, sectorNumber, buffer)) return false;
  Sector readBack{};
  return ReadSectorAt(handle, sectorNumber, readBack) && readBack == sector;
}

bool PutBackSector(host::Handle handle, std::uint64_t sectorNumber, const Sector& original) {
  SectorBuffer buffer(1);
  std::copy(original.begin(), original.end(), buffer.Data());
  return WriteEvenAfterStop(handle, sectorNumber, buffer);
}

bool ReadSector0(host::Handle handle, Sector& sector) { return ReadSectorAt(handle, 0, sector); }

bool WriteSector0(host::Handle handle, const Sector& sector) {
  return WriteSectorAt(handle, 0, sector);
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
  if (!host::QueryDriveLayoutEx(drive, buffer.data(), kQueryBufferSize)) return false;
  layout.style = static_cast<PartitionStyle>(Le32(buffer.data() + kLayoutStyle));
  layout.signature = layout.style == PartitionStyle::Mbr ? Le32(buffer.data() + kLayoutSignature) : 0;
  layout.entries.clear();
  // Never trust the count beyond what the buffer can hold.
  const std::size_t capacity = (kQueryBufferSize - kLayoutFirstEntry) / kLayoutEntrySize;
  const std::size_t count = std::min<std::size_t>(Le32(buffer.data() + kLayoutPartitionCount), capacity);
  for (std::size_t k = 0; k < count; ++k) {
    layout.entries.push_back(
        DecodeEntry(buffer.data() + kLayoutFirstEntry + k * kLayoutEntrySize, layout.style));
  }
  return true;
}


bool GetVolumeExtent(host::Handle volume, VolumeExtent& extent) {
  host::PartitionInfo place;
  if (!host::QueryPartitionInfo(volume, place) || place.startingOffset < 0 || place.partitionLength < 0) {
    return false;
  }
  std::uint64_t length = static_cast<std::uint64_t>(place.partitionLength);
  host::QueryLength(volume, length);  // the partition's length where it does not answer
  extent.startSector = static_cast<std::uint64_t>(place.startingOffset) / kSectorSize;
  extent.sectors = length / kSectorSize;
  return true;
}

bool ReadDiskSize(host::Handle drive, DiskSize& size) {
  DiskGeometry geometry;
  std::uint64_t diskSize = 0;
  const auto take = [&size, &geometry](std::uint64_t bytes, std::uint64_t sectors) {
    size.bytes = bytes;
    size.sectors = sectors;
    size.bytesPerSector = geometry.bytesPerSector;
    size.tracksPerCylinder = geometry.tracksPerCylinder;
    size.sectorsPerTrack = geometry.sectorsPerTrack;
    return true;
  };
  if (GetDriveGeometryEx(drive, geometry, diskSize) && geometry.bytesPerSector != 0) {
    return take(diskSize, diskSize / geometry.bytesPerSector);
  }
  // A zero sector size answers nothing here either.
  if (GetDriveGeometry(drive, geometry) && geometry.cylinders >= 0 && geometry.bytesPerSector != 0) {
    const std::uint64_t sectors = static_cast<std::uint64_t>(geometry.cylinders) *
                                  geometry.tracksPerCylinder * geometry.sectorsPerTrack;
    return take(sectors * geometry.bytesPerSector, sectors);
  }
  return false;
}

}  // namespace disk
