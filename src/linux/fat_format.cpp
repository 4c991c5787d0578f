#include "linux/fat_format.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <vector>

#include "linux/process.h"

namespace linuxhost {
namespace {

constexpr char kProgram[] = "format.com";
constexpr char kQuick[] = "/q";
constexpr char kFat[] = "/fs:fat";
constexpr char kFat32[] = "/fs:fat32";
constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kFatLimitBytes = 4096 * kMiB;
constexpr std::uint64_t kFat12BelowBytes = 16 * kMiB;
constexpr std::uint64_t kFat32MinimumBytes = 65527 * kSector;
constexpr std::uint64_t kZeroChunk = 4 * kMiB;
constexpr int kWhole = 100;
constexpr std::uint64_t kAlignment = 4096;

// Zeros without moving them where the device or the file can: a block
// device's zero-out, a file's punched hole; plain writes otherwise.
bool ZeroChunk(int fd, bool blockDevice, std::uint64_t at, std::uint64_t size, std::vector<char>& zeros) {
  if (blockDevice) {
    std::uint64_t range[2] = {at, size};
    if (::ioctl(fd, BLKZEROOUT, range) == 0) return true;
  } else if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(at),
                         static_cast<off_t>(size)) == 0) {
    return true;
  }
  // Aligned, for a device opened with O_DIRECT.
  zeros.resize(static_cast<std::size_t>(size + kAlignment), 0);
  const auto address = reinterpret_cast<std::uintptr_t>(zeros.data());
  const char* start = zeros.data() + (kAlignment - address % kAlignment) % kAlignment;
  return ::pwrite(fd, start, static_cast<std::size_t>(size), static_cast<off_t>(at)) == static_cast<ssize_t>(size);
}

}  // namespace

bool ParseFormatCommand(const std::string& commandLine, FormatRequest& request) {
  std::istringstream words(commandLine);
  std::string program;
  std::string drive;
  words >> program >> drive;
  bool fileSystemGiven = false;
  request = FormatRequest{};
  for (std::string option; words >> option;) {
    if (option == kFat || option == kFat32) {
      fileSystemGiven = true;
      request.fat32 = option == kFat32;
    } else if (option == kQuick) {
      request.quick = true;
    } else {
      return false;
    }
  }
  if (program != kProgram || drive.size() != 2 || drive[1] != ':' || !fileSystemGiven) return false;
  request.letter = drive[0];
  return true;
}

bool FormatTakes(bool fat32, std::uint64_t bytes, std::uint64_t fat32LimitBytes) {
  return fat32 ? bytes >= kFat32MinimumBytes && bytes <= fat32LimitBytes : bytes > 0 && bytes <= kFatLimitBytes;
}

int FatBits(bool fat32, std::uint64_t bytes) { return fat32 ? 32 : bytes < kFat12BelowBytes ? 12 : 16; }

bool MakeFatFileSystem(const FatTarget& target, std::uint64_t offset, std::uint64_t length, int fatBits,
                       const std::function<bool()>& keepGoing) {
  const std::string firstSector = std::to_string(offset / kSector);
  std::vector<std::string> arguments = {"mkfs.fat", "-F", std::to_string(fatBits), "-h", firstSector};
  if (!target.partitionNode) arguments.insert(arguments.end(), {"--offset", firstSector});
  if (target.overrideChecks) arguments.push_back("-I");
  arguments.insert(arguments.end(), {target.path, std::to_string(length / kKiB)});
  ToolWatch watch;
  if (keepGoing) watch = [&keepGoing](const ToolResult&) { return keepGoing(); };
  return RunTool(arguments, {}, watch).Succeeded();
}

bool ZeroRange(int fd, std::uint64_t offset, std::uint64_t length, const std::function<bool(int)>& keepGoing) {
  struct stat info {};
  const bool blockDevice = ::fstat(fd, &info) == 0 && S_ISBLK(info.st_mode);
  std::vector<char> zeros;
  for (std::uint64_t done = 0; done < length;) {
    if (!keepGoing(static_cast<int>(done * kWhole / length))) return false;
    const std::uint64_t size = std::min(kZeroChunk, length - done);
    if (!ZeroChunk(fd, blockDevice, offset + done, size, zeros)) return false;
    done += size;
  }
  return ::fsync(fd) == 0 && keepGoing(kWhole);
}

}  // namespace linuxhost
