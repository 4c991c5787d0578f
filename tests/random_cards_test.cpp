// Cards whose tables, boot sectors and GUID headers hold anything: each is
// inspected and gets one writing command, every box answered Yes (a re-insert
// prompt followed) and every dialog OK. Nothing may crash (the sanitizers
// watch), leave a handle open, change the PC but for the dump file, touch
// another card, or ask past the end of a card or volume. The seed is printed;
// VORN_RANDOM_CARDS_SEED repeats a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>

#include "card_fixture.h"
#include "res/ids.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kCards = 200;
constexpr std::uint64_t kMostSectors = 65536;  // small cards keep the run short
constexpr unsigned kCommands[] = {IDC_MAKE_BOOTABLE,    IDC_SCRIPT_FLAG, IDC_DUMP_BOOT_SECTOR,
                                  IDC_SWAP_PARTITIONS,  IDC_FORMAT,      IDC_CREATE_PARTITION,
                                  IDC_COPY_VORN,        IDC_NEW_INSTALL, IDC_VERSION_UP};
constexpr std::uint8_t kTypes[] = {0x01, 0x04, 0x05, 0x06, 0x07, 0x0B, 0x0C, 0x0E, 0x0F, 0x85, 0xEE, 0x42};
const std::string kToGoGuid = "\x3B\xD6\x67\x49\x29\x2E\xD8\x4A\x83\x99\xF6\xA3\x39\xE3\xD0\x01";

struct Maker {
  std::mt19937_64& random;
  const sim::Card& card;
  std::uint64_t sectors;

  bool OneIn(std::uint64_t n) { return random() % n == 0; }
  static void Put(Bytes& bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> 8 * i);
  }
  static void Put(Bytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  // At the start, inside, at the end, past it, or at 2^32.
  std::uint64_t Lba() {
    const std::uint64_t kinds[] = {0, sectors - 1 - random() % 8, sectors + random() % sectors,
                                   0xFFFFFFFFu - random() % 2, random() % sectors, random() % sectors};
    return kinds[random() % std::size(kinds)];
  }
  Bytes Noise() {
    Bytes bytes(512);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
  }
  void WriteAt(std::uint64_t lba, const Bytes& bytes) {
    if (lba < sectors) card.WriteSector(lba, bytes);
  }
  // Entries of every type, anywhere, of any length, overlapping or empty.
  Bytes Table(bool protective) {
    Bytes sector = OneIn(4) ? Noise() : Bytes(512);
    for (std::size_t entry = 446; entry < 510; entry += 16) {
      if (OneIn(3)) continue;
      sector[entry + 4] = protective && entry == 446 ? 0xEE : kTypes[random() % std::size(kTypes)];
      Put(sector, entry + 8, Lba(), 4);
      Put(sector, entry + 12, OneIn(4) ? 0 : OneIn(2) ? sectors - std::min(sectors, Lba()) : Lba(), 4);
    }
    if (!OneIn(10)) Put(sector, 510, 0xAA55, 2);
    return sector;
  }
  // Noise, or a FAT boot sector whose fields may be anything.
  Bytes BootSector() {
    Bytes boot = Noise();
    if (OneIn(4)) return boot;
    Put(boot, 0, 0x903CEB, 3);
    Put(boot, 3, OneIn(8) ? "-FVE-FS-" : "MSWIN4.1");
    if (OneIn(8)) Put(boot, 424, kToGoGuid);
    Put(boot, 11, OneIn(4) ? random() % 8192 : 512, 2);
    Put(boot, 19, OneIn(2) ? 0 : random() % (sectors + 16), 2);
    Put(boot, 32, OneIn(2) ? 0 : Lba(), 4);
    Put(boot, 54, "FAT16   ");
    Put(boot, 82, "FAT32   ");
    if (OneIn(4)) Put(boot, 64, "BOOTDISK");
    if (!OneIn(8)) Put(boot, 510, 0xAA55, 2);
    return boot;
  }
  void Make() {
    const bool protective = OneIn(4);
    const Bytes mbr = Table(protective);
    card.WriteSector(0, mbr);
    for (std::size_t entry = 446; entry < 510; entry += 16) {
      const std::uint64_t first = testing_cards::Le32(mbr, entry + 8);
      const std::uint64_t count = testing_cards::Le32(mbr, entry + 12);
      const std::uint8_t type = mbr[entry + 4];
      if (type == 0x05 || type == 0x0F || type == 0x85) {  // an extended chain, its links anywhere
        WriteAt(first, Table(false));
        WriteAt(first + 1 + random() % 4, Table(false));
      } else if (first > 0 && count >= 2048 && first + count <= sectors && OneIn(3)) {
        sim::Machine::Format(card, first, count, 12);  // now and then a real file system
      } else {
        WriteAt(first, BootSector());
      }
    }
    if (!protective && !OneIn(8)) return;
    Bytes header = Noise();  // a GUID header with its entries anywhere, of any size and count
    Put(header, 0, "EFI PART");
    Put(header, 32, Lba(), 8);
    Put(header, 72, OneIn(2) ? 2 : Lba(), 8);
    Put(header, 80, OneIn(2) ? random() % 8 : random(), 4);
    Put(header, 84, OneIn(2) ? 128 : random() % 4096, 4);
    WriteAt(1, header);
    for (std::uint64_t lba = 2; lba < 6; ++lba) WriteAt(lba, Noise());
  }
};

TEST(RandomCards, NothingCrashesLeaksOrReachesPastTheCard) {
  const char* given = std::getenv("VORN_RANDOM_CARDS_SEED");
  const std::uint64_t seed = given != nullptr ? std::strtoull(given, nullptr, 10) : std::random_device{}();
  std::printf("Random cards: VORN_RANDOM_CARDS_SEED=%llu repeats this run\n",
              static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  sim::Machine machine;  // one PC, its user putting in one card after another
  testing_cards::SetUpPc(machine);
  testing_cards::PutFileSet(machine);
  machine.AddReader('M');  // another card: never the program's to touch
  const std::shared_ptr<sim::Card> other = machine.NewCard(kMostSectors * 512, 9);
  testing_cards::WriteTable(*other, {{0x06, 1, kMostSectors - 1}});
  machine.Insert('M', other);
  const std::size_t otherPrint = testing_cards::Fingerprint(*other);
  machine.answerAnyBox = [&machine](const sim::MessageBoxCall& box) {
    if (box.caption == "Re-insert") machine.Reinsert('E');
    const unsigned buttons = box.flags & 0xF;
    return buttons == host::kMbYesNo || buttons == host::kMbYesNoCancel ? host::kIdYes : host::kIdOk;
  };
  machine.answerAnyDialog = [](sim::SimDialog& dialog) { dialog.Click(host::kIdDialogOk); };
  const std::map<std::string, std::string> pcFiles = machine.PcFiles();
  for (int i = 0; i < kCards && !HasFailure(); ++i) {
    const std::uint64_t sectors = 64 + random() % kMostSectors;
    const unsigned command = kCommands[random() % std::size(kCommands)];
    SCOPED_TRACE("seed " + std::to_string(seed) + ", card " + std::to_string(i) + ", command " +
                 std::to_string(command));
    machine.Remove('E');
    machine.Tick();
    machine.ClearRecords();
    const std::shared_ptr<sim::Card> card = machine.NewCard(sectors * 512, 2);
    Maker{random, *card, sectors}.Make();
    machine.Insert('E', card);
    machine.Tick();  // the scan and the inspection
    host::SendCommand(command);
    machine.Tick();  // the inspection a command posts
    std::map<std::string, std::string> pcNow = machine.PcFiles();
    pcNow.erase(machine.PcPath("C:\\DUMP.BIN"));
    EXPECT_EQ(pcNow, pcFiles);
    EXPECT_TRUE(machine.registry.empty());
    EXPECT_EQ(testing_cards::Fingerprint(*other), otherPrint);
    EXPECT_EQ(machine.OpenHandles(), 0u);
    EXPECT_EQ(machine.requestsBeyondEnd, 0);
    if (!HasFailure()) continue;
    for (const std::string& line : machine.Log()) std::printf("  %s\n", line.c_str());  // the card's story
  }
}

}  // namespace
