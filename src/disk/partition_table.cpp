#include "disk/partition_table.h"

#include <algorithm>

#include "common/catalogue.h"
#include "common/card_state.h"
#include "disk/card_guards.h"
#include "res/ids.h"

namespace disk {
namespace {

void PutLe32(Sector& sector, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    sector[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void PutEntry(Sector& sector, std::size_t entry, std::uint8_t type, std::uint32_t first,
              std::uint32_t count) {
  sector[entry + kEntryType] = type;
  PutLe32(sector, entry + kEntryFirstSector, first);
  PutLe32(sector, entry + kEntrySectorCount, count);
}

int WritePartitionTable(Layout layout) {
  const std::uint64_t total = common::gCardState.totalSectors;
  if (!LayoutFits(layout, total)) {
    common::ShowErrorMessage(MSG_CARD_SIZE_NOT_SUPPORTED);
    return 1;
  }
  if (!ConfirmSameCard()) return 1;
  UniqueHandle drive = OpenPhysicalDrive(Access::ReadWrite);
  if (!drive.Valid()) return 1;
  if (!WriteSector0(drive.Get(), BuildLayout(layout, total))) {
    common::ShowErrorMessage(MSG_CANNOT_WRITE_BOOT_SECTOR);
    return 1;
  }
  return 0;
}

}  // namespace

bool LayoutFits(Layout layout, std::uint64_t totalSectors) {
  const std::uint64_t minimum =
      layout == Layout::Single ? kSingleMinimumSectors : kDualMinimumSectors;
  return totalSectors >= minimum && totalSectors < kLayoutSectorLimit;
}

Sector BuildLayout(Layout layout, std::uint64_t totalSectors) {
  const auto total = static_cast<std::uint32_t>(totalSectors);
  Sector sector{};
  if (layout == Layout::Single) {
    PutEntry(sector, kPartitionEntry1, kPartitionTypeFat16, kSingleFirstSector,
             total - kSingleFirstSector);
  } else {
    PutEntry(sector, kPartitionEntry1, kPartitionTypeFat12, kDualFirstSector, kDualFirstCount);
    PutEntry(sector, kPartitionEntry2, kPartitionTypeFat32, kDualSecondSector,
             total - kDualSecondReserved);
  }
  sector[kSignatureOffset] = kSignatureByte0;
  sector[kSignatureOffset + 1] = kSignatureByte1;
  return sector;
}

std::uint32_t ReadLe32(const Sector& sector, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) value = (value << 8) | sector[offset + i];
  return value;
}

void SwapFirstTwoEntries(Sector& sector) {
  std::swap_ranges(sector.begin() + kPartitionEntry1,
                   sector.begin() + kPartitionEntry1 + kPartitionEntrySize,
                   sector.begin() + kPartitionEntry2);
}

int SwapPartitionEntries(bool quiet) {
  bool written = false;
  return SwapPartitionEntries(quiet, written);
}

int SwapPartitionEntries(bool quiet, bool& written) {
  written = false;
  if (!ConfirmSameCard()) return 1;
  UniqueHandle drive = OpenPhysicalDrive(Access::ReadWrite);
  if (!drive.Valid()) return 1;
  Sector sector{};
  if (!ReadSector0(drive.Get(), sector)) return 1;
  SwapFirstTwoEntries(sector);
  if (!WriteSector0(drive.Get(), sector)) {
    common::ShowErrorMessage(MSG_CANNOT_WRITE_MAYBE_PROTECTED);
    return 1;
  }
  drive.Close();
  written = true;
  if (!quiet && !AskToRemoveAndReinsert()) return 1;
  return 0;
}

int WriteSinglePartitionTable() { return WritePartitionTable(Layout::Single); }
int WriteDualPartitionTable() { return WritePartitionTable(Layout::Dual); }

}  // namespace disk
