#include "disk/boot_marks.h"

#include <string>
#include <utility>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

constexpr std::uint32_t kFileAccess = host::kGenericRead | host::kGenericWrite;
constexpr std::uint32_t kFileShare = host::kFileShareRead | host::kFileShareWrite;

// Opens the volume of the root and reads its boot sector; an invalid handle
// when either fails.
UniqueHandle ReadVolumeBootSector(const std::string& root, Sector& sector) {
  UniqueHandle volume = OpenVolumeOf(root, Access::ReadWrite);
  if (volume.Valid() && !ReadSector0(volume.Get(), sector)) volume.Close();
  return volume;
}

// Sets a mark in the volume boot sector and writes the sector back (an
// error box if that fails); false when the sector could not be read.
template <std::size_t N>
bool MarkVolumeBootSector(const std::string& root, std::size_t offset, const char (&mark)[N]) {
  Sector sector{};
  UniqueHandle volume = ReadVolumeBootSector(root, sector);
  if (!volume.Valid()) return false;
  PutMark(sector, offset, mark);
  WriteBackBootSector(std::move(volume), sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  RememberPartition(root);
  return true;
}

// The marks of the buttons go into the selected drive's volume.
template <std::size_t N>
bool MarkSelectedVolume(std::size_t offset, const char (&mark)[N]) {
  return common::CardIdentified() && !RefuseEncryptedCard() &&
         MarkVolumeBootSector(common::gCardState.driveRoot, offset, mark);
}

// Creates an empty file in the card root; an existing one is left as it is.
void CreateMarkerFile(const char* name) {
  const std::string path = common::gCardState.driveRoot + name;
  UniqueHandle file(host::CreateFile(path.c_str(), kFileAccess, kFileShare, host::kCreateNew));
}

}  // namespace

bool WriteInstallBootMark(const std::string& root) {
  if (MarkVolumeBootSector(root, kBootMarkOffset, kBootMark)) return true;
  common::ShowErrorMessage(MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  return false;
}

void MakeBootableCommand() {
  if (!MarkSelectedVolume(kBootMarkOffset, kBootMark)) return;
  host::PostCommand(IDC_INSPECT);
}

void SetScriptFlagCommand() {
  if (!MarkSelectedVolume(kScriptFlagOffset, kScriptFlag)) return;
  CreateMarkerFile(kExtendMarkerFile);
  CreateMarkerFile(kScriptMarkerFile);
  host::PostCommand(IDC_INSPECT);
}

void DumpBootSectorCommand() {
  if (!common::CardIdentified()) return;
  Sector sector{};
  UniqueHandle volume = ReadVolumeBootSector(common::gCardState.driveRoot, sector);
  if (!volume.Valid()) return;
  volume.Close();  // the card is only read
  UniqueHandle dump(host::CreateFile(kDumpFilePath, kFileAccess, kFileShare, host::kCreateAlways));
  if (!dump.Valid()) return;
  WriteBackBootSector(std::move(dump), sector, MSG_CANNOT_WRITE_MAYBE_PROTECTED);
  host::MessageBox(kDumpDoneText, kDumpDoneCaption, host::kMbIconWarning);
}

}  // namespace disk
