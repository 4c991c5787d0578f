// The disks that Windows runs from: never a card, whatever a drive letter says.
#pragma once

#include "host/host.h"

namespace disk {

enum class DeviceVerdict {
  Card,              // a disk that is not a system disk
  NotACard,          // the system disk, or no disk at all
  SystemDiskUnknown  // the system disks cannot be told: no card is trusted
};

DeviceVerdict JudgeDevice(const host::StorageDeviceNumber& device);

}  // namespace disk
