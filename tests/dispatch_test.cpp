// The main window's message handling: the refresh timer around every command,
// the order of nested and posted work, and the small commands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatch.h"
#include "common/module_directory.h"
#include "common/card_state.h"
#include "card_fixture.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Lines = std::vector<std::string>;

// The log without the lines that do not matter for the order of work.
Lines Flow(const sim::Machine& machine) {
  Lines flow;
  for (const std::string& line : machine.Log()) {
    for (const char* prefix : {"timer", "send", "end", "post", "run posted", "tick", "close", "quit"}) {
      if (line.rfind(prefix, 0) == 0) {
        flow.push_back(line);
        break;
      }
    }
  }
  return flow;
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.Create();
    machine.ClearRecords();
  }
  sim::Machine machine;
};

TEST_F(DispatchTest, CreationClearsStateAndStartsTheTimer) {
  common::gCardState.driveRoot = "E:\\";
  common::gDriveSlots[0] = 5;
  machine.Create();
  EXPECT_TRUE(common::gCardState.driveRoot.empty());
  EXPECT_EQ(common::gDriveSlots, common::DriveSlotTable{});
  EXPECT_TRUE(machine.TimerRunning());
}

// With no card, every command of the table runs between a timer stop and a
// restart, and so does an unknown id, which is passed on as unhandled.
TEST_F(DispatchTest, EveryCommandStopsAndRestartsTheTimer) {
  const unsigned commands[] = {IDC_INSPECT,        IDC_DRIVE_COMBO,      IDC_MAKE_BOOTABLE,
                               IDC_FORMAT,         IDC_SCAN,             IDC_FOLDER_OPEN,
                               IDC_COPY_VORN,      IDC_SWAP_PARTITIONS,  IDC_WRITE_DUAL,
                               IDC_NEW_INSTALL,    IDC_CREATE_PARTITION, IDC_VERSION_UP,
                               IDC_COPY_IMAGES,    IDC_DUMP_BOOT_SECTOR, IDC_SCRIPT_FLAG,
                               IDM_HELP};
  for (unsigned id : commands) {
    machine.ClearRecords();
    EXPECT_TRUE(app::OnCommand(id, 0)) << id;
    const Lines& log = machine.Log();
    ASSERT_FALSE(log.empty()) << id;
    EXPECT_EQ(log.front(), "timer stop") << id;
    EXPECT_EQ(log.back(), "timer start") << id;
    EXPECT_TRUE(machine.TimerRunning()) << id;
    EXPECT_TRUE(machine.Boxes().empty()) << id;  // no card: nothing is shown
  }
  for (unsigned id : {0u, 3u, 105u, 224u, 300u, 65535u}) {
    machine.ClearRecords();
    EXPECT_FALSE(app::OnCommand(id, 0)) << id;
    EXPECT_EQ(machine.Log(), (Lines{"timer stop", "timer start"})) << id;
  }
}

TEST_F(DispatchTest, NestedSendsRestartTheTimerInsideTheSender) {
  app::OnCommand(IDC_SCAN, 0);  // no drive: no inspection
  machine.ClearRecords();
  // A tick sends the scan, which sends nothing when the list is unchanged.
  machine.Tick();
  EXPECT_EQ(Flow(machine), (Lines{"tick", "send 205", "timer stop", "timer start", "end 205"}));
}

TEST_F(DispatchTest, ComboSelectionInspectsOnlyOnSelectionChange) {
  for (unsigned notify : {0u, 3u, 4u, 7u, 8u}) {  // focus, drop-down, close-up...
    machine.ClearRecords();
    app::OnCommand(IDC_DRIVE_COMBO, notify);
    EXPECT_EQ(machine.Log(), (Lines{"timer stop", "timer start"})) << notify;
  }
  machine.ClearRecords();
  app::OnCommand(IDC_DRIVE_COMBO, host::kCbnSelChange);
  const Lines flow = Flow(machine);
  EXPECT_EQ(flow, (Lines{"timer stop", "send 111", "timer stop", "timer start", "end 111",
                         "timer start"}));
}

TEST_F(DispatchTest, SelectingAnEntryTakesItsRootBeforeTheInspection) {
  machine.AddReader('F');
  machine.AddReader('H');
  machine.Insert('F', machine.NewCard(8 * testing_cards::kMb, 2));
  machine.Insert('H', machine.NewCard(8 * testing_cards::kMb, 3));
  machine.Tick();
  ASSERT_EQ(machine.ComboEntries(), (Lines{"F:\\", "H:\\"}));
  machine.ClearRecords();
  machine.SelectComboEntry(1);
  EXPECT_EQ(common::gCardState.driveRoot, "H:\\");
  EXPECT_EQ(machine.LogMatching("send"), (Lines{"send 200", "send 111"}));
  EXPECT_EQ(common::gCardState.physicalDrivePath, "\\\\.\\PHYSICALDRIVE3");
}

TEST_F(DispatchTest, CloseCommandsQuitAndStillRestartTheTimer) {
  for (unsigned id : {unsigned{IDC_EXIT}, unsigned{IDC_CANCEL_KEY}}) {
    sim::Machine fresh;
    fresh.Create();
    fresh.ClearRecords();
    EXPECT_TRUE(app::OnCommand(id, 0));
    EXPECT_EQ(fresh.Log(), (Lines{"timer stop", "close", "timer stop", "quit 0", "timer start"}));
    EXPECT_TRUE(fresh.QuitPosted());
  }
}

TEST_F(DispatchTest, AboutRunsItsDialogAndHelpShowsNothing) {
  machine.ExpectDialog("ABOUT", 1);
  app::OnCommand(IDM_ABOUT, 0);
  app::OnCommand(IDM_HELP, 0);
  EXPECT_EQ(machine.LogMatching("dialog"), (Lines{"dialog ABOUT", "dialog HELP"}));
  EXPECT_TRUE(machine.Boxes().empty());
}

TEST_F(DispatchTest, FolderOpenNeedsAnIdentifiedCard) {
  app::OnCommand(IDC_FOLDER_OPEN, 0);
  EXPECT_TRUE(machine.LogMatching("shell").empty());
  testing_cards::InsertFat16Card(machine, 'G', 16 * testing_cards::kMb, 4);
  app::OnCommand(IDC_FOLDER_OPEN, 0);
  EXPECT_EQ(machine.LogMatching("shell"), (Lines{"shell open G:\\"}));
}

// A posted command runs after the poster has returned and restarted the
// timer, and before the next scan.
TEST_F(DispatchTest, PostedInspectionRunsBeforeTheNextScan) {
  testing_cards::InsertFat16Card(machine, 'E', 16 * testing_cards::kMb, 2);
  machine.ClearRecords();
  app::OnCommand(IDC_MAKE_BOOTABLE, 0);
  machine.Tick();
  EXPECT_EQ(Flow(machine), (Lines{"timer stop", "post 111", "timer start", "run posted 111",
                                  "timer stop", "timer start", "tick", "send 205", "timer stop",
                                  "timer start", "end 205"}));
}

// A handler that sends the scan and then the inspection gets both, in order,
// each nested and each with its own timer stop and restart.
TEST_F(DispatchTest, SendsRunNestedInTheirOrder) {
  testing_cards::InsertFat16Card(machine, 'E', 16 * testing_cards::kMb, 2);
  machine.ClearRecords();
  machine.ExpectBox("Confirm", "Create One Partition(YES) or Two Partitions(NO) ?", host::kIdYes);
  machine.ExpectBox("Re-insert", "Remove and re-insert SD Card!", host::kIdOk,
                    [&] { machine.Reinsert('E'); });
  app::OnCommand(IDC_CREATE_PARTITION, 0);
  EXPECT_EQ(Flow(machine), (Lines{"timer stop", "send 205", "timer stop", "timer start", "end 205",
                                  "send 111", "timer stop", "timer start", "end 111",
                                  "timer start"}));
}

// The commands that write a table or format close the system's prompts on
// the card while they run, even when they end at once (the program on the
// card's F:): on the card's letters and those no drive holds, not on the
// PC's disks or another reader's G:.
TEST(DrivePrompts, ClosedAroundEveryCommandThatWritesATableOrFormats) {
  const std::pair<unsigned, bool> cases[] = {{IDC_FORMAT, true},     {IDC_SWAP_PARTITIONS, true},
                                             {IDC_WRITE_DUAL, true}, {IDC_CREATE_PARTITION, true},
                                             {IDC_NEW_INSTALL, true}, {IDC_VERSION_UP, true},
                                             {IDC_COPY_IMAGES, false}};
  for (const auto& [id, closes] : cases) {
    sim::Machine machine;
    testing_cards::SetUpPc(machine);
    machine.AddReader('G');
    auto card = machine.NewCard(64 * testing_cards::kMb, 2);
    testing_cards::WriteTable(*card, {{1, 1, 4096}, {6, 4097, 60000}});
    machine.Insert('E', card);
    machine.Tick();
    common::gModuleDirectory = "F:\\VORN\\";
    machine.ExpectBox("Error", "Run the installer from the PC, not from the SD Card!", host::kIdOk);
    machine.ClearRecords();
    app::OnCommand(id, 0);
    const Lines expected = {"drive prompts closed EFHIJKLMNOPQRSTUVWXYZ", "drive prompts left"};
    EXPECT_EQ(machine.LogMatching("drive prompts"), closes ? expected : Lines{}) << id;
    const Lines around = {"drive prompts closed", "box", "drive prompts left"};
    EXPECT_EQ(static_cast<bool>(testing_cards::InOrder(machine, around)), closes) << id;
  }
}

TEST(ModuleDirectory, CutsBackToTheLastBackslash) {
  EXPECT_EQ(common::CutToFolder("C:\\A\\B\\prog.exe"), "C:\\A\\B\\");
  EXPECT_EQ(common::CutToFolder("D:\\prog.exe"), "D:\\");
  EXPECT_EQ(common::CutToFolder("C:\\A\\B\\"), "C:\\A\\B\\");
  EXPECT_EQ(common::CutToFolder("prog.exe"), "p");
  EXPECT_EQ(common::CutToFolder("\\prog.exe"), "\\");
  EXPECT_EQ(common::CutToFolder(""), "");
}

}  // namespace
