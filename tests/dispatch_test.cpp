#include <gtest/gtest.h>

#include "app/dispatch.h"
#include "card/card_state.h"
#include "card_fixture.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

TEST(Smoke, CardIsFoundAndInspected) {
  sim::Machine machine;
  testing_cards::SetUpPc(machine);
  auto card = testing_cards::InsertFat16Card(machine, 'E', 64 * testing_cards::kMb, 3);
  EXPECT_EQ(card::gCardState.physicalDrivePath, "\\\\.\\PHYSICALDRIVE3");
  EXPECT_EQ(machine.Text(IDC_REPORT), "");
  for (auto& l : machine.Log()) std::cout << l << "\n";
}

}  // namespace
