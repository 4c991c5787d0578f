// The program's own FAT32 format, for the volumes that the system's
// format.com refuses: FAT32 over 32 GiB, up to the 2 TiB that a 32-bit
// sector count holds.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/host.h"

namespace install {

// 32 KiB clusters.
constexpr std::uint32_t kOwnFormatSectorsPerCluster = 64;
// format.com formats FAT32 up to 32 GiB.
constexpr std::uint64_t kFormatComFat32MaximumSectors = 67108864;

// Where everything of the file system lies, in sectors of the volume.
struct Fat32Plan {
  std::uint32_t totalSectors = 0;
  std::uint32_t hiddenSectors = 0;  // where the volume starts on its card
  std::uint32_t sectorsPerCluster = kOwnFormatSectorsPerCluster;
  std::uint32_t reservedSectors = 0;
  std::uint32_t fatSectors = 0;
  std::uint32_t clusters = 0;
  std::uint16_t sectorsPerTrack = 0;
  std::uint16_t heads = 0;
  std::uint32_t serial = 0;

  std::uint64_t DataStart() const { return reservedSectors + std::uint64_t{2} * fatSectors; }
};

// Lays FAT32 out on a volume of this many sectors that starts at this
// sector of its card: its first data cluster on a 4 MiB boundary of the
// card, where SD cards erase. False when FAT32 cannot hold the volume.
bool PlanFat32(std::uint64_t startSector, std::uint64_t sectors, std::uint32_t sectorsPerCluster,
               Fat32Plan& plan);

// Writes the file system of the plan through a volume handle that may write
// it: the reserved sectors cleared, both FATs, the root folder's cluster,
// FSInfo and the boot sector with their backups, the boot sector last. A
// full format also writes zeros over the data area. Progress is told in
// percent. 0 when every write succeeded, 1 otherwise.
int WriteFat32(host::Handle volume, const Fat32Plan& plan, bool full,
               const std::function<void(int percent)>& progress);

// Takes the volume for the format's writes: locked, allowed to reach its
// last sectors, dismounted. False when the system refuses any of them.
bool PrepareVolumeForFormat(host::Handle volume);

// Formats the volume of the card root so, prepared so while it works, the
// main window showing the progress but taking no input. 0 when formatted,
// 1 otherwise.
int FormatFat32Volume(const std::string& cardRoot, bool quick);

}  // namespace install
