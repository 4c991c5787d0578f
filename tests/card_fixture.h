// Cards for the tests: images with a partition table and FAT volumes, put
// into a simulated reader and brought up to date by a scan.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/sim_host.h"

namespace testing_cards {

constexpr std::uint64_t kMb = 1048576;

struct Partition {
  std::uint8_t type = 0;
  std::uint32_t firstSector = 0;
  std::uint32_t sectorCount = 0;
};

// Writes an MBR holding these entries (in entries 1, 2, ...) and the signature.
void WriteTable(const sim::Card& card, const std::vector<Partition>& entries);

// A little-endian 32-bit value of a sector.
std::uint32_t Le32(const std::vector<std::uint8_t>& sector, std::size_t offset);

// The machine with a reader at E:, the boot file beside the program, and the
// window created.
void SetUpPc(sim::Machine& machine, char readerLetter = 'E');

// A card of the given size whose entry 1 is a FAT16 partition at sector 63
// to the end (formatted), inserted and scanned, so that it is identified.
std::shared_ptr<sim::Card> InsertFat16Card(sim::Machine& machine, char letter,
                                           std::uint64_t sizeBytes, std::uint32_t deviceNumber = 1);

// `sfdisk -d` of the card's image: an independent reader of the table.
std::string SfdiskDump(const sim::Card& card);
// Its entries as "start=249,size=3841799,type=6".
std::vector<std::string> SfdiskEntries(const sim::Card& card);

// The steps appear in the log in this order (other lines may come between).
::testing::AssertionResult InOrder(const sim::Machine& machine, const std::vector<std::string>& steps);

// The add-on's file set beside the program (C:\VORN\), each file saying
// what it is: DISKBOOT.BIN, PS.FIR, LYRE\ (with a file and a subfolder),
// DCIM\100TEST\, LYRE.CFG.L and LYRE.CFG.R.
void PutFileSet(const sim::Machine& machine);

// The mtools image argument of the file system at this sector of the card.
std::string MtoolsAt(const sim::Card& card, std::uint64_t firstSector);
// Puts files (path with '/', content) into that file system, making folders.
void PutFilesAt(const sim::Card& card, std::uint64_t firstSector,
                const std::vector<std::pair<std::string, std::string>>& files);
// The content of a file in that file system.
std::string FileAt(const sim::Card& card, std::uint64_t firstSector, const std::string& path);
bool ExistsAt(const sim::Card& card, std::uint64_t firstSector, const std::string& path);
// `fsck.fat -n` of a partition (copied out sparsely): its output.
std::string CheckFileSystem(const sim::Card& card, std::uint64_t firstSector, std::uint64_t sectors);

// The program's own FAT32 format at this sector, of this many sectors: 32 KiB
// clusters, the partition's start as hidden sectors, the first data cluster
// on a 4 MiB boundary of the card, FATs no larger than needed, FAT[0] with
// the media byte, the backup boot sector the same, and fsck.fat (FSInfo's
// free count included) and mdir accept it.
void ExpectOwnFat32(const sim::Card& card, std::uint64_t firstSector, std::uint64_t sectors);

// What the card's image holds and where, in one number: a read leaves it,
// any write changes it.
std::size_t Fingerprint(const sim::Card& card);

// When VORN_KEEP_CARDS names a folder, the card's image is copied there
// under this name and ".img", for anyone to open by hand.
void KeepCard(const sim::Card& card, const std::string& name);

}  // namespace testing_cards
