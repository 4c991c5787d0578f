#include "disk/partition_table.h"

#include <algorithm>

#include "common/catalogue.h"
#include "common/card_state.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "res/ids.h"

namespace disk {
namespace {

// Where a GUID partition table keeps its header, and the backup's place.
constexpr char kGptSignature[] = "EFI PART";
constexpr std::uint64_t kGptHeaderSector = 1;

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

bool IsGptHeader(host::Handle drive, std::uint64_t sectorNumber) {
  Sector sector{};
  return ReadSectorAt(drive, sectorNumber, sector) && SectorHolds(sector, 0, kGptSignature);
}

// A GUID table left behind an MBR would still be read by other tools, the
// backup at the card's end included. Only once the MBR stands: a failed
// write leaves the card as it was.
bool ClearGptHeaders(host::Handle drive, std::uint64_t totalSectors) {
  for (const std::uint64_t header : {kGptHeaderSector, totalSectors - 1}) {
    if (IsGptHeader(drive, header) && !WriteSectorAt(drive, header, Sector{})) return false;
  }
  return true;
}

// Writes the card's first sector with its volumes locked; false, after the
// given message for a failed write, when it is not written.
bool WriteTableSector(const Sector& sector, unsigned failureMessage, bool clearGpt) {
  VolumeLocks locks;
  if (!locks.Acquire()) return false;
  UniqueHandle drive = OpenPhysicalDrive(Access::ReadWrite);
  if (!drive.Valid()) return false;
  const bool written = WriteSector0(drive.Get(), sector) &&
                       (!clearGpt || ClearGptHeaders(drive.Get(), common::gCardState.totalSectors));
  // The system takes the table as it now stands while no volume can mount
  // on the old one; the remove and re-insert prompts follow all the same.
  host::UpdateDiskProperties(drive.Get());
  drive.Close();
  RememberCard();  // the table the card holds now is the program's own
  if (!written) common::ShowErrorMessage(failureMessage);
  return written;
}

int WritePartitionTable(Layout layout) {
  const std::uint64_t total = common::gCardState.totalSectors;
  if (!LayoutFits(layout, total)) {
    common::ShowErrorMessage(MSG_CARD_SIZE_NOT_SUPPORTED);
    return 1;
  }
  if (!ConfirmSameCard()) return 1;
  return WriteTableSector(BuildLayout(layout, total), MSG_CANNOT_WRITE_BOOT_SECTOR, true) ? 0 : 1;
}

}  // namespace

bool RefuseOver2Tb(std::uint64_t sectors) {
  if (sectors < kLayoutSectorLimit) return false;
  common::ShowErrorMessage(MSG_CARD_OVER_2TB);
  return true;
}

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
  Sector sector{};
  {
    UniqueHandle drive = OpenPhysicalDrive(Access::Read);
    if (!drive.Valid() || !ReadSector0(drive.Get(), sector)) return 1;
  }
  SwapFirstTwoEntries(sector);
  if (!WriteTableSector(sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED, false)) return 1;
  written = true;
  if (!quiet && !AskToRemoveAndReinsert()) return 1;
  return 0;
}

int WriteSinglePartitionTable() { return WritePartitionTable(Layout::Single); }
int WriteDualPartitionTable() { return WritePartitionTable(Layout::Dual); }

}  // namespace disk
