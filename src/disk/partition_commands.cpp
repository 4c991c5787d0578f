#include "disk/partition_commands.h"

#include "common/catalogue.h"
#include "common/card_state.h"
#include "disk/card_at_stake.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

void AskToReinsert() {
  common::CatalogueMessageBox(MSG_CAPTION_REINSERT_CARD, MSG_REMOVE_AND_REINSERT,
                           common::ButtonSet::Notice);
}

// The card's table changed: rescan and inspect it afresh.
void RefreshCard() {
  host::SendCommand(IDC_SCAN);
  host::SendCommand(IDC_INSPECT);
}

void EjectAndRefresh() {
  EjectCard();  // the prompt comes whether or not the drive could be opened
  AskToReinsert();
  RefreshCard();
}

}  // namespace

void SwapPartitionsCommand() {
  if (!common::CardIdentified() || RefuseCardForWriting() || !ConfirmCardAtStake(Stake::Table)) return;
  // Only an explicit Yes goes on: a box that could not be shown is no consent.
  if (common::CatalogueMessageBox(MSG_CAPTION_CONFIRM, MSG_SURE, common::ButtonSet::Question) !=
      host::kIdYes) {
    return;
  }
  if (SwapPartitionEntries(true) != 0) return;
  if (EjectCard()) AskToReinsert();
  RefreshCard();
}

void CreatePartitionCommand() {
  if (!common::CardIdentified() || RefuseCardForWriting() ||
      RefuseOver2Tb(common::gCardState.totalSectors) || !ConfirmCardAtStake(Stake::Card)) {
    return;
  }
  const int answer = common::CatalogueMessageBox(MSG_CAPTION_CONFIRM, MSG_ONE_OR_TWO_PARTITIONS,
                                              common::ButtonSet::Choice);
  if (answer == host::kIdNo) {
    host::SendCommand(IDC_WRITE_DUAL);
    return;
  }
  // Cancel, or a box that could not be shown, leaves the card alone.
  if (answer != host::kIdYes || WriteSinglePartitionTable() != 0) return;
  EjectAndRefresh();
}

void WriteDualPartitionCommand() {
  if (!common::CardIdentified() || RefuseCardForWriting() || WriteDualPartitionTable() != 0) return;
  EjectAndRefresh();
}

}  // namespace disk
