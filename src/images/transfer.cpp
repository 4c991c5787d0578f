#include "images/transfer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/paths.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "disk/partition_order.h"
#include "host/host.h"
#include "images/destination.h"
#include "res/ids.h"

namespace images {
namespace {

constexpr char kImageFolder[] = "DCIM";
// The entries of DCIM without an extension: the camera's image folders.
constexpr char kImageFolders[] = "DCIM\\*.";
// Below this size (MB) the first of two partitions is the small boot one.
constexpr std::int32_t kBootPartitionBelowMb = 10;
constexpr std::size_t kUncPrefixLength = 2;
constexpr char kLongUncPrefix[] = "\\\\?\\UNC\\";
constexpr char kLongPrefix[] = "\\\\?\\";
constexpr char kDevicePrefix[] = "\\\\.\\";

using common::gCardState;

bool IsSeparator(const std::string& path, std::size_t index) {
  return path[index] == '\\' && !IsTrailByte(path, index);
}

// Where folders may be made: after "X:\", or after "\\server\share\".
// npos when the path is neither.
std::size_t FirstFolderIndex(const std::string& path) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      path[2] == '\\') {
    return 3;
  }
  if (path.rfind("\\\\", 0) != 0) return std::string::npos;
  const std::size_t server = path.find('\\', kUncPrefixLength);
  if (server == std::string::npos || server == kUncPrefixLength) return std::string::npos;
  const std::size_t share = path.find('\\', server + 1);
  if (share == server + 1 || server + 1 == path.size()) return std::string::npos;
  return share == std::string::npos ? path.size() : share + 1;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

// "X:" at the start of a path: its letter, upper case; 0 otherwise.
char LeadingDrive(const std::string& path) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
}

// The drive of a path that reaches a letter of this PC another way: the
// device forms \\?\X:\ and \\.\X:\, and this PC's own administrative
// shares \\localhost\X$\ (also by its name or its loopback address).
char DriveBehind(std::string path) {
  if (path.rfind(kLongUncPrefix, 0) == 0) path = "\\\\" + path.substr(sizeof kLongUncPrefix - 1);
  if (path.rfind(kLongPrefix, 0) == 0 || path.rfind(kDevicePrefix, 0) == 0) {
    return LeadingDrive(path.substr(sizeof kLongPrefix - 1));
  }
  if (path.rfind("\\\\", 0) != 0) return 0;
  const std::size_t server = path.find('\\', kUncPrefixLength);
  if (server == std::string::npos) return 0;
  const std::string host = path.substr(kUncPrefixLength, server - kUncPrefixLength);
  const std::string share = path.substr(server + 1, path.find('\\', server + 1) - server - 1);
  const bool thisPc = SameText(host, "localhost") || host == "127.0.0.1" || host == "." ||
                      SameText(host, host::GetComputerName());
  if (!thisPc || share.size() != 2 || share[1] != '$') return 0;
  return LeadingDrive(share.substr(0, 1) + ":");
}

bool OnCard(char letter) {
  const std::string& root = gCardState.driveRoot;
  if (!root.empty() && std::toupper(static_cast<unsigned char>(root[0])) == letter) return true;
  for (const disk::CardVolume& volume : disk::CardVolumes()) {
    if (volume.letter == letter) return true;
  }
  return false;
}


void MakeFolder(const std::string& path) {
  if (common::IsFolder(path)) return;
  // Made after the temporary folder, so that it takes its attributes; a
  // plain folder where that fails.
  const std::string temporary = host::GetTempPath();
  if (!host::CreateDirectoryEx(temporary.c_str(), path.c_str())) host::CreateDirectory(path.c_str());
}

// The card's boot partition goes first again, with the prompts, before any
// end; never on a card that is no longer the one chosen, nor twice.
void PutBootPartitionFirst(disk::PartitionOrder& order) {
  if (disk::LeftLargeFirst(order)) disk::SwapWithPrompts(order, false);
}

// The copy or move itself; false when it failed or was cancelled.
bool CopyImageFolders(const std::string& root) {
  if (host::StopRequested()) return false;
  const std::string from = common::ShellPathList(root + kImageFolders);
  const std::string to = common::ShellPathList(gDestinationFolder);
  host::FileOperation operation;
  operation.function = gDeleteAfterCopy ? host::kFoMove : host::kFoCopy;
  operation.from = from.c_str();
  operation.to = to.c_str();
  operation.flags = 0;  // the shell asks its own questions
  operation.anyOperationsAborted = false;
  return host::ShellFileOperation(operation) == 0 && !operation.anyOperationsAborted;
}

// The root that shows the camera's folders: the partition behind a small
// boot one (reached by a swap where the system shows the first entry only),
// else the first partition, else the selected drive itself.
bool ImageRoot(disk::PartitionOrder& order, std::string& root) {
  disk::Table table{};
  const bool read = disk::ReadCardTable(table);
  if (gCardState.partitionCount == 2 && gCardState.firstPartitionSizeMb < kBootPartitionBelowMb &&
      read && table[1].InUse()) {
    return disk::ReachPartition(order, table[1], true, root);
  }
  disk::TableEntry first;
  if (read && disk::FirstTableEntry(first)) root = disk::RootOfPartition(first);
  if (root.empty()) root = gCardState.driveRoot;
  return true;
}

// Up to the copy; false when the command must end.
bool Transfer(disk::PartitionOrder& order) {
  std::string root;
  if (!ImageRoot(order, root)) return false;
  if (!common::IsFolder(root + kImageFolder)) {
    common::ShowErrorMessage(MSG_NO_IMAGE_FOLDER);
    return false;
  }
  if (!common::IsFolder(gDestinationFolder)) CreateFolderPath(gDestinationFolder);
  // A move takes the folders off the card: it must still be the chosen one.
  return disk::ConfirmSameCard(root) && CopyImageFolders(root);
}

}  // namespace

// The images must land where the user can find them, and never stay on the
// card they came from. An elevated program does not see the user's mapped
// network drives.
bool AcceptableDestination(const std::string& path) {
  if (FirstFolderIndex(path) == std::string::npos) return false;
  const char drive = LeadingDrive(path) != 0 ? LeadingDrive(path) : DriveBehind(path);
  if (drive == 0) return true;
  return !OnCard(drive) &&
         host::GetDriveType(disk::DriveRoot(drive).c_str()) != host::kDriveNoRootDir;
}

void CreateFolderPath(const std::string& path) {
  const std::size_t first = FirstFolderIndex(path);
  const std::size_t start = first == std::string::npos ? 1 : first;
  for (std::size_t i = start; i < path.size(); ++i) {
    if (IsSeparator(path, i) && path[i - 1] != ':') MakeFolder(path.substr(0, i));
  }
  MakeFolder(path);
}

void TransferImageFolders() {
  if (!common::CardIdentified() || disk::RefuseProgramOnCard() || RunDestinationDialog() == 0) return;
  TrimFolderPath(gDestinationFolder);  // the dialog took it as typed
  disk::PartitionOrder order;
  if (!Transfer(order)) {
    PutBootPartitionFirst(order);
    return;
  }
  if (order.largeFirst && !disk::SwapWithPrompts(order, false)) return;
  host::ShellOpen(gDestinationFolder.c_str());
}

}  // namespace images
