// What a volume of a card is, read from its boot sector and, for a FAT
// volume, from mtools (the label and the free space), without a mount. The
// Linux host and the simulated PC both answer the system's volume queries
// with it.
#pragma once

#include <cstdint>
#include <string>

#include "linux/card_files.h"

namespace linuxhost {

struct VolumeFacts {
  std::string fileSystem;  // "FAT12", "FAT16", "FAT32", "NTFS", "exFAT"; empty: none known
  std::string label;       // a FAT volume's; empty: none
  bool useKnown = false;   // a FAT volume whose free space was read
  std::uint64_t dataBytes = 0;  // its clusters'
  std::uint64_t freeBytes = 0;
  // The name Windows gives it: FAT12 and FAT16 are both "FAT".
  std::string SystemName() const;
};

VolumeFacts ReadVolumeFacts(const CardVolume& volume);

}  // namespace linuxhost
