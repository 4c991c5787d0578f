// A card is its bytes, not the name it was given: the other block devices
// that reach the same bytes (loop devices over an image or over a disk,
// the device a loop card stands on), and the kernel's claim on all of them
// while the program writes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace linuxhost {

// The block devices a card shares its bytes with, the card's own device
// left out: every loop device over the image (matched by its file's device
// and inode) or over the disk or one of its partitions, stacked ones too,
// and for a loop device, the block device it stands on and what shares
// that.
std::vector<dev_t> DevicesSharingBytes(const std::string& path);

// Where the system needs the card's bytes under any of their names (see
// SystemUse); empty when nowhere.
std::string CardSystemUse(const std::string& path);

// True when the file system of this folder lies on the card's bytes: on
// the card's device, a partition of it, or a device it shares them with.
bool FolderOnCard(const std::string& folder, const std::string& cardPath);

// The kernel's claim on a card: the whole disk and every device that
// shares its bytes opened with O_EXCL (an image: an exclusive flock on the
// file, kept until the claim is destroyed), so that nothing mounts, holds
// or assembles them while the program writes.
class CardClaim {
 public:
  CardClaim() = default;
  ~CardClaim();
  CardClaim(const CardClaim&) = delete;
  CardClaim& operator=(const CardClaim&) = delete;
  CardClaim(CardClaim&& other) noexcept;
  CardClaim& operator=(CardClaim&& other) noexcept;

  // False, with errno, when any of them is held by another (a mount, in
  // any mount namespace; a RAID, device-mapper or btrfs member; another
  // program's claim) or cannot be opened; nothing stays claimed then but
  // an image's lock.
  bool Take(const std::string& path, bool blockDevice);
  // Lets the devices go; an image's lock stays for the whole run.
  void Release();
  bool Held() const { return held_; }
  // The last Take was refused for the card's own disk (its own mounts),
  // not for another name of its bytes.
  bool DiskRefused() const { return diskRefused_; }
  // The whole disk opened with O_EXCL, while held: what may ask the kernel
  // to read its table again; -1 for an image.
  int Disk() const;

 private:
  void Close(std::vector<int>& fds);
  std::vector<int> devices_;
  int imageLock_ = -1;
  bool held_ = false;
  bool blockDevice_ = false;
  bool diskRefused_ = false;
};

}  // namespace linuxhost
