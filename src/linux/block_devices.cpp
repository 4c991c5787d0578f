#include "linux/block_devices.h"

#include <dirent.h>
#include <fcntl.h>
#include <libmount/libmount.h>
#include <linux/cdrom.h>
#include <linux/fs.h>
#include <scsi/scsi_ioctl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>

namespace linuxhost {
namespace {

constexpr char kSysBlock[] = "/sys/block";
constexpr char kSysDevBlock[] = "/sys/dev/block/";
constexpr char kSysBtrfs[] = "/sys/fs/btrfs";
constexpr char kDev[] = "/dev/";
constexpr std::uint64_t kSysfsSector = 512;
// The folders whose file systems the system needs.
constexpr const char* kSystemTargets[] = {"/", "/boot", "/usr", "/home", "/var"};
constexpr char kBootFolder[] = "/boot/";
constexpr int kMaximumDepth = 8;  // stacked devices (dm over md over disks)

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::string text;
  std::getline(file, text, '\0');
  return Trimmed(text);
}

std::string SysfsFolder(dev_t device) {
  return kSysDevBlock + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

std::optional<dev_t> ParseDevno(const std::string& text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return makedev(static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10)),
                 static_cast<unsigned>(std::strtoul(text.c_str() + colon + 1, nullptr, 10)));
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// The whole disks under a device: itself, its disk when it is a partition,
// or the disks under the devices it is made of.
void DisksUnder(dev_t device, std::set<dev_t>& disks, int depth) {
  if (depth > kMaximumDepth) return;
  const std::string folder = SysfsFolder(device);
  const std::vector<std::string> slaves = Entries(folder + "/slaves");
  if (!slaves.empty()) {
    for (const std::string& slave : slaves) {
      if (const auto slaveDevice = ParseDevno(ReadText(folder + "/slaves/" + slave + "/dev"))) {
        DisksUnder(*slaveDevice, disks, depth + 1);
      }
    }
    return;
  }
  if (!ReadText(folder + "/partition").empty()) {
    if (const auto disk = ParseDevno(ReadText(folder + "/../dev"))) {
      disks.insert(*disk);
      return;
    }
  }
  disks.insert(device);
}

// A btrfs over several disks is named in the mount table by one of them:
// its members, from the kernel's own list, stand for it.
std::vector<dev_t> BtrfsMembers(dev_t device) {
  for (const std::string& fsid : Entries(kSysBtrfs)) {
    const std::string folder = std::string(kSysBtrfs) + "/" + fsid + "/devices";
    std::vector<dev_t> members;
    for (const std::string& member : Entries(folder)) {
      if (const auto number = ParseDevno(ReadText(folder + "/" + member + "/dev"))) members.push_back(*number);
    }
    for (const dev_t member : members) {
      if (member == device) return members;
    }
  }
  return {device};
}

// A file system's device: the mount table's number, or its source's.
dev_t DeviceOf(libmnt_fs* fs) {
  const dev_t device = mnt_fs_get_devno(fs);
  if (major(device) != 0) return device;
  const char* source = mnt_fs_get_srcpath(fs);
  struct stat info {};
  if (source != nullptr && ::stat(source, &info) == 0 && S_ISBLK(info.st_mode)) return info.st_rdev;
  return 0;
}

using Table = std::unique_ptr<libmnt_table, void (*)(libmnt_table*)>;
using Iterator = std::unique_ptr<libmnt_iter, void (*)(libmnt_iter*)>;

// Every entry of the mount table (or of the swaps), in the table's order.
void EachFileSystem(bool swaps, const std::function<void(libmnt_fs*)>& take) {
  Table table(mnt_new_table(), mnt_unref_table);
  if (!table) return;
  const int parsed = swaps ? mnt_table_parse_swaps(table.get(), nullptr) : mnt_table_parse_mtab(table.get(), nullptr);
  if (parsed != 0) return;
  Iterator iterator(mnt_new_iter(MNT_ITER_FORWARD), mnt_free_iter);
  libmnt_fs* fs = nullptr;
  while (iterator && mnt_table_next_fs(table.get(), iterator.get(), &fs) == 0) take(fs);
}

bool SystemTarget(const std::string& target) {
  for (const char* folder : kSystemTargets) {
    if (target == folder) return true;
  }
  return target.rfind(kBootFolder, 0) == 0;
}

}  // namespace

std::vector<std::string> RemovableDisks() {
  std::vector<std::string> disks;
  for (const std::string& name : Entries(kSysBlock)) {
    const std::string folder = std::string(kSysBlock) + "/" + name;
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(folder.c_str(), target.data(), target.size() - 1);
    const std::string devicePath = length > 0 ? std::string(target.data(), static_cast<std::size_t>(length)) : "";
    const bool removable = ReadText(folder + "/removable") == "1";
    const bool card = name.rfind("mmcblk", 0) == 0 && name.find("boot") == std::string::npos &&
                      name.find("rpmb") == std::string::npos;
    const bool usb = devicePath.find("/usb") != std::string::npos;
    if (removable || card || usb) disks.push_back(kDev + name);
  }
  return disks;
}

std::optional<std::string> DiskOfPartition(dev_t device) {
  const std::string folder = SysfsFolder(device);
  if (ReadText(folder + "/partition").empty()) return std::nullopt;
  std::array<char, PATH_MAX> resolved{};
  if (::realpath((folder + "/..").c_str(), resolved.data()) == nullptr) return std::nullopt;
  const std::string parent = resolved.data();
  return kDev + parent.substr(parent.rfind('/') + 1);
}

std::string SystemUse(dev_t disk) {
  std::string use;
  const auto consider = [disk, &use](libmnt_fs* fs, const std::string& what) {
    std::set<dev_t> disks;
    const dev_t device = DeviceOf(fs);
    if (device == 0) return;
    for (const dev_t member : BtrfsMembers(device)) DisksUnder(member, disks, 0);
    if (use.empty() && disks.count(disk) != 0) use = what;
  };
  EachFileSystem(false, [&consider](libmnt_fs* fs) {
    const char* target = mnt_fs_get_target(fs);
    if (target != nullptr && SystemTarget(target)) consider(fs, target);
  });
  EachFileSystem(true, [&consider](libmnt_fs* fs) { consider(fs, "swap"); });
  return use;
}

std::vector<DiskMount> MountsOnDisk(dev_t disk, std::uint64_t diskBytes) {
  std::vector<DiskMount> mounts;
  EachFileSystem(false, [&](libmnt_fs* fs) {
    const dev_t device = DeviceOf(fs);
    const char* target = mnt_fs_get_target(fs);
    if (device == 0 || target == nullptr) return;
    DiskMount mount;
    mount.target = target;
    if (device == disk) {
      mount.length = diskBytes;
    } else {
      const std::string folder = SysfsFolder(device);
      if (ReadText(folder + "/partition").empty() || ParseDevno(ReadText(folder + "/../dev")) != disk) return;
      mount.offset = std::strtoull(ReadText(folder + "/start").c_str(), nullptr, 10) * kSysfsSector;
      mount.length = std::strtoull(ReadText(folder + "/size").c_str(), nullptr, 10) * kSysfsSector;
    }
    mounts.insert(mounts.begin(), mount);  // the deepest, mounted last, first
  });
  return mounts;
}

namespace {

// The disk's partitions as the kernel shows them: their sysfs folders' names.
std::vector<std::string> PartitionsOf(dev_t disk) {
  std::vector<std::string> names;
  const std::string folder = SysfsFolder(disk);
  for (const std::string& name : Entries(folder)) {
    if (!ReadText(folder + "/" + name + "/partition").empty()) names.push_back(name);
  }
  return names;
}

}  // namespace

std::optional<std::string> PartitionNode(dev_t disk, std::uint64_t offset, std::uint64_t length) {
  for (const std::string& name : PartitionsOf(disk)) {
    const std::string folder = SysfsFolder(disk) + "/" + name;
    const auto device = ParseDevno(ReadText(folder + "/dev"));
    const std::uint64_t start = std::strtoull(ReadText(folder + "/start").c_str(), nullptr, 10) * kSysfsSector;
    const std::uint64_t size = std::strtoull(ReadText(folder + "/size").c_str(), nullptr, 10) * kSysfsSector;
    const std::string node = kDev + name;
    struct stat info {};
    if (device && start == offset && size == length && ::stat(node.c_str(), &info) == 0 &&
        S_ISBLK(info.st_mode) && info.st_rdev == *device) {
      return node;
    }
  }
  return std::nullopt;
}

bool HasPartitionNodes(dev_t disk) { return !PartitionsOf(disk).empty(); }

bool Unmount(const std::string& target) { return ::umount2(target.c_str(), 0) == 0; }

std::string SysfsAttribute(dev_t device, const std::string& name) {
  return ReadText(SysfsFolder(device) + "/" + name);
}

bool BlockDeviceSize(int fd, std::uint64_t& bytes, std::uint32_t& sectorSize) {
  int logical = 0;
  if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0 || ::ioctl(fd, BLKSSZGET, &logical) != 0 || logical <= 0) {
    return false;
  }
  sectorSize = static_cast<std::uint32_t>(logical);
  return true;
}

bool BlockDeviceReadOnly(int fd) {
  int readOnly = 0;
  return ::ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0;
}

bool FlushBlockDevice(int fd) {
  const bool synced = ::fsync(fd) == 0;
  return ::ioctl(fd, BLKFLSBUF, 0) == 0 && synced;
}

bool RereadPartitionTable(int fd) { return ::ioctl(fd, BLKRRPART, 0) == 0; }

bool DiskSequence(int fd, std::uint64_t& sequence) { return ::ioctl(fd, BLKGETDISKSEQ, &sequence) == 0; }

bool EjectMedium(int fd) {
  // A device without these requests answers ENOTTY or EINVAL.
  const auto unsupported = [] { return errno == ENOTTY || errno == EINVAL; };
  if (::ioctl(fd, SCSI_IOCTL_DOORUNLOCK, 0) != 0 && !unsupported()) return false;
  return ::ioctl(fd, CDROMEJECT, 0) == 0 || unsupported();
}

}  // namespace linuxhost
