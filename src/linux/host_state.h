// The Linux host's state: its cards and their volumes as the system maps
// them now, and the handles open on them. Internal to src/linux.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/host.h"
#include "linux/card_claim.h"
#include "linux/card_files.h"
#include "linux/dialog.h"
#include "linux/disk_layout.h"
#include "linux/frontend.h"
#include "linux/linux_host.h"

namespace linuxhost {

struct MappedVolume {
  char letter = 0;
  VolumeRange range;
};

struct Card {
  std::string path;  // the device node or the image file
  std::uint32_t number = 0;  // the device number the logic sees
  bool blockDevice = false;
  dev_t device = 0;
  std::string vendor;
  std::string model;
  // The medium as the system mapped it at its last insertion.
  bool present = false;
  std::uint64_t bytes = 0;
  std::uint32_t sectorSize = kSectorBytes;
  std::string mediumId;  // what changes when the medium does
  DiskLayout layout;
  std::vector<MappedVolume> volumes;
  // The kernel's claim while something writes to the card, and how many
  // hold it.
  CardClaim claim;
  int claimUsers = 0;
};

enum class HandleKind { Disk, Volume, SystemVolume, SystemDisk, PcFile, CardFile };

struct OpenHandle {
  HandleKind kind = HandleKind::PcFile;
  int fd = -1;
  std::uint32_t card = 0;        // Disk, Volume, CardFile
  std::uint64_t base = 0;        // where a volume starts on its disk
  std::uint64_t length = 0;      // a volume's or a disk's bytes
  std::uint32_t partitionNumber = 0;
  bool write = false;
  bool claimed = false;          // holds one of its card's claim users
  bool writesFail = false;       // a read-only device opened for writing
  std::string content;           // a card file's, read at its open
};

// The medium a card's device holds now (what changes when it does) and its
// size; false when the device cannot be opened.
bool CurrentMedium(const Card& card, std::string& mediumId, std::uint64_t& bytes);

class HostState {
 public:
  static HostState& Get();
  ~HostState();

  Frontend* frontend = nullptr;
  WindowState window;
  // The first transfer a card refused in the command in hand, as the system
  // told it: what the user hears where the logic shows nothing.
  std::string cardFault;
  std::vector<std::pair<unsigned, unsigned>> posted;

  // Cards by device number (1, 2, ...).
  std::map<std::uint32_t, Card> cards;
  Card* CardByNumber(std::uint32_t number);
  Card* CardByPath(const std::string& path);
  Card& AddCard(const std::string& path, bool blockDevice, dev_t device);
  // Reads the card's medium again: its size, table and volumes, each volume
  // under the letter it had, else the lowest free one.
  void Insert(Card& card);
  // The card and volume a letter shows now.
  const MappedVolume* VolumeAt(char letter, const Card** card = nullptr) const;
  std::optional<CardVolume> CardVolumeAt(char letter) const;

  // Before a write to bytes of a card: the system's mounts over them
  // unmounted. False, after the locked-volume message, when one is busy.
  bool PrepareWrite(const Card& card, std::uint64_t offset, std::uint64_t length);
  void ShowBusy();
  // Before anything writes to the card: the card and everything that shares
  // its bytes claimed (its own idle mounts unmounted first, when one holds
  // it). False, after the message, when the add-on's folder lies on the card
  // or another holds any of it: the card is in use.
  bool Claim(Card& card);
  void Unclaim(Card& card);
  bool Interrupted();

  std::map<host::Handle, OpenHandle> handles;
  host::Handle Add(OpenHandle open);
  OpenHandle* Find(host::Handle handle);

  std::map<host::DialogWindow, Dialog*> dialogs;
  std::map<host::ItemList, std::string> itemLists;
  std::string browserSelection;
  host::Handle nextHandle = 0x100;
  std::map<host::RegistryKey, std::string> registryKeys;

  // The scratch folder of this run (staging of copies), made at first use.
  const std::string& Scratch();

 private:
  std::map<std::pair<std::string, std::uint64_t>, char> letters_;
  std::string scratch_;
};

}  // namespace linuxhost
