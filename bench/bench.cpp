// What scripts/bench.sh prints: the program's own quick FAT32 format in the
// simulated PC against mkfs.fat on the same volume (the bytes each leaves
// allocated in the sparse image, and the time), from 32 GiB to 2 TiB - 1
// sector, with fsck.fat's verdict on the program's; then what the capacity
// test moves on cards of 8 GB, 64 GB and 2 TiB. No test: it fails nothing.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "card_fixture.h"
#include "common/card_state.h"
#include "disk/card_size.h"
#include "disk/device.h"
#include "install/fat32_format.h"
#include "sim/sim_host.h"

namespace {

constexpr std::uint32_t kStart = 2048;
// Volumes of: 32 GiB + 1 sector, a 64 GB card, a 128 GB card, 1 TiB,
// 1.8 TiB, and the largest (2 TiB - 1 sector).
constexpr std::uint64_t kVolumes[] = {67108865,   124735488 - kStart, 250069680,
                                      2147483648, 3865470566,         4294967295};
// Cards of 8 GB, 64 GB and 2 TiB.
constexpr std::uint64_t kCards[] = {15523840, 124735488, 4294967296};

std::uint64_t Allocated(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_blocks) * 512 : 0;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A card in E: of a partition of this many sectors from kStart, scanned.
std::shared_ptr<sim::Card> InsertCard(sim::Machine& machine, std::uint64_t sectors) {
  testing_cards::SetUpPc(machine);
  std::shared_ptr<sim::Card> card = machine.NewCard((sectors + kStart) * 512, 2);
  testing_cards::WriteTable(*card, {{0x0C, kStart, static_cast<std::uint32_t>(sectors)}});
  machine.Insert('E', card);
  machine.Tick();
  return card;
}

// One size: false when a format fails.
bool CompareFormats(std::uint64_t sectors) {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card = InsertCard(machine, sectors);
  const std::uint64_t tableOnly = Allocated(card->imagePath);
  install::Fat32Plan plan;
  if (!install::PlanFat32(kStart, sectors, install::kOwnFormatSectorsPerCluster, plan)) return false;
  int result = 1;
  const double own = Seconds([&result, &plan] {
    disk::UniqueHandle volume = disk::OpenVolumeOf("E:\\", disk::Access::ReadWrite);
    if (host::LockVolume(volume.Get())) result = install::WriteFat32(volume.Get(), plan, false, [](int) {});
  });
  if (result != 0) return false;
  const std::uint64_t ownBytes = Allocated(card->imagePath) - tableOnly;
  testing_cards::CheckFileSystem(*card, kStart, sectors);
  const bool accepted = !::testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed();

  const std::string plain = card->imagePath + ".mkfs";
  const std::string mkfs = "truncate -s " + std::to_string((sectors + kStart) * 512) + " '" + plain +
                           "' && mkfs.fat -F 32 -s 64 -h " + std::to_string(kStart) + " --offset " +
                           std::to_string(kStart) + " '" + plain + "' " + std::to_string(sectors / 2) +
                           " >/dev/null";
  const double theirs = Seconds([&mkfs, &result] { result = std::system(mkfs.c_str()); });
  const std::uint64_t theirBytes = Allocated(plain);
  std::remove(plain.c_str());
  if (result != 0) return false;
  std::printf("%11llu %8u %14llu %8.3f s %14llu %8.3f s  %-13s %4.2f  %s\n",
              static_cast<unsigned long long>(sectors), plan.fatSectors,
              static_cast<unsigned long long>(ownBytes), own, static_cast<unsigned long long>(theirBytes), theirs,
              ownBytes <= theirBytes ? "no more" : "MORE", own / theirs, accepted ? "accepts" : "REFUSES");
  return true;
}

bool MeasureCapacityTest(std::uint64_t sectors) {
  sim::Machine machine;
  InsertCard(machine, sectors - kStart);
  machine.deviceBytesRead = 0;
  machine.deviceBytesWritten = 0;
  machine.ClearRecords();
  if (!disk::ProveCardSize()) return false;
  std::printf("%11llu %8zu %12llu %12llu %10d %10d\n", static_cast<unsigned long long>(sectors),
              disk::CardSizeSamples(sectors).size(), static_cast<unsigned long long>(machine.deviceBytesWritten),
              static_cast<unsigned long long>(machine.deviceBytesRead), machine.Calls("WriteFile"),
              machine.Calls("ReadFile"));
  return true;
}

}  // namespace

int main() {
  std::printf("quick FAT32 format, own against mkfs.fat -F 32 -s 64 (bytes left in the image, time)\n");
  std::printf("%11s %8s %14s %10s %14s %10s  %-13s %4s  %s\n", "sectors", "FAT", "own bytes", "own",
              "mkfs bytes", "mkfs", "own writes", "time", "fsck.fat");
  for (const std::uint64_t sectors : kVolumes) {
    if (!CompareFormats(sectors)) return 1;
  }
  std::printf("\ncapacity test of New Install\n%11s %8s %12s %12s %10s %10s\n", "sectors", "samples",
              "bytes written", "bytes read", "writes", "reads");
  for (const std::uint64_t sectors : kCards) {
    if (!MeasureCapacityTest(sectors)) return 1;
  }
  return 0;
}
