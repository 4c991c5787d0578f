#include "disk/card_disk.h"

#include <algorithm>
#include <iterator>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/partition_table.h"
#include "disk/system_disk.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

// Where Windows' FAT driver marks a volume in use, in the boot sector
// itself: a FAT32 one has no 16-bit FAT size.
constexpr std::size_t kFat16SectorsPerFat = 22;
constexpr std::size_t kFatDirtyFlag = 37;
constexpr std::size_t kFat32DirtyFlag = 65;

// The program's own mark, in a sector no partition holds, while the card
// may be exchanged unseen: a fixed text and a nonce of its own.
constexpr char kMarkText[] = "VORN Installer: this card is in use. The sector is put back as it was.";
constexpr std::size_t kMarkNonceOffset = 128;
static_assert(sizeof kMarkText <= kMarkNonceOffset, "the text ends before the nonce");
constexpr std::uint64_t kNonceMixer = 0x9E3779B97F4A7C15u;  // spreads the clock's bits over all 64
constexpr char kGptSignature[] = "EFI PART";
// Sectors tried for the mark that hold a GUID header.
constexpr int kMarkTries = 8;

// What tells one card from another of the same size in the same reader.
struct CardPicture {
  bool taken = false;
  std::uint32_t deviceNumber = 0;
  std::uint64_t sectors = 0;
  // The reader's count of media changes; none where it gives none.
  std::optional<std::uint32_t> mediaChanges;
  // The card's own serial where its reader tells it (an SD host): a copy of
  // the card's bytes put in while it was out is another card.
  std::optional<std::string> serial;
  // Unreadable sectors stay empty: an unreadable card matches no readable one.
  std::optional<Sector> table;
  // The boot sector of every partition of the table, by its first sector.
  std::vector<std::pair<std::uint32_t, std::optional<Sector>>> bootSectors;

  bool operator==(const CardPicture& other) const {
    return taken == other.taken && deviceNumber == other.deviceNumber && sectors == other.sectors &&
           mediaChanges == other.mediaChanges && serial == other.serial && table == other.table &&
           bootSectors == other.bootSectors;
  }
};

struct CardMark {
  std::uint32_t deviceNumber = 0;
  std::uint64_t sector = 0;
  Sector original{};
  Sector content{};
};

CardPicture gPicture;
// Written, and not yet found again and put back.
std::optional<CardMark> gMark;

// A boot sector as it tells volumes apart: all of it (BPB, serial, label,
// file system type, signature) but the dirty flag, which Windows sets and
// clears in it while the volume is in use.
Sector VolumeIdentity(Sector sector) {
  const bool fat32 = sector[kFat16SectorsPerFat] == 0 && sector[kFat16SectorsPerFat + 1] == 0;
  sector[fat32 ? kFat32DirtyFlag : kFatDirtyFlag] = 0;
  return sector;
}

std::optional<Sector> ReadIdentity(host::Handle drive, std::uint64_t sectorNumber) {
  Sector sector{};
  if (!ReadSectorAt(drive, sectorNumber, sector)) return std::nullopt;
  return VolumeIdentity(sector);
}

// A driver may answer the first query after a change of medium with that
// news alone (STATUS_VERIFY_REQUIRED); the count comes with the next.
// The card's own serial comes with it.
std::optional<std::uint32_t> MediaChanges(std::uint32_t deviceNumber, std::optional<std::string>& serial) {
  UniqueHandle drive = OpenDevice(common::PhysicalDrivePath(deviceNumber), Access::Attributes);
  std::uint32_t count = 0;
  std::string told;
  serial.reset();
  if (drive.Valid() && host::QueryStorageSerialNumber(drive.Get(), told)) serial = told;
  if (!drive.Valid() || (!host::QueryMediaChangeCount(drive.Get(), count) &&
                         !host::QueryMediaChangeCount(drive.Get(), count))) {
    return std::nullopt;
  }
  return count;
}

}  // namespace

Table TableOf(const Sector& mbr) {
  Table table{};
  if (mbr[kSignatureOffset] != kSignatureByte0 || mbr[kSignatureOffset + 1] != kSignatureByte1) {
    return table;
  }
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::size_t entry = kPartitionEntry1 + i * kPartitionEntrySize;
    table[i] = {mbr[entry + kEntryType], ReadLe32(mbr, entry + kEntryFirstSector),
                ReadLe32(mbr, entry + kEntrySectorCount)};
  }
  return table;
}

namespace {

// The card in the reader now, as a picture. The count first: a card put in
// while the sectors are read shows in it.
CardPicture TakePicture(std::uint32_t deviceNumber) {
  CardPicture picture;
  picture.mediaChanges = MediaChanges(deviceNumber, picture.serial);
  UniqueHandle drive = OpenDevice(common::PhysicalDrivePath(deviceNumber), Access::Read);
  DiskSize size;
  if (!drive.Valid() || !ReadDiskSize(drive.Get(), size)) return picture;
  picture.taken = true;
  picture.deviceNumber = deviceNumber;
  picture.sectors = size.sectors;
  // A volume over the whole card has its boot sector in the table's place.
  picture.table = ReadIdentity(drive.Get(), 0);
  if (!picture.table) return picture;
  for (const TableEntry& entry : TableOf(*picture.table)) {
    // An entry may point past the card's end: there is nothing to read there.
    if (entry.InUse() && entry.firstSector < picture.sectors) {
      picture.bootSectors.emplace_back(entry.firstSector, ReadIdentity(drive.Get(), entry.firstSector));
    }
  }
  return picture;
}

// The first sector from 1 on that no entry in use holds and that holds no
// GUID header; none on a card without one, or without a table.
std::optional<std::uint64_t> FreeSector(host::Handle drive) {
  if (!gPicture.table) return std::nullopt;
  const Table table = TableOf(*gPicture.table);
  int tries = kMarkTries;
  for (std::uint64_t candidate = 1; candidate < gPicture.sectors && tries > 0;) {
    const auto holder = std::find_if(table.begin(), table.end(), [candidate](const TableEntry& entry) {
      return entry.InUse() && candidate >= entry.firstSector && candidate - entry.firstSector < entry.sectors;
    });
    if (holder != table.end()) {
      candidate = std::uint64_t{holder->firstSector} + holder->sectors;
      continue;
    }
    Sector sector{};
    if (!ReadSectorAt(drive, candidate, sector)) return std::nullopt;
    if (!SectorHolds(sector, 0, kGptSignature)) return candidate;
    ++candidate;
    --tries;
  }
  return std::nullopt;
}

// Fresh for every mark: no two cards of a run, nor two runs, share one.
Sector NewMarkContent() {
  static std::uint64_t marks = 0;
  const std::uint64_t nonce = host::GetSystemTimeAsFileTime() * kNonceMixer ^ ++marks ^
                              reinterpret_cast<std::uintptr_t>(&marks);
  Sector content{};
  std::copy(std::begin(kMarkText), std::end(kMarkText), content.begin());
  for (std::size_t i = 0; i < sizeof nonce; ++i) {
    content[kMarkNonceOffset + i] = static_cast<std::uint8_t>(nonce >> (8 * i));
  }
  return content;
}

// True when no mark is out, or the card holds it; it is put back then.
// Until it is found, it stays out.
bool MarkHeld() {
  if (!gMark) return true;
  UniqueHandle drive = OpenDevice(common::PhysicalDrivePath(gMark->deviceNumber), Access::ReadWrite);
  Sector sector{};
  if (!drive.Valid() || !ReadSectorAt(drive.Get(), gMark->sector, sector) || sector != gMark->content) {
    return false;
  }
  // Should this write fail, the mark stays in a sector outside every
  // partition; a card that fails it fails the program's next write too,
  // which is reported.
  PutBackSector(drive.Get(), gMark->sector, gMark->original);
  gMark.reset();
  return true;
}

// The card in the reader matches the picture: its count too, unless the
// user was asked to take the card out and put it back, when the new count
// is taken with the rest.
bool CardMatches(bool countMayChange) {
  if (!gPicture.taken ||
      common::gCardState.physicalDrivePath != common::PhysicalDrivePath(gPicture.deviceNumber) ||
      gPicture.sectors != common::gCardState.totalSectors ||
      JudgeDevice({host::kFileDeviceDisk, gPicture.deviceNumber, 0}) != DeviceVerdict::Card) {
    return false;
  }
  CardPicture now = TakePicture(gPicture.deviceNumber);
  const std::optional<std::uint32_t> count = now.mediaChanges;
  if (countMayChange) now.mediaChanges = gPicture.mediaChanges;
  // Another card (by its serial, its count or its sectors): not even the
  // mark is put back on it. The mark lies outside every sector of the
  // picture, so it is read back only now.
  if (!(now == gPicture) || !MarkHeld()) return false;
  gPicture.mediaChanges = count;
  return true;
}

// The two pictures differ at most in the boot sector of the partition that
// starts here (a volume over the whole card has its boot sector in the
// table's place).
bool SameButPartition(CardPicture now, CardPicture before, std::uint64_t startSector) {
  for (CardPicture* picture : {&now, &before}) {
    if (startSector == 0) picture->table.reset();
    for (auto& [start, sector] : picture->bootSectors) {
      if (start == startSector) sector.reset();
    }
  }
  return now == before;
}

bool OnCardDisk(const host::StorageDeviceNumber& device) {
  return gPicture.taken && device.deviceType == host::kFileDeviceDisk &&
         device.deviceNumber == gPicture.deviceNumber;
}

}  // namespace

std::string DriveRoot(char letter) { return std::string(1, letter) + ":\\"; }

std::vector<CardVolume> CardVolumes() {
  std::vector<CardVolume> volumes;
  if (!gPicture.taken) return volumes;
  for (char letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
    const unsigned type = host::GetDriveType(DriveRoot(letter).c_str());
    if (type != host::kDriveRemovable && type != host::kDriveFixed) continue;
    // Queries only: they need no rights to the volume's data.
    UniqueHandle volume = OpenDevice(VolumePath(letter), Access::Query);
    host::StorageDeviceNumber device;
    if (!volume.Valid() || !GetDeviceNumber(volume.Get(), device) || !OnCardDisk(device)) continue;
    CardVolume found;
    found.letter = letter;
    VolumeExtent extent;
    if (GetVolumeExtent(volume.Get(), extent)) {
      found.placed = true;
      found.startSector = extent.startSector;
      found.sectors = extent.sectors;
    }
    volumes.push_back(found);
  }
  return volumes;
}

std::string RootOfPartition(const TableEntry& entry) {
  for (const CardVolume& volume : CardVolumes()) {
    if (volume.placed && volume.startSector == entry.firstSector && volume.sectors == entry.sectors) {
      return DriveRoot(volume.letter);
    }
  }
  return {};
}

bool FindPartitionRoot(const TableEntry& entry, std::string& root) {
  root = RootOfPartition(entry);
  if (!root.empty()) return true;
  common::ShowErrorMessage(MSG_CARD_CHANGED);
  return false;
}

bool RootOnCard(const std::string& root) {
  if (root.empty()) return false;
  for (const CardVolume& volume : CardVolumes()) {
    if (volume.letter == root[0]) return true;
  }
  return false;
}

bool ReadCardTable(Table& table) {
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  Sector mbr{};
  if (!drive.Valid() || !ReadSector0(drive.Get(), mbr)) return false;
  table = TableOf(mbr);
  return true;
}

bool FirstTableEntry(TableEntry& entry) {
  Table table{};
  if (!ReadCardTable(table)) return false;
  for (const TableEntry& candidate : table) {
    if (!candidate.InUse()) continue;
    entry = candidate;
    return true;
  }
  return false;
}

bool LargePartitionFirst() {
  Table table{};
  return ReadCardTable(table) && table[0].InUse() && table[1].InUse() && table[0].sectors > table[1].sectors;
}

void IdentifyCard(std::uint32_t deviceNumber) {
  gMark.reset();  // left on a card that was taken out: nothing to check it by now
  gPicture = TakePicture(deviceNumber);
}

void RememberCard() {
  if (gPicture.taken) gPicture = TakePicture(gPicture.deviceNumber);
}

void RememberPartition(const std::string& root) {
  if (!gPicture.taken) return;
  std::optional<std::uint64_t> start;
  for (const CardVolume& volume : CardVolumes()) {
    if (volume.placed && !root.empty() && volume.letter == root[0]) start = volume.startSector;
  }
  // A mark not found stays out, and fails every later check.
  MarkHeld();
  const CardPicture now = TakePicture(gPicture.deviceNumber);
  // Anything else changed: another card is in the reader now.
  if (start && SameButPartition(now, gPicture, *start)) {
    gPicture = now;
  } else {
    gPicture.taken = false;
  }
}

bool SameCard() { return CardMatches(false); }

bool SameCardReinserted() { return CardMatches(true); }

void MarkCard() {
  if (!gPicture.taken || gMark) return;
  UniqueHandle drive = OpenDevice(common::PhysicalDrivePath(gPicture.deviceNumber), Access::ReadWrite);
  const std::optional<std::uint64_t> free = drive.Valid() ? FreeSector(drive.Get()) : std::nullopt;
  CardMark mark;
  if (!free || !ReadSectorAt(drive.Get(), *free, mark.original)) return;
  mark.deviceNumber = gPicture.deviceNumber;
  mark.sector = *free;
  mark.content = NewMarkContent();
  if (WriteSectorAt(drive.Get(), mark.sector, mark.content)) {
    gMark = mark;
  } else {
    PutBackSector(drive.Get(), mark.sector, mark.original);  // a write may have half taken
  }
}

// A copy of the card made while it was out holds the mark too: it is put
// back only onto the card whose picture the reader shows.
void PutMarkBack() { CardMatches(true); }

bool FlushCard() {
  bool flushed = true;
  for (const CardVolume& volume : CardVolumes()) {
    UniqueHandle handle = OpenDevice(VolumePath(volume.letter), Access::ReadWrite);
    if (handle.Valid()) flushed = host::FlushFileBuffers(handle.Get()) && flushed;
  }
  return flushed;
}

bool EjectCard() {
  FlushCard();  // nothing cached may be lost when the card comes out
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  if (!drive.Valid()) return false;
  host::EjectMedia(drive.Get());  // the remove prompts follow whatever it answers
  return true;
}

bool VolumeLocks::Acquire() {
  for (const CardVolume& volume : CardVolumes()) {
    UniqueHandle handle = OpenDevice(VolumePath(volume.letter), Access::ReadWrite);
    if (!handle.Valid() || !host::LockVolume(handle.Get()) || !host::DismountVolume(handle.Get())) {
      volumes_.clear();
      common::ShowErrorMessage(MSG_VOLUME_IN_USE);
      return false;
    }
    volumes_.push_back(std::move(handle));
  }
  return true;
}

}  // namespace disk
