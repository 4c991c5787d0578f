// Formatting the card's volume with the system's format.com.
#pragma once

#include <cstdint>
#include <string>

namespace install {

enum class FileSystem { Fat, Fat32 };

// What each file system can hold, in sectors of 512 bytes. FAT (FAT16 on
// anything this large) has at most 65,524 clusters, of at most 128 sectors
// (64 KiB) under both format.com and mkfs.fat: a volume no larger than those
// clusters alone fits whatever either puts before them (boot sector, FATs,
// root folder). A 4 GiB card's partition is too large by some 1,700 sectors.
// FAT32 from 65,525 clusters (of one sector, with their FATs and reserved
// sectors) to the 32-bit sector count of its boot sector.
constexpr std::uint64_t kFat16MaximumClusters = 65524;
constexpr std::uint64_t kFatLargestClusterSectors = 128;
constexpr std::uint64_t kFatMaximumSectors = kFat16MaximumClusters * kFatLargestClusterSectors;
constexpr std::uint64_t kFat32MinimumSectors = 66581;
constexpr std::uint64_t kFat32MaximumSectors = 0xFFFFFFFFu;
bool FileSystemHolds(FileSystem fileSystem, std::uint64_t sectors);

// "format.com E: /q /fs:fat32" for the card root "E:\".
std::string FormatCommandLine(const std::string& cardRoot, bool quick, FileSystem fileSystem);

// Runs the system folder's format.com on the card root and waits for it.
// 0 when it started and ended with exit code 0, 1 otherwise.
int RunFormat(const std::string& cardRoot, bool quick, FileSystem fileSystem);

// Formats the volume of the card root: 0 when it is formatted, 1 otherwise.
int FormatVolume(const std::string& cardRoot, bool quick, FileSystem fileSystem);

// The same on the chosen card, just confirmed: marked first, so that a card
// put in while the format runs is told apart, and taken again after it.
// False, after "Cannot format SD Card!", when it did not format.
bool FormatChosenVolume(const std::string& cardRoot, bool quick, FileSystem fileSystem);

// The handler of command 202.
void FormatCard();

}  // namespace install
