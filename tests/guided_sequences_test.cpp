// New Install (210) and Version Up (212), end to end on sparse card images
// with real FAT file systems: the user answers every box and dialog, takes
// the card out and puts it back at the prompts, and the finished card is
// read with sfdisk, fsck.fat and mtools.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "common/card_state.h"
#include "common/module_directory.h"
#include "disk/card_size.h"
#include "host/host.h"
#include "install/install_setting.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_cards::ExistsAt;
using testing_cards::FileAt;
using testing_cards::kMb;

constexpr std::uint64_t k2GbCard = 3842048;    // sectors
constexpr std::uint64_t k8GbCard = 15523840;
constexpr std::uint64_t k32GbCard = 62333952;
constexpr std::uint64_t k64GbCard = 124735488;  // sold as 64 GB: over what format.com takes
constexpr std::uint64_t k256GbCard = 499744768;
constexpr std::uint64_t k64MbCard = 131072;
constexpr std::uint32_t kSmallStart = 1;
constexpr std::uint32_t kSmallSectors = 4096;
constexpr std::uint32_t kLargeStart = 4097;
constexpr std::uint32_t kSingleStart = 249;
constexpr char kBootMark[] = "BOOTDISK";

constexpr char kQuick[] = "Quick Format ?";
constexpr char kFormatFailed[] = "Cannot format SD Card!";
constexpr char kCardChanged[] = "SD Card changed or missing!\nRe-insert the card and start again.";
constexpr char kNoOldVersion[] = "Cannot find Old version on your SD card!";
// The box of a failed write into a boot sector: a swap's, or the boot mark's.
constexpr char kSwapFailed[] = "Cannot write boot sector! Maybe write protected.";
constexpr char kFilesMissing[] = "VORN files are missing beside the installer!";
constexpr char kOneTwo[] = "Need to re-create two partitions.\nContinue to install VORN ? ";
constexpr char kOneOrTwoPartitions[] = "Create One Partition(YES) or Two Partitions(NO) ?";
constexpr char kRecreateOne[] = "Need to re-create one partition.\nContinue to install VORN ? ";
constexpr char kNeedFormat[] = "Need to format this card.\nContinue to install VORN ? ";
constexpr char kInstalled[] =
    "Install finished!\nLock the card, insert into the camera and VORN will auto-boot.";
constexpr char kVersionUpDone[] =
    "Version Up finished!\nLock the card, insert into the camera and VORN will auto-boot.";

// The sequences run under both Windows: every partition under a letter of
// its own, or only the first one under the reader's.
class BothWindows : public ::testing::TestWithParam<sim::Windows> {
 protected:
  static bool Win7() { return GetParam() == sim::Windows::Win7; }
  // Keeps the finished card as "<test>[.<variant>].<model>.img".
  static void Keep(const sim::Card& card, const std::string& variant = {}) {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    name.insert(name.find('/'), variant.empty() ? "" : "." + variant);
    name[name.find('/')] = '.';
    testing_cards::KeepCard(card, name);
  }
};
INSTANTIATE_TEST_SUITE_P(Windows, BothWindows, ::testing::Values(sim::Windows::Win10, sim::Windows::Win7),
                         [](const ::testing::TestParamInfo<sim::Windows>& windows) {
                           return windows.param == sim::Windows::Win7 ? "win7" : "win10";
                         });

std::string Entry(std::uint64_t start, std::uint64_t size, const char* type) {
  return "start=" + std::to_string(start) + ",size=" + std::to_string(size) + ",type=" + type;
}

std::vector<std::string> DualLayout(std::uint64_t total) {
  return {Entry(kSmallStart, kSmallSectors, "1"), Entry(kLargeStart, total - 4098, "b")};
}

bool HasBootMark(const sim::Card& card, std::uint64_t firstSector) {
  const Bytes bytes = card.Read(firstSector * 512 + 64, 8);
  return std::string(bytes.begin(), bytes.end()) == kBootMark;
}

struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;

  explicit Pc(sim::Windows windows = sim::Windows::Win10) {
    machine.windows = windows;
    testing_cards::SetUpPc(machine);
    testing_cards::PutFileSet(machine);
  }
  // Inserts the card and lets the scan identify it.
  void Insert(std::shared_ptr<sim::Card> inserted) {
    card = std::move(inserted);
    machine.Insert('E', card);
    machine.Tick();
    ASSERT_TRUE(common::CardIdentified());
    machine.ClearRecords();
  }
  // A card with one partition from sector 63 (FAT16, or FAT32 when large),
  // holding these files.
  void InsertOnePartitionCard(std::uint64_t sectors,
                              const std::vector<std::pair<std::string, std::string>>& files = {}) {
    auto made = machine.NewCard(sectors * 512, 2);
    const bool large = sectors > k2GbCard;
    testing_cards::WriteTable(*made, {{static_cast<std::uint8_t>(large ? 0x0B : 0x06), 63,
                                       static_cast<std::uint32_t>(sectors - 63)}});
    sim::Machine::Format(*made, 63, sectors - 63, large ? 32 : 16);
    testing_cards::PutFilesAt(*made, 63, files);
    Insert(made);
  }
  // Byte for byte the same card, in a reader with this device number.
  std::shared_ptr<sim::Card> CopyOf(const sim::Card& original, std::uint32_t deviceNumber) {
    auto copy = machine.NewCard(original.sizeBytes, deviceNumber);
    sim::Run("cp --sparse=always '" + original.imagePath + "' '" + copy->imagePath + "'");
    return copy;
  }
  // A card as New Install leaves it with two partitions; the large one
  // first when asked. The boot file on the small one, files on the large.
  void InsertTwoPartitionCard(std::uint64_t sectors, bool largeFirst, bool bootFile,
                              const std::vector<std::pair<std::string, std::string>>& files = {}) {
    Insert(MakeTwoPartitionCard(sectors, largeFirst, bootFile, files));
  }
  std::shared_ptr<sim::Card> MakeTwoPartitionCard(std::uint64_t sectors, bool largeFirst, bool bootFile,
                                                  const std::vector<std::pair<std::string, std::string>>& files) {
    auto made = machine.NewCard(sectors * 512, 2);
    const auto large = static_cast<std::uint32_t>(sectors - 4098);
    const testing_cards::Partition small{1, kSmallStart, kSmallSectors};
    const testing_cards::Partition big{0x0B, kLargeStart, large};
    testing_cards::WriteTable(*made, largeFirst ? std::vector<testing_cards::Partition>{big, small}
                                                : std::vector<testing_cards::Partition>{small, big});
    sim::Machine::Format(*made, kSmallStart, kSmallSectors, 12);
    sim::Machine::Format(*made, kLargeStart, large, 32);
    if (bootFile) testing_cards::PutFilesAt(*made, kSmallStart, {{"DISKBOOT.BIN", "old boot file"}});
    testing_cards::PutFilesAt(*made, kLargeStart, files);
    return made;
  }
  // ---- The user ----
  void Dialog(const char* name, std::function<void(sim::SimDialog&)> user) {
    machine.ExpectDialog(name, std::move(user));
  }
  void Answer(const char* text, int answer) { machine.ExpectBox("Confirm", text, answer); }
  // Takes the card out at 2002 and puts it back at 2004, unless told not to.
  void RemoveAndReinsert(bool reinsert = true) {
    machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
    machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk,
                      [this, reinsert] {
                        if (reinsert) machine.Reinsert('E');
                      });
  }
  void Notice(const char* caption, const char* text) { machine.ExpectBox(caption, text, host::kIdOk); }

  bool Logged(const std::string& prefix) const { return !machine.LogMatching(prefix).empty(); }
  std::size_t Count(const std::string& prefix) const { return machine.LogMatching(prefix).size(); }
};

// Presses the buttons in order, then OK unless one of them ended the dialog.
std::function<void(sim::SimDialog&)> Choose(std::vector<int> buttons) {
  return [buttons](sim::SimDialog& dialog) {
    for (int id : buttons) dialog.Click(id);
    if (!dialog.Ended()) dialog.Click(1);
  };
}

// The file system type that the boot sector at this sector names.
std::string FatType(const sim::Card& card, std::uint64_t firstSector) {
  const Bytes boot = card.Sector(firstSector);
  const auto name = [&boot](std::size_t at) {
    return std::string(boot.begin() + static_cast<long>(at), boot.begin() + static_cast<long>(at + 5));
  };
  return name(82) == "FAT32" ? name(82) : name(54);
}

// ---- New Install ---------------------------------------------------------------

// On the 32 GB card the partitions come back under other letters than the
// card had: the program asks which letter shows which partition. From 64 GB
// the program formats the large partition itself.
TEST_P(BothWindows, NewInstallTwoPartitionsOnCardsFrom8To256Gb) {
  for (const std::uint64_t sectors : {k8GbCard, k32GbCard, k64GbCard, k256GbCard}) {
    SCOPED_TRACE(sectors);
    Pc pc(GetParam());
    const bool otherLetters = sectors == k32GbCard && !Win7();
    if (otherLetters) pc.machine.mountedDevices = {{{0, kSmallStart}, 'H'}, {{0, kLargeStart}, 'G'}};
    pc.InsertOnePartitionCard(sectors, {{"OLD.TXT", "old"}});
    pc.Dialog("INSTSET", [](sim::SimDialog& dialog) {
      EXPECT_TRUE(dialog.Checked(IDC_TWO_PARTITIONS));  // 4000 MB or more
      dialog.Click(IDC_CAMERA_RIGHT);
      dialog.Click(1);
    });
    pc.Answer(kOneTwo, host::kIdYes);
    pc.RemoveAndReinsert();  // the new table
    if (Win7()) pc.RemoveAndReinsert();  // the swap: the large partition shows
    pc.Answer(kQuick, host::kIdYes);
    pc.machine.ExpectBox("Confirm", kInstalled, host::kIdOk);
    host::SendCommand(IDC_NEW_INSTALL);

    const sim::Card& card = *pc.card;
    EXPECT_EQ(testing_cards::SfdiskEntries(card), DualLayout(sectors));
    EXPECT_TRUE(HasBootMark(card, kSmallStart));
    EXPECT_FALSE(HasBootMark(card, kLargeStart));
    EXPECT_EQ(FileAt(card, kSmallStart, "DISKBOOT.BIN"), "boot file");
    EXPECT_FALSE(ExistsAt(card, kSmallStart, "LYRE"));
    EXPECT_FALSE(ExistsAt(card, kLargeStart, "DISKBOOT.BIN"));
    EXPECT_FALSE(ExistsAt(card, kLargeStart, "OLD.TXT"));
    EXPECT_EQ(FileAt(card, kLargeStart, "LYRE/LYRE.BIN"), "add-on");
    EXPECT_EQ(FileAt(card, kLargeStart, "LYRE/LYRE.CFG"), "config right");
    EXPECT_EQ(FileAt(card, kLargeStart, "DCIM/100TEST/README.TXT"), "dcim");
    testing_cards::CheckFileSystem(card, kSmallStart, kSmallSectors);
    testing_cards::CheckFileSystem(card, kLargeStart, sectors - 4098);
    EXPECT_EQ(FatType(card, kSmallStart), "FAT12");
    EXPECT_EQ(FatType(card, kLargeStart), "FAT32");
    // The small partition's format is never quick and asks nothing.
    const std::string small = otherLetters ? "H:" : "E:";
    const std::string large = Win7() ? "E:" : otherLetters ? "G:" : "F:";
    std::vector<std::string> formats = {"process C:\\Windows\\system32\\format.com | format.com " + small + " /fs:fat"};
    if (sectors < k64GbCard) {
      formats.push_back("process C:\\Windows\\system32\\format.com | format.com " + large + " /q /fs:fat32");
    } else {
      testing_cards::ExpectOwnFat32(card, kLargeStart, sectors - 4098);
    }
    EXPECT_EQ(pc.machine.LogMatching("process"), formats);
    EXPECT_TRUE(testing_cards::InOrder(pc.machine, {"foreground", "flush", "box Confirm | Install finished!",
                                                    "flush", "eject"}));
    EXPECT_TRUE(pc.machine.Ejected('E'));
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    Keep(card, std::to_string(sectors / 2048) + "MB");
  }
}

TEST_P(BothWindows, NewInstallOnePartitionOnCardsWithOneAndWithTwoPartitions) {
  for (const bool hadTwo : {false, true}) {
    SCOPED_TRACE(hadTwo ? "had two" : "had one");
    Pc pc(GetParam());
    if (hadTwo) {
      pc.InsertTwoPartitionCard(k2GbCard, false, true);
    } else {
      pc.InsertOnePartitionCard(k2GbCard, {{"OLD.TXT", "old"}});
    }
    pc.Dialog("INSTSET", [](sim::SimDialog& dialog) {
      EXPECT_TRUE(dialog.Checked(IDC_ONE_PARTITION));  // below 4000 MB
      EXPECT_TRUE(dialog.Checked(IDC_CAMERA_LEFT));
      dialog.Click(1);
    });
    if (hadTwo) {
      pc.Answer(kRecreateOne, host::kIdYes);
      pc.RemoveAndReinsert();
    } else {
      pc.Answer(kNeedFormat, host::kIdYes);
    }
    pc.Answer(kQuick, host::kIdNo);
    pc.Notice("Finish", kInstalled);
    host::SendCommand(IDC_NEW_INSTALL);

    const sim::Card& card = *pc.card;
    const std::uint64_t start = hadTwo ? kSingleStart : 63;
    EXPECT_EQ(testing_cards::SfdiskEntries(card), std::vector<std::string>{Entry(start, k2GbCard - start, "6")});
    EXPECT_TRUE(HasBootMark(card, start));
    EXPECT_EQ(FileAt(card, start, "DISKBOOT.BIN"), "boot file");
    EXPECT_EQ(FileAt(card, start, "LYRE/LYRE.CFG"), "config left");
    EXPECT_EQ(FileAt(card, start, "DCIM/100TEST/README.TXT"), "dcim");
    EXPECT_FALSE(ExistsAt(card, start, "OLD.TXT"));
    EXPECT_FALSE(ExistsAt(card, start, "PS.FIR"));
    testing_cards::CheckFileSystem(card, start, k2GbCard - start);
    EXPECT_EQ(FatType(card, start), "FAT16");
    EXPECT_EQ(pc.Count("process"), 1u);
    EXPECT_EQ(pc.Count("box Remove"), hadTwo ? 1u : 0u);
    EXPECT_TRUE(pc.machine.Ejected('E'));
    Keep(card, hadTwo ? "HadTwo" : "HadOne");
  }
}

TEST(NewInstall, TheCardsSizePreselectsTheLayout) {
  for (const std::uint64_t mb : {std::uint64_t{3999}, std::uint64_t{4000}}) {
    SCOPED_TRACE(mb);
    Pc pc;
    pc.InsertOnePartitionCard(mb * 2048);
    pc.Dialog("INSTSET", [mb](sim::SimDialog& dialog) {
      EXPECT_EQ(dialog.Checked(IDC_TWO_PARTITIONS), mb >= 4000);
      EXPECT_EQ(dialog.Checked(IDC_ONE_PARTITION), mb < 4000);
      dialog.Click(2);
    });
    host::SendCommand(IDC_NEW_INSTALL);
  }
}

// ---- Version Up ----------------------------------------------------------------

TEST_P(BothWindows, VersionUpOnePartitionKeepsTheUsersConfigurationAsTheBackup) {
  Pc pc(GetParam());
  // The installer's own LYRE brings a LYRE.CFG: the card's must still be
  // the one backed up.
  pc.machine.WritePcFile("C:\\VORN\\LYRE\\LYRE.CFG", "installer's default");
  pc.InsertOnePartitionCard(k64MbCard, {{"DISKBOOT.BIN", "old boot file"},
                                        {"LYRE/LYRE.CFG", "user config"},
                                        {"LYRE/LYRE.CFG.OLD", "older backup"},
                                        {"LYRE/MINE.TXT", "the user's own"}});
  pc.Dialog("INSTSET2", Choose({IDC_CAMERA_RIGHT}));
  pc.Notice("Finish", kVersionUpDone);
  host::SendCommand(IDC_VERSION_UP);

  const sim::Card& card = *pc.card;
  EXPECT_EQ(FileAt(card, 63, "DISKBOOT.BIN"), "boot file");
  EXPECT_EQ(FileAt(card, 63, "LYRE/LYRE.CFG.OLD"), "user config");
  EXPECT_EQ(FileAt(card, 63, "LYRE/LYRE.CFG"), "config right");
  EXPECT_EQ(FileAt(card, 63, "LYRE/LYRE.BIN"), "add-on");
  EXPECT_EQ(FileAt(card, 63, "LYRE/MINE.TXT"), "the user's own");
  EXPECT_EQ(FileAt(card, 63, "DCIM/100TEST/README.TXT"), "dcim");
  testing_cards::CheckFileSystem(card, 63, k64MbCard - 63);
  // The steps, in this order; the configuration's are best-effort.
  const std::pair<std::string, unsigned> steps[] = {
      {"C:\\VORN\\DISKBOOT.BIN", host::kFofNoConfirmation},
      {"E:\\LYRE\\LYRE.CFG", host::kFofNoConfirmation | host::kFofNoErrorUi},
      {"C:\\VORN\\LYRE", host::kFofNoConfirmation},
      {"C:\\VORN\\DCIM", host::kFofNoConfirmation},
      {"C:\\VORN\\LYRE.CFG.R", host::kFofNoConfirmation | host::kFofNoErrorUi}};
  ASSERT_EQ(pc.machine.ShellCalls().size(), std::size(steps));
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    EXPECT_EQ(pc.machine.ShellCalls()[i].from, steps[i].first);
    EXPECT_EQ(pc.machine.ShellCalls()[i].flags, steps[i].second) << steps[i].first;
  }
  EXPECT_EQ(pc.machine.ShellCalls()[1].function, host::kFoMove);
  EXPECT_FALSE(pc.Logged("eject"));  // the card stays in the reader
  EXPECT_FALSE(pc.Logged("process"));
  EXPECT_TRUE(testing_cards::InOrder(pc.machine, {"shell copy C:\\VORN\\LYRE.CFG.R", "flush E", "box Finish"}));
  Keep(card);
}

TEST_P(BothWindows, VersionUpTwoPartitionsWithTheSmallOrTheLargePartitionFirst) {
  for (const bool largeFirst : {false, true}) {
    SCOPED_TRACE(largeFirst ? "large first" : "small first");
    Pc pc(GetParam());
    pc.InsertTwoPartitionCard(k64MbCard, largeFirst, true, {{"LYRE/LYRE.CFG", "user config"}});
    pc.Dialog("INSTSET2", Choose({}));
    // The older Windows show the first entry only: the other is swapped there.
    if (Win7() && largeFirst) pc.RemoveAndReinsert();  // first partition over 10 MB
    if (Win7()) pc.RemoveAndReinsert();
    pc.Notice("Finish", kVersionUpDone);
    host::SendCommand(IDC_VERSION_UP);

    const sim::Card& card = *pc.card;
    EXPECT_EQ(testing_cards::SfdiskEntries(card), DualLayout(k64MbCard));
    EXPECT_EQ(FileAt(card, kSmallStart, "DISKBOOT.BIN"), "boot file");
    EXPECT_EQ(FileAt(card, kLargeStart, "LYRE/LYRE.CFG"), "config left");
    EXPECT_EQ(FileAt(card, kLargeStart, "LYRE/LYRE.CFG.OLD"), "user config");
    EXPECT_EQ(FileAt(card, kLargeStart, "DCIM/100TEST/README.TXT"), "dcim");
    EXPECT_FALSE(ExistsAt(card, kLargeStart, "DISKBOOT.BIN"));
    testing_cards::CheckFileSystem(card, kSmallStart, kSmallSectors);
    testing_cards::CheckFileSystem(card, kLargeStart, k64MbCard - 4098);
    EXPECT_TRUE(testing_cards::InOrder(pc.machine, {"flush", "box Finish", "eject"}));
    EXPECT_TRUE(pc.machine.Ejected('E'));
    Keep(card, largeFirst ? "LargeFirst" : "SmallFirst");
  }
}

// ---- Failures -------------------------------------------------------------------

// The image's first sectors and its table: what any write would change.
struct Snapshot {
  Bytes mbr;
  Bytes first;
  Bytes second;
  explicit Snapshot(const sim::Card& card)
      : mbr(card.Sector(0)), first(card.Read(512, 64 * 512)), second(card.Read(4097 * 512, 512)) {}
  bool operator==(const Snapshot& other) const {
    return mbr == other.mbr && first == other.first && second == other.second;
  }
};

TEST(GuidedSequences, DeclinedOrRefusedRunsWriteNothing) {
  struct Case {
    const char* name;
    unsigned command;
    std::function<void(Pc&)> user;
  };
  const Case cases[] = {
      {"New Install cancelled", IDC_NEW_INSTALL, [](Pc& pc) { pc.Dialog("INSTSET", Choose({2})); }},
      {"New Install, Esc", IDC_NEW_INSTALL,
       [](Pc& pc) { pc.Dialog("INSTSET", [](sim::SimDialog& d) { d.Escape(); }); }},
      {"New Install, dialog cannot be shown", IDC_NEW_INSTALL, [](Pc& pc) { pc.Dialog("INSTSET", {}); }},
      {"one partition, No", IDC_NEW_INSTALL,
       [](Pc& pc) {
         pc.Dialog("INSTSET", Choose({IDC_ONE_PARTITION}));
         pc.Answer(kRecreateOne, host::kIdNo);
       }},
      {"two partitions, No", IDC_NEW_INSTALL,
       [](Pc& pc) {
         pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
         pc.Answer(kOneTwo, host::kIdNo);
       }},
      {"Version Up cancelled", IDC_VERSION_UP, [](Pc& pc) { pc.Dialog("INSTSET2", Choose({2})); }},
      {"files missing", IDC_NEW_INSTALL,
       [](Pc& pc) {
         std::filesystem::remove_all(pc.machine.PcPath("C:\\VORN\\LYRE"));
         pc.Notice("Error", kFilesMissing);
       }},
      {"files missing, Version Up", IDC_VERSION_UP,
       [](Pc& pc) {
         std::filesystem::remove_all(pc.machine.PcPath("C:\\VORN\\DCIM"));
         pc.Notice("Error", kFilesMissing);
       }},
      {"no old version", IDC_VERSION_UP,
       [](Pc& pc) {
         pc.Dialog("INSTSET2", Choose({}));
         pc.Notice("Error", kNoOldVersion);
       }},
      {"program on the card", IDC_NEW_INSTALL,
       [](Pc& pc) {
         common::gModuleDirectory = "E:\\VORN\\";
         pc.Notice("Error", "Run the installer from the PC, not from the SD Card!");
       }},
      {"locked card", IDC_VERSION_UP, [](Pc& pc) { pc.card->faults.locked = true; }},
      {"the configuration chosen is missing", IDC_NEW_INSTALL,
       [](Pc& pc) {
         std::filesystem::remove(pc.machine.PcPath("C:\\VORN\\LYRE.CFG.R"));
         pc.Dialog("INSTSET", Choose({IDC_CAMERA_RIGHT}));
         pc.Notice("Error", kFilesMissing);
       }},
      {"the configuration chosen is missing, Version Up", IDC_VERSION_UP,
       [](Pc& pc) {
         std::filesystem::remove(pc.machine.PcPath("C:\\VORN\\LYRE.CFG.L"));
         pc.Dialog("INSTSET2", Choose({}));
         pc.Notice("Error", kFilesMissing);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc;
    pc.InsertTwoPartitionCard(k64MbCard, false, false);
    const Snapshot before(*pc.card);
    c.user(pc);
    host::SendCommand(c.command);
    EXPECT_TRUE(Snapshot(*pc.card) == before);
    EXPECT_TRUE(pc.machine.ShellCalls().empty());
    EXPECT_FALSE(pc.Logged("process"));
    EXPECT_FALSE(pc.Logged("eject"));
  }
}

// A sequence that ends after it has put the large partition first puts the
// small one first again and ejects the card; before that, the card is left
// as far as it got, with nothing more written. The older Windows, where the
// sequences swap.
TEST(GuidedSequences, EarlyEndsLeaveTheBootPartitionFirst) {
  struct Case {
    const char* name;
    unsigned command;
    std::function<void(Pc&)> user;
    bool restored;  // the quiet swap back and the eject
    bool largeFirst = false;  // the card's order, before and after
    bool bootFile = true;     // the card holds an old version
  };
  std::shared_ptr<sim::Card> other;  // a card the user puts in by mistake
  const auto twoPartitionsUntilTheSwap = [](Pc& pc) {
    pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
    pc.Answer(kOneTwo, host::kIdYes);
    pc.RemoveAndReinsert();
    pc.RemoveAndReinsert();
  };
  const Case cases[] = {
      {"the small partition's format fails", IDC_NEW_INSTALL,
       [](Pc& pc) {
         pc.machine.formatExitCode = 4;
         pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
         pc.Answer(kOneTwo, host::kIdYes);
         pc.RemoveAndReinsert();
         pc.Notice("Error", kFormatFailed);
       },
       false},
      {"the large partition's format fails", IDC_NEW_INSTALL,
       [&](Pc& pc) {
         pc.machine.formatExitCode = 4;
         pc.machine.formatRunsBeforeExitCode = 1;
         twoPartitionsUntilTheSwap(pc);
         pc.Answer(kQuick, host::kIdYes);
         pc.Notice("Error", kFormatFailed);
       },
       true},
      {"the add-on folder's copy is cancelled", IDC_NEW_INSTALL,
       [&](Pc& pc) {
         pc.machine.shellFaults[2] = sim::ShellFault::Aborted;
         twoPartitionsUntilTheSwap(pc);
         pc.Answer(kQuick, host::kIdYes);
       },
       true},
      {"the card is not re-inserted after the swap", IDC_NEW_INSTALL,
       [](Pc& pc) {
         pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
         pc.Answer(kOneTwo, host::kIdYes);
         pc.RemoveAndReinsert();
         pc.RemoveAndReinsert(false);
         pc.RemoveAndReinsert(false);
         pc.Notice("Error", kCardChanged);
       },
       true},
      {"another card is put in after the swap", IDC_NEW_INSTALL,
       [&other](Pc& pc) {
         other = pc.machine.NewCard(k64MbCard * 512, 3);
         pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
         pc.Answer(kOneTwo, host::kIdYes);
         pc.RemoveAndReinsert();
         pc.machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
         pc.machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk, [&pc, &other] {
           pc.machine.Remove('E');
           pc.machine.Insert('E', other);
         });
         pc.RemoveAndReinsert(false);
         pc.Notice("Error", kCardChanged);
       },
       false},
      {"Version Up's folder copy fails", IDC_VERSION_UP,
       [](Pc& pc) {
         pc.machine.shellFaults[3] = sim::ShellFault::Fails;  // boot file, backup, LYRE
         pc.Dialog("INSTSET2", Choose({}));
         pc.RemoveAndReinsert();
       },
       true},
      {"Version Up's swap is not kept", IDC_VERSION_UP,
       [](Pc& pc) {
         pc.Dialog("INSTSET2", Choose({}));
         pc.machine.ExpectBox("Error", kSwapFailed, host::kIdOk);
         pc.card->faults.dropsWrites = true;
       },
       false},
      // No VORN card after all: back to the order it came in.
      {"no old version behind the large partition", IDC_VERSION_UP,
       [](Pc& pc) {
         pc.Dialog("INSTSET2", Choose({}));
         pc.RemoveAndReinsert();
         pc.Notice("Error", kNoOldVersion);
       },
       true, true, false},
      // A last swap that took effect but reported a failure is not undone.
      {"the last swap is reported failed", IDC_NEW_INSTALL,
       [&](Pc& pc) {
         pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
         pc.Answer(kOneTwo, host::kIdYes);
         pc.RemoveAndReinsert();
         pc.machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
         pc.machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk, [&pc] {
           pc.machine.Reinsert('E');
           pc.card->faults.shortWrites = true;  // from here on: the last swap only
         });
         pc.Answer(kQuick, host::kIdYes);
         pc.Notice("Error", kSwapFailed);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc(sim::Windows::Win7);
    pc.InsertTwoPartitionCard(k64MbCard, c.largeFirst, c.bootFile, {{"LYRE/LYRE.CFG", "user config"}});
    other.reset();
    c.user(pc);
    const Bytes otherMbr = other ? other->Sector(0) : Bytes();
    host::SendCommand(c.command);
    if (other) {
      // Nothing goes to the wrong card, and nothing more to the chosen one.
      EXPECT_EQ(other->Sector(0), otherMbr);
      EXPECT_EQ(pc.machine.ShellCalls().size(), 1u);  // the boot file, before the swap
      continue;
    }
    std::vector<std::string> layout = DualLayout(k64MbCard);
    if (c.largeFirst && c.restored) std::swap(layout[0], layout[1]);
    EXPECT_EQ(testing_cards::SfdiskEntries(*pc.card), layout);
    EXPECT_EQ(pc.machine.Ejected('E'), c.restored);
    EXPECT_FALSE(pc.Logged("box Confirm | Install finished!"));
    EXPECT_FALSE(pc.Logged("box Finish"));
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
  }
}

// A format that fails stops the sequence before the boot mark and the
// files; a layout whose partition its file system cannot hold is refused
// before the first question.
TEST(GuidedSequences, AFormatThatFailsOrCannotBeIsReportedAndNothingFollows) {
  constexpr char kSizeRefused[] = "Card size is not supported for this partition layout!";
  enum class Fault { FormatMissing, BootSectorUnreadable, SizeRefused };
  struct Case {
    const char* name;
    std::uint64_t sectors;
    int layout;
    Fault fault;
  };
  const Case cases[] = {
      {"format.com missing", k64MbCard, IDC_ONE_PARTITION, Fault::FormatMissing},
      {"the formatted volume cannot be read", k64MbCard, IDC_ONE_PARTITION, Fault::BootSectorUnreadable},
      {"FAT asked of an 8 GB partition", k8GbCard, IDC_ONE_PARTITION, Fault::SizeRefused},
      {"FAT32 asked of a 14 MB partition", 32768, IDC_TWO_PARTITIONS, Fault::SizeRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc;
    pc.InsertOnePartitionCard(c.sectors);
    pc.machine.formatMissing = c.fault == Fault::FormatMissing;
    if (c.fault == Fault::BootSectorUnreadable) {
      pc.machine.afterFormat = [&pc] { pc.card->faults.volumeReadsFail = true; };
    }
    const Bytes mbr = pc.card->Sector(0);
    const Bytes boot = pc.card->Sector(63);
    pc.Dialog("INSTSET", Choose({c.layout}));
    if (c.fault == Fault::SizeRefused) {
      pc.Notice("Error", kSizeRefused);
    } else {
      pc.Answer(kNeedFormat, host::kIdYes);
      pc.Answer(kQuick, host::kIdYes);
      pc.Notice("Error", c.fault == Fault::FormatMissing ? kFormatFailed : kSwapFailed);
    }
    host::SendCommand(IDC_NEW_INSTALL);
    EXPECT_EQ(pc.card->Sector(0), mbr);
    EXPECT_EQ(pc.card->Sector(63) == boot, c.fault != Fault::BootSectorUnreadable);  // formatted
    EXPECT_EQ(pc.Logged("process"), c.fault != Fault::SizeRefused);
    EXPECT_TRUE(pc.machine.ShellCalls().empty());
    EXPECT_FALSE(pc.Logged("eject"));
  }
}

// One FAT partition holds 65,524 clusters of 64 KiB at most: the largest
// card it fits is installed whole; one a sector larger (a 4 GiB card too)
// is refused before anything is written.
TEST(GuidedSequences, OnePartitionStopsWhereFatEnds) {
  constexpr std::uint64_t kLargest = kSingleStart + 65524 * 128;
  for (const std::uint64_t sectors : {kLargest, kLargest + 1, std::uint64_t{8388608}}) {
    SCOPED_TRACE(sectors);
    Pc pc;
    pc.InsertTwoPartitionCard(sectors, false, true);
    const std::size_t before = testing_cards::Fingerprint(*pc.card);
    pc.Dialog("INSTSET", Choose({IDC_ONE_PARTITION}));
    if (sectors != kLargest) pc.Notice("Error", "Card size is not supported for this partition layout!");
    if (sectors == kLargest) {
      pc.Answer(kRecreateOne, host::kIdYes);
      pc.RemoveAndReinsert();
      pc.Answer(kQuick, host::kIdYes);
      pc.Notice("Finish", kInstalled);
    }
    host::SendCommand(IDC_NEW_INSTALL);
    EXPECT_EQ(testing_cards::Fingerprint(*pc.card) == before, sectors != kLargest);
    if (sectors == kLargest) testing_cards::CheckFileSystem(*pc.card, kSingleStart, sectors - kSingleStart);
  }
}

// A card is called finished only once it was read back: one that holds
// less than it reports is refused before its table is written and left as
// it was; one that loses a file or a sector fails the check that names it.
TEST(GuidedSequences, ACardThatLiesOrLosesDataIsNeverCalledFinished) {
  const auto fake = [](std::uint64_t sectors) {
    return "This SD Card is counterfeit or faulty: it holds no more than " + std::to_string(sectors / 2048) +
           " MB, not what it reports!\nNothing was written to it.\nThis quick test finds cards that lose writes "
           "past their real size or wrap them at a whole MB; a full write test finds every fake.";
  };
  using Beyond = sim::Card::Beyond;
  constexpr std::uint64_t kMbSectors = 2048;
  const std::string lastSector = fake(k64GbCard - 1);  // told by the last sample
  // What else befalls it: a DISKBOOT.BIN longer than the installer's; a
  // 2 GB card made before, its large partition marked, that keeps no write
  // from that partition's format on; the large entry shortened (a partition
  // tool at work) while the folders are copied; a flush the card refuses
  // from the format on.
  enum class Also { Nothing, LongerBootFile, OldMarkOnLarge, EntryShortened, FlushFails };
  struct Case {
    const char* name;
    unsigned command;
    std::uint64_t flashSectors;  // 0: what it reports
    const char* damagedFile;     // lost or corrupted as it is written
    std::string error;           // empty: the end message
    Beyond beyond = Beyond::Wraps;
    bool losesAtFlush = false;
    bool pulled = false;  // out of its reader right after the size test's patterns
    bool unreadable = false;  // reads fail from then on
    Also also = Also::Nothing;
  };
  const std::string tableCheck = "Check failed: the partition table on the SD Card is not the one written!";
  const Case cases[] = {
      {"a true card", IDC_NEW_INSTALL, 0, "", ""},
      {"64 GB that hold 8 GB", IDC_NEW_INSTALL, 8192 * kMbSectors, "", fake(8192 * kMbSectors)},
      // No power of two: told by the samples that alias.
      {"64 GB that hold 7.5 GB", IDC_NEW_INSTALL, 7680 * kMbSectors, "", fake(7680 * kMbSectors)},
      {"64 GB that hold 15,523,840 sectors", IDC_NEW_INSTALL, k8GbCard, "", fake(k8GbCard)},
      {"64 GB that hold 40,961 MB", IDC_NEW_INSTALL, 40961 * kMbSectors, "", fake(40961 * kMbSectors)},
      {"64 GB that hold 3 MB", IDC_NEW_INSTALL, 3 * kMbSectors, "", fake(3 * kMbSectors)},
      {"the last 8 sectors lost", IDC_NEW_INSTALL, k64GbCard - 8, "", lastSector, Beyond::Lost},
      {"the last sector wraps onto the first", IDC_NEW_INSTALL, k64GbCard - 1, "", lastSector},
      {"the last 8 sectors written over the first", IDC_NEW_INSTALL, k64GbCard - 8, "", lastSector,
       Beyond::OnFirstSector},
      {"pulled out during the size test", IDC_NEW_INSTALL, 0, "",
       "The SD Card was pulled out or failed while its size was tested: test sectors may be left on it, and its "
       "data may have changed!", Beyond::Wraps, false, true},
      {"unreadable during the size test", IDC_NEW_INSTALL, 0, "",
       "The SD Card could not be read while its size was tested: every test sector was put back, and nothing else "
       "was written to it.", Beyond::Wraps, false, false, true},
      {"DISKBOOT.BIN lost", IDC_NEW_INSTALL, 0, "DISKBOOT.BIN",
       "Check failed: DISKBOOT.BIN on the SD Card is not the installer's!"},
      {"LYRE.CFG corrupted", IDC_VERSION_UP, 0, "LYRE/LYRE.CFG",
       "Check failed: LYRE\\LYRE.CFG on the SD Card is not the configuration chosen!"},
      // From the large partition's format on (Windows 7: the table is written
      // last): kept in the system's cache, gone from the card at the flush.
      {"a reader that loses writes at a flush", IDC_NEW_INSTALL, 0, "", tableCheck, Beyond::Wraps, true},
      {"DISKBOOT.BIN longer", IDC_NEW_INSTALL, 0, "DISKBOOT.BIN",
       "Check failed: DISKBOOT.BIN on the SD Card is not the installer's!", Beyond::Wraps, false, false,
       false, Also::LongerBootFile},
      {"the large partition's old mark", IDC_NEW_INSTALL, 0, "",
       "Check failed: the large partition of the SD Card carries the boot mark!", Beyond::Wraps, false, false,
       false, Also::OldMarkOnLarge},
      {"the large entry shortened", IDC_NEW_INSTALL, 0, "", tableCheck, Beyond::Wraps, false, false, false,
       Also::EntryShortened},
      {"a flush that fails", IDC_NEW_INSTALL, 0, "", tableCheck, Beyond::Wraps, false, false, false, Also::FlushFails},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc(c.losesAtFlush ? sim::Windows::Win7 : sim::Windows::Win10);
    if (c.also == Also::OldMarkOnLarge) {
      auto made = pc.machine.NewCard(k2GbCard * 512, 2);
      testing_cards::WriteTable(*made, {{1, kSmallStart, kSmallSectors}, {6, kLargeStart, k2GbCard - 4098}});
      sim::Machine::Format(*made, kSmallStart, kSmallSectors, 12);
      sim::Machine::Format(*made, kLargeStart, k2GbCard - 4098, 16);  // on FAT32 the dirty flag would cut the mark
      made->Write(kLargeStart * 512 + 64, Bytes(kBootMark, kBootMark + 8));
      pc.Insert(made);
    } else {
      pc.InsertOnePartitionCard(k64GbCard, {{"DISKBOOT.BIN", "old boot file"}});
    }
    pc.card->faults.lengthens = c.also == Also::LongerBootFile;
    if (c.also == Also::EntryShortened) {
      pc.machine.duringShell = [&pc](const sim::ShellCall& call) {
        if (call.from.find("LYRE") == std::string::npos) return;
        Bytes mbr = pc.card->Sector(0);
        mbr[474] = static_cast<std::uint8_t>((k64GbCard - 4098 - 8) & 0xFF);  // entry 2's length, 8 sectors short
        pc.card->WriteSector(0, mbr);
      };
    }
    pc.card->flashBytes = c.flashSectors * 512;
    pc.card->beyond = c.beyond;
    pc.card->faults.damagedFile = c.damagedFile;
    pc.card->faults.corrupts = c.command == IDC_VERSION_UP;
    if (c.pulled) pc.card->faults.writesBeforePull = static_cast<int>(disk::CardSizeSamples(k64GbCard).size());
    if (c.unreadable) pc.card->faults.writesBeforeReadsFail = static_cast<int>(disk::CardSizeSamples(k64GbCard).size());
    const Snapshot before(*pc.card);
    if (c.command == IDC_NEW_INSTALL) {
      pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
      pc.Answer(kOneTwo, host::kIdYes);
      if (c.flashSectors == 0 && !c.pulled && !c.unreadable) pc.RemoveAndReinsert();
      if (c.losesAtFlush) pc.RemoveAndReinsert();  // the swap
      if (c.error.empty() || c.losesAtFlush || c.also > Also::LongerBootFile) {
        pc.machine.ExpectBox("Confirm", kQuick, host::kIdYes, [&] {
          pc.card->faults.losesAtFlush = c.losesAtFlush;
          pc.card->faults.dropsWrites = c.also == Also::OldMarkOnLarge;
          pc.card->faults.flushFails = c.also == Also::FlushFails;
        });
      }
    } else {
      pc.Dialog("INSTSET2", Choose({}));
    }
    if (!c.error.empty()) pc.Notice("Error", c.error.c_str());
    if (c.error.empty()) pc.machine.ExpectBox("Confirm", kInstalled, host::kIdOk);
    host::SendCommand(c.command);
    // The size test is told as it goes, the window taking no input meanwhile.
    if (c.command == IDC_NEW_INSTALL && !c.pulled && !c.unreadable) {
      EXPECT_TRUE(testing_cards::InOrder(pc.machine, {"window disabled", "text 112 Testing SD Card : 1 %",
                                                      "text 112 Testing SD Card : 100 %", "window enabled"}));
    }
    if (c.flashSectors != 0 || c.unreadable) {
      EXPECT_TRUE(Snapshot(*pc.card) == before);
      EXPECT_LE(pc.machine.deviceBytesWritten + pc.machine.deviceBytesRead, 1u << 20);
    }
    if (*c.damagedFile != '\0') {
      EXPECT_NE(FileAt(*pc.card, c.command == IDC_VERSION_UP ? 63 : kSmallStart, c.damagedFile),
                c.command == IDC_VERSION_UP ? "config left" : "boot file");
    }
    if (c.error.empty()) testing_cards::ExpectOwnFat32(*pc.card, kLargeStart, k64GbCard - 4098);
  }
}

// Two cards of the same size and the same table in one reader: at a pause of
// any command that writes, the user puts the other card in (or an exact copy,
// told only by the reader's count or the program's mark). The command ends
// with 2054; nothing more reaches either card, nor a copy in a second reader.
TEST(SameCard, AnotherCardPutInAtAPauseGetsNothing) {
  enum class At { Box, Dialog, Reinsert, Format };
  struct Step {
    At at;
    const char* text = "";  // the box's text, or the dialog's name
    int answer = host::kIdYes;
    bool checkedNext = true;  // the card is checked before the next step
  };
  struct Command {
    unsigned id;
    bool win7;
    std::vector<Step> steps;
    bool largeFirst = false;
    int comboEntry = 0;  // E:, or the card's second letter
    bool onePartition = false;  // one FAT16 partition at sector 63; the other card a copy
    bool uncounted = false;      // the reader counts no media changes; the other card a copy
    std::size_t firstPause = 0;  // before it, nothing can tell such a copy from the card
  };
  const Step instset{At::Dialog, "INSTSET"};
  const std::vector<Step> onePartitionInstall = {instset, {At::Box, kNeedFormat}, {At::Box, kQuick}, {At::Format}};
  const Command commands[] = {
      {IDC_FORMAT, false, {{At::Box, "Format FAT(YES) or FAT32(NO) ?", host::kIdNo, false}, {At::Box, kQuick}},
       false, 1},
      {IDC_SWAP_PARTITIONS, false, {{At::Box, "Sure?"}}},
      {IDC_CREATE_PARTITION, false, {{At::Box, kOneOrTwoPartitions, host::kIdYes}}},
      {IDC_CREATE_PARTITION, false, {{At::Box, kOneOrTwoPartitions, host::kIdNo}}},
      {IDC_NEW_INSTALL, false, {instset, {At::Box, kOneTwo}, {At::Reinsert}, {At::Format}, {At::Box, kQuick}}},
      {IDC_NEW_INSTALL, true,
       {instset, {At::Box, kOneTwo}, {At::Reinsert}, {At::Format}, {At::Reinsert}, {At::Box, kQuick}}},
      {IDC_VERSION_UP, false, {{At::Dialog, "INSTSET2"}}},
      {IDC_VERSION_UP, true, {{At::Dialog, "INSTSET2"}, {At::Reinsert}, {At::Reinsert}}, true},
      {IDC_COPY_IMAGES, false, {{At::Dialog, "TODIR"}}},
      {IDC_COPY_IMAGES, true, {{At::Dialog, "TODIR"}, {At::Reinsert}}},
      {IDC_FORMAT, false, {{At::Box, "Format FAT(YES) or FAT32(NO) ?", host::kIdYes, false}, {At::Box, kQuick}},
       false, 0, true},
      {IDC_NEW_INSTALL, false, onePartitionInstall, false, 0, true},
      {IDC_NEW_INSTALL, false, onePartitionInstall, false, 0, true, true, 3},
      {IDC_NEW_INSTALL, false, {instset, {At::Box, kOneTwo}, {At::Reinsert}}, false, 0, false, true, 2},
      // No count, no mark at a question: only the partitions' boot sectors tell them.
      {IDC_SWAP_PARTITIONS, false, {{At::Box, "Sure?"}}, false, 0, false, true},
  };
  const std::vector<std::pair<std::string, std::string>> files = {{"DCIM/100ABCDE/P1.JPG", "picture"}};
  for (const Command& command : commands) {
    for (std::size_t pause = command.firstPause; pause < command.steps.size(); ++pause) {
      SCOPED_TRACE(std::to_string(command.id) + (command.win7 ? " win7" : " win10") + ", pause " +
                   std::to_string(pause));
      Pc pc(command.win7 ? sim::Windows::Win7 : sim::Windows::Win10);
      if (command.onePartition) pc.InsertOnePartitionCard(k64MbCard, files);
      if (!command.onePartition) pc.InsertTwoPartitionCard(k64MbCard, command.largeFirst, true, files);
      pc.card->faults.uncountedMedia = command.uncounted;
      pc.machine.AddReader('G');
      pc.machine.Insert('G', pc.CopyOf(*pc.card, 3));
      pc.machine.Tick();  // the card identified again, as its reader now answers
      if (command.comboEntry != 0) pc.machine.SelectComboEntry(command.comboEntry);
      // The other card: the same table and files, formatted apart, or a copy
      // where only the count or the mark can tell it.
      std::shared_ptr<sim::Card> other = command.onePartition || command.firstPause > 1
                                             ? pc.CopyOf(*pc.card, 2)
                                             : pc.MakeTwoPartitionCard(k64MbCard, command.largeFirst, true, files);
      other->faults.uncountedMedia = command.uncounted;
      const std::size_t otherBefore = testing_cards::Fingerprint(*other);
      std::size_t chosenAtPause = 0;
      const std::function<void()> exchange = [&pc, &other, &chosenAtPause] {
        chosenAtPause = testing_cards::Fingerprint(*pc.card);
        pc.machine.Remove('E');
        pc.machine.Insert('E', other);
      };
      for (std::size_t i = 0; i < command.steps.size() && (i <= pause || !command.steps[i - 1].checkedNext); ++i) {
        const Step& step = command.steps[i];
        const std::function<void()> user = i == pause ? exchange : std::function<void()>();
        if (step.at == At::Box) pc.machine.ExpectBox("Confirm", step.text, step.answer, user);
        if (step.at == At::Format && user) pc.machine.afterFormat = user;
        if (step.at == At::Dialog) {
          const int layout = command.onePartition ? IDC_ONE_PARTITION : IDC_TWO_PARTITIONS;
          pc.Dialog(step.text, [user, layout](sim::SimDialog& dialog) {
            if (dialog.Exists(IDC_DESTINATION)) dialog.Type(IDC_DESTINATION, "C:\\Images");
            if (dialog.Exists(layout)) dialog.Click(layout);
            if (user) user();
            dialog.Click(1);
          });
        }
        if (step.at == At::Reinsert) {
          pc.machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
          pc.machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk,
                               user ? user : [&pc] { pc.machine.Reinsert('E'); });
          if (user) pc.RemoveAndReinsert(false);  // asked once more, in vain
        }
      }
      pc.Notice("Error", kCardChanged);
      host::SendCommand(command.id);
      EXPECT_EQ(testing_cards::Fingerprint(*other), otherBefore);
      EXPECT_EQ(testing_cards::Fingerprint(*pc.card), chosenAtPause);
      for (const std::string& open : pc.machine.LogMatching("open \\\\.\\")) {  // "open \\.\G: [rw]"
        const bool second = open[9] == 'G' || open[9] == 'H' || open.find("DRIVE3") != std::string::npos;
        EXPECT_FALSE(second && open.find("w]") != std::string::npos) << open;
      }
      EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    }
  }
}

}  // namespace

namespace {

// At the re-insert prompt the user puts in a copy of the card made while it
// was out, the program's mark included: only an SD host's serial of the
// card tells it. It gets nothing.
TEST(SameCard, ACopyWithAnotherSerialPutInAtTheReinsertGetsNothing) {
  Pc pc;
  std::shared_ptr<sim::Card> card = pc.MakeTwoPartitionCard(k64MbCard, false, true, {});
  card->serial = "0x1234abcd";
  pc.Insert(card);
  std::shared_ptr<sim::Card> copy;
  std::size_t copyMade = 0;
  pc.Dialog("INSTSET", Choose({IDC_TWO_PARTITIONS}));
  pc.Answer(kOneTwo, host::kIdYes);
  pc.machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
  pc.machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk, [&] {
    copy = pc.CopyOf(*pc.card, 2);
    copy->serial = "0x5678ef01";
    copyMade = testing_cards::Fingerprint(*copy);
    pc.machine.Remove('E');
    pc.machine.Insert('E', copy);
  });
  pc.RemoveAndReinsert(false);  // asked once more, in vain
  pc.Notice("Error", kCardChanged);
  host::SendCommand(IDC_NEW_INSTALL);
  EXPECT_EQ(testing_cards::Fingerprint(*copy), copyMade);
}

}  // namespace
