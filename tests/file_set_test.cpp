// The add-on's file set: command 207 onto a real FAT card, the shell steps'
// fields, and required and best-effort steps.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "common/card_state.h"
#include "host/host.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

constexpr unsigned kRequired = host::kFofNoConfirmation;
constexpr unsigned kBestEffort = host::kFofNoConfirmation | host::kFofNoErrorUi;

struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;

  Pc() {
    testing_cards::SetUpPc(machine);
    testing_cards::PutFileSet(machine);
    card = testing_cards::InsertFat16Card(machine, 'E', 64 * testing_cards::kMb);
    // The card's own files: one the set replaces, one it must keep.
    machine.PutCardFile('E', "DISKBOOT.BIN", "old boot file");
    sim::Run("mmd -i '" + card->imagePath + "@@" + std::to_string(machine.VolumeOffset('E')) +
             "' ::/LYRE");
    machine.PutCardFile('E', "LYRE/LYRE.BIN", "old add-on");
    machine.PutCardFile('E', "LYRE/MINE.TXT", "the user's own");
    machine.ClearRecords();
  }
  std::string On(const std::string& path) const { return machine.CardFileContent('E', path); }
};

TEST(CopyFileSet, CopiesTheSetOntoARealCardAndOpensItsFolder) {
  for (const int bootMarkSeen : {0, 1}) {
    SCOPED_TRACE(bootMarkSeen ? "boot mark seen" : "no boot mark");
    Pc pc;
    common::gCardState.bootMarkSeen = bootMarkSeen;
    host::SendCommand(IDC_COPY_VORN);

    EXPECT_EQ(pc.On("DISKBOOT.BIN"), "boot file");
    EXPECT_EQ(pc.On("LYRE/LYRE.BIN"), "add-on");
    EXPECT_EQ(pc.On("LYRE/FONTS/BIG.FNT"), "font");
    EXPECT_EQ(pc.On("LYRE/MINE.TXT"), "the user's own");
    EXPECT_EQ(pc.On("DCIM/100TEST/README.TXT"), "dcim");
    EXPECT_EQ(pc.machine.CardFileExists('E', "PS.FIR"), bootMarkSeen == 0);
    EXPECT_FALSE(pc.machine.CardFileExists('E', "LYRE/LYRE.CFG"));

    std::vector<std::string> steps = {"shell copy C:\\VORN\\DISKBOOT.BIN -> E:\\"};
    if (bootMarkSeen == 0) steps.push_back("shell copy C:\\VORN\\PS.FIR -> E:\\");
    steps.push_back("shell copy C:\\VORN\\LYRE -> E:\\");
    steps.push_back("shell copy C:\\VORN\\DCIM -> E:\\");
    steps.push_back("shell open E:\\");
    EXPECT_TRUE(testing_cards::InOrder(pc.machine, steps));
    ASSERT_EQ(pc.machine.ShellCalls().size(), steps.size() - 1);
    for (const sim::ShellCall& call : pc.machine.ShellCalls()) {
      EXPECT_EQ(call.function, host::kFoCopy);
      EXPECT_EQ(call.flags, call.from == "C:\\VORN\\PS.FIR" ? kBestEffort : kRequired) << call.from;
    }
    EXPECT_TRUE(pc.machine.Boxes().empty());
  }
}

// A required step that fails ends the command; PS.FIR's failure does not.
TEST(CopyFileSet, RequiredStepsEndTheCommandAndTheBestEffortOneGoesOn) {
  struct Case {
    const char* name;
    int faultyStep;  // 1 DISKBOOT.BIN, 2 PS.FIR, 3 LYRE, 4 DCIM; 0 none
    sim::ShellFault fault;
    const char* missing;  // removed from beside the program
    bool locked;
    std::size_t steps;
    bool opened;
    bool systemDisk = false;  // the disk in the reader is the system's: no card
  };
  const Case cases[] = {
      {"boot file fails", 1, sim::ShellFault::Fails, nullptr, false, 1, false},
      {"boot file cancelled", 1, sim::ShellFault::Aborted, nullptr, false, 1, false},
      {"firmware fails", 2, sim::ShellFault::Fails, nullptr, false, 4, true},
      {"add-on folder cancelled", 3, sim::ShellFault::Aborted, nullptr, false, 3, false},
      {"card pulled during the image folder", 4, sim::ShellFault::CardPulled, nullptr, false, 4, false},
      {"no PS.FIR", 0, {}, "PS.FIR", false, 4, true},
      {"no LYRE", 0, {}, "LYRE", false, 3, false},
      {"locked card", 0, {}, nullptr, true, 1, false},
      {"the system disk in a reader, button shown", 0, {}, nullptr, false, 0, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc;
    if (c.faultyStep != 0) pc.machine.shellFaults[c.faultyStep] = c.fault;
    if (c.missing != nullptr) {
      std::filesystem::remove_all(pc.machine.PcPath(std::string("C:\\VORN\\") + c.missing));
    }
    pc.card->faults.locked = c.locked;
    if (c.systemDisk) {
      pc.card->deviceNumber = 0;
      host::SendCommand(IDC_INSPECT);
      ASSERT_TRUE(pc.machine.Visible(IDC_COPY_VORN));
    }
    host::SendCommand(IDC_COPY_VORN);
    EXPECT_EQ(pc.machine.ShellCalls().size(), c.steps);
    EXPECT_EQ(pc.machine.Calls("ShellExecute"), c.opened ? 1 : 0);
    EXPECT_TRUE(pc.machine.Boxes().empty());
    if (c.locked) {
      EXPECT_EQ(pc.On("DISKBOOT.BIN"), "old boot file");
    }
  }
}

}  // namespace
