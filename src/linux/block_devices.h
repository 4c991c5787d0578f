// The kernel's block devices: which disks are cards (sysfs), which hold what
// the system needs (the mount table and the swaps, through libmount), and
// the system's mounts on a card, unmounted plainly before the program
// writes under them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace linuxhost {

// Every disk the system calls removable, an SD/MMC card, or a disk on USB,
// as "/dev/NAME".
std::vector<std::string> RemovableDisks();

// The disk a partition node belongs to ("/dev/sdb" of "/dev/sdb1"); none
// when the device is no partition.
std::optional<std::string> DiskOfPartition(dev_t device);

// Where the system needs a disk: it holds a file system mounted at /, /boot,
// /usr, /home or /var (or under /boot), or a swap area. What it holds there,
// for the user ("/home"); empty when it holds none. A file system on
// several disks (LVM, RAID, btrfs) makes every one of them a system disk.
std::string SystemUse(dev_t disk);

// A mount of the system's on a disk: where it is, and the bytes of the disk
// its device covers.
struct DiskMount {
  std::string target;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};
// The system's mounts of the disk itself or of its partitions, the deepest
// first.
std::vector<DiskMount> MountsOnDisk(dev_t disk, std::uint64_t diskBytes);

// The kernel's node of the disk's partition that covers exactly these bytes
// (its start and size in sysfs, the node's device number checked against
// the partition's); none when the kernel shows no such partition.
std::optional<std::string> PartitionNode(dev_t disk, std::uint64_t offset, std::uint64_t length);
// True when the kernel shows partitions of the disk (nodes such as sdb1).
bool HasPartitionNodes(dev_t disk);

// umount2 without MNT_DETACH or MNT_FORCE: a busy file system stays mounted.
// False, with errno, when it could not be unmounted.
bool Unmount(const std::string& target);

// A sysfs attribute of a block device (/sys/dev/block/MAJ:MIN/NAME),
// trailing blanks and newline cut; empty when there is none.
std::string SysfsAttribute(dev_t device, const std::string& name);

// The disk's size in bytes and its logical sector size.
bool BlockDeviceSize(int fd, std::uint64_t& bytes, std::uint32_t& sectorSize);
// True when the kernel holds the device read-only (a card's lock switch,
// losetup -r).
bool BlockDeviceReadOnly(int fd);
// Writes the device's cached data through and drops its cache (fsync, then
// BLKFLSBUF), so that the next read comes from the card. False when either
// fails: what was written may not be on the card.
bool FlushBlockDevice(int fd);
// Asks the kernel to read the partition table again; false where it will
// not (a loop device without partition scanning, a partition in use).
bool RereadPartitionTable(int fd);
// The kernel's sequence number of the disk's medium: it changes at every
// change of medium (and every attach of a loop device).
bool DiskSequence(int fd, std::uint64_t& sequence);
// The medium out, where the device has a way to (a SCSI or USB reader):
// its door unlocked first, as the kernel locks it while the disk is open.
// False when the device has an eject and it failed; true when it ejected
// or has none (an SD host: the card is taken out by hand).
bool EjectMedium(int fd);

}  // namespace linuxhost
