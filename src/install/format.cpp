#include "install/format.h"

#include <cstdint>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/card_at_stake.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "install/fat32_format.h"
#include "res/ids.h"

namespace install {
namespace {

constexpr char kFormatProgram[] = "format.com";
constexpr char kQuickOption[] = " /q";
constexpr char kFileSystemOption[] = " /fs:fat";
constexpr char kFat32Suffix[] = "32";

// First partition sizes, in MB, between which the user chooses the file system.
constexpr std::int32_t kFatOnlyUpToMb = 10;
constexpr std::int32_t kFat32OnlyAboveMb = 4000;

enum class Answer { Yes, No, Stop };

// Only an explicit Yes or No goes on; Cancel, or a box that could not be
// shown, stops the command.
Answer Ask(unsigned textId) {
  switch (common::CatalogueMessageBox(MSG_CAPTION_CONFIRM, textId, common::ButtonSet::Choice)) {
    case host::kIdYes: return Answer::Yes;
    case host::kIdNo: return Answer::No;
    default: return Answer::Stop;
  }
}

// False when the user stopped the command.
bool ChooseFileSystem(std::int32_t firstPartitionMb, FileSystem& fileSystem) {
  if (firstPartitionMb > kFat32OnlyAboveMb) {
    fileSystem = FileSystem::Fat32;
    return true;
  }
  if (firstPartitionMb <= kFatOnlyUpToMb) {
    fileSystem = FileSystem::Fat;
    return true;
  }
  const Answer answer = Ask(MSG_FAT_OR_FAT32);
  fileSystem = answer == Answer::No ? FileSystem::Fat32 : FileSystem::Fat;
  return answer != Answer::Stop;
}

}  // namespace

bool FileSystemHolds(FileSystem fileSystem, std::uint64_t sectors) {
  if (fileSystem == FileSystem::Fat) return sectors > 0 && sectors <= kFatMaximumSectors;
  return sectors >= kFat32MinimumSectors && sectors <= kFat32MaximumSectors;
}

std::string FormatCommandLine(const std::string& cardRoot, bool quick, FileSystem fileSystem) {
  std::string line = std::string(kFormatProgram) + " " + cardRoot;
  if (!line.empty()) line.pop_back();  // "E:\" ends the line as "E:"
  if (quick) line += kQuickOption;
  line += kFileSystemOption;
  if (fileSystem == FileSystem::Fat32) line += kFat32Suffix;
  return line;
}

int RunFormat(const std::string& cardRoot, bool quick, FileSystem fileSystem) {
  // By its full path: a format.com beside the program or in the current
  // folder must never be the one that runs, elevated.
  const std::string systemFolder = host::GetSystemDirectory();
  if (systemFolder.empty()) return 1;
  const std::string program = systemFolder + "\\" + kFormatProgram;
  const std::string line = FormatCommandLine(cardRoot, quick, fileSystem);
  std::uint32_t exitCode = 0;
  if (!host::RunProcessAndWait(program.c_str(), line.c_str(), exitCode)) return 1;
  return exitCode == 0 ? 0 : 1;
}

// The sectors of the root's volume; 0 when the system does not say.
std::uint64_t VolumeSectors(const std::string& cardRoot) {
  disk::UniqueHandle volume = disk::OpenVolumeOf(cardRoot, disk::Access::Read);
  disk::VolumeExtent extent;
  return volume.Valid() && disk::GetVolumeExtent(volume.Get(), extent) ? extent.sectors : 0;
}

// format.com keeps every volume it can take; the larger FAT32 ones are the
// program's own to format, without asking format.com first.
int FormatVolume(const std::string& cardRoot, bool quick, FileSystem fileSystem) {
  if (fileSystem == FileSystem::Fat32 && VolumeSectors(cardRoot) > kFormatComFat32MaximumSectors) {
    return FormatFat32Volume(cardRoot, quick);
  }
  return RunFormat(cardRoot, quick, fileSystem);
}

bool FormatChosenVolume(const std::string& cardRoot, bool quick, FileSystem fileSystem) {
  disk::MarkCard();
  const bool formatted = FormatVolume(cardRoot, quick, fileSystem) == 0;
  disk::RememberPartition(cardRoot);
  if (!formatted) common::ShowErrorMessage(MSG_CANNOT_FORMAT);
  return formatted;
}

void FormatCard() {
  if (!common::CardIdentified() || disk::RefuseCardForWriting() || disk::ProbeVolumeWritable() != 0) {
    return;
  }
  // The selected letter's own partition decides, and nothing is asked that
  // it cannot get.
  FileSystem fileSystem = FileSystem::Fat;
  if (disk::RefuseOver2Tb(common::gCardState.volumeSectors) || !disk::ConfirmCardAtStake(disk::Stake::Volume) ||
      !ChooseFileSystem(common::gCardState.volumeSizeMb, fileSystem)) {
    return;
  }
  const Answer quick = Ask(MSG_QUICK_FORMAT);
  const std::string& root = common::gCardState.driveRoot;
  if (quick == Answer::Stop || !disk::ConfirmSameCard(root)) return;
  FormatChosenVolume(root, quick == Answer::Yes, fileSystem);
  host::PostCommand(IDC_INSPECT);
}

}  // namespace install
