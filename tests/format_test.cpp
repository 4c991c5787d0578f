// The "Format" button (202): the file system chosen by the first partition's
// size, the questions, the command line run from the system folder, the
// system's limits, the failure box and the inspection that follows.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "common/card_state.h"
#include "host/host.h"
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

}  // namespace
