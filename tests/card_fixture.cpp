#include "card_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "res/ids.h"
#include "sfdisk_entries.h"

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

std::vector<std::string> SfdiskEntries(const sim::Card& card) { return SfdiskEntriesOf(SfdiskDump(card)); }

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

std::string MtoolsAt(const sim::Card& card, std::uint64_t firstSector) {
  return "'" + card.imagePath + "@@" + std::to_string(firstSector * 512) + "'";
}

void PutFilesAt(const sim::Card& card, std::uint64_t firstSector,
                const std::vector<std::pair<std::string, std::string>>& files) {
  const std::string image = MtoolsAt(card, firstSector);
  const std::string local = card.imagePath + ".put";
  for (const auto& [path, content] : files) {
    // Every folder on the way, those there already included ("-D s": skip).
    for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
      sim::Run("mmd -D s -i " + image + " '::/" + path.substr(0, slash) + "' || true");
    }
    std::ofstream(local, std::ios::binary) << content;
    sim::Run("mcopy -o -i " + image + " '" + local + "' '::/" + path + "'");
  }
}

std::string FileAt(const sim::Card& card, std::uint64_t firstSector, const std::string& path) {
  return sim::Run("mtype -i " + MtoolsAt(card, firstSector) + " '::/" + path + "'");
}

bool ExistsAt(const sim::Card& card, std::uint64_t firstSector, const std::string& path) {
  const std::string command =
      "mdir -i " + MtoolsAt(card, firstSector) + " '::/" + path + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

namespace {

// Calls back with every run of bytes in the range that holds data, in
// order: the holes of a sparse image are never read.
void ForEachExtent(const sim::Card& card, std::uint64_t begin, std::uint64_t end,
                   const std::function<void(std::uint64_t, const char*, std::size_t)>& take) {
  const int in = ::open(card.imagePath.c_str(), O_RDONLY);
  std::vector<char> buffer(1 << 20);
  for (off_t data = ::lseek(in, static_cast<off_t>(begin), SEEK_DATA);
       data >= 0 && static_cast<std::uint64_t>(data) < end;) {
    const off_t hole = std::min<off_t>(::lseek(in, data, SEEK_HOLE), static_cast<off_t>(end));
    for (off_t at = data; at < hole;) {
      const auto chunk = static_cast<std::size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buffer.size())));
      const ssize_t got = ::pread(in, buffer.data(), chunk, at);
      if (got <= 0) break;
      take(static_cast<std::uint64_t>(at), buffer.data(), static_cast<std::size_t>(got));
      at += got;
    }
    data = ::lseek(in, hole, SEEK_DATA);
  }
  ::close(in);
}

}  // namespace

std::string CheckFileSystem(const sim::Card& card, std::uint64_t firstSector, std::uint64_t sectors) {
  const std::string copy = card.imagePath + ".part";
  const int out = ::open(copy.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  const std::uint64_t begin = firstSector * 512;
  EXPECT_EQ(::ftruncate(out, static_cast<off_t>(sectors * 512)), 0);
  ForEachExtent(card, begin, begin + sectors * 512, [out, begin](std::uint64_t at, const char* bytes, std::size_t size) {
    EXPECT_EQ(::pwrite(out, bytes, size, static_cast<off_t>(at - begin)), static_cast<ssize_t>(size));
  });
  ::close(out);
  const std::string report = sim::Run("fsck.fat -n '" + copy + "'");
  ::unlink(copy.c_str());
  return report;
}

void ExpectOwnFat32(const sim::Card& card, std::uint64_t firstSector, std::uint64_t sectors) {
  const std::vector<std::uint8_t> boot = card.Sector(firstSector);
  EXPECT_EQ(std::string(boot.begin() + 82, boot.begin() + 90), "FAT32   ");
  EXPECT_EQ(boot[13], 64);  // sectors a cluster
  EXPECT_EQ(Le32(boot, 28), firstSector);
  EXPECT_EQ(Le32(boot, 32), sectors);
  const auto reserved = static_cast<std::uint64_t>(boot[14] | boot[15] << 8);
  const std::uint64_t fat = Le32(boot, 36);
  EXPECT_EQ((firstSector + reserved + 2 * fat) % 8192, 0u);
  // No larger than its clusters need; one sector more only where one less
  // would move the data 4 MiB back, which gives 128 clusters more.
  EXPECT_LE(fat, (((sectors - reserved - 2 * fat) / 64 + 2) * 4 + 511) / 512 + 1);
  EXPECT_EQ(Le32(card.Sector(firstSector + reserved), 0), 0x0FFFFF00u | boot[21]);  // FAT[0]: the media
  EXPECT_EQ(card.Sector(firstSector + 6), boot);
  CheckFileSystem(card, firstSector, sectors);
  sim::Run("mdir -i " + MtoolsAt(card, firstSector) + " ::/");
}

std::size_t Fingerprint(const sim::Card& card) {
  std::string all;
  ForEachExtent(card, 0, card.sizeBytes, [&all](std::uint64_t at, const char* bytes, std::size_t size) {
    all += std::to_string(at) + ":";
    all.append(bytes, size);
  });
  return std::hash<std::string>{}(all);
}

void KeepCard(const sim::Card& card, const std::string& name) {
  const char* folder = std::getenv("VORN_KEEP_CARDS");
  if (folder == nullptr || *folder == '\0') return;
  sim::Run("mkdir -p '" + std::string(folder) + "' && cp --sparse=always '" + card.imagePath + "' '" +
           folder + "/" + name + ".img'");
}

}  // namespace testing_cards
