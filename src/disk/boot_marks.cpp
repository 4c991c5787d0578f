#include "disk/boot_marks.h"

#include <string>
#include <utility>

#include "card/card_state.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

constexpr std::uint32_t kFileAccess = host::kGenericRead | host::kGenericWrite;
constexpr std::uint32_t kFileShare = host::kFileShareRead | host::kFileShareWrite;

// Opens the card's volume and reads its boot sector; an invalid handle when
// either fails.
UniqueHandle ReadVolumeBootSector(Sector& sector) {
  UniqueHandle volume = OpenVolume(Access::ReadWrite);
  if (volume.Valid() && !ReadSector0(volume.Get(), sector)) volume.Close();
  return volume;
}

// Creates an empty file in the card root; an existing one is left as it is.
void CreateMarkerFile(const char* name) {
  const std::string path = card::gCardState.driveRoot + name;
  UniqueHandle file(host::CreateFile(path.c_str(), kFileAccess, kFileShare, host::kCreateNew));
}

}  // namespace

void MakeBootableCommand() {
  if (!card::CardIdentified()) return;
  Sector sector{};
  UniqueHandle volume = ReadVolumeBootSector(sector);
  if (!volume.Valid()) return;
  PutMark(sector, kBootMarkOffset, kBootMark);
  WriteBackBootSector(std::move(volume), sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  host::PostCommand(IDC_INSPECT);
}

void SetScriptFlagCommand() {
  if (!card::CardIdentified()) return;
  Sector sector{};
  UniqueHandle volume = ReadVolumeBootSector(sector);
  if (!volume.Valid()) return;
  PutMark(sector, kScriptFlagOffset, kScriptFlag);
  WriteBackBootSector(std::move(volume), sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  CreateMarkerFile(kExtendMarkerFile);
  CreateMarkerFile(kScriptMarkerFile);
  host::PostCommand(IDC_INSPECT);
}

void DumpBootSectorCommand() {
  if (!card::CardIdentified()) return;
  Sector sector{};
  UniqueHandle volume = ReadVolumeBootSector(sector);
  if (!volume.Valid()) return;
  volume.Close();  // the card is only read
  UniqueHandle dump(host::CreateFile(kDumpFilePath, kFileAccess, kFileShare, host::kCreateAlways));
  if (!dump.Valid()) return;
  WriteBackBootSector(std::move(dump), sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  host::MessageBox(kDumpDoneText, kDumpDoneCaption, host::kMbIconWarning);
}

}  // namespace disk
