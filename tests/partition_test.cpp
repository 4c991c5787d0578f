// The partition buttons: create one or two partitions (211, 209), swap the
// first two entries (208), the notices, the refresh that follows, the size
// limits and the failure paths. Tables are read back with sfdisk as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/card_state.h"
#include "card_fixture.h"
#include "host/host.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_cards::Le32;
using testing_cards::InOrder;
using testing_cards::Partition;
using testing_cards::SfdiskEntries;

constexpr std::uint64_t kExampleSectors = 3842048;  // 1,967,128,576 bytes
constexpr std::uint64_t k2To32 = std::uint64_t{1} << 32;

constexpr char kOneOrTwo[] = "Create One Partition(YES) or Two Partitions(NO) ?";
constexpr char kSure[] = "Sure?";
constexpr char kCardChanged[] = "SD Card changed or missing!\nRe-insert the card and start again.";
constexpr char kReinsertBox[] = "box Re-insert | Remove and re-insert SD Card!";

// A PC with a card of this many sectors in E:, boot code and a disk signature
// in front of its table, scanned and so identified.
struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;

  explicit Pc(std::uint64_t sectors, std::vector<Partition> table = {},
              sim::Windows windows = sim::Windows::Win10) {
    machine.windows = windows;
    testing_cards::SetUpPc(machine);
    card = machine.NewCard(sectors * 512, 2);
    if (table.empty()) {
      table = {{6, 63, static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors - 63, 0xFFFFFFFF))}};
    }
    testing_cards::WriteTable(*card, table);
    Bytes mbr = card->Sector(0);
    for (std::size_t i = 0; i < 446; ++i) mbr[i] = static_cast<std::uint8_t>(i * 13 + 1);
    card->WriteSector(0, mbr);
    machine.Insert('E', card);
    machine.Tick();
    machine.ClearRecords();
  }
  Bytes Mbr() const { return card->Sector(0); }
  void ExpectReinsertNotice(bool reinsert) {
    machine.ExpectBox("Re-insert", "Remove and re-insert SD Card!", host::kIdOk, [this, reinsert] {
      if (reinsert) machine.Reinsert('E');
    });
  }
  bool Logged(const std::string& prefix) const { return !machine.LogMatching(prefix).empty(); }
};

// A sector of zeros with the signature and these bytes.
Bytes TableSector(const std::vector<std::pair<std::size_t, Bytes>>& fields) {
  Bytes sector(512, 0);
  sector[510] = 0x55;
  sector[511] = 0xAA;
  for (const auto& [offset, bytes] : fields) {
    std::copy(bytes.begin(), bytes.end(), sector.begin() + static_cast<long>(offset));
  }
  return sector;
}

TEST(PartitionCreate, WorkedExampleForBothLayouts) {
  struct Case {
    int answer;
    Bytes sector;
    std::vector<std::string> sfdisk;
    std::uint64_t volumeOffset;
    std::string report;
  };
  const Case cases[] = {
      {host::kIdYes,
       TableSector({{450, {0x06}}, {454, {0xF9, 0, 0, 0, 0x07, 0x9F, 0x3A, 0}}}),
       {"start=249,size=3841799,type=6"},
       249 * 512,
       "Total capacity : 1876 MB\nPartition1  ---  Type : 6(FAT16)  Capacity : 1875 MB\n"},
      {host::kIdNo,
       TableSector({{450, {0x01}},
                    {454, {0x01, 0, 0, 0, 0x00, 0x10, 0, 0}},
                    {466, {0x0B}},
                    {470, {0x01, 0x10, 0, 0, 0xFE, 0x8F, 0x3A, 0}}}),
       {"start=1,size=4096,type=1", "start=4097,size=3837950,type=b"},
       512,
       "Total capacity : 1876 MB\nPartition1  ---  Type : 1(FAT12)  Capacity : 2.00 MB\n"
       "Partition2  ---  Type : 11(FAT32)  Capacity : 1873 MB\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer == host::kIdYes ? "single" : "dual");
    Pc pc(kExampleSectors);
    ASSERT_EQ(common::gCardState.totalSectors, kExampleSectors);
    pc.machine.ExpectBox("Confirm", kOneOrTwo, c.answer);
    pc.ExpectReinsertNotice(true);
    host::SendCommand(IDC_CREATE_PARTITION);

    EXPECT_EQ(pc.Mbr(), c.sector);  // boot code and signature of the old sector gone
    EXPECT_EQ(SfdiskEntries(*pc.card), c.sfdisk);
    EXPECT_EQ(pc.machine.Boxes().at(0).flags, host::kMbYesNoCancel);
    EXPECT_EQ(pc.machine.Boxes().at(1).flags, host::kMbIconWarning);
    EXPECT_EQ(pc.machine.LogMatching("write").size(), 1u);
    EXPECT_EQ(pc.machine.LogMatching("eject").size(), 1u);
    EXPECT_EQ(pc.Logged("send 209"), c.answer == host::kIdNo);
    std::vector<std::string> steps = {"box Confirm", "write", "eject", kReinsertBox, "send 205",
                                      "end 205", "send 111", "end 111", "end 211"};
    if (c.answer == host::kIdNo) {
      steps.insert(steps.begin() + 1, "send 209");
      steps.insert(steps.end() - 1, "end 209");
    }
    EXPECT_TRUE(InOrder(pc.machine, steps));
    // Re-inserted at the notice: the volume is now the table's first partition.
    EXPECT_EQ(pc.machine.VolumeOffset('E'), c.volumeOffset);
    EXPECT_EQ(pc.machine.Text(IDC_REPORT), c.report);
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

TEST(PartitionCreate, LayoutsThatDoNotFitTheCardAreRefused) {
  struct Case {
    std::uint64_t sectors;
    int answer;
    bool fits;
  };
  const Case cases[] = {
      {249, host::kIdYes, false},        {250, host::kIdYes, true},
      {4098, host::kIdNo, false},        {4099, host::kIdNo, true},
      {k2To32, host::kIdYes, false},     {k2To32, host::kIdNo, false},
      {k2To32 - 1, host::kIdYes, true},  {k2To32 - 1, host::kIdNo, true},
  };
  for (const Case& c : cases) {
    const bool single = c.answer == host::kIdYes;
    SCOPED_TRACE(std::to_string(c.sectors) + (single ? " single" : " dual"));
    Pc pc(c.sectors);
    ASSERT_EQ(common::gCardState.totalSectors, c.sectors);
    const Bytes before = pc.Mbr();
    // A card over 2 TB is told so before it is asked anything.
    const bool over2Tb = c.sectors >= k2To32;
    if (!over2Tb) pc.machine.ExpectBox("Confirm", kOneOrTwo, c.answer);
    if (over2Tb) {
      pc.machine.ExpectBox("Error", "SD Card over 2 TB: it cannot take an MBR partition table!", host::kIdOk);
    } else if (c.fits) {
      pc.ExpectReinsertNotice(false);
    } else {
      pc.machine.ExpectBox("Error", "Card size is not supported for this partition layout!",
                           host::kIdOk);
    }
    host::SendCommand(IDC_CREATE_PARTITION);
    EXPECT_EQ(pc.machine.Boxes().at(over2Tb ? 0 : 1).flags, host::kMbIconWarning);
    EXPECT_EQ(pc.Logged("eject"), c.fits);
    EXPECT_EQ(pc.Logged("send 205"), c.fits);
    if (!c.fits) {
      EXPECT_EQ(pc.Mbr(), before);
      EXPECT_FALSE(pc.Logged("write"));
      continue;
    }
    const Bytes mbr = pc.Mbr();
    // The last partition ends at the card's last sector (single) or the one
    // before it (dual).
    const std::size_t last = single ? 446 : 462;
    EXPECT_EQ(Le32(mbr, last + 8) + std::uint64_t{Le32(mbr, last + 12)}, c.sectors - (single ? 0 : 1));
  }
}

// A card without a table is one volume over its first sector, locked for
// the write; a GPT card is reported as one, has no MBR partition, and loses
// both of its headers to the new table, so that no tool reads the old one,
// but keeps them when the new table cannot be written.
TEST(PartitionCreate, ACardWithoutATableOrWithAGptOneTakesANewTable) {
  constexpr std::uint64_t kSectors = 65536;
  for (const auto& [gpt, guarded] : {std::pair{false, false}, std::pair{true, false}, std::pair{true, true}}) {
    SCOPED_TRACE(std::string(gpt ? "GPT" : "no table") + (guarded ? ", MBR write refused" : ""));
    sim::Machine machine;
    testing_cards::SetUpPc(machine);
    std::shared_ptr<sim::Card> card = machine.NewCard(kSectors * 512, 2);
    if (gpt) {
      sim::Run("printf 'label: gpt\\nsize=20000, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q '" +
               card->imagePath + "'");
    } else {
      sim::Machine::Format(*card, 0, kSectors, 16);
    }
    machine.Insert('E', card);
    machine.Tick();
    ASSERT_TRUE(common::CardIdentified());
    EXPECT_EQ(machine.Text(IDC_REPORT),
              gpt ? "Total capacity : 32 MB\nPartition table : GPT (no MBR partition)\n" : "Total capacity : 32 MB\n");
    EXPECT_EQ(common::gCardState.partitionCount, 0);
    machine.ExpectBox("Confirm", kOneOrTwo, host::kIdYes);
    card->faults.firstSectorGuarded = guarded;
    const Bytes header = card->Sector(1);
    const Bytes backup = card->Sector(kSectors - 1);
    machine.ExpectBox(guarded ? "Error" : "Re-insert", guarded ? "Cannot write boot sector!" : "Remove and re-insert SD Card!",
                      host::kIdOk, [&machine, guarded = guarded] { if (!guarded) machine.Reinsert('E'); });
    host::SendCommand(IDC_CREATE_PARTITION);
    if (guarded) {
      EXPECT_TRUE(card->Sector(1) == header && card->Sector(kSectors - 1) == backup);
      continue;
    }
    EXPECT_EQ(SfdiskEntries(*card), std::vector<std::string>{"start=249,size=65287,type=6"});
    EXPECT_EQ(card->Sector(1), Bytes(512, 0));
    EXPECT_EQ(card->Sector(kSectors - 1), Bytes(512, 0));
    EXPECT_EQ(machine.VolumeOffset('E'), 249u * 512);
  }
}

// The older Windows, whose reader letter shows the first entry.
TEST(PartitionSwap, SwapKeepsEveryOtherByteAndTwiceRestoresTheSector) {
  Pc pc(kExampleSectors, {{1, 1, 4096}, {11, 4097, 3837950}}, sim::Windows::Win7);
  // Every field of the entries travels, not only type, start and size:
  // boot indicator and CHS addresses of entry 1, CHS bytes of entry 2.
  Bytes original = pc.Mbr();
  for (const auto& [offset, value] : std::vector<std::pair<std::size_t, std::uint8_t>>{
           {446, 0x80}, {447, 1}, {449, 3}, {451, 4}, {453, 6}, {463, 0x0A}, {469, 0x0C}}) {
    original[offset] = value;
  }
  pc.card->WriteSector(0, original);
  host::SendCommand(IDC_INSPECT);  // the program knows the card as it is now
  Bytes swapped = original;
  std::swap_ranges(swapped.begin() + 446, swapped.begin() + 462, swapped.begin() + 462);

  struct Step {
    const Bytes& sector;
    std::vector<std::string> sfdisk;
    std::uint64_t volumeOffset;
    std::string report;
  };
  const Step steps[] = {
      {swapped,
       {"start=4097,size=3837950,type=b", "start=1,size=4096,type=1,bootable"},
       4097 * 512,
       "Total capacity : 1876 MB\nPartition1  ---  Type : 11(FAT32)  Capacity : 1873 MB\n"
       "Partition2  ---  Type : 1(FAT12)  Capacity : 2.00 MB\n"},
      {original,
       {"start=1,size=4096,type=1,bootable", "start=4097,size=3837950,type=b"},
       512,
       "Total capacity : 1876 MB\nPartition1  ---  Type : 1(FAT12)  Capacity : 2.00 MB\n"
       "Partition2  ---  Type : 11(FAT32)  Capacity : 1873 MB\n"},
  };
  for (const Step& step : steps) {
    pc.machine.ClearRecords();
    pc.machine.ExpectBox("Confirm", kSure, host::kIdYes);
    pc.ExpectReinsertNotice(true);
    host::SendCommand(IDC_SWAP_PARTITIONS);
    EXPECT_EQ(pc.Mbr(), step.sector);
    EXPECT_EQ(SfdiskEntries(*pc.card), step.sfdisk);
    EXPECT_EQ(pc.machine.Boxes().at(0).flags, host::kMbYesNo);
    EXPECT_EQ(pc.machine.Boxes().at(1).flags, host::kMbIconWarning);
    EXPECT_TRUE(InOrder(pc.machine, {"box Confirm | Sure?", "write", "eject", kReinsertBox,
                                     "send 205", "end 205", "send 111", "end 111", "end 208"}));
    EXPECT_EQ(pc.machine.VolumeOffset('E'), step.volumeOffset);
    EXPECT_EQ(pc.machine.Text(IDC_REPORT), step.report);
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

TEST(PartitionSwap, AOnePartitionCardMovesItToEntryTwo) {
  Pc pc(32768, {}, sim::Windows::Win7);
  const Bytes before = pc.Mbr();
  pc.machine.ExpectBox("Confirm", kSure, host::kIdYes);
  pc.ExpectReinsertNotice(true);
  host::SendCommand(IDC_SWAP_PARTITIONS);
  Bytes expected = before;
  std::fill(expected.begin() + 446, expected.begin() + 462, std::uint8_t{0});
  std::copy(before.begin() + 446, before.begin() + 462, expected.begin() + 462);
  EXPECT_EQ(pc.Mbr(), expected);
  EXPECT_EQ(SfdiskEntries(*pc.card), std::vector<std::string>{"start=63,size=32705,type=6"});
  EXPECT_EQ(pc.machine.VolumeOffset('E'), 63u * 512);
  EXPECT_EQ(pc.machine.Text(IDC_REPORT),
            "Total capacity : 16 MB\nPartition2  ---  Type : 6(FAT16)  Capacity : 15 MB\n");
}

// When only the eject cannot open the drive, the swap leaves the notice out,
// while both table writes still show it; the refresh follows in every case.
TEST(Partition, TheNoticeAfterAFailedEjectOpen) {
  struct Case {
    unsigned command;
    const char* question;
    int answer;
    bool notice;
  };
  const Case cases[] = {
      {IDC_SWAP_PARTITIONS, kSure, host::kIdYes, false},
      {IDC_CREATE_PARTITION, kOneOrTwo, host::kIdYes, true},
      {IDC_CREATE_PARTITION, kOneOrTwo, host::kIdNo, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Pc pc(32768, {{6, 63, 8000}, {1, 9000, 4000}});
    pc.card->faults.refusesOpenAfterFlush = true;  // the eject's open
    const Bytes before = pc.Mbr();
    pc.machine.ExpectBox("Confirm", c.question, c.answer);
    if (c.notice) pc.ExpectReinsertNotice(false);
    host::SendCommand(c.command);
    EXPECT_NE(pc.Mbr(), before);
    EXPECT_FALSE(pc.Logged("eject"));
    EXPECT_TRUE(InOrder(pc.machine, {"write", "send 205", "send 111"}));
    EXPECT_FALSE(pc.card->faults.refusesOpenAfterFlush);
  }
}

// Declined questions and failures: the table stays, no eject, no refresh.
TEST(Partition, DeclinedOrFailedCommandsWriteNothingAndStartNoScan) {
  enum class Fault { None, Locked, Refused, ReadFails, Short, ShortWrite, NotIdentified };
  struct Case {
    const char* name;
    unsigned command;
    int answer;  // 0: no question comes
    Fault fault;
    const char* error;
  };
  const Case cases[] = {
      {"create cancelled", IDC_CREATE_PARTITION, host::kIdCancel, Fault::None, nullptr},
      {"swap declined", IDC_SWAP_PARTITIONS, host::kIdNo, Fault::None, nullptr},
      {"single on a locked card", IDC_CREATE_PARTITION, host::kIdYes, Fault::Locked,
       "Cannot write boot sector!"},
      {"dual on a locked card", IDC_CREATE_PARTITION, host::kIdNo, Fault::Locked,
       "Cannot write boot sector!"},
      {"swap on a locked card", IDC_SWAP_PARTITIONS, host::kIdYes, Fault::Locked,
       "Cannot write boot sector! Maybe write protected."},
      // A drive that no longer opens is no longer known to be the card.
      {"single, drive refused", IDC_CREATE_PARTITION, host::kIdYes, Fault::Refused, kCardChanged},
      {"swap, drive refused", IDC_SWAP_PARTITIONS, host::kIdYes, Fault::Refused, kCardChanged},
      // A card whose table cannot be read is no longer known to be the card.
      {"swap, read fails", IDC_SWAP_PARTITIONS, host::kIdYes, Fault::ReadFails, kCardChanged},
      {"swap, short read", IDC_SWAP_PARTITIONS, host::kIdYes, Fault::Short, kCardChanged},
      {"single, short write", IDC_CREATE_PARTITION, host::kIdYes, Fault::ShortWrite,
       "Cannot write boot sector!"},
      {"create, no card", IDC_CREATE_PARTITION, 0, Fault::NotIdentified, nullptr},
      {"swap, no card", IDC_SWAP_PARTITIONS, 0, Fault::NotIdentified, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc(32768);
    const Bytes before = pc.Mbr();
    sim::CardFaults& faults = pc.card->faults;
    switch (c.fault) {
      case Fault::None: break;
      case Fault::Locked: faults.locked = true; break;
      case Fault::Refused: faults.physicalRefused = true; break;
      case Fault::ReadFails: faults.readFails = true; break;
      case Fault::Short: faults.shortTransfer = true; break;
      case Fault::ShortWrite: faults.shortWrites = true; break;
      case Fault::NotIdentified: common::gCardState.physicalDrivePath.clear(); break;
    }
    if (c.answer != 0) {
      pc.machine.ExpectBox("Confirm", c.command == IDC_SWAP_PARTITIONS ? kSure : kOneOrTwo, c.answer);
    }
    if (c.error != nullptr) pc.machine.ExpectBox("Error", c.error, host::kIdOk);
    host::SendCommand(c.command);
    if (c.error != nullptr) {
      EXPECT_EQ(pc.machine.Boxes().back().flags, host::kMbIconWarning);
    }
    // A short write has put 511 bytes down already; the rest wrote nothing.
    if (c.fault != Fault::ShortWrite) {
      EXPECT_EQ(pc.Mbr(), before);
    }
    EXPECT_FALSE(pc.Logged("eject"));
    EXPECT_FALSE(pc.Logged("send 205"));
    EXPECT_FALSE(pc.Logged("send 111"));
    if (c.fault == Fault::NotIdentified) {
      EXPECT_EQ(pc.machine.Calls("CreateFile"), 0);
    }
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

}  // namespace
