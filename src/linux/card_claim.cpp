#include "linux/card_claim.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "linux/block_devices.h"
#include "linux/descriptor.h"

namespace linuxhost {
namespace {

constexpr char kSysBlock[] = "/sys/block";
constexpr char kSysDevBlock[] = "/sys/dev/block/";
constexpr char kDev[] = "/dev/";
constexpr char kLoopPrefix[] = "loop";
constexpr char kBackingFile[] = "loop/backing_file";

// What a loop device reads and writes: a file (its device and inode) or a
// block device.
struct Backing {
  dev_t fileDevice = 0;
  ino_t inode = 0;
  dev_t blockDevice = 0;  // 0 for a file
};

struct Loop {
  dev_t device = 0;
  Backing backing;
};

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text);
  return text;
}

std::optional<dev_t> ParseDevno(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return makedev(static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10)),
                 static_cast<unsigned>(std::strtoul(text.c_str() + colon + 1, nullptr, 10)));
}

// The device node of a block device: /dev/ and its kernel name, when the
// node there is that device.
std::string NodeOf(dev_t device) {
  std::array<char, PATH_MAX> target{};
  const std::string link = kSysDevBlock + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size() - 1);
  if (length <= 0) return {};
  const std::string folder(target.data(), static_cast<std::size_t>(length));
  const std::string node = kDev + folder.substr(folder.rfind('/') + 1);
  struct stat info {};
  return ::stat(node.c_str(), &info) == 0 && S_ISBLK(info.st_mode) && info.st_rdev == device ? node : std::string();
}

// The loop device's file by the kernel's own numbers where it can be asked
// (root); else by the name sysfs gives, which may have moved on.
std::optional<Backing> BackingOf(dev_t loop) {
  Backing backing;
  const std::string node = NodeOf(loop);
  const Fd fd(node.empty() ? -1 : ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  loop_info64 info{};
  const bool asked = fd.Get() >= 0 && ::ioctl(fd.Get(), LOOP_GET_STATUS64, &info) == 0;
  if (asked) {
    backing.fileDevice = static_cast<dev_t>(info.lo_device);
    backing.inode = static_cast<ino_t>(info.lo_inode);
    backing.blockDevice = static_cast<dev_t>(info.lo_rdevice);
    return backing;
  }
  struct stat file {};
  const std::string name = SysfsAttribute(loop, kBackingFile);
  if (name.empty() || ::stat(name.c_str(), &file) != 0) return std::nullopt;
  backing.fileDevice = file.st_dev;
  backing.inode = file.st_ino;
  backing.blockDevice = S_ISBLK(file.st_mode) ? file.st_rdev : 0;
  return backing;
}

std::vector<Loop> AttachedLoops() {
  std::vector<Loop> loops;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(kSysBlock), ::closedir);
  while (dir != nullptr) {
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    const std::string name = entry->d_name;
    if (name.rfind(kLoopPrefix, 0) != 0) continue;
    const auto device = ParseDevno(ReadText(std::string(kSysBlock) + "/" + name + "/dev"));
    if (!device || SysfsAttribute(*device, kBackingFile).empty()) continue;
    if (const auto backing = BackingOf(*device)) loops.push_back({*device, *backing});
  }
  return loops;
}

// The disk of a partition; the device itself when it is none.
dev_t DiskOf(dev_t device) {
  if (SysfsAttribute(device, "partition").empty()) return device;
  return ParseDevno(SysfsAttribute(device, "../dev")).value_or(device);
}

}  // namespace

std::vector<dev_t> DevicesSharingBytes(const std::string& path) {
  struct stat card {};
  if (::stat(path.c_str(), &card) != 0) return {};
  const std::vector<Loop> loops = AttachedLoops();
  std::vector<dev_t> sharing;
  std::set<dev_t> seen;
  std::vector<dev_t> blocks;  // block devices whose bytes are the card's, still to follow
  const auto add = [&](dev_t device) {
    if (!seen.insert(device).second) return;
    if (!S_ISBLK(card.st_mode) || device != card.st_rdev) sharing.push_back(device);
    blocks.push_back(device);
  };
  const auto overFile = [&](dev_t fileDevice, ino_t inode) {
    for (const Loop& loop : loops) {
      if (loop.backing.blockDevice == 0 && loop.backing.fileDevice == fileDevice && loop.backing.inode == inode) {
        add(loop.device);
      }
    }
  };
  if (S_ISBLK(card.st_mode)) {
    add(card.st_rdev);
  } else {
    overFile(card.st_dev, card.st_ino);
  }
  while (!blocks.empty()) {
    const dev_t device = blocks.back();
    blocks.pop_back();
    // Loop devices over it or over one of its partitions.
    for (const Loop& loop : loops) {
      if (loop.backing.blockDevice != 0 && DiskOf(loop.backing.blockDevice) == device) add(loop.device);
      if (loop.backing.blockDevice == device) add(loop.device);
    }
    // What a loop device itself stands on.
    const auto self = std::find_if(loops.begin(), loops.end(), [device](const Loop& loop) { return loop.device == device; });
    if (self == loops.end()) continue;
    if (self->backing.blockDevice != 0) {
      add(self->backing.blockDevice);
    } else {
      overFile(self->backing.fileDevice, self->backing.inode);
    }
  }
  return sharing;
}

std::string CardSystemUse(const std::string& path) {
  struct stat card {};
  if (::stat(path.c_str(), &card) != 0) return {};
  std::string use = S_ISBLK(card.st_mode) ? SystemUse(card.st_rdev) : std::string();
  for (const dev_t device : DevicesSharingBytes(path)) {
    if (use.empty()) use = SystemUse(DiskOf(device));
  }
  return use;
}

bool FolderOnCard(const std::string& folder, const std::string& cardPath) {
  struct stat info {};
  struct stat card {};
  if (folder.empty() || ::stat(folder.c_str(), &info) != 0 || ::stat(cardPath.c_str(), &card) != 0 ||
      major(info.st_dev) == 0) {
    return false;  // no block device under it (tmpfs, btrfs): not one of the card's
  }
  std::vector<dev_t> devices = DevicesSharingBytes(cardPath);
  if (S_ISBLK(card.st_mode)) devices.push_back(card.st_rdev);
  const dev_t disk = DiskOf(info.st_dev);
  return std::any_of(devices.begin(), devices.end(),
                     [&info, disk](dev_t device) { return device == info.st_dev || device == disk; });
}

CardClaim::~CardClaim() {
  Release();
  if (imageLock_ >= 0) ::close(imageLock_);
}

CardClaim::CardClaim(CardClaim&& other) noexcept
    : devices_(std::move(other.devices_)), imageLock_(std::exchange(other.imageLock_, -1)),
      held_(std::exchange(other.held_, false)), blockDevice_(other.blockDevice_) {
  other.devices_.clear();
}

CardClaim& CardClaim::operator=(CardClaim&& other) noexcept {
  if (this != &other) {
    Release();
    if (imageLock_ >= 0) ::close(imageLock_);
    devices_ = std::move(other.devices_);
    other.devices_.clear();
    imageLock_ = std::exchange(other.imageLock_, -1);
    held_ = std::exchange(other.held_, false);
    blockDevice_ = other.blockDevice_;
  }
  return *this;
}

void CardClaim::Close(std::vector<int>& fds) {
  for (const int fd : fds) ::close(fd);
  fds.clear();
}

bool CardClaim::Take(const std::string& path, bool blockDevice) {
  Release();
  diskRefused_ = false;
  std::vector<int> taken;
  if (blockDevice) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_EXCL);
    diskRefused_ = fd < 0 && errno == EBUSY;
    if (fd < 0) return false;
    taken.push_back(fd);
  } else if (imageLock_ < 0) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return false;
    }
    imageLock_ = fd;
  }
  for (const dev_t device : DevicesSharingBytes(path)) {
    const std::string node = NodeOf(device);
    const int fd = node.empty() ? -1 : ::open(node.c_str(), O_RDONLY | O_CLOEXEC | O_EXCL);
    if (fd < 0) {
      const int error = node.empty() ? ENODEV : errno;
      Close(taken);
      errno = error;
      return false;
    }
    taken.push_back(fd);
  }
  devices_ = std::move(taken);
  held_ = true;
  blockDevice_ = blockDevice;
  return true;
}

void CardClaim::Release() {
  Close(devices_);
  held_ = false;
}

int CardClaim::Disk() const { return held_ && blockDevice_ ? devices_.front() : -1; }

}  // namespace linuxhost
