// The card as a disk. Windows may show each of its partitions under a letter
// of its own, or only the first one under the reader's letter: every step
// that works on a partition asks which letter shows it now. Here too: what
// makes a card the same card, its table as it stands on the card, and its
// volumes locked while the program writes the disk itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/device.h"

namespace disk {

// The letters a card can show under: A:, B: and C: never are.
constexpr char kFirstDriveLetter = 'D';
constexpr char kLastDriveLetter = 'Z';

// A letter whose volume lies on the card's disk.
struct CardVolume {
  char letter = 0;
  bool placed = false;  // the system said where on the disk it starts
  std::uint64_t startSector = 0;
  std::uint64_t sectors = 0;
};

// Every letter D: to Z: whose volume lies on the card's disk.
std::vector<CardVolume> CardVolumes();
// "F:\" of a letter.
std::string DriveRoot(char letter);
// An entry of the card's table as it stands on the card now, which is not
// what the system maps until the card has been re-inserted.
struct TableEntry {
  std::uint8_t type = 0;
  std::uint32_t firstSector = 0;
  std::uint32_t sectors = 0;
  bool InUse() const { return type != 0; }
};

// The root of the letter that shows this partition of the card now: its
// volume starts where the entry starts and is as long. Empty when no letter
// does.
std::string RootOfPartition(const TableEntry& entry);
// The same; "SD Card changed or missing!" and false when no letter does.
bool FindPartitionRoot(const TableEntry& entry, std::string& root);
// True when the root's volume lies on the card's disk.
bool RootOnCard(const std::string& root);
using Table = std::array<TableEntry, 4>;
// False when the card's first sector cannot be read; a sector without the
// signature holds no entry.
bool ReadCardTable(Table& table);
// The entries of a table sector.
Table TableOf(const Sector& mbr);
// The first entry in use; false when there is none.
bool FirstTableEntry(TableEntry& entry);
// Entries 1 and 2 both in use, the first the larger.
bool LargePartitionFirst();

// The card as the program last read or wrote it: the reader's device
// number and its count of media changes, the size, the table sector and
// its partitions' boot sectors (but the bytes the system writes in them).
// The inspection takes it; every write and format of the program's takes
// it again.
void IdentifyCard(std::uint32_t deviceNumber);
// After a write of the table, made right after the card was confirmed.
void RememberCard();
// After a write or a format inside the volume of this root, which may have
// given the user time to change cards: taken again only where nothing but
// that volume's boot sector changed and a mark was found again; otherwise
// the card is no longer known.
void RememberPartition(const std::string& root);
// True while the card in the reader matches that picture, and holds the
// mark if one is out (it is put back then).
bool SameCard();
// The same after the user was asked to take the card out and put it back:
// the reader's count has changed, and is taken from now on.
bool SameCardReinserted();
// Before a pause that the picture cannot see across (a format rewrites the
// sectors it relies on; a card put back changes the count): a mark of the
// program's own in a sector that no partition holds, read back at the next
// check. A card without such a sector gets none.
void MarkCard();
// After a stop: the mark taken back where the card (by its picture, its
// serial included) still holds it, so that nothing of the program's stays
// on it.
void PutMarkBack();

// Writes every card volume's cached data through; false when a volume
// refused it.
bool FlushCard();
// Flushes the card, then asks the system to eject it; false when the
// physical drive could not be opened.
bool EjectCard();

// Every mounted volume of the card, locked and dismounted while this lives:
// the system lets no one write a disk under a mounted volume.
class VolumeLocks {
 public:
  // False, after "close what is open on the card", when one cannot be.
  bool Acquire();

 private:
  std::vector<UniqueHandle> volumes_;
};

}  // namespace disk
