#include "disk/system_disk.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "disk/device.h"

namespace disk {
namespace {

// Every disk that the Windows folder's volume spans. The volume is opened for
// queries only, which needs no rights to its data.
bool SystemDiskNumbers(std::vector<std::uint32_t>& disks) {
  const std::string windows = host::GetSystemWindowsDirectory();
  if (windows.empty() || !std::isalpha(static_cast<unsigned char>(windows[0]))) return false;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(windows[0])));
  UniqueHandle volume = OpenDevice(VolumePath(letter), Access::Query);
  if (!volume.Valid()) return false;
  if (host::QueryVolumeDiskNumbers(volume.Get(), disks) && !disks.empty()) return true;
  host::StorageDeviceNumber device;
  if (!GetDeviceNumber(volume.Get(), device)) return false;
  disks.assign(1, device.deviceNumber);
  return true;
}

}  // namespace

DeviceVerdict JudgeDevice(const host::StorageDeviceNumber& device) {
  std::vector<std::uint32_t> systemDisks;
  if (!SystemDiskNumbers(systemDisks)) return DeviceVerdict::SystemDiskUnknown;
  if (device.deviceType != host::kFileDeviceDisk) return DeviceVerdict::NotACard;
  const bool system =
      std::find(systemDisks.begin(), systemDisks.end(), device.deviceNumber) != systemDisks.end();
  return system ? DeviceVerdict::NotACard : DeviceVerdict::Card;
}

}  // namespace disk
