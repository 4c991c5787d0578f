// Sector access on a removable drive that Wine maps to an image file
// (scripts/test.sh sets up E: and names the image in VORN_CARD_IMAGE), and
// file creation on the PC.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/card_state.h"
#include "card/scan.h"
#include "disk/card_disk.h"
#include "disk/device.h"
#include "disk/system_disk.h"
#include "host/host.h"
#include "ids.h"
#include "window_support.h"

namespace {

constexpr char kCardRoot[] = "E:\\";

// The image as a plain file, read and written around the program's back.
class CardImage {
 public:
  CardImage() {
    const char* path = std::getenv("VORN_CARD_IMAGE");
    path_ = path == nullptr ? "" : path;
  }
  bool Present() const { return !path_.empty(); }
  disk::Sector Read() const {
    disk::Sector sector{};
    disk::UniqueHandle file = Open(host::kGenericRead);
    std::uint32_t done = 0;
    EXPECT_TRUE(host::ReadAt(file.Get(), 0, sector.data(), disk::kSectorSize, done));
    return sector;
  }
  void Write(const disk::Sector& sector) const {
    disk::UniqueHandle file = Open(host::kGenericRead | host::kGenericWrite);
    std::uint32_t done = 0;
    EXPECT_TRUE(host::WriteAt(file.Get(), 0, sector.data(), disk::kSectorSize, done));
  }

 private:
  disk::UniqueHandle Open(std::uint32_t access) const {
    disk::UniqueHandle file(host::CreateFile(path_.c_str(), access,
                                             host::kFileShareRead | host::kFileShareWrite,
                                             host::kOpenExisting));
    EXPECT_TRUE(file.Valid()) << path_;
    return file;
  }
  std::string path_;
};

disk::Sector Pattern(std::uint8_t seed) {
  disk::Sector sector{};
  for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return sector;
}

class RemovableDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(image.Present()) << "run through scripts/test.sh, which maps E: to an image";
    image.Write(Pattern(1));
    common::gCardState = common::CardState{};
    common::gCardState.driveRoot = kCardRoot;
  }
  CardImage image;
};

TEST_F(RemovableDrive, IsRemovableAndItsVolumeReadsTheImage) {
  EXPECT_EQ(host::GetDriveType(kCardRoot), host::kDriveRemovable);
  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::Read);
  ASSERT_TRUE(volume.Valid());
  disk::Sector sector{};
  ASSERT_TRUE(disk::ReadSector0(volume.Get(), sector));
  EXPECT_EQ(sector, Pattern(1));
  // Every transfer starts at byte 0 again.
  ASSERT_TRUE(disk::ReadSector0(volume.Get(), sector));
  EXPECT_EQ(sector, Pattern(1));
}

TEST_F(RemovableDrive, WritesGoToTheImageAndTheProbeChangesNothing) {
  {
    disk::UniqueHandle volume = disk::OpenVolume(disk::Access::ReadWrite);
    ASSERT_TRUE(volume.Valid());
    disk::Sector sector{};
    ASSERT_TRUE(disk::ReadSector0(volume.Get(), sector));
    ASSERT_TRUE(disk::WriteSector0(volume.Get(), Pattern(2)));
  }
  EXPECT_EQ(image.Read(), Pattern(2));
  EXPECT_EQ(disk::ProbeVolumeWritable(), 0);
  EXPECT_EQ(image.Read(), Pattern(2));
  // A read-only handle refuses the write.
  disk::UniqueHandle readOnly = disk::OpenVolume(disk::Access::Read);
  EXPECT_FALSE(disk::WriteSector0(readOnly.Get(), Pattern(3)));
  EXPECT_EQ(image.Read(), Pattern(2));
}

TEST_F(RemovableDrive, AnEmptyDriveRootOpensNothing) {
  common::gCardState.driveRoot.clear();
  EXPECT_FALSE(disk::OpenVolume(disk::Access::Read).Valid());
  EXPECT_EQ(disk::ProbeVolumeWritable(), 1);
  EXPECT_FALSE(disk::EjectCard());  // no physical drive path
}

// The scan finds the drive the way the program does: drive type, volume
// open, sector read; it lists it and asks for the inspection.
TEST_F(RemovableDrive, TheScanListsItAndAsksForTheInspection) {
  wintest::MainWindow main;
  main.RecordCommands();
  common::gDriveSlots.fill(0);
  card::ScanDrives();
  const HWND combo = GetDlgItem(main.Get(), IDC_DRIVE_COMBO);
  ASSERT_GE(SendMessageA(combo, CB_GETCOUNT, 0, 0), 1);
  std::array<char, 16> first{};
  SendMessageA(combo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first.data()));
  EXPECT_STREQ(first.data(), kCardRoot);
  EXPECT_EQ(common::gCardState.driveRoot, kCardRoot);
  EXPECT_EQ(main.Commands(), std::vector<unsigned>{IDC_INSPECT});
  // Nothing changed: no second inspection.
  card::ScanDrives();
  EXPECT_EQ(main.Commands().size(), 1u);
}

// The system disks are told with a query-only open of the Windows volume, so
// the card is trusted without rights to the system volume's data; the card's
// volume is flushed through a read/write handle.
TEST_F(RemovableDrive, TheSystemDiskIsToldAndTheCardIsNot) {
  disk::UniqueHandle volume = disk::OpenVolume(disk::Access::Read);
  host::StorageDeviceNumber card;
  ASSERT_TRUE(disk::GetDeviceNumber(volume.Get(), card));
  EXPECT_EQ(disk::JudgeDevice(card), disk::DeviceVerdict::Card);
  disk::UniqueHandle windows = disk::OpenDevice(
      disk::VolumePath(host::GetSystemWindowsDirectory().at(0)), disk::Access::Query);
  host::StorageDeviceNumber system;
  ASSERT_TRUE(disk::GetDeviceNumber(windows.Get(), system));
  EXPECT_EQ(disk::JudgeDevice(system), disk::DeviceVerdict::NotACard);
  disk::UniqueHandle writable = disk::OpenVolume(disk::Access::ReadWrite);
  EXPECT_TRUE(host::FlushFileBuffers(writable.Get()));
}

class PcFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::array<char, MAX_PATH> temp{};
    GetTempPathA(MAX_PATH, temp.data());
    path = std::string(temp.data()) + "vorn-create-test.bin";
    DeleteFileA(path.c_str());
  }
  void TearDown() override { DeleteFileA(path.c_str()); }
  disk::UniqueHandle Create(std::uint32_t disposition) const {
    return disk::UniqueHandle(host::CreateFile(path.c_str(), host::kGenericRead | host::kGenericWrite,
                                               host::kFileShareRead | host::kFileShareWrite,
                                               disposition));
  }
  std::string path;
};

TEST_F(PcFolder, CreateNewKeepsAnExistingFileAndCreateAlwaysReplacesIt) {
  {
    disk::UniqueHandle file = Create(host::kCreateNew);
    ASSERT_TRUE(file.Valid());
    std::uint32_t done = 0;
    ASSERT_TRUE(host::WriteAt(file.Get(), 0, "kept", 4, done));
    EXPECT_EQ(done, 4u);
  }
  EXPECT_FALSE(Create(host::kCreateNew).Valid());
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 4u);
  EXPECT_TRUE(Create(host::kCreateAlways).Valid());
  ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 0u);
  EXPECT_EQ(host::GetFileAttributes(path.c_str()) & host::kFileAttributeDirectory, 0u);
  EXPECT_EQ(host::GetFileAttributes((path + ".missing").c_str()), host::kInvalidFileAttributes);
}

}  // namespace
