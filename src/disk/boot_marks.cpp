#include "disk/boot_marks.h"

#include <string>
#include <utility>

#include "common/card_state.h"
#include "common/catalogue.h"
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

// Sets a mark in the volume boot sector and writes the sector back (an
// error box if that fails); false when the sector could not be read.
template <std::size_t N>
bool MarkVolumeBootSector(std::size_t offset, const char (&mark)[N]) {
  Sector sector{};
  UniqueHandle volume = ReadVolumeBootSector(sector);
  if (!volume.Valid()) return false;
  PutMark(sector, offset, mark);
  WriteBackBootSector(std::move(volume), sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  return true;
}

// Creates an empty file in the card root; an existing one is left as it is.
void CreateMarkerFile(const char* name) {
  const std::string path = common::gCardState.driveRoot + name;
  UniqueHandle file(host::CreateFile(path.c_str(), kFileAccess, kFileShare, host::kCreateNew));
}

}  // namespace

bool WriteInstallBootMark() {
  if (MarkVolumeBootSector(kBootMarkOffset, kBootMark)) return true;
  common::ShowErrorMessage(MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  return false;
}

void MakeBootableCommand() {
  if (!common::CardIdentified() || !MarkVolumeBootSector(kBootMarkOffset, kBootMark)) return;
  host::PostCommand(IDC_INSPECT);
}

void SetScriptFlagCommand() {
  if (!common::CardIdentified() || !MarkVolumeBootSector(kScriptFlagOffset, kScriptFlag)) return;
  CreateMarkerFile(kExtendMarkerFile);
  CreateMarkerFile(kScriptMarkerFile);
  host::PostCommand(IDC_INSPECT);
}

void DumpBootSectorCommand() {
  if (!common::CardIdentified()) return;
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
