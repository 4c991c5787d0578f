#include "disk/partition_commands.h"

#include "app/catalogue.h"
#include "card/card_state.h"
#include "disk/device.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "res/ids.h"

namespace disk {
namespace {

void AskToReinsert() {
  app::CatalogueMessageBox(MSG_CAPTION_REINSERT_CARD, MSG_REMOVE_AND_REINSERT,
                           app::ButtonSet::Notice);
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
  if (!card::CardIdentified()) return;
  // Only an explicit Yes goes on: a box that could not be shown is no consent.
  if (app::CatalogueMessageBox(MSG_CAPTION_CONFIRM, MSG_SURE, app::ButtonSet::Question) !=
      host::kIdYes) {
    return;
  }
  if (SwapPartitionEntries(true) != 0) return;
  if (EjectCard()) AskToReinsert();
  RefreshCard();
}

void CreatePartitionCommand() {
  if (!card::CardIdentified()) return;
  const int answer = app::CatalogueMessageBox(MSG_CAPTION_CONFIRM, MSG_ONE_OR_TWO_PARTITIONS,
                                              app::ButtonSet::Choice);
  if (answer == host::kIdNo) {
    host::SendCommand(IDC_WRITE_DUAL);
    return;
  }
  // Cancel, or a box that could not be shown, leaves the card alone.
  if (answer != host::kIdYes || WriteSinglePartitionTable() != 0) return;
  EjectAndRefresh();
}

void WriteDualPartitionCommand() {
  if (!card::CardIdentified() || WriteDualPartitionTable() != 0) return;
  EjectAndRefresh();
}

}  // namespace disk
