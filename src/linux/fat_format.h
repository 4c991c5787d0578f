// format.com on Linux: its command line ("format.com E: [/q] /fs:fat[32]")
// carried out by dosfstools' mkfs.fat on the volume's byte range of its disk
// or image, with the limits format.com has.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace linuxhost {

struct FormatRequest {
  char letter = 0;
  bool quick = false;
  bool fat32 = false;
};

// False for a line format.com would not take.
bool ParseFormatCommand(const std::string& commandLine, FormatRequest& request);

// format.com's FAT32 limit: 32 GiB, or 2 TiB for the newer builds.
constexpr std::uint64_t kFormatComFat32LimitBytes = std::uint64_t{32768} * 1048576;
constexpr std::uint64_t kNewerFormatComFat32LimitBytes = (std::uint64_t{1} << 32) * 512 - 512;

// True when format.com takes a volume of this many bytes as this file system.
bool FormatTakes(bool fat32, std::uint64_t bytes, std::uint64_t fat32LimitBytes);
// The FAT width mkfs.fat is asked for: 32, else 12 below 16 MiB, else 16.
int FatBits(bool fat32, std::uint64_t bytes);

// Where mkfs.fat writes a volume. On a disk the kernel shows partitions of,
// mkfs.fat refuses the whole disk: the volume's own partition node is taken
// where it is that very partition; else the whole disk with its checks
// overridden (-I), which mkfs.fat then holds exclusively (O_EXCL) while it
// writes, so that no partition of it can be mounted or claimed meanwhile.
struct FatTarget {
  FatTarget(std::string disk) : path(std::move(disk)) {}  // NOLINT: a disk or image is a target as it is
  std::string path;             // the disk, the image, or the partition's node
  bool partitionNode = false;   // the volume starts at the node's byte 0
  bool overrideChecks = false;  // -I: a whole disk with partition nodes
};

// mkfs.fat on the byte range [offset, offset + length) of the card: the
// range's start is the volume's hidden sectors, as on a card partition.
// False when mkfs.fat is missing or fails, or was ended because keepGoing
// said no.
bool MakeFatFileSystem(const FatTarget& target, std::uint64_t offset, std::uint64_t length, int fatBits,
                       const std::function<bool()>& keepGoing = {});

// A full format's first step: zeros over the whole range, told in percent;
// stopped (false) when keepGoing says so or a write fails.
bool ZeroRange(int fd, std::uint64_t offset, std::uint64_t length, const std::function<bool(int percent)>& keepGoing);

}  // namespace linuxhost
