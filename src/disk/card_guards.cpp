#include "disk/card_guards.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/module_directory.h"
#include "disk/card_disk.h"
#include "disk/device.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

// What BitLocker puts where a file system names itself.
constexpr char kBitLockerSignature[] = "-FVE-FS-";
constexpr std::size_t kFileSystemNameOffset = 3;
// BitLocker To Go on a FAT card keeps a FAT boot sector, so that older
// systems can read its reader program; its GUID, as stored, tells it apart.
constexpr char kFatOemName[] = "MSWIN4.1";
constexpr std::size_t kBitLockerToGoGuidOffset = 424;
constexpr std::array<std::uint8_t, 16> kBitLockerToGoGuid = {
    0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A, 0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};
static_assert(kBitLockerToGoGuidOffset + kBitLockerToGoGuid.size() <= kSectorSize, "in the boot sector");

bool EncryptedVolume(const Sector& boot) {
  if (SectorHolds(boot, kFileSystemNameOffset, kBitLockerSignature)) return true;
  return SectorHolds(boot, kFileSystemNameOffset, kFatOemName) &&
         std::equal(kBitLockerToGoGuid.begin(), kBitLockerToGoGuid.end(),
                    boot.begin() + kBitLockerToGoGuidOffset);
}

// False after a stop: a box that only says OK does not carry the command on.
bool PromptRemoveAndReinsert() {
  FlushCard();
  common::CatalogueMessageBox(MSG_CAPTION_REMOVE, MSG_REMOVE_CARD, common::ButtonSet::Notice);
  if (host::StopRequested()) return false;
  common::CatalogueMessageBox(MSG_CAPTION_REINSERT, MSG_REINSERT_CARD, common::ButtonSet::Notice);
  return !host::StopRequested();
}

// The card is back, and the system shows its table as it now stands: the
// first entry is shown, and no letter shows a partition where an entry
// starts but as long as the old table made it.
bool ReinsertTookEffect() {
  Table table{};
  TableEntry first;
  if (!SameCardReinserted() || !ReadCardTable(table) || !FirstTableEntry(first)) return false;
  bool firstShown = false;
  for (const CardVolume& volume : CardVolumes()) {
    for (const TableEntry& entry : table) {
      if (!entry.InUse() || !volume.placed || volume.startSector != entry.firstSector) continue;
      if (volume.sectors != entry.sectors) return false;
      firstShown = firstShown || entry.firstSector == first.firstSector;
    }
  }
  return firstShown;
}

char UpperLetter(char letter) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

// The letters a drive of the card shows under now or may show under next.
std::string CardOrFreeLetters() {
  std::string letters;
  const std::vector<CardVolume> volumes = CardVolumes();
  const std::string& root = common::gCardState.driveRoot;
  for (char letter = kFirstDriveLetter; letter <= kLastDriveLetter; ++letter) {
    const bool onCard = std::any_of(volumes.begin(), volumes.end(),
                                    [letter](const CardVolume& volume) { return volume.letter == letter; });
    const bool picked = !root.empty() && UpperLetter(root[0]) == letter;
    if (onCard || picked || host::GetDriveType(DriveRoot(letter).c_str()) == host::kDriveNoRootDir) {
      letters += letter;
    }
  }
  return letters;
}

// How many guards live; the outermost one holds the system's prompts.
int gDrivePromptGuards = 0;

}  // namespace

bool ConfirmSameCard(const std::string& root) {
  // After a stop the sequence ends here, before its next step, quietly.
  if (host::StopRequested()) return false;
  if (SameCard() && (root.empty() || RootOnCard(root))) return true;
  common::ShowErrorMessage(MSG_CARD_CHANGED);
  return false;
}

bool AskToRemoveAndReinsert() {
  MarkCard();  // an exact copy put in instead has the same picture
  for (int prompt = 0; prompt < 2; ++prompt) {
    if (!PromptRemoveAndReinsert()) {
      PutMarkBack();
      return false;
    }
    if (ReinsertTookEffect()) return true;
  }
  common::ShowErrorMessage(MSG_CARD_CHANGED);
  return false;
}

bool RefuseProgramOnCard() {
  const std::string& folder = common::gModuleDirectory;
  // "E:\..."; a UNC folder is never on the card.
  if (folder.size() < 2 || folder[1] != ':') return false;
  const char letter = UpperLetter(folder[0]);
  const std::string& root = common::gCardState.driveRoot;
  bool onCard = !root.empty() && UpperLetter(root[0]) == letter;
  for (const CardVolume& volume : CardVolumes()) onCard = onCard || volume.letter == letter;
  if (onCard) common::ShowErrorMessage(MSG_PROGRAM_ON_CARD);
  return onCard;
}

bool RefuseEncryptedCard() {
  UniqueHandle drive = OpenPhysicalDrive(Access::Read);
  if (!drive.Valid()) return false;  // the write that follows fails on its own
  // A volume over the whole card, and every partition of the layout that
  // starts on the card: an entry may point past its end.
  std::vector<std::uint64_t> starts = {0};
  DriveLayout layout;
  DiskSize size;
  const bool sized = ReadDiskSize(drive.Get(), size);
  if (GetDriveLayout(drive.Get(), layout)) {
    for (const PartitionInformation& entry : layout.entries) {
      const std::uint64_t start = static_cast<std::uint64_t>(entry.startingOffset) / kSectorSize;
      if (entry.partitionLength > 0 && entry.startingOffset > 0 && (!sized || start < size.sectors)) {
        starts.push_back(start);
      }
    }
  }
  for (const std::uint64_t start : starts) {
    Sector sector{};
    if (ReadSectorAt(drive.Get(), start, sector) && EncryptedVolume(sector)) {
      common::ShowErrorMessage(MSG_CARD_ENCRYPTED);
      return true;
    }
  }
  return false;
}

bool RefuseCardForWriting() { return RefuseProgramOnCard() || RefuseEncryptedCard(); }

DrivePromptGuard::DrivePromptGuard() : outermost_(gDrivePromptGuards++ == 0) {
  // Without the hook the command still runs, as it did before there was one.
  if (outermost_) host::BeginClosingDrivePrompts(CardOrFreeLetters());
}

DrivePromptGuard::~DrivePromptGuard() {
  --gDrivePromptGuards;
  if (outermost_) host::EndClosingDrivePrompts();
}

}  // namespace disk
