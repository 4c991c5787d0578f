// The boot sector buttons: the boot mark (201), the script flag and its
// marker files (223), the dump to C:\DUMP.BIN (222), and their failure paths.
#include <gtest/gtest.h>

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/card_state.h"
#include "card_fixture.h"
#include "host/host.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kError[] = "Error";
constexpr char kCannotWrite[] = "Cannot write boot sector! Maybe write protected.";
constexpr char kDump[] = "C:\\DUMP.BIN";
constexpr char kBootable[] = " (Bootable card !!!)";
constexpr char kNotBootable[] = " (Card is probably not bootable!)";

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

Bytes With(Bytes bytes, std::size_t offset, const std::string& text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<long>(offset));
  return bytes;
}

// A PC with a formatted FAT16 card in E:, identified, whose boot code differs
// from byte to byte so that any stray write shows.
struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;

  Pc() {
    testing_cards::SetUpPc(machine);
    card = testing_cards::InsertFat16Card(machine, 'E', 32 * testing_cards::kMb);
    Bytes vbr = Vbr();
    for (std::size_t i = 62; i < 510; ++i) vbr[i] = static_cast<std::uint8_t>(i * 7 + 3);
    card->Write(machine.VolumeOffset('E'), vbr);
    machine.ClearRecords();
  }
  Bytes Vbr() const { return card->Read(machine.VolumeOffset('E'), 512); }
  bool DumpExists() const { return std::ifstream(machine.PcPath(kDump)).good(); }
  Bytes Dump() const {
    std::ifstream file(machine.PcPath(kDump), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::size_t Posted() const { return machine.LogMatching("post 111").size(); }
};

TEST(BootMarks, BootMarkReplacesOnlyItsBytesAndTheInspectionFollows) {
  Pc pc;
  pc.card->Write(pc.machine.VolumeOffset('E') + 64, {'b', 'o', 'o', 't', 'd', 'i', 's', 'k'});
  host::SendCommand(IDC_INSPECT);
  EXPECT_EQ(common::gCardState.bootMarkSeen, 0) << "lower case is no mark";
  ASSERT_TRUE(EndsWith(pc.machine.Text(IDC_STATUS), kNotBootable));
  const Bytes before = pc.Vbr();

  pc.machine.ClearRecords();
  host::SendCommand(IDC_MAKE_BOOTABLE);
  EXPECT_EQ(pc.Vbr(), With(before, 64, "BOOTDISK"));
  EXPECT_EQ(pc.Posted(), 1u);
  // Posted, not sent: the status is only refreshed once the queue runs.
  EXPECT_TRUE(EndsWith(pc.machine.Text(IDC_STATUS), kNotBootable));
  pc.machine.RunPosted();
  EXPECT_TRUE(EndsWith(pc.machine.Text(IDC_STATUS), kBootable)) << pc.machine.Text(IDC_STATUS);
  EXPECT_EQ(pc.machine.OpenHandles(), 0u);
}

TEST(BootMarks, ScriptFlagThenEmptyMarkerFilesThenInspection) {
  for (const bool extendExists : {false, true}) {
    SCOPED_TRACE(extendExists ? "extend.m exists" : "fresh card");
    Pc pc;
    if (extendExists) pc.machine.PutCardFile('E', "extend.m", "keep me");
    const Bytes before = pc.Vbr();
    host::SendCommand(IDC_SCRIPT_FLAG);
    EXPECT_EQ(pc.Vbr(), With(before, 496, "SCRIPT"));
    EXPECT_EQ(pc.machine.CardFileContent('E', "extend.m"), extendExists ? "keep me" : "");
    ASSERT_TRUE(pc.machine.CardFileExists('E', "script.req"));
    EXPECT_EQ(pc.machine.CardFileContent('E', "script.req"), "");
    const std::vector<std::string> order = {"write", "open E:\\extend.m", "open E:\\script.req",
                                            "post 111"};
    std::vector<std::string> seen;
    for (const std::string& line : pc.machine.Log()) {
      for (const std::string& step : order) {
        if (line.rfind(step, 0) == 0) seen.push_back(step);
      }
    }
    EXPECT_EQ(seen, order);
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

TEST(BootMarks, DumpReplacesTheFileWithExactlyTheVolumeBootSector) {
  Pc pc;
  pc.machine.WritePcFile(kDump, std::string(1000, 'x'));
  const Bytes before = pc.Vbr();
  pc.machine.ExpectBox("Finish", "Write to C:\\DUMP.BIN ", host::kIdOk);
  host::SendCommand(IDC_DUMP_BOOT_SECTOR);
  EXPECT_EQ(pc.Dump(), before);
  EXPECT_EQ(pc.Vbr(), before);
  EXPECT_EQ(pc.machine.Boxes().at(0).flags, host::kMbIconWarning);
  EXPECT_EQ(pc.Posted(), 0u);
  EXPECT_EQ(pc.machine.OpenHandles(), 0u);
}

TEST(BootMarks, AFailedDumpWriteIsReportedAndTheFinishBoxStillComes) {
  Pc pc;
  pc.machine.pcWritesFail = true;
  pc.machine.ExpectBox(kError, kCannotWrite, host::kIdOk);
  pc.machine.ExpectBox("Finish", "Write to C:\\DUMP.BIN ", host::kIdOk);
  host::SendCommand(IDC_DUMP_BOOT_SECTOR);
  EXPECT_EQ(pc.machine.OpenHandles(), 0u);
}

TEST(BootMarks, DumpFileThatCannotBeCreatedEndsTheCommandSilently) {
  Pc pc;
  pc.machine.MakePcFolder(kDump);  // a folder of that name cannot be opened as a file
  host::SendCommand(IDC_DUMP_BOOT_SECTOR);
  EXPECT_TRUE(pc.machine.Boxes().empty());
  EXPECT_EQ(pc.machine.OpenHandles(), 0u);
}

// A write that fails is reported once; the command still does the rest.
TEST(BootMarks, FailedWriteShowsTheErrorOnceAndTheCommandGoesOn) {
  struct Case {
    unsigned command;
    bool locked;  // otherwise only sector writes fail, files can be created
  };
  for (const Case& c : {Case{IDC_MAKE_BOOTABLE, true}, Case{IDC_SCRIPT_FLAG, true},
                        Case{IDC_SCRIPT_FLAG, false}, Case{IDC_DUMP_BOOT_SECTOR, true}}) {
    SCOPED_TRACE(std::to_string(c.command) + (c.locked ? " locked" : " write fails"));
    Pc pc;
    (c.locked ? pc.card->faults.locked : pc.card->faults.writeFails) = true;
    const Bytes before = pc.Vbr();
    if (c.command == IDC_DUMP_BOOT_SECTOR) {
      // The card is only read: a locked one is dumped as usual.
      pc.machine.ExpectBox("Finish", "Write to C:\\DUMP.BIN ", host::kIdOk);
    } else {
      pc.machine.ExpectBox(kError, kCannotWrite, host::kIdOk);
    }
    host::SendCommand(c.command);
    EXPECT_EQ(pc.machine.Boxes().at(0).flags, host::kMbIconWarning);
    EXPECT_EQ(pc.Vbr(), before);
    EXPECT_EQ(pc.Posted(), c.command == IDC_DUMP_BOOT_SECTOR ? 0u : 1u);
    if (c.command == IDC_DUMP_BOOT_SECTOR) {
      EXPECT_EQ(pc.Dump(), before);
    }
    if (c.command == IDC_SCRIPT_FLAG) {
      EXPECT_EQ(pc.machine.LogMatching("open E:\\extend.m").size(), 1u);
      EXPECT_EQ(pc.machine.LogMatching("open E:\\script.req").size(), 1u);
      EXPECT_EQ(pc.machine.CardFileExists('E', "extend.m"), !c.locked);
      EXPECT_EQ(pc.machine.CardFileExists('E', "script.req"), !c.locked);
    }
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

// When the boot sector cannot be had, nothing is written anywhere and no box
// or inspection follows.
TEST(BootMarks, UnreadableOrUnidentifiedCardIsLeftAlone) {
  enum class Fault { ReadFails, ShortTransfer, VolumeRefused, NotIdentified };
  for (const Fault fault :
       {Fault::ReadFails, Fault::ShortTransfer, Fault::VolumeRefused, Fault::NotIdentified}) {
    for (const unsigned command :
         std::initializer_list<unsigned>{IDC_MAKE_BOOTABLE, IDC_SCRIPT_FLAG, IDC_DUMP_BOOT_SECTOR}) {
      SCOPED_TRACE("fault " + std::to_string(static_cast<int>(fault)) + ", command " +
                   std::to_string(command));
      Pc pc;
      const Bytes before = pc.Vbr();
      switch (fault) {
        case Fault::ReadFails: pc.card->faults.readFails = true; break;
        case Fault::ShortTransfer: pc.card->faults.shortTransfer = true; break;
        case Fault::VolumeRefused: pc.card->faults.volumeRefused = true; break;
        // The drive root stays set: only the missing identification stops it.
        case Fault::NotIdentified: common::gCardState.physicalDrivePath.clear(); break;
      }
      host::SendCommand(command);
      EXPECT_EQ(pc.Vbr(), before);
      EXPECT_TRUE(pc.machine.Boxes().empty());
      EXPECT_EQ(pc.Posted(), 0u);
      EXPECT_TRUE(pc.machine.LogMatching("write").empty());
      EXPECT_FALSE(pc.DumpExists());
      EXPECT_FALSE(pc.machine.CardFileExists('E', "extend.m"));
      EXPECT_FALSE(pc.machine.CardFileExists('E', "script.req"));
      if (fault == Fault::NotIdentified) {
        EXPECT_EQ(pc.machine.Calls("CreateFile"), 0);
      }
      EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    }
  }
}

}  // namespace
