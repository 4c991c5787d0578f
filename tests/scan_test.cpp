// The removable drive scan: the drive list, the combo box, the card controls
// and when the inspection is asked for.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/card_state.h"
#include "card/scan.h"
#include "card_fixture.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Lines = std::vector<std::string>;
using testing_cards::kMb;

constexpr int kCardControls[] = {IDC_FOLDER_OPEN, IDC_COPY_IMAGES,     IDC_NEW_INSTALL,
                                 IDC_VERSION_UP,  IDC_MAKE_BOOTABLE,   IDC_COPY_VORN,
                                 IDC_FORMAT,      IDC_SWAP_PARTITIONS, IDC_CREATE_PARTITION};

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.WritePcFile("C:\\VORN\\DISKBOOT.BIN", "boot");
    machine.Create();
  }
  std::shared_ptr<sim::Card> Card(std::uint32_t deviceNumber) {
    return machine.NewCard(4 * kMb, deviceNumber);
  }
  int Inspections() const { return static_cast<int>(machine.LogMatching("send 111").size()); }
  Lines ShowsOf(int id) const {
    return machine.LogMatching("show " + std::to_string(id) + " ");
  }
  sim::Machine machine;
};

TEST_F(ScanTest, NoCardAtStartHidesTheCardControlsOnEveryTick) {
  machine.AddReader('E');  // an empty reader: removable, opens, cannot be read
  for (int tick = 0; tick < 3; ++tick) {
    machine.ClearRecords();
    machine.Tick();
    Lines hides;
    for (int id : kCardControls) hides.push_back("show " + std::to_string(id) + " 0");
    EXPECT_EQ(machine.LogMatching("show"), hides);  // all nine, in this order
    EXPECT_EQ(card::ButtonVisibilityState(), card::kButtonsHidden);
  }
  EXPECT_TRUE(machine.ComboEntries().empty());
  EXPECT_EQ(machine.Text(IDC_STATUS), "Insert SD Card");
  EXPECT_EQ(Inspections(), 0);
  EXPECT_TRUE(common::gCardState.driveRoot.empty());
  EXPECT_TRUE(machine.Visible(IDC_SCRIPT_FLAG));  // never hidden by the scan
  EXPECT_TRUE(machine.Visible(IDC_DUMP_BOOT_SECTOR));
}

TEST_F(ScanTest, InsertAndRemoveFollowTheStateTable) {
  machine.AddReader('E');
  machine.Tick();  // nothing: state 0
  machine.Insert('E', Card(2));
  machine.ClearRecords();
  machine.Tick();
  EXPECT_EQ(card::ButtonVisibilityState(), card::kButtonsShown);
  Lines shows;
  for (int id : kCardControls) shows.push_back("show " + std::to_string(id) + " 5");
  const Lines logged = machine.LogMatching("show");
  ASSERT_GE(logged.size(), shows.size());
  EXPECT_EQ(Lines(logged.begin(), logged.begin() + 9), shows);  // all nine first, in this order
  EXPECT_EQ(machine.ComboEntries(), (Lines{"E:\\"}));
  EXPECT_EQ(machine.ComboSelection(), 0);
  EXPECT_EQ(common::gCardState.driveRoot, "E:\\");
  EXPECT_EQ(common::gDriveSlots[0], 5);
  EXPECT_EQ(Inspections(), 1);

  machine.ClearRecords();
  machine.Tick();  // drives again: 123, controls left alone
  EXPECT_EQ(card::ButtonVisibilityState(), card::kButtonsUntouched);
  EXPECT_TRUE(machine.LogMatching("show").empty());
  EXPECT_EQ(Inspections(), 0);

  machine.Remove('E');
  machine.ClearRecords();
  machine.Tick();
  EXPECT_EQ(card::ButtonVisibilityState(), card::kButtonsHidden);
  EXPECT_TRUE(machine.ComboEntries().empty());
  EXPECT_TRUE(common::gCardState.driveRoot.empty());
  EXPECT_TRUE(common::gCardState.physicalDrivePath.empty());
  EXPECT_EQ(common::gDriveSlots, common::DriveSlotTable{});
  EXPECT_EQ(Inspections(), 1);
  EXPECT_EQ(machine.Text(IDC_STATUS), "");
  EXPECT_EQ(machine.Text(IDC_REPORT), "");
  for (int id : {IDC_MAKE_BOOTABLE, IDC_FORMAT, IDC_FOLDER_OPEN, IDC_SWAP_PARTITIONS}) {
    EXPECT_FALSE(machine.Visible(id)) << id;
  }
}

TEST_F(ScanTest, ANewDriveBeforeTheSelectedOneRefillsAndSelectsTheFirst) {
  for (char letter : {'E', 'F', 'H'}) machine.AddReader(letter);
  machine.Insert('F', Card(2));
  machine.Insert('H', Card(3));
  machine.Tick();
  machine.SelectComboEntry(1);
  ASSERT_EQ(common::gCardState.driveRoot, "H:\\");

  // Nothing changes for many ticks: the user's choice stays, no inspection.
  machine.ClearRecords();
  for (int tick = 0; tick < 20; ++tick) machine.Tick();
  EXPECT_EQ(common::gCardState.driveRoot, "H:\\");
  EXPECT_EQ(machine.ComboSelection(), 1);
  EXPECT_EQ(Inspections(), 0);
  EXPECT_TRUE(machine.LogMatching("combo").empty());

  machine.Insert('E', Card(4));
  machine.Tick();
  EXPECT_EQ(machine.ComboEntries(), (Lines{"E:\\", "F:\\", "H:\\"}));
  EXPECT_EQ(machine.ComboSelection(), 0);
  EXPECT_EQ(common::gCardState.driveRoot, "E:\\");
  EXPECT_EQ(common::gDriveSlots[0], 5);
  EXPECT_EQ(common::gDriveSlots[1], 6);
  EXPECT_EQ(common::gDriveSlots[2], 8);
  EXPECT_EQ(common::gDriveSlots[3], 0);
  EXPECT_EQ(common::gCardState.physicalDrivePath, "\\\\.\\PHYSICALDRIVE4");

  // The last drive going away shortens the list: a change too.
  machine.Remove('H');
  machine.ClearRecords();
  machine.Tick();
  EXPECT_EQ(machine.ComboEntries(), (Lines{"E:\\", "F:\\"}));
  EXPECT_EQ(Inspections(), 1);
}

// A tick with nothing changed costs one drive-type query per letter D to Z,
// one volume open and one sector read per present drive, and no inspection.
TEST_F(ScanTest, AQuietTickMakesOnlyTheProbesItNeeds) {
  machine.AddReader('E');
  machine.AddReader('K');
  machine.AddReader('M');  // empty: opened, read fails
  machine.Insert('E', Card(2));
  machine.Insert('K', Card(3));
  machine.Tick();
  machine.ClearRecords();
  machine.Tick();
  EXPECT_EQ(machine.Calls("GetDriveType"), 23);
  EXPECT_EQ(machine.Calls("CreateFile"), 3);
  EXPECT_EQ(machine.Calls("ReadFile"), 3);
  EXPECT_EQ(machine.Calls("CloseHandle"), 3);
  EXPECT_EQ(machine.Calls("IOCTL_STORAGE_GET_DEVICE_NUMBER"), 0);
  EXPECT_EQ(Inspections(), 0);
  EXPECT_EQ(machine.OpenHandles(), 0u);
}

TEST_F(ScanTest, DrivesAToCAreNeverProbed) {
  for (char letter : {'A', 'B'}) {
    machine.AddReader(letter);
    machine.Insert(letter, Card(static_cast<std::uint32_t>(letter)));
  }
  machine.Tick();
  EXPECT_TRUE(machine.ComboEntries().empty());
  for (const std::string& line : machine.LogMatching("open")) {
    EXPECT_EQ(line.find(":"), std::string::npos) << line;  // no volume was opened
  }
  EXPECT_EQ(machine.Calls("GetDriveType"), 23);
}

TEST_F(ScanTest, CardsThatCannotBeReadAreNotListed) {
  machine.AddReader('E');
  machine.AddReader('F');
  auto unreadable = Card(2);
  unreadable->faults.readFails = true;
  auto shortRead = Card(3);
  shortRead->faults.shortTransfer = true;  // 511 of 512 bytes is no read
  machine.Insert('E', unreadable);
  machine.Insert('F', shortRead);
  machine.Tick();
  EXPECT_TRUE(machine.ComboEntries().empty());
  EXPECT_EQ(card::ButtonVisibilityState(), card::kButtonsHidden);
}

// Without the boot file beside the program, or with a folder of its name,
// the install buttons are hidden after every scan, and only the next change
// from no drive to a drive shows them again.
TEST(ScanBootFile, InstallButtonsNeedTheBootFile) {
  const int installControls[] = {IDC_COPY_VORN, IDC_NEW_INSTALL, IDC_VERSION_UP};
  for (bool folder : {false, true}) {
    sim::Machine pc;
    pc.Create();
    pc.AddReader('E');
    if (folder) pc.MakePcFolder("C:\\VORN\\DISKBOOT.BIN");
    pc.Tick();
    pc.Insert('E', pc.NewCard(4 * kMb, 2));
    pc.Tick();
    for (int id : installControls) EXPECT_FALSE(pc.Visible(id)) << id << " folder " << folder;
    EXPECT_TRUE(pc.Visible(IDC_CREATE_PARTITION));

    std::filesystem::remove_all(pc.PcPath("C:\\VORN\\DISKBOOT.BIN"));
    pc.WritePcFile("C:\\VORN\\DISKBOOT.BIN", "boot");
    pc.Tick();
    for (int id : installControls) EXPECT_FALSE(pc.Visible(id)) << id;
    pc.Remove('E');
    pc.Tick();
    pc.Insert('E', pc.NewCard(4 * kMb, 2));
    pc.Tick();
    for (int id : installControls) EXPECT_TRUE(pc.Visible(id)) << id;
  }
}

}  // namespace
