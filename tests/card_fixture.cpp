#include "card_fixture.h"

#include <gtest/gtest.h>

#include <sstream>

#include "res/ids.h"

namespace testing_cards {

constexpr std::uint8_t kTypeFat16 = 0x06;
constexpr std::uint32_t kFirstSector = 63;

void WriteTable(const sim::Card& card, const std::vector<Partition>& entries) {
  std::vector<std::uint8_t> mbr(512, 0);
  for (std::size_t i = 0; i < entries.size() && i < 4; ++i) {
    std::uint8_t* entry = mbr.data() + 446 + 16 * i;
    entry[4] = entries[i].type;
    for (int b = 0; b < 4; ++b) {
      entry[8 + b] = static_cast<std::uint8_t>(entries[i].firstSector >> (8 * b));
      entry[12 + b] = static_cast<std::uint8_t>(entries[i].sectorCount >> (8 * b));
    }
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  card.WriteSector(0, mbr);
}

std::uint32_t Le32(const std::vector<std::uint8_t>& sector, std::size_t offset) {
  return std::uint32_t{sector[offset]} | std::uint32_t{sector[offset + 1]} << 8 |
         std::uint32_t{sector[offset + 2]} << 16 | std::uint32_t{sector[offset + 3]} << 24;
}

void SetUpPc(sim::Machine& machine, char readerLetter) {
  machine.WritePcFile("C:\\VORN\\DISKBOOT.BIN", "boot");
  machine.AddReader(readerLetter);
  machine.Create();
}

std::shared_ptr<sim::Card> InsertFat16Card(sim::Machine& machine, char letter,
                                           std::uint64_t sizeBytes, std::uint32_t deviceNumber) {
  auto card = machine.NewCard(sizeBytes, deviceNumber);
  const auto sectors = static_cast<std::uint32_t>(sizeBytes / 512);
  WriteTable(*card, {{kTypeFat16, kFirstSector, sectors - kFirstSector}});
  sim::Machine::Format(*card, kFirstSector, sectors - kFirstSector, 16);
  machine.AddReader(letter);
  machine.Insert(letter, card);
  machine.Tick();
  return card;
}

std::string SfdiskDump(const sim::Card& card) {
  return sim::Run("sfdisk -d '" + card.imagePath + "'");
}

::testing::AssertionResult InOrder(const sim::Machine& machine, const std::vector<std::string>& steps) {
  std::size_t next = 0;
  for (const std::string& line : machine.Log()) {
    if (next < steps.size() && line.rfind(steps[next], 0) == 0) ++next;
  }
  if (next == steps.size()) return ::testing::AssertionSuccess();
  std::ostringstream log;
  for (const std::string& line : machine.Log()) log << "\n  " << line;
  return ::testing::AssertionFailure() << "missing \"" << steps[next] << "\" in" << log.str();
}

void PutFileSet(const sim::Machine& machine) {
  const std::pair<const char*, const char*> files[] = {
      {"DISKBOOT.BIN", "boot file"},         {"PS.FIR", "firmware"},
      {"LYRE\\LYRE.BIN", "add-on"},          {"LYRE\\FONTS\\BIG.FNT", "font"},
      {"DCIM\\100TEST\\README.TXT", "dcim"}, {"LYRE.CFG.L", "config left"},
      {"LYRE.CFG.R", "config right"},
  };
  for (const auto& [name, content] : files) {
    machine.WritePcFile(std::string("C:\\VORN\\") + name, content);
  }
}

}  // namespace testing_cards
