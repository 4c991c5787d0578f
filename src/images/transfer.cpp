#include "images/transfer.h"

#include <cctype>
#include <cstdint>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/paths.h"
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

// A full path whose drive is not the card's: the images must land where
// the user can find them, and never stay on the card they came from.
bool AcceptableDestination(const std::string& path) {
  if (FirstFolderIndex(path) == std::string::npos) return false;
  const std::string& root = gCardState.driveRoot;
  return path[0] == '\\' || root.empty() ||
         std::toupper(static_cast<unsigned char>(path[0])) !=
             std::toupper(static_cast<unsigned char>(root[0]));
}

void MakeFolder(const std::string& path) {
  if (common::IsFolder(path)) return;
  // Made after the temporary folder, so that it takes its attributes; a
  // plain folder where that fails.
  const std::string temporary = host::GetTempPath();
  if (!host::CreateDirectoryEx(temporary.c_str(), path.c_str())) host::CreateDirectory(path.c_str());
}

// The card's boot partition goes first again, with the prompts, before any
// end; never on a card that is no longer the one chosen.
void PutBootPartitionFirst(disk::PartitionOrder& order) {
  if (order.largeFirst && disk::StillSameCard()) disk::SwapWithPrompts(order, false);
}

// The copy or move itself; false when it failed or was cancelled.
bool CopyImageFolders() {
  const std::string from = common::ShellPathList(gCardState.driveRoot + kImageFolders);
  const std::string to = common::ShellPathList(gDestinationFolder);
  host::FileOperation operation;
  operation.function = gDeleteAfterCopy ? host::kFoMove : host::kFoCopy;
  operation.from = from.c_str();
  operation.to = to.c_str();
  operation.flags = 0;  // the shell asks its own questions
  operation.anyOperationsAborted = false;
  return host::ShellFileOperation(operation) == 0 && !operation.anyOperationsAborted;
}

// Up to the copy; false when the command must end.
bool Transfer(disk::PartitionOrder& order) {
  const bool swap = gCardState.partitionCount == 2 && gCardState.firstPartitionSizeMb < kBootPartitionBelowMb;
  if (swap && !disk::SwapWithPrompts(order, true)) return false;
  if (!common::IsFolder(gCardState.driveRoot + kImageFolder)) {
    common::ShowErrorMessage(MSG_NO_IMAGE_FOLDER);
    return false;
  }
  if (!common::IsFolder(gDestinationFolder)) CreateFolderPath(gDestinationFolder);
  // A move takes the folders off the card: it must still be the chosen one.
  return disk::ConfirmSameCard() && CopyImageFolders();
}

}  // namespace

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
  TrimFolderPath(gDestinationFolder);
  if (!AcceptableDestination(gDestinationFolder)) {
    common::ShowErrorMessage(MSG_DESTINATION_NOT_FULL_PATH);
    return;
  }
  disk::PartitionOrder order;
  if (!Transfer(order)) {
    PutBootPartitionFirst(order);
    return;
  }
  if (order.largeFirst && !disk::SwapWithPrompts(order, false)) return;
  host::ShellOpen(gDestinationFolder.c_str());
}

}  // namespace images
