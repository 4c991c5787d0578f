// The card's master boot record: the two layouts the program writes and the
// exchange of the first two entries.
#pragma once

#include <cstddef>
#include <cstdint>

#include "disk/device.h"

namespace disk {

constexpr std::size_t kPartitionEntry1 = 446;
constexpr std::size_t kPartitionEntry2 = 462;
constexpr std::size_t kPartitionEntrySize = 16;
constexpr std::size_t kEntryType = 4;
constexpr std::size_t kEntryFirstSector = 8;
constexpr std::size_t kEntrySectorCount = 12;
constexpr std::size_t kSignatureOffset = 510;
constexpr std::uint8_t kSignatureByte0 = 0x55;
constexpr std::uint8_t kSignatureByte1 = 0xAA;

// Partition types, as the card report names them.
constexpr std::uint8_t kPartitionTypeFat12 = 0x01;
constexpr std::uint8_t kPartitionTypeFat16Small = 0x04;
constexpr std::uint8_t kPartitionTypeFat16 = 0x06;
constexpr std::uint8_t kPartitionTypeNtfs = 0x07;
constexpr std::uint8_t kPartitionTypeFat32 = 0x0B;
constexpr std::uint8_t kPartitionTypeFat32Lba = 0x0C;
constexpr std::uint8_t kPartitionTypeFat16Lba = 0x0E;

// Single layout: one FAT16 partition from sector 249 to the card's end.
constexpr std::uint32_t kSingleFirstSector = 249;
// Dual layout: a 4,096-sector FAT12 partition from sector 1, then a FAT32
// partition from sector 4,097 that leaves the card's last sector out.
constexpr std::uint32_t kDualFirstSector = 1;
constexpr std::uint32_t kDualFirstCount = 4096;
constexpr std::uint32_t kDualSecondSector = 4097;
constexpr std::uint32_t kDualSecondReserved = 4098;

// Cards smaller than these have no room for the layout's partitions.
constexpr std::uint64_t kSingleMinimumSectors = 250;
constexpr std::uint64_t kDualMinimumSectors = 4099;
// A table entry counts sectors in 32 bits.
constexpr std::uint64_t kLayoutSectorLimit = std::uint64_t{1} << 32;

enum class Layout { Single, Dual };

// True, after "SD Card over 2 TB...", when a card or a volume of this many
// sectors is beyond what an MBR entry and FAT32 count: said before anything
// is asked.
bool RefuseOver2Tb(std::uint64_t sectors);
// True when the layout describes a card of this many sectors.
bool LayoutFits(Layout layout, std::uint64_t totalSectors);
// The layout's sector, built from zero. The card must fit (LayoutFits).
Sector BuildLayout(Layout layout, std::uint64_t totalSectors);
// A little-endian 32-bit field of a sector.
std::uint32_t ReadLe32(const Sector& sector, std::size_t offset);
// Exchanges the 16 bytes of entry 1 with those of entry 2.
void SwapFirstTwoEntries(Sector& sector);

// The operations on the CardState physical drive: 0 success, 1 failure.
// Each first makes sure the card is still the one the user chose; the swap,
// unless quiet, ends by asking for the card to be removed and re-inserted
// and checks that it was.
int SwapPartitionEntries(bool quiet);
// The same; written tells whether the table was rewritten, which a failed
// re-insert check leaves behind.
int SwapPartitionEntries(bool quiet, bool& written);
int WriteSinglePartitionTable();
int WriteDualPartitionTable();

}  // namespace disk
