#include "install/sequence.h"

#include <string>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "common/module_directory.h"
#include "common/paths.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "disk/device.h"
#include "install/file_set.h"
#include "res/ids.h"

namespace install {
namespace {

bool Present(bool present) {
  if (!present) common::ShowErrorMessage(MSG_FILES_MISSING);
  return present;
}

// The pieces without which no card can start the add-on.
bool FileSetPresent() {
  const std::string& folder = common::gModuleDirectory;
  return Present(common::IsFile(folder + kBootFile) && common::IsFolder(folder + kAddOnFolder) &&
                 common::IsFolder(folder + kImageFolder));
}

}  // namespace

bool ReadyForSequence() {
  return common::CardIdentified() && common::gCardState.totalSizeMb != 0 &&
         !disk::RefuseCardForWriting() && FileSetPresent() && disk::ProbeVolumeWritable() == 0;
}

bool ReadyAfterSetting() {
  return disk::ConfirmSameCard() && Present(common::IsFile(common::gModuleDirectory + ChosenConfig()));
}

void EndEarly(disk::PartitionOrder& order) {
  if (disk::LeftLargeFirst(order) && disk::SwapBackQuietly(order)) disk::EjectCard();
}

bool ReadyToCopy(const std::string& cardRoot) { return disk::ConfirmSameCard(cardRoot); }

void FinishSequence(unsigned captionId, unsigned textId, const CardProof& proof) {
  if (ProveInstall(proof)) common::CatalogueMessageBox(captionId, textId, common::ButtonSet::Notice);
}

}  // namespace install
