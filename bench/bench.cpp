// What scripts/bench.sh prints: the program's own quick FAT32 format of a
// 64 GB card in the simulated PC against mkfs.fat on the same volume (the
// bytes each leaves allocated in the sparse image, and the time), and the
// bytes that the capacity test moves on that card. No test: it fails
// nothing.
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "card_fixture.h"
#include "common/card_state.h"
#include "disk/card_disk.h"
#include "disk/card_size.h"
#include "disk/device.h"
#include "install/fat32_format.h"
#include "sim/sim_host.h"

namespace {

constexpr std::uint64_t kCardSectors = 124735488;  // sold as 64 GB
constexpr std::uint32_t kStart = 2048;

std::uint64_t Allocated(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_blocks) * 512 : 0;
}

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Row(const char* name, std::uint64_t bytes, double seconds) {
  std::printf("%-40s %14llu bytes %8.3f s\n", name, static_cast<unsigned long long>(bytes), seconds);
}

}  // namespace

int main() {
  sim::Machine machine;
  testing_cards::SetUpPc(machine);
  std::shared_ptr<sim::Card> card = machine.NewCard(kCardSectors * 512, 2);
  testing_cards::WriteTable(*card, {{0x0C, kStart, static_cast<std::uint32_t>(kCardSectors - kStart)}});
  machine.Insert('E', card);
  machine.Tick();
  const std::uint64_t tableOnly = Allocated(card->imagePath);

  install::Fat32Plan plan;
  if (!install::PlanFat32(kStart, kCardSectors - kStart, install::kOwnFormatSectorsPerCluster, plan))
    return 1;
  int result = 1;
  const double own = Seconds([&result, &plan] {
    disk::UniqueHandle volume = disk::OpenVolumeOf("E:\\", disk::Access::ReadWrite);
    if (host::LockVolume(volume.Get())) result = install::WriteFat32(volume.Get(), plan, false, [](int) {});
  });
  if (result != 0) return 1;
  const std::uint64_t ownBytes = Allocated(card->imagePath) - tableOnly;

  const std::string plain = card->imagePath + ".mkfs";
  const std::string mkfs = "truncate -s " + std::to_string(kCardSectors * 512) + " '" + plain +
                           "' && mkfs.fat -F 32 -s 64 -h " + std::to_string(kStart) + " --offset " +
                           std::to_string(kStart) + " '" + plain + "' " +
                           std::to_string((kCardSectors - kStart) / 2) + " >/dev/null";
  const double theirs = Seconds([&mkfs, &result] { result = std::system(mkfs.c_str()); });
  const std::uint64_t theirBytes = Allocated(plain);
  std::remove(plain.c_str());
  if (result != 0) return 1;

  Row("the program's quick FAT32 format", ownBytes, own);
  Row("mkfs.fat -F 32 -s 64", theirBytes, theirs);
  std::printf("written: %s; time: %.2f of mkfs.fat's (at most 1.50)\n",
              ownBytes <= theirBytes ? "no more than mkfs.fat" : "MORE than mkfs.fat", own / theirs);

  disk::RememberPartition("E:\\");  // the card as the format left it
  machine.deviceBytesRead = 0;
  machine.deviceBytesWritten = 0;
  if (!disk::ProveCardSize()) return 1;
  std::printf("capacity test on a 64 GB card: %llu bytes written, %llu bytes read\n",
              static_cast<unsigned long long>(machine.deviceBytesWritten),
              static_cast<unsigned long long>(machine.deviceBytesRead));
  return 0;
}
