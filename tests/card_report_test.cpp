// The card inspection: CardState, the report and status texts, the buttons it
// offers, and its failure paths.
#include <gtest/gtest.h>

#include <cctype>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/card_state.h"
#include "card/card_report.h"
#include "card_fixture.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using testing_cards::kMb;
using testing_cards::Partition;
using testing_cards::WriteTable;

constexpr std::uint32_t kMbSectors = 2048;

class InspectTest : public ::testing::Test {
 protected:
  void SetUp() override { testing_cards::SetUpPc(machine); }

  // A card in E: with this table, scanned (and so inspected).
  std::shared_ptr<sim::Card> Insert(std::uint64_t sizeBytes, const std::vector<Partition>& table,
                                    std::uint32_t deviceNumber = 2) {
    auto card = machine.NewCard(sizeBytes, deviceNumber);
    WriteTable(*card, table);
    card->volumeTotalBytes = 1 * kMb;
    machine.Insert('E', card);
    machine.Tick();
    return card;
  }
  void Inspect() {
    machine.ClearRecords();
    host::SendCommand(IDC_INSPECT);
  }
  void ExpectNotIdentified() {
    EXPECT_TRUE(common::gCardState.physicalDrivePath.empty());
    EXPECT_EQ(machine.Text(IDC_STATUS), "");
    EXPECT_EQ(machine.Text(IDC_REPORT), "");
    EXPECT_EQ(common::gCardState.totalSectors, 0u);
    for (int id : {IDC_MAKE_BOOTABLE, IDC_FORMAT, IDC_FOLDER_OPEN, IDC_SWAP_PARTITIONS}) {
      EXPECT_FALSE(machine.Visible(id)) << id;
    }
  }
  void PutBootSectorBytes(const sim::Card& card, std::size_t offset, const std::string& bytes) {
    card.Write(machine.VolumeOffset('E') + offset, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  sim::Machine machine;
};

TEST_F(InspectTest, WorkedExampleOfA1910MbCard) {
  auto card = Insert(1910 * kMb, {{6, 63, 1905 * kMbSectors}}, 2);
  card->volumeTotalBytes = 1903 * kMb;
  Inspect();
  EXPECT_EQ(machine.Text(IDC_REPORT),
            "Total capacity : 1910 MB\nPartition1  ---  Type : 6(FAT16)  Capacity : 1905 MB\n");
  EXPECT_EQ(machine.Text(IDC_STATUS), "1903 MB (FAT16) (Card is probably not bootable!)");
  EXPECT_EQ(common::gCardState.physicalDrivePath, "\\\\.\\PHYSICALDRIVE2");
  EXPECT_EQ(common::gCardState.totalSizeMb, 1910);
  EXPECT_EQ(common::gCardState.totalSectors, 1910u * kMbSectors);
  EXPECT_EQ(common::gCardState.firstPartitionSizeMb, 1905);
  EXPECT_EQ(common::gCardState.partitionCount, 1);
  EXPECT_EQ(common::gCardState.bootMarkSeen, 0);
  for (int id : {IDC_MAKE_BOOTABLE, IDC_FORMAT, IDC_FOLDER_OPEN}) EXPECT_TRUE(machine.Visible(id));
  EXPECT_FALSE(machine.Visible(IDC_SWAP_PARTITIONS));
  EXPECT_EQ(machine.OpenHandles(), 0u);
}

TEST(InspectFormat, SizesBelowTenMbHaveTwoDecimalsRoundedDown) {
  sim::Machine machine;
  const auto capacity = [](std::uint64_t bytes) {
    return card::FormatSize(bytes, MSG_FMT_CAPACITY_MB, MSG_FMT_CAPACITY_DECIMAL);
  };
  EXPECT_EQ(capacity(7864320), "  Capacity : 7.50 MB\n");
  EXPECT_EQ(capacity(10485759), "  Capacity : 9.99 MB\n");
  EXPECT_EQ(capacity(10485760), "  Capacity : 10 MB\n");
  EXPECT_EQ(capacity(1048575), "  Capacity : 0.99 MB\n");
  EXPECT_EQ(capacity(0), "  Capacity : 0.00 MB\n");
  EXPECT_EQ(card::FormatSize(2 * kMb + 52429, MSG_FMT_SIZE_MB, MSG_FMT_SIZE_DECIMAL), "2.05 MB");
  EXPECT_EQ(card::FormatSize(1903 * kMb + kMb - 1, MSG_FMT_SIZE_MB, MSG_FMT_SIZE_DECIMAL), "1903 MB");
}

TEST_F(InspectTest, TypeLabelsAndStatusSuffixes) {
  struct Case {
    std::uint8_t type;
    const char* label;
    const char* suffix;
    bool offersBootMark;
  };
  const Case cases[] = {
      {1, "Type : 1(FAT12)", " (FAT12) (Card is probably not bootable!)", true},
      {4, "Type : 4(FAT16)", " (FAT16) (Card is probably not bootable!)", true},
      {6, "Type : 6(FAT16)", " (FAT16) (Card is probably not bootable!)", true},
      {14, "Type : 14(FAT16)", " (FAT16) (Card is probably not bootable!)", true},
      {7, "Type : 7(NTFS)", " (NTFS)", false},
      {11, "Type : 11(FAT32)", " (FAT32)", false},
      {12, "Type : 12(FAT32)", " (FAT32)", false},
      {131, "Type : 131", "", false},
  };
  for (const Case& c : cases) {
    machine.Remove('E');
    machine.Tick();
    Insert(16 * kMb, {{c.type, 63, 20000}});
    EXPECT_EQ(machine.Text(IDC_REPORT),
              std::string("Total capacity : 16 MB\nPartition1  ---  ") + c.label +
                  "  Capacity : 9.76 MB\n");
    EXPECT_EQ(machine.Text(IDC_STATUS), std::string("1.00 MB") + c.suffix) << int{c.type};
    EXPECT_EQ(machine.Visible(IDC_MAKE_BOOTABLE), c.offersBootMark) << int{c.type};
  }
}

TEST_F(InspectTest, PartitionsAreNumberedByTheirPlaceInTheLayout) {
  Insert(16 * kMb, {{0, 0, 0}, {6, 100, 4096}});
  EXPECT_EQ(machine.Text(IDC_REPORT),
            "Total capacity : 16 MB\nPartition2  ---  Type : 6(FAT16)  Capacity : 2.00 MB\n");
  // E: shows entry 2: its own type and size decide, whatever entry 1 holds.
  EXPECT_EQ(machine.Text(IDC_STATUS), "1.00 MB (FAT16) (Card is probably not bootable!)");
  EXPECT_TRUE(machine.Visible(IDC_MAKE_BOOTABLE));
  EXPECT_EQ(common::gCardState.partitionCount, 1);
  EXPECT_EQ(common::gCardState.firstPartitionSizeMb, 0);
  EXPECT_EQ(common::gCardState.volumeSizeMb, 2);
}

TEST_F(InspectTest, LogicalDrivesAreListedAfterThePrimaryEntries) {
  auto card = Insert(32 * kMb, {{6, 63, 8192}, {5, 10000, 40000}});
  // An extended boot record at 10000 with one logical drive.
  std::vector<std::uint8_t> ebr(512, 0);
  ebr[446 + 4] = 6;
  ebr[446 + 8] = 63;
  ebr[446 + 13] = 0x10;  // 4096 sectors
  ebr[510] = 0x55;
  ebr[511] = 0xAA;
  card->WriteSector(10000, ebr);
  machine.Reinsert('E');
  Inspect();
  EXPECT_EQ(machine.Text(IDC_REPORT),
            "Total capacity : 32 MB\n"
            "Partition1  ---  Type : 6(FAT16)  Capacity : 4.00 MB\n"
            "Partition2  ---  Type : 5  Capacity : 19 MB\n"
            "Partition5  ---  Type : 6(FAT16)  Capacity : 2.00 MB\n");
  EXPECT_EQ(common::gCardState.partitionCount, 3);
}

TEST_F(InspectTest, SwapIsOfferedForExactlyTwoPartitions) {
  const std::vector<Partition> four = {{6, 100, 2048}, {1, 3000, 2048}, {11, 6000, 2048}, {6, 9000, 2048}};
  for (std::size_t used = 1; used <= 4; ++used) {
    machine.Remove('E');
    machine.Tick();
    Insert(16 * kMb, std::vector<Partition>(four.begin(), four.begin() + static_cast<long>(used)));
    EXPECT_EQ(common::gCardState.partitionCount, static_cast<int>(used));
    EXPECT_EQ(machine.Visible(IDC_SWAP_PARTITIONS), used == 2) << used;
  }
}

TEST_F(InspectTest, TheBootMarkIsComparedExactly) {
  auto card = Insert(16 * kMb, {{11, 63, 20000}});
  // Every one of the eight bytes counts, and only in upper case.
  for (std::size_t i = 0; i < 8; ++i) {
    std::string mark = "BOOTDISK";
    mark[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(mark[i])));
    PutBootSectorBytes(*card, 64, mark);
    Inspect();
    EXPECT_EQ(common::gCardState.bootMarkSeen, 0) << mark;
    EXPECT_EQ(machine.Text(IDC_STATUS), "1.00 MB (FAT32)");
  }
  PutBootSectorBytes(*card, 64, "BOOTDISK");
  PutBootSectorBytes(*card, 0, std::string(64, 'x'));  // the mark alone counts
  Inspect();
  EXPECT_EQ(common::gCardState.bootMarkSeen, 1);
  EXPECT_EQ(machine.Text(IDC_STATUS), "1.00 MB (FAT32) (Bootable card !!!)");
  machine.Remove('E');
  machine.Tick();
  Insert(16 * kMb, {{6, 63, 20000}});
  EXPECT_EQ(common::gCardState.bootMarkSeen, 0);
  PutBootSectorBytes(*machine.CardIn('E'), 64, "BOOTDISK");
  Inspect();
  EXPECT_EQ(machine.Text(IDC_STATUS), "1.00 MB (FAT16) (Bootable card !!!)");
  EXPECT_FALSE(machine.Visible(IDC_MAKE_BOOTABLE));
  // A FAT16 entry whose volume names itself FAT32 or NTFS is no place for
  // the mark: it would land in that file system's own fields.
  for (const auto& [offset, name] : {std::pair<std::size_t, std::string>{82, "FAT32   "}, {3, "NTFS    "}}) {
    PutBootSectorBytes(*machine.CardIn('E'), 64, "nomark..");
    PutBootSectorBytes(*machine.CardIn('E'), offset, name);
    Inspect();
    EXPECT_FALSE(machine.Visible(IDC_MAKE_BOOTABLE)) << name;
    PutBootSectorBytes(*machine.CardIn('E'), offset, "        ");
  }
  Inspect();
  EXPECT_TRUE(machine.Visible(IDC_MAKE_BOOTABLE));
}

TEST_F(InspectTest, FailuresOfTheQueriesLeaveTheirPartOut) {
  auto card = Insert(16 * kMb, {{6, 63, 20000}});
  card->faults.geometryExFails = true;  // falls back to cylinders x heads x sectors
  Inspect();
  EXPECT_EQ(common::gCardState.totalSectors, 2u * 255 * 63);
  EXPECT_EQ(common::gCardState.totalSizeMb, 15);
  card->faults.zeroBytesPerSector = true;  // no answer from either query
  Inspect();
  EXPECT_EQ(common::gCardState.totalSectors, 0u);
  EXPECT_EQ(common::gCardState.totalSizeMb, 0);
  card->faults.zeroBytesPerSector = false;
  card->faults.geometryFails = true;
  Inspect();
  EXPECT_EQ(machine.Text(IDC_REPORT), "Partition1  ---  Type : 6(FAT16)  Capacity : 9.76 MB\n");
  EXPECT_EQ(common::gCardState.totalSectors, 0u);
  EXPECT_EQ(common::gCardState.totalSizeMb, 0);
  card->faults = {};
  card->faults.layoutFails = true;
  Inspect();
  EXPECT_EQ(machine.Text(IDC_REPORT), "");
  EXPECT_EQ(common::gCardState.partitionCount, 0);
  EXPECT_EQ(machine.Text(IDC_STATUS), "1.00 MB");
  card->faults = {};
  card->faults.totalBytesFails = true;
  Inspect();
  EXPECT_EQ(machine.Text(IDC_STATUS), " (FAT16) (Card is probably not bootable!)");
  EXPECT_FALSE(machine.Visible(IDC_FOLDER_OPEN));
  card->faults = {};
  card->faults.readFails = true;  // the boot sector cannot be read
  Inspect();
  EXPECT_EQ(machine.Text(IDC_STATUS), "");
  EXPECT_FALSE(machine.Visible(IDC_MAKE_BOOTABLE));
  EXPECT_FALSE(common::gCardState.physicalDrivePath.empty());
  card->faults = {};
  card->faults.shortTransfer = true;
  Inspect();
  EXPECT_EQ(machine.Text(IDC_STATUS), "");
  card->faults = {};
  card->bytesPerSector = 4096;  // no table or boot sector here is made for it
  Inspect();
  EXPECT_EQ(machine.Text(IDC_STATUS), "Card reader sector size is not 512 bytes: not supported.");
  EXPECT_TRUE(common::gCardState.physicalDrivePath.empty());
  EXPECT_FALSE(machine.Visible(IDC_FORMAT));
  EXPECT_EQ(machine.OpenHandles(), 0u);
}

TEST_F(InspectTest, ARefusedPhysicalDriveAsksForAdministratorAndCloses) {
  for (bool deviceNumberFails : {false, true}) {
    sim::Machine pc;
    testing_cards::SetUpPc(pc);
    auto card = pc.NewCard(16 * kMb, 2);
    card->faults.physicalRefused = !deviceNumberFails;
    card->faults.deviceNumberFails = deviceNumberFails;
    pc.Insert('E', card);
    pc.ExpectBox("Error", "If you use Vista, [Run as Administrator] from the right click menu.",
                 host::kIdOk);
    pc.Tick();
    EXPECT_EQ(pc.Boxes().at(0).flags, 0x30u);
    EXPECT_TRUE(testing_cards::InOrder(pc, {"box Error", "close", "quit"}));
    EXPECT_TRUE(pc.QuitPosted());
    EXPECT_EQ(pc.OpenHandles(), 0u);
  }
}

// The volume of the selected drive going away must not leave the earlier
// card as the target of the card commands.
TEST_F(InspectTest, FormatIsOfferedAgainOnceTheVolumeOpens) {
  auto card = Insert(16 * kMb, {{6, 63, 20000}});
  card->faults.volumeRefused = true;
  Inspect();
  EXPECT_FALSE(machine.Visible(IDC_FORMAT));
  card->faults.volumeRefused = false;
  Inspect();
  EXPECT_TRUE(machine.Visible(IDC_FORMAT));
}

TEST_F(InspectTest, AVolumeThatCannotBeOpenedForgetsTheEarlierCard) {
  auto card = Insert(16 * kMb, {{6, 63, 20000}});
  ASSERT_FALSE(common::gCardState.physicalDrivePath.empty());
  card->faults.volumeRefused = true;
  Inspect();
  ExpectNotIdentified();
  machine.ClearRecords();
  host::SendCommand(IDC_CREATE_PARTITION);  // no box expected: nothing happens
  EXPECT_TRUE(machine.LogMatching("open").empty());
}

TEST_F(InspectTest, TheSystemDiskAndNonDisksAreNeverIdentified) {
  auto card = Insert(16 * kMb, {{6, 63, 20000}}, 0);  // the disk of C:\Windows
  ExpectNotIdentified();
  EXPECT_TRUE(machine.Boxes().empty());
  for (const unsigned command : std::initializer_list<unsigned>{IDC_CREATE_PARTITION, IDC_SWAP_PARTITIONS,
                                                               IDC_MAKE_BOOTABLE, IDC_SCRIPT_FLAG, IDC_WRITE_DUAL}) {
    host::SendCommand(command);
  }
  EXPECT_EQ(machine.systemDiskWrites, 0);

  card->deviceNumber = 2;
  card->deviceType = 0x2;  // a CD-ROM
  Inspect();
  ExpectNotIdentified();
  card->deviceType = host::kFileDeviceDisk;
  machine.systemDiskUnknown = true;  // no way to tell the system disk: trust nothing
  Inspect();
  EXPECT_TRUE(common::gCardState.physicalDrivePath.empty());
  EXPECT_EQ(machine.Text(IDC_STATUS), "Cannot identify the system disk: card commands are disabled.");
  EXPECT_FALSE(machine.Visible(IDC_FORMAT));
  machine.systemDiskUnknown = false;
  Inspect();
  EXPECT_EQ(common::gCardState.physicalDrivePath, "\\\\.\\PHYSICALDRIVE2");
}

TEST_F(InspectTest, LargeDeviceNumbersAndLongReportsFitWhole) {
  auto card = Insert(512 * kMb, {{6, 63, 8192}, {5, 10000, 900000}}, 1234567);
  // A chain of 150 logical drives, each EBR followed by its 64-sector drive.
  constexpr int kLogicals = 150;
  for (int i = 0; i < kLogicals; ++i) {
    std::vector<std::uint8_t> ebr(512, 0);
    ebr[446 + 4] = 6;
    ebr[446 + 8] = 1;
    ebr[446 + 12] = 64;
    if (i + 1 < kLogicals) {
      ebr[462 + 4] = 5;
      const std::uint32_t next = static_cast<std::uint32_t>((i + 1) * 100);
      ebr[462 + 8] = static_cast<std::uint8_t>(next);
      ebr[462 + 9] = static_cast<std::uint8_t>(next >> 8);
      ebr[462 + 12] = 65;
    }
    ebr[510] = 0x55;
    ebr[511] = 0xAA;
    card->WriteSector(10000 + static_cast<std::uint64_t>(i) * 100, ebr);
  }
  machine.Reinsert('E');
  Inspect();
  EXPECT_EQ(common::gCardState.physicalDrivePath, "\\\\.\\PHYSICALDRIVE1234567");
  const std::string report = machine.Text(IDC_REPORT);
  EXPECT_GT(report.size(), 5120u);
  EXPECT_EQ(common::gCardState.partitionCount, 2 + kLogicals + (kLogicals - 1));
  const std::string last = "Partition" + std::to_string(4 + 4 * (kLogicals - 1) + 1) +
                           "  ---  Type : 6(FAT16)  Capacity : 0.03 MB\n";
  EXPECT_EQ(report.substr(report.size() - last.size()), last);
}

}  // namespace
