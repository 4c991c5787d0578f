#include "install/verify.h"

#include <algorithm>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/module_directory.h"
#include "disk/boot_marks.h"
#include "disk/device.h"
#include "host/host.h"
#include "install/file_set.h"
#include "res/ids.h"

namespace install {
namespace {

constexpr std::uint32_t kFileAccess = host::kGenericRead;
constexpr std::uint32_t kFileShare = host::kFileShareRead | host::kFileShareWrite;

bool Fail(unsigned messageId) {
  common::ShowErrorMessage(messageId);
  return false;
}

// The whole file in an aligned buffer of whole sectors; an unbuffered read
// asks for them, and stops at the file's end.
bool ReadWhole(const std::string& path, std::uint32_t flags, disk::SectorBuffer& buffer,
               std::uint32_t& read) {
  disk::UniqueHandle file(
      host::CreateFile(path.c_str(), kFileAccess, kFileShare, host::kOpenExisting, flags));
  return file.Valid() && host::ReadAt(file.Get(), 0, buffer.Data(), buffer.Bytes(), read);
}

// The card's copy of a file beside the program, compared byte for byte.
bool SameAsBeside(const char* name, const std::string& onCard) {
  const std::string beside = common::gModuleDirectory + name;
  std::uint64_t size = 0;
  {
    disk::UniqueHandle file(host::CreateFile(beside.c_str(), kFileAccess, kFileShare, host::kOpenExisting));
    if (!file.Valid() || !host::GetFileSize(file.Get(), size) || size >= 0xFFFFFFFFu - disk::kSectorSize) {
      return false;
    }
  }
  // One sector more than the file: a longer copy on the card shows.
  const auto sectors = static_cast<std::uint32_t>(size / disk::kSectorSize + 1);
  disk::SectorBuffer expected(sectors);
  disk::SectorBuffer found(sectors);
  std::uint32_t expectedBytes = 0;
  std::uint32_t foundBytes = 0;
  return ReadWhole(beside, 0, expected, expectedBytes) && expectedBytes == size &&
         ReadWhole(onCard, host::kFileFlagNoBuffering, found, foundBytes) && foundBytes == size &&
         std::equal(expected.Data(), expected.Data() + size, found.Data());
}

bool Marked(host::Handle drive, const disk::TableEntry& partition, bool& marked) {
  disk::Sector sector{};
  if (!disk::ReadSectorAt(drive, partition.firstSector, sector)) return false;
  marked = disk::HasBootMark(sector);
  return true;
}

bool SameEntries(const disk::Table& found, const std::vector<disk::TableEntry>& expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i >= found.size() || found[i].type != expected[i].type ||
        found[i].firstSector != expected[i].firstSector || found[i].sectors != expected[i].sectors) {
      return false;
    }
  }
  return true;
}

}  // namespace

// A flush that fails leaves what was read back unproven: the step fails.
bool ProveBootFile(const std::string& cardRoot) {
  if (!disk::FlushCard()) return Fail(MSG_VERIFY_BOOT_FILE);
  return SameAsBeside(kBootFile, cardRoot + kBootFile) || Fail(MSG_VERIFY_BOOT_FILE);
}

bool ProveInstall(const CardProof& proof) {
  if (!disk::FlushCard()) return Fail(MSG_VERIFY_TABLE);
  disk::UniqueHandle drive =
      disk::OpenDevice(common::gCardState.physicalDrivePath, disk::Access::Read, host::kFileFlagNoBuffering);
  disk::Sector mbr{};
  if (!drive.Valid() || !disk::ReadSector0(drive.Get(), mbr) ||
      !SameEntries(disk::TableOf(mbr), proof.table)) {
    return Fail(MSG_VERIFY_TABLE);
  }
  bool marked = false;
  if (proof.marked && (!Marked(drive.Get(), *proof.marked, marked) || !marked))
    return Fail(MSG_VERIFY_BOOT_MARK);
  if (proof.unmarked && (!Marked(drive.Get(), *proof.unmarked, marked) || marked)) {
    return Fail(MSG_VERIFY_MARK_ON_LARGE);
  }
  return SameAsBeside(ChosenConfig(), proof.configRoot + kCardConfig) || Fail(MSG_VERIFY_CONFIG);
}

}  // namespace install
