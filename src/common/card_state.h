// The program's shared description of the selected card and the drive list.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace common {

// The selected card. A card is identified when physicalDrivePath is not
// empty; every card command tests that first.
struct CardState {
  std::string driveRoot;          // "E:\" (upper-case letter), empty when none
  std::string physicalDrivePath;  // "\\.\PHYSICALDRIVEn", empty when none
  std::int32_t totalSizeMb = 0;
  std::uint64_t totalSectors = 0;  // never cut to 32 bits: layouts check it
  std::int32_t firstPartitionSizeMb = 0;
  std::int32_t partitionCount = 0;
  std::int32_t bootMarkSeen = 0;
  // The partition that the selected letter shows, which need not be the
  // table's first: its size decides what it can be formatted as.
  std::int32_t volumeSizeMb = 0;
  std::uint64_t volumeSectors = 0;
  bool gptDisk = false;  // a GUID table: no MBR partition at all
};

constexpr int kDriveSlotCount = 26;
// Drive numbers (A = 1 ... Z = 26) of the removable drives the last scan
// found, ascending, 0 beyond them.
using DriveSlotTable = std::array<std::int32_t, kDriveSlotCount>;

extern CardState gCardState;
extern DriveSlotTable gDriveSlots;

// True when a card is identified.
bool CardIdentified();

// "\\.\PHYSICALDRIVE" and the device number.
std::string PhysicalDrivePath(std::uint32_t deviceNumber);

}  // namespace common
