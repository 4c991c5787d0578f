// Cards whose tables and boot sectors hold anything, as a card from another
// device or a broken reader may: each is inspected and gets one writing
// command, every box answered Yes (the re-insert prompts followed) and every
// dialog OK. Nothing may crash (the sanitizers watch), leave a handle open,
// change anything on the PC but the dump file, touch another card, or ask
// for a sector past the end of a card or volume. The seed is printed;
// VORN_RANDOM_CARDS_SEED repeats a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "host/host.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kCards = 200;
constexpr unsigned kCommands[] = {IDC_MAKE_BOOTABLE,   IDC_SCRIPT_FLAG,      IDC_DUMP_BOOT_SECTOR,
                                  IDC_SWAP_PARTITIONS, IDC_CREATE_PARTITION, IDC_FORMAT,
                                  IDC_COPY_VORN,       IDC_NEW_INSTALL,      IDC_VERSION_UP};
// Every kind the program tells apart, and the GUID table's protective one.
constexpr std::uint8_t kTypes[] = {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F, 0x85, 0xEE};
constexpr std::uint64_t kMaximumSectors = 65536;  // small cards keep the run short
constexpr unsigned kButtons = 0xF;                // the button set of a box's flags
const Bytes kToGoGuid = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                         0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};

std::uint64_t Seed() {
  const char* given = std::getenv("VORN_RANDOM_CARDS_SEED");
  return given != nullptr && *given != '\0' ? std::strtoull(given, nullptr, 10) : std::random_device{}();
}

// Writes one random card.
struct Maker {
  std::mt19937_64& random;
  const sim::Card& card;
  std::uint64_t sectors;

  std::uint64_t Below(std::uint64_t n) {
    return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random);
  }
  bool OneIn(std::uint64_t n) { return Below(n) == 0; }
  static void Put(Bytes& bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
      bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  }
  static void Put(Bytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  // A sector number: the start, inside, at the end, past it or at 2^32.
  std::uint64_t Lba() {
    switch (Below(6)) {
      case 0: return 0;
      case 1: return sectors - 1 - Below(std::min<std::uint64_t>(sectors, 8));
      case 2: return sectors + Below(sectors);
      case 3: return 0xFFFFFFFFu - Below(2);
      default: return Below(sectors);
    }
  }
  Bytes Noise() {
    Bytes bytes(512);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
  }
  void WriteAt(std::uint64_t lba, const Bytes& bytes) {
    if ((lba + 1) * 512 <= card.sizeBytes) card.WriteSector(lba, bytes);
  }
  // A table: entries of every type and none, anywhere and of any length.
  Bytes Table(bool protective) {
    Bytes sector = OneIn(4) ? Noise() : Bytes(512);
    for (std::size_t entry = 446; entry < 510; entry += 16) {
      if (OneIn(3)) continue;
      sector[entry + 4] = protective && entry == 446 ? 0xEE
                          : OneIn(8)                   ? static_cast<std::uint8_t>(random())
                                                       : kTypes[Below(std::size(kTypes))];
      Put(sector, entry + 8, Lba(), 4);
      Put(sector, entry + 12, OneIn(4) ? 0 : OneIn(2) ? sectors - std::min(sectors, Lba()) : Lba(), 4);
    }
    if (!OneIn(10)) Put(sector, 510, 0xAA55, 2);
    return sector;
  }
  // Noise, nothing, or a FAT boot sector whose fields may be anything.
  Bytes BootSector() {
    if (OneIn(4)) return Noise();
    if (OneIn(4)) return Bytes(512);
    Bytes boot = Noise();
    Put(boot, 0, 0x903CEB, 3);
    Put(boot, 3, OneIn(8) ? "-FVE-FS-" : "MSWIN4.1");
    if (OneIn(8)) std::copy(kToGoGuid.begin(), kToGoGuid.end(), boot.begin() + 424);
    constexpr std::uint64_t kSectorSizes[] = {512, 512, 512, 0, 1024, 4096};
    Put(boot, 11, kSectorSizes[Below(std::size(kSectorSizes))], 2);
    Put(boot, 19, OneIn(2) ? 0 : Below(sectors + 16), 2);
    Put(boot, 32, OneIn(2) ? 0 : Lba(), 4);
    Put(boot, 54, "FAT16   ");
    Put(boot, 82, "FAT32   ");
    if (OneIn(4)) Put(boot, 64, "BOOTDISK");
    if (!OneIn(8)) Put(boot, 510, 0xAA55, 2);
    return boot;
  }
  // A GUID table's header, with its entries where it says, or not.
  void Gpt() {
    Bytes header = Noise();
    Put(header, 0, "EFI PART");
    Put(header, 12, OneIn(2) ? 92 : Below(1024), 4);
    Put(header, 24, 1, 8);
    Put(header, 32, Lba(), 8);
    Put(header, 72, OneIn(2) ? 2 : Lba(), 8);
    Put(header, 80, OneIn(2) ? Below(8) : random(), 4);
    Put(header, 84, OneIn(2) ? 128 : Below(4096), 4);
    WriteAt(1, header);
    for (std::uint64_t lba = 2; lba < 6; ++lba) WriteAt(lba, Noise());
  }
  void Make() {
    const bool protective = OneIn(4);
    const Bytes mbr = Table(protective);
    card.WriteSector(0, mbr);
    for (std::size_t entry = 446; entry < 510; entry += 16) {
      const std::uint64_t first = testing_cards::Le32(mbr, entry + 8);
      const std::uint64_t count = testing_cards::Le32(mbr, entry + 12);
      const std::uint8_t type = mbr[entry + 4];
      if (type == 0x05 || type == 0x0F || type == 0x85) {
        WriteAt(first, Table(false));  // an extended chain, its links anywhere
        WriteAt(first + 1 + Below(4), Table(false));
      } else if (first > 0 && count >= 2048 && first + count <= sectors && OneIn(3)) {
        sim::Machine::Format(card, first, count, 12);  // a real file system now and then
      } else {
        WriteAt(first, BootSector());
      }
    }
    if (protective || OneIn(8)) Gpt();
  }
};

TEST(RandomCards, NothingCrashesLeaksOrReachesPastTheCard) {
  const std::uint64_t seed = Seed();
  std::printf("Random cards: seed %llu (VORN_RANDOM_CARDS_SEED=%llu repeats this run)\n",
              static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
  RecordProperty("seed", std::to_string(seed));
  std::mt19937_64 random(seed);
  // One PC, its user putting in one card after another.
  sim::Machine machine;
  testing_cards::SetUpPc(machine);
  testing_cards::PutFileSet(machine);
  // Another card, in another reader: never the program's to touch.
  machine.AddReader('M');
  std::shared_ptr<sim::Card> other = machine.NewCard(kMaximumSectors * 512, 9);
  testing_cards::WriteTable(*other, {{0x06, 1, static_cast<std::uint32_t>(kMaximumSectors - 1)}});
  const std::size_t otherPrint = testing_cards::Fingerprint(*other);
  machine.Insert('M', other);
  machine.answerAnyBox = [&machine](const sim::MessageBoxCall& box) {
    if (box.caption == "Re-insert") machine.Reinsert('E');
    const unsigned buttons = box.flags & kButtons;
    return buttons == host::kMbYesNo || buttons == host::kMbYesNoCancel ? host::kIdYes : host::kIdOk;
  };
  machine.answerAnyDialog = [](sim::SimDialog& dialog) { dialog.Click(host::kIdDialogOk); };
  const std::map<std::string, std::string> pcFiles = machine.PcFiles();
  for (int i = 0; i < kCards && !HasFailure(); ++i) {
    const std::uint64_t sectors = 64 + random() % kMaximumSectors;
    const unsigned command = kCommands[random() % std::size(kCommands)];
    SCOPED_TRACE("seed " + std::to_string(seed) + ", card " + std::to_string(i) + " of " +
                 std::to_string(sectors) + " sectors, command " + std::to_string(command));
    machine.ClearRecords();
    std::shared_ptr<sim::Card> card = machine.NewCard(sectors * 512, 2);
    Maker{random, *card, sectors}.Make();
    machine.Remove('E');
    machine.Tick();
    machine.Insert('E', card);
    machine.Tick();  // the scan and the inspection
    host::SendCommand(command);
    machine.Tick();  // the inspection a command posts
    std::map<std::string, std::string> pcAfter = machine.PcFiles();
    pcAfter.erase(machine.PcPath("C:\\DUMP.BIN"));
    EXPECT_EQ(pcAfter, pcFiles);
    EXPECT_EQ(testing_cards::Fingerprint(*other), otherPrint);
    EXPECT_EQ(machine.OpenHandles(), 0u);
    EXPECT_EQ(machine.requestsBeyondEnd, 0);
    EXPECT_TRUE(machine.registry.empty());
    if (HasFailure()) {
      for (const std::string& line : machine.Log()) std::printf("  %s\n", line.c_str());  // the card's story
    }
  }
}

}  // namespace
