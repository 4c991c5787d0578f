// format.com on Linux: its command line ("format.com E: [/q] /fs:fat[32]")
// carried out by dosfstools' mkfs.fat on the volume's byte range of its disk
// or image, with the limits format.com has.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

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

// mkfs.fat on the byte range [offset, offset + length) of the device or
// image: the range's start is the volume's hidden sectors, as on a card
// partition. False when mkfs.fat is missing or fails, or was ended because
// keepGoing said no.
bool MakeFatFileSystem(const std::string& device, std::uint64_t offset, std::uint64_t length, int fatBits,
                       const std::function<bool()>& keepGoing = {});

// A full format's first step: zeros over the whole range, told in percent;
// stopped (false) when keepGoing says so or a write fails.
bool ZeroRange(int fd, std::uint64_t offset, std::uint64_t length, const std::function<bool(int percent)>& keepGoing);

}  // namespace linuxhost
