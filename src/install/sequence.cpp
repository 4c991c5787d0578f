#include "install/sequence.h"

#include <string>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/module_directory.h"
#include "common/paths.h"
#include "disk/card_guards.h"
#include "disk/device.h"
#include "install/file_set.h"
#include "res/ids.h"

namespace install {
namespace {

// The pieces without which no card can start the add-on.
bool FileSetPresent() {
  const std::string& folder = common::gModuleDirectory;
  if (common::IsFile(folder + kBootFile) && common::IsFolder(folder + kAddOnFolder) &&
      common::IsFolder(folder + kImageFolder)) {
    return true;
  }
  common::ShowErrorMessage(MSG_FILES_MISSING);
  return false;
}

}  // namespace

bool ReadyForSequence() {
  return common::CardIdentified() && common::gCardState.totalSizeMb != 0 &&
         !disk::RefuseProgramOnCard() && FileSetPresent() && disk::ProbeVolumeWritable() == 0;
}

void EndEarly(disk::PartitionOrder& order) {
  if (!order.largeFirst || !disk::StillSameCard()) return;
  if (disk::SwapBackQuietly(order)) disk::EjectCard();
}

bool ReadyToCopy() { return disk::ConfirmSameCard(); }

}  // namespace install
