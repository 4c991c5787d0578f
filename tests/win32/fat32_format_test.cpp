// The program's own FAT32 format through the Win32 host, on the removable
// drive E: that Wine maps to the slot's image, grown sparse to 40 GiB; the
// Linux fsck.fat, which Wine starts as it would a program of its own, reads
// the result.
#include "install/fat32_format.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "disk/device.h"
#include "host/host.h"
#include "prefix_support.h"

namespace {

constexpr std::uint64_t k40GiB = std::uint64_t{40} << 30;

TEST(OwnFormat, A40GibVolumeIsOneThatFsckAccepts) {
  const char* image = std::getenv("VORN_CARD_IMAGE");
  ASSERT_NE(image, nullptr) << "run through scripts/test.sh, which maps E: to an image";
  {
    wintest::UniqueHandle file(CreateFileA(image, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    size.QuadPart = static_cast<LONGLONG>(k40GiB);
    ASSERT_TRUE(SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(file.get()));
  }
  install::Fat32Plan plan;
  ASSERT_TRUE(install::PlanFat32(0, k40GiB / 512, install::kOwnFormatSectorsPerCluster, plan));
  int shown = 0;
  {
    disk::UniqueHandle volume = disk::OpenDevice("\\\\.\\E:", disk::Access::ReadWrite);
    ASSERT_TRUE(volume.Valid());
    ASSERT_TRUE(host::LockVolume(volume.Get()));  // Wine cannot dismount it: the lock is enough here
    EXPECT_EQ(install::WriteFat32(volume.Get(), plan, false, [&shown](int percent) { shown = percent; }), 0);
  }
  EXPECT_EQ(shown, 100);
  std::string unixPath = std::string(image).substr(2);  // "Z:\tmp\..." is "/tmp/..."
  for (char& c : unixPath) c = c == '\\' ? '/' : c;
  // The Linux program writes what it says beside the image; Wine gives no
  // handle to wait for it by.
  const std::string said = std::string(image) + ".fsck";
  DeleteFileA(said.c_str());
  std::string line = "Z:\\bin\\sh -c \"/usr/sbin/fsck.fat -n '" + unixPath + "' > '" + unixPath +
                     ".fsck.part' 2>&1; echo exit $? >> '" + unixPath + ".fsck.part'; mv '" + unixPath +
                     ".fsck.part' '" + unixPath + ".fsck'\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(
      CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started));
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  ASSERT_TRUE(wintest::WaitUntil([&said] { return wintest::ReadTextFile(said).has_value(); }, 60000));
  const std::string report = wintest::ReadTextFile(said).value_or("");
  EXPECT_NE(report.find("exit 0"), std::string::npos) << report;
  EXPECT_NE(report.find("0 files, 1/" + std::to_string(plan.clusters) + " clusters"), std::string::npos)
      << report;
  DeleteFileA(said.c_str());
}

}  // namespace
