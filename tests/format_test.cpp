// The "Format" button (202): the file system chosen by the first partition's
// size, the questions, the command line run from the system folder, the
// system's limits, the failure box and the inspection that follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "common/card_state.h"
#include "disk/device.h"
#include "host/host.h"
#include "install/fat32_format.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_cards::kMb;

constexpr char kFatOrFat32[] = "Format FAT(YES) or FAT32(NO) ?";
constexpr char kQuick[] = "Quick Format ?";
constexpr char kFormatProgram[] = "C:\\Windows\\system32\\format.com";
constexpr std::uint32_t kStart = 2048;
constexpr std::uint32_t kMbSectors = 2048;
constexpr int kNotAsked = -1;  // the question does not come
constexpr int kBoxNotShown = 0;  // MessageBoxA could not show it

// A PC with a card in E: whose one partition has this many MB.
struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;

  // Entry 1 left empty when the partition is in entry 2.
  explicit Pc(std::uint32_t partitionMb, bool secondEntry = false) {
    testing_cards::SetUpPc(machine);
    card = machine.NewCard(std::uint64_t{partitionMb + 2} * kMb, 2);
    const testing_cards::Partition partition{6, kStart, partitionMb * kMbSectors};
    testing_cards::WriteTable(*card, secondEntry ? std::vector<testing_cards::Partition>{{}, partition}
                                                 : std::vector<testing_cards::Partition>{partition});
    card->WriteSector(kStart, Bytes(512, 0xE5));
    machine.Insert('E', card);
    machine.Tick();
    machine.ClearRecords();
  }
  Bytes BootSector() const { return card->Sector(kStart); }
  std::vector<std::string> Processes() const { return machine.LogMatching("process"); }
  bool Posted() const { return !machine.LogMatching("post 111").empty(); }
  void ExpectQuestions(int fatAnswer, int quickAnswer) {
    if (fatAnswer != kNotAsked) machine.ExpectBox("Confirm", kFatOrFat32, fatAnswer);
    if (quickAnswer != kNotAsked) machine.ExpectBox("Confirm", kQuick, quickAnswer);
  }
};

std::string FatName(const Bytes& boot, bool fat32) {
  const std::size_t at = fat32 ? 82 : 54;
  return std::string(boot.begin() + static_cast<long>(at), boot.begin() + static_cast<long>(at + 8));
}

TEST(Format, TheFirstPartitionSizeAndTheAnswersMakeTheCommandLine) {
  struct Case {
    std::uint32_t partitionMb;
    int fatAnswer;    // kNotAsked when no question comes
    int quickAnswer;  // kNotAsked when the command ended before it
    const char* line;  // nullptr: nothing runs, nothing is posted
    const char* fileSystem;
    bool secondEntry = false;  // the partition in entry 2, entry 1 empty
  };
  const Case cases[] = {
      {10, kNotAsked, host::kIdNo, "format.com E: /fs:fat", "FAT12   "},
      {11, host::kIdYes, host::kIdNo, "format.com E: /fs:fat", "FAT12   "},
      {40, host::kIdNo, host::kIdYes, "format.com E: /q /fs:fat32", "FAT32   "},
      {40, host::kIdYes, host::kIdYes, "format.com E: /q /fs:fat", "FAT16   "},
      {4000, host::kIdNo, host::kIdNo, "format.com E: /fs:fat32", "FAT32   "},
      {4001, kNotAsked, host::kIdYes, "format.com E: /q /fs:fat32", "FAT32   "},
      // The letter's own partition decides, not an empty first entry.
      {4097, kNotAsked, host::kIdYes, "format.com E: /q /fs:fat32", "FAT32   ", true},
      {40, host::kIdCancel, kNotAsked, nullptr, nullptr},
      {40, kBoxNotShown, kNotAsked, nullptr, nullptr},
      {40, host::kIdNo, host::kIdCancel, nullptr, nullptr},
      {10, kNotAsked, kBoxNotShown, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.partitionMb) + " MB, answers " + std::to_string(c.fatAnswer) +
                 "/" + std::to_string(c.quickAnswer));
    Pc pc(c.partitionMb, c.secondEntry);
    const Bytes before = pc.BootSector();
    if (c.fatAnswer == kBoxNotShown) {
      pc.machine.ExpectBox("Confirm", kFatOrFat32, kBoxNotShown);
    } else {
      pc.ExpectQuestions(c.fatAnswer, c.quickAnswer);
    }
    host::SendCommand(IDC_FORMAT);
    for (const sim::MessageBoxCall& box : pc.machine.Boxes()) EXPECT_EQ(box.flags, host::kMbYesNoCancel);
    if (c.line == nullptr) {
      EXPECT_TRUE(pc.Processes().empty());
      EXPECT_FALSE(pc.Posted());
      EXPECT_EQ(pc.BootSector(), before);
      continue;
    }
    EXPECT_EQ(pc.Processes(), std::vector<std::string>{"process " + std::string(kFormatProgram) +
                                                       " | " + c.line});
    EXPECT_TRUE(pc.Posted());
    const Bytes boot = pc.BootSector();
    EXPECT_EQ(FatName(boot, std::string(c.fileSystem) == "FAT32   "), c.fileSystem);
    EXPECT_EQ(testing_cards::Le32(boot, 28), kStart) << "hidden sectors are the partition's start";
    EXPECT_EQ(pc.card->Sector(1), Bytes(512, 0)) << "the program's mark goes where it came";
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

// What format.com cannot do is reported with 2052; the card is inspected
// again. A card that cannot be written, or no card, runs nothing at all.
TEST(Format, FailuresAreReportedAndUnwritableCardsAreLeftAlone) {
  enum class Fault { Missing, ExitCode, Fat32TooSmall, Locked, NoCard };
  struct Case {
    const char* name;
    Fault fault;
    std::uint32_t partitionMb;
    int fatAnswer;
    bool runs;  // CreateProcessA is called
  };
  const Case cases[] = {
      {"format.com missing", Fault::Missing, 40, host::kIdYes, true},
      {"format.com fails", Fault::ExitCode, 40, host::kIdYes, true},
      {"FAT32 on 30 MB", Fault::Fat32TooSmall, 30, host::kIdNo, true},
      {"locked card", Fault::Locked, 40, kNotAsked, false},
      {"no card identified", Fault::NoCard, 40, kNotAsked, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc(c.partitionMb);
    const Bytes before = pc.BootSector();
    const bool asks = c.fault != Fault::Locked && c.fault != Fault::NoCard;
    switch (c.fault) {
      case Fault::Missing: pc.machine.formatMissing = true; break;
      case Fault::ExitCode: pc.machine.formatExitCode = 5; break;
      case Fault::Locked: pc.card->faults.locked = true; break;
      case Fault::NoCard: common::gCardState.physicalDrivePath.clear(); break;
      case Fault::Fat32TooSmall: break;
    }
    if (asks) {
      pc.ExpectQuestions(c.fatAnswer, host::kIdYes);
      pc.machine.ExpectBox("Error", "Cannot format SD Card!", host::kIdOk);
    }
    host::SendCommand(IDC_FORMAT);
    EXPECT_EQ(pc.Processes().size(), c.runs ? 1u : 0u);
    EXPECT_EQ(pc.Posted(), asks);
    if (asks) {
      EXPECT_EQ(pc.machine.Boxes().back().flags, host::kMbIconWarning);
    }
    EXPECT_EQ(pc.BootSector(), before);
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

// A FAT32 volume over 32 GiB is the program's own to format, with the window
// alive meanwhile; one of 2 TiB is more than FAT32 counts, and is told so
// before anything is asked. A write that fails ends the format with 2052.
TEST(Format, Fat32BeyondWhatFormatComTakesIsTheProgramsOwn) {
  constexpr std::uint64_t k32GiB = 67108864;
  constexpr std::uint64_t k2TiB = std::uint64_t{1} << 32;
  struct Case {
    std::uint64_t sectors;  // the volume's
    int quickAnswer;        // kNotAsked: refused first
    bool own;
    bool writeFails = false;
    bool newerFormatCom = false;  // one that takes FAT32 up to 2 TiB: the program cannot tell
    int pulledAfter = 0;          // writes before the card leaves its reader
  };
  const Case cases[] = {
      {k32GiB, host::kIdYes, false},      {k32GiB + 1, host::kIdYes, true}, {k32GiB + 1, host::kIdYes, true, false, true},
      {250069680, host::kIdYes, true},    {250069680, host::kIdYes, true, true},  // a 128 GB card's
      {250069680, host::kIdYes, true, true, false, 3},  // out half-way: its old boot sector is gone, no new one
      {k2TiB - 1, host::kIdCancel, true}, {k2TiB, kNotAsked, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.sectors) + (c.writeFails ? ", write fails" : ""));
    sim::Machine machine;
    testing_cards::SetUpPc(machine);
    machine.formatTakesLargeFat32 = c.newerFormatCom;
    const bool mbr = c.sectors < k2TiB;  // else a volume over the whole card
    auto card = machine.NewCard((c.sectors + (mbr ? kStart : 0)) * 512, 2);
    if (mbr) testing_cards::WriteTable(*card, {{0x0C, kStart, static_cast<std::uint32_t>(c.sectors)}});
    if (c.pulledAfter != 0) card->WriteSector(kStart, Bytes(512, 0x4A));  // an old volume's
    machine.Insert('E', card);
    machine.Tick();
    install::Fat32Plan plan;
    EXPECT_EQ(install::PlanFat32(kStart, c.sectors, 64, plan), mbr);
    if (c.quickAnswer == kNotAsked) {
      machine.ExpectBox("Error", "SD Card over 2 TB: it cannot take an MBR partition table!", host::kIdOk);
    } else {
      machine.ExpectBox("Confirm", kQuick, c.quickAnswer, [&] {
        card->faults.writeFails = c.writeFails && c.pulledAfter == 0;
        card->faults.writesBeforePull = c.pulledAfter;
      });
    }
    if (c.writeFails) machine.ExpectBox("Error", "Cannot format SD Card!", host::kIdOk);
    host::SendCommand(IDC_FORMAT);
    const bool formats = c.quickAnswer == host::kIdYes;
    EXPECT_EQ(machine.LogMatching("process").size(), formats && !c.own ? 1u : 0u);
    if (!formats || !c.own) continue;
    EXPECT_TRUE(testing_cards::InOrder(machine, {"window disabled", "text 112 Formatting SD Card : ", "window enabled"}));
    EXPECT_GT(machine.Calls("DispatchPendingMessages"), 0);
    if (!c.writeFails) testing_cards::ExpectOwnFat32(*card, kStart, c.sectors);
    if (c.pulledAfter != 0) { EXPECT_EQ(card->Sector(kStart), Bytes(512, 0)); }  // half-way: no volume at all
  }
}

// A full format writes zeros over the whole data area, a quick one over the
// root folder's cluster only; both tell their progress up to 100 %. On a
// small volume, with clusters of one sector.
TEST(Format, AFullFormatClearsTheDataArea) {
  constexpr std::uint32_t kSectors = 48 * kMbSectors;
  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "full" : "quick");
    Pc pc(48);
    install::Fat32Plan plan;
    ASSERT_TRUE(install::PlanFat32(kStart, kSectors, 1, plan));
    const std::uint64_t junk = kStart + plan.DataStart() + 10;  // cluster 12
    pc.card->Write(kStart * 512, Bytes(std::size_t{kSectors} * 512, 0x4A));  // a used card: old data everywhere
    std::vector<int> shown;
    {
      disk::UniqueHandle volume = disk::OpenVolumeOf("E:\\", disk::Access::ReadWrite);
      ASSERT_TRUE(install::PrepareVolumeForFormat(volume.Get()));
      EXPECT_EQ(install::WriteFat32(volume.Get(), plan, full, [&shown](int percent) { shown.push_back(percent); }), 0);
    }
    EXPECT_EQ(pc.card->Sector(kStart + 3), Bytes(512, 0));  // old boot code among the reserved sectors
    EXPECT_EQ(pc.card->Sector(kStart + plan.DataStart()), Bytes(512, 0));
    EXPECT_EQ(pc.card->Sector(junk) == Bytes(512, 0), full);
    EXPECT_EQ(pc.card->Sector(kStart + kSectors - 1) == Bytes(512, 0), full);
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_EQ(shown.back(), 100);
    testing_cards::CheckFileSystem(*pc.card, kStart, kSectors);
  }
}

}  // namespace
