#include "disk/card_at_stake.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/card_disk.h"
#include "disk/device.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

constexpr std::uint64_t kBytesPerKb = 1024;
constexpr std::uint64_t kBytesPerMb = 1024 * kBytesPerKb;
constexpr std::uint64_t kBytesPerGb = 1024 * kBytesPerMb;
// Below this many MB a size gets two decimals.
constexpr std::uint64_t kDecimalsBelowMb = 10;
constexpr std::uint64_t kHundredths = 100;
constexpr char kBlanks[] = " \t";
constexpr char kIndent[] = "  ";

// A catalogue format filled in; the formats hold what their callers pass.
template <typename... Arguments>
std::string Formatted(unsigned formatId, Arguments... arguments) {
  std::array<char, common::kMessageBufferSize> line{};
  std::snprintf(line.data(), line.size(), common::LoadMessageText(formatId), arguments...);
  return line.data();
}

// "7.40 GB", "250 MB", "1.25 MB", "2 KB", in the units Windows shows sizes in.
std::string ReadableSize(std::uint64_t bytes) {
  if (bytes >= kBytesPerGb) {
    const std::uint64_t hundredths = bytes * kHundredths / kBytesPerGb;
    return Formatted(MSG_FMT_SIZE_GB, static_cast<int>(hundredths / kHundredths),
                     static_cast<int>(hundredths % kHundredths));
  }
  if (bytes / kBytesPerMb >= kDecimalsBelowMb) return Formatted(MSG_FMT_SIZE_MB, static_cast<int>(bytes / kBytesPerMb));
  // A few files must not read as none.
  if (bytes < kBytesPerMb) return Formatted(MSG_FMT_SIZE_KB, static_cast<int>((bytes + kBytesPerKb - 1) / kBytesPerKb));
  const std::uint64_t hundredths = bytes * kHundredths / kBytesPerMb;
  return Formatted(MSG_FMT_SIZE_DECIMAL, static_cast<int>(hundredths / kHundredths),
                   static_cast<int>(hundredths % kHundredths));
}

// Devices pad their ids with blanks.
std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// "Generic STORAGE DEVICE": the vendor and product the device tells; empty
// where it tells neither.
std::string Maker() {
  const UniqueHandle drive = OpenPhysicalDrive(Access::Attributes);
  std::string vendor;
  std::string product;
  if (!drive.Valid() || !host::QueryStorageDeviceIds(drive.Get(), vendor, product)) return {};
  vendor = Trimmed(vendor);
  product = Trimmed(product);
  return vendor + (vendor.empty() || product.empty() ? "" : " ") + product;
}

// "FAT32 "PHOTOS", 3.10 GB used", as the system reads the volume.
std::string VolumeText(const std::string& root) {
  std::string label;
  std::string fileSystem;
  if (!host::GetVolumeInformation(root.c_str(), label, fileSystem)) {
    return common::LoadMessageText(MSG_STAKE_NO_FILE_SYSTEM);
  }
  std::string text = fileSystem;
  if (!label.empty()) text += " \"" + label + "\"";
  std::uint64_t total = 0;
  std::uint64_t free = 0;
  // A volume larger than its card is some other disk's answer: no figure
  // beats a wrong one.
  const std::uint64_t cardBytes = common::gCardState.totalSectors * kSectorSize;
  if (host::GetDiskFreeSpace(root.c_str(), total, free) && free <= total && total <= cardBytes) {
    text += Formatted(MSG_FMT_STAKE_USED, ReadableSize(total - free).c_str());
  }
  return text;
}

// "  Partition 2 (F:): FAT32 ..." or, where no letter shows it, its type.
std::string PartitionLine(const std::string& name, const std::string& root, std::uint8_t type) {
  if (root.empty()) return kIndent + name + ": " + Formatted(MSG_FMT_STAKE_NO_LETTER, unsigned{type}) + "\n";
  return kIndent + name + Formatted(MSG_FMT_STAKE_LETTER, static_cast<int>(root[0])) + ": " + VolumeText(root) + "\n";
}

// The partitions the command touches: all of them, or the selected
// letter's alone. A card without a table is one volume; where the table
// cannot be read, or no entry of it is what the letter shows, the letter's
// volume is named all the same.
std::string PartitionLines(Stake stake) {
  const std::string& selected = common::gCardState.driveRoot;
  Table table{};
  const bool read = ReadCardTable(table);
  std::string lines;
  bool anyInUse = false;
  bool selectedNamed = false;
  for (std::size_t index = 0; read && index < table.size(); ++index) {
    const TableEntry& entry = table[index];
    if (!entry.InUse()) continue;
    anyInUse = true;
    const std::string root = RootOfPartition(entry);
    if (stake == Stake::Volume && root != selected) continue;
    selectedNamed = selectedNamed || root == selected;
    lines += PartitionLine(Formatted(MSG_FMT_STAKE_PARTITION, static_cast<int>(index + 1)), root, entry.type);
  }
  if (!selectedNamed) {
    const unsigned name = read && !anyInUse ? MSG_STAKE_WHOLE_CARD : MSG_STAKE_VOLUME;
    lines += PartitionLine(common::LoadMessageText(name), selected, 0);
  }
  return lines;
}

std::string WhatHappens(Stake stake, char letter) {
  switch (stake) {
    case Stake::Card: return common::LoadMessageText(MSG_STAKE_ERASE_CARD);
    case Stake::Volume: return Formatted(MSG_FMT_STAKE_ERASE_VOLUME, static_cast<int>(letter));
    case Stake::Table: break;
  }
  return common::LoadMessageText(MSG_STAKE_SWAP);
}

}  // namespace

bool ConfirmCardAtStake(Stake stake) {
  const common::CardState& card = common::gCardState;
  if (card.driveRoot.empty()) return false;
  const char letter = card.driveRoot[0];
  std::string text = Formatted(MSG_FMT_STAKE_CARD, static_cast<int>(letter),
                               ReadableSize(card.totalSectors * kSectorSize).c_str());
  const std::string maker = Maker();
  if (!maker.empty()) text += kIndent + maker;
  text += "\n" + PartitionLines(stake) + WhatHappens(stake, letter);
  const std::string caption = common::LoadMessageText(MSG_CAPTION_CARD_AT_STAKE);
  return host::MessageBox(text.c_str(), caption.c_str(), host::kMbYesNo | host::kMbIconWarning) == host::kIdYes;
}

}  // namespace disk
