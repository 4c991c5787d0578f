// "Copy Image Folder to PC" (213): the destination dialog and its stored
// setting, the trailing backslash rule, the destinations taken and refused,
// the swaps around the copy, and what is copied or moved.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "common/card_state.h"
#include "common/module_directory.h"
#include "host/host.h"
#include "images/destination.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using testing_cards::kMb;
namespace fs = std::filesystem;

constexpr char kKey[] = "software\\brenn\\quarlpix";
constexpr char kNotFullPath[] =
    "Destination folder must be a full path outside the SD Card, such as C:\\Images!";
constexpr char kNoImageFolder[] = "Cannot find Image Folder on your SD card!";
constexpr char kTemporary[] = "C:\\Users\\me\\AppData\\Local\\Temp\\";

void Store(sim::Machine& machine, std::uint32_t type, const std::string& bytes) {
  machine.registry[kKey]["todir"] = {type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

std::string Stored(sim::Machine& machine) {
  const std::vector<std::uint8_t>& data = machine.registry[kKey]["todir"].data;
  return std::string(data.begin(), data.end());
}

// Types text into the edit box and presses OK.
std::function<void(sim::SimDialog&)> TypeAndOk(const std::string& text, bool deleteAfterCopy = false) {
  return [text, deleteAfterCopy](sim::SimDialog& dialog) {
    dialog.Type(IDC_DESTINATION, text);
    if (dialog.Checked(IDC_DELETE_AFTER_COPY) != deleteAfterCopy) dialog.Click(IDC_DELETE_AFTER_COPY);
    dialog.Click(1);
  };
}

TEST(DestinationSetting, ReadsBackTextsUpToTheEditBoxsLength) {
  struct Case {
    const char* name;
    bool key;
    std::uint32_t type;
    std::string bytes;
    std::string read;
  };
  const std::string x99(99, 'x'), x100(100, 'x'), x259(259, 'x'), x260(260, 'x');
  const Case cases[] = {
      {"no key", false, 0, "", ""},
      {"99 characters", true, host::kRegSz, "C:\\" + x99.substr(3) + '\0', "C:\\" + x99.substr(3)},
      {"100 characters", true, host::kRegSz, x100 + '\0', x100},
      {"259 characters", true, host::kRegSz, x259 + '\0', x259},
      {"260 characters", true, host::kRegSz, x260 + '\0', ""},
      {"without its NUL", true, host::kRegSz, "D:\\Photos", "D:\\Photos"},
      {"with variables", true, host::kRegExpandSz, std::string("%USERPROFILE%\\Pictures") + '\0',
       "C:\\Users\\me\\Pictures"},
      {"binary", true, host::kRegBinary, std::string("D:\\Photos") + '\0', ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    if (c.key) Store(machine, c.type, c.bytes);
    std::string text = "left over";
    images::ReadSetting(images::kDestinationSetting, text);
    EXPECT_EQ(text, c.read);
  }
}

TEST(DestinationSetting, TrimRemovesOneBackslashButNotADriveRootsOrAHalfCharacter) {
  struct Case {
    std::string path;
    unsigned codePage;
    std::string trimmed;
  };
  const std::string kanji = "C:\\\x95\\";  // a character whose second byte is a backslash
  const Case cases[] = {
      {"", 1252, ""},           {"\\", 1252, ""},
      {"C:\\", 1252, "C:\\"},   {"C:\\a\\\\", 1252, "C:\\a\\"},
      {"C:\\Images\\", 1252, "C:\\Images"}, {kanji, 932, kanji},
      {kanji, 1252, "C:\\\x95"}, {kanji + "\\", 932, kanji},
      // A second byte that could start a character does not start one.
      {"C:\\\x81\x81\\", 932, "C:\\\x81\x81"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " in " + std::to_string(c.codePage));
    sim::Machine machine;
    machine.codePage = c.codePage;
    std::string path = c.path;
    images::TrimFolderPath(path);
    EXPECT_EQ(path, c.trimmed);
  }
}

// Browse preselects the trimmed folder and puts the chosen one in the edit
// box; a folder without a path leaves the text. (The dialog's other ways in
// and out are tested on the real dialog under Wine.)
TEST(DestinationDialog, BrowseOffersTheTrimmedFolderAndKeepsTheTextWhenItGetsNoPath) {
  sim::Machine machine;
  Store(machine, host::kRegSz, std::string("E:\\Photos\\") + '\0');
  machine.ExpectDialog("TODIR", [&](sim::SimDialog& dialog) {
    EXPECT_EQ(dialog.Text(IDC_DESTINATION), "E:\\Photos\\");
    machine.ExpectBrowse([](const std::string& selected) {
      EXPECT_EQ(selected, "E:\\Photos");
      return std::string("D:\\Pictures");
    });
    dialog.Click(IDC_BROWSE);
    EXPECT_EQ(dialog.Text(IDC_DESTINATION), "D:\\Pictures");
    machine.browsePathFails = true;
    machine.ExpectBrowse([](const std::string&) { return std::string("D:\\Somewhere"); });
    dialog.Click(IDC_BROWSE);
    EXPECT_EQ(dialog.Text(IDC_DESTINATION), "D:\\Pictures");
    EXPECT_FALSE(dialog.Ended());
    dialog.Click(1);
  });
  EXPECT_EQ(images::RunDestinationDialog(), 1);
  EXPECT_EQ(Stored(machine), std::string("D:\\Pictures") + '\0');
}

// ---- The transfer ---------------------------------------------------------------

// A PC with a card in E: whose image folders lie in DCIM: one partition, or
// two with a first partition of the given size; the images lie where the
// command will look, behind a first partition under 10 MB.
struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;
  std::uint64_t dataStart = 63;

  explicit Pc(std::uint32_t firstPartitionMb = 0, sim::Windows windows = sim::Windows::Win10) {
    machine.windows = windows;
    testing_cards::SetUpPc(machine);
    card = machine.NewCard(64 * kMb, 2);
    if (firstPartitionMb == 0) {
      testing_cards::WriteTable(*card, {{6, 63, 64 * 2048 - 63}});
      sim::Machine::Format(*card, 63, 64 * 2048 - 63, 16);
    } else {
      const std::uint32_t small = firstPartitionMb * 2048;
      const std::uint32_t second = 1 + small;
      const std::uint32_t large = 64 * 2048 - second - 1;
      testing_cards::WriteTable(*card, {{1, 1, small}, {6, second, large}});
      sim::Machine::Format(*card, 1, small, 12);
      sim::Machine::Format(*card, second, large, 16);
      dataStart = firstPartitionMb < 10 ? second : 1;
    }
    testing_cards::PutFilesAt(*card, dataStart,
                              {{"DCIM/100ABCDE/P1.JPG", "picture one"},
                               {"DCIM/100ABCDE/P2.JPG", "picture two"},
                               {"DCIM/101TEST/T1.JPG", "test"},
                               {"DCIM/IMG.JPG", "loose"}});
    machine.Insert('E', card);
    machine.Tick();
    machine.ClearRecords();
  }
  bool OnCard(const std::string& path) const { return testing_cards::ExistsAt(*card, dataStart, path); }
  std::string OnPc(const std::string& windowsPath) const {
    std::ifstream file(machine.PcPath(windowsPath), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return file ? content.str() : "(missing)";
  }
  void Destination(const std::string& text, bool deleteAfterCopy = false) {
    machine.ExpectDialog("TODIR", TypeAndOk(text, deleteAfterCopy));
  }
  void RemoveAndReinsert(bool reinsert = true) {
    machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
    machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk,
                      [this, reinsert] {
                        if (reinsert) machine.Reinsert('E');
                      });
  }
  bool Opened(const std::string& folder) const {
    return machine.LogMatching("shell open " + folder).size() == 1;
  }
};

// The transfers run under both Windows: the older ones swap to reach the
// large partition.
class TransferBothWindows : public ::testing::TestWithParam<sim::Windows> {
 protected:
  static bool Win7() { return GetParam() == sim::Windows::Win7; }
};
INSTANTIATE_TEST_SUITE_P(Windows, TransferBothWindows,
                         ::testing::Values(sim::Windows::Win10, sim::Windows::Win7));

// The card shows as E: and, on Windows 10, F:; the PC has C: and D:, and
// Z: is a network drive that the elevated program does not see.
TEST_P(TransferBothWindows, FullPathsOutsideTheCardAreTakenAndMadeWithTheirParents) {
  struct Case {
    std::string typed;
    std::string used;  // empty: refused with 2053
    std::vector<std::string> made;
    unsigned codePage = 1252;
  };
  const Case cases[] = {
      {"", "", {}},
      {"Photos", "", {}},
      {"\\", "", {}},
      {"E:\\Images", "", {}},
      {"e:\\", "", {}},
      {"F:\\Images", "", {}},
      {"Z:\\Images", "", {}},
      {"\\\\?\\E:\\Images", "", {}},
      {"\\\\.\\e:\\Images", "", {}},
      {"\\\\localhost\\E$\\Images", "", {}},
      {"\\\\camera-pc\\e$\\Images", "", {}},
      {"\\\\?\\UNC\\127.0.0.1\\E$\\Images", "", {}},
      {"\\\\server\\", "", {}},
      {"D:\\", "D:\\", {}},
      {"C:\\Images\\", "C:\\Images", {"C:\\Images"}},
      {"C:\\Fotos\\Caf\xE9\\2010", "C:\\Fotos\\Caf\xE9\\2010",
       {"C:\\Fotos", "C:\\Fotos\\Caf\xE9", "C:\\Fotos\\Caf\xE9\\2010"}},
      {"\\\\server\\share\\Images", "\\\\server\\share\\Images", {"\\\\server\\share\\Images"}},
      // A character whose second byte is the backslash's code ends no folder.
      {"C:\\\x95\\\\2010", "C:\\\x95\\\\2010", {"C:\\\x95\\", "C:\\\x95\\\\2010"}, 932},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    Pc pc(9, GetParam());  // a card whose boot partition the older Windows swap away
    pc.machine.codePage = c.codePage;
    const std::vector<std::string> table = testing_cards::SfdiskEntries(*pc.card);
    pc.machine.MakePcFolder("\\\\server\\share");
    const std::string before = std::string("C:\\Before") + '\0';
    Store(pc.machine, host::kRegSz, before);
    if (c.used.empty()) {
      // Refused in the dialog, which stays up for a correction; the user gives up.
      pc.machine.ExpectDialog("TODIR", [&pc, &c](sim::SimDialog& dialog) {
        dialog.Type(IDC_DESTINATION, c.typed);
        pc.machine.ExpectBox("Error", kNotFullPath, host::kIdOk);
        dialog.Click(1);
        EXPECT_FALSE(dialog.Ended());
        EXPECT_EQ(dialog.Focused(), IDC_DESTINATION);
        dialog.Click(2);
      });
    } else {
      pc.Destination(c.typed);
      if (Win7()) {
        pc.RemoveAndReinsert();
        pc.RemoveAndReinsert();
      }
    }
    host::SendCommand(IDC_COPY_IMAGES);
    EXPECT_EQ(testing_cards::SfdiskEntries(*pc.card), table);
    EXPECT_EQ(Stored(pc.machine), c.used.empty() ? before : c.typed + '\0');
    if (c.used.empty()) {
      EXPECT_TRUE(pc.machine.ShellCalls().empty());
      EXPECT_TRUE(pc.machine.LogMatching("box Remove").empty());  // refused before any swap
      continue;
    }
    std::vector<std::string> made;
    for (const std::string& line : pc.machine.LogMatching("mkdir ")) made.push_back(line);
    std::vector<std::string> expected;
    for (const std::string& folder : c.made) expected.push_back("mkdir " + folder + " like " + kTemporary);
    EXPECT_EQ(made, expected);
    ASSERT_EQ(pc.machine.ShellCalls().size(), 1u);
    const sim::ShellCall& call = pc.machine.ShellCalls()[0];
    EXPECT_EQ(call.function, host::kFoCopy);
    EXPECT_EQ(call.from, Win7() ? "E:\\DCIM\\*." : "F:\\DCIM\\*.");  // the large partition's letter
    EXPECT_EQ(call.to, c.used);
    EXPECT_EQ(call.flags, 0u);
    EXPECT_EQ(pc.OnPc(c.used + "\\100ABCDE\\P1.JPG"), "picture one");
    EXPECT_TRUE(pc.Opened(c.used));
  }
}

TEST(ImageTransfer, FoldersWithoutExtensionAreCopiedOrMovedAndTheShellAsksBeforeReplacing) {
  for (const bool move : {false, true}) {
    SCOPED_TRACE(move ? "move" : "copy");
    Pc pc;
    pc.machine.WritePcFile("C:\\Images\\100ABCDE\\P1.JPG", "older picture");
    pc.machine.replaceAnswers = {host::kIdYes};
    pc.Destination("C:\\Images", move);
    host::SendCommand(IDC_COPY_IMAGES);
    EXPECT_EQ(pc.machine.ShellCalls().at(0).function, move ? host::kFoMove : host::kFoCopy);
    EXPECT_EQ(pc.OnPc("C:\\Images\\100ABCDE\\P1.JPG"), "picture one");
    EXPECT_EQ(pc.OnPc("C:\\Images\\100ABCDE\\P2.JPG"), "picture two");
    EXPECT_EQ(pc.OnPc("C:\\Images\\101TEST\\T1.JPG"), "test");
    EXPECT_EQ(pc.OnPc("C:\\Images\\IMG.JPG"), "(missing)");
    EXPECT_EQ(pc.OnCard("DCIM/100ABCDE"), !move);
    EXPECT_EQ(pc.OnCard("DCIM/101TEST"), !move);
    EXPECT_TRUE(pc.OnCard("DCIM/IMG.JPG"));
    EXPECT_TRUE(pc.Opened("C:\\Images"));
  }
}

// The small boot partition first: it is swapped behind for the copy and put
// first again after it, and after every end that follows the first swap.
TEST_P(TransferBothWindows, TheBootPartitionIsSwappedAwayAndAlwaysBack) {
  enum class End { Done, NoImageFolder, CopyFails, Cancelled, Aborted, ProgramOnCard };
  struct Case {
    const char* name;
    std::uint32_t firstMb;  // 0: one partition
    End end;
    bool swaps;
    bool move = false;  // the card's volume is in use for Windows until it is flushed
  };
  const Case cases[] = {
      {"one partition", 0, End::Done, false},
      {"first partition of 10 MB", 10, End::Done, false},
      {"first partition of 9 MB", 9, End::Done, true},
      {"first partition of 9 MB, folders moved", 9, End::Done, true, true},
      {"no image folder", 9, End::NoImageFolder, true},
      {"copy fails", 9, End::CopyFails, true},
      {"copy cancelled at the shell's question", 9, End::Cancelled, true},
      {"the shell says 0 but aborted", 9, End::Aborted, true},
      {"the program on the card's second letter", 9, End::ProgramOnCard, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool swaps = c.swaps && Win7();  // only the older Windows swap
    Pc pc(c.firstMb, GetParam());
    const std::string table = testing_cards::SfdiskDump(*pc.card);
    if (c.end == End::NoImageFolder) sim::Run("mdeltree -i " + testing_cards::MtoolsAt(*pc.card, pc.dataStart) + " ::/DCIM");
    if (c.end == End::CopyFails) pc.machine.shellFaults[1] = sim::ShellFault::Fails;
    if (c.end == End::Aborted) pc.machine.shellFaults[1] = sim::ShellFault::Aborted;
    if (c.end == End::Cancelled) {
      pc.machine.WritePcFile("C:\\Images\\101TEST\\T1.JPG", "older");
      pc.machine.replaceAnswers = {host::kIdCancel};
    }
    if (c.end == End::ProgramOnCard) {
      common::gModuleDirectory = Win7() ? "E:\\VORN\\" : "F:\\VORN\\";
      pc.machine.ExpectBox("Error", "Run the installer from the PC, not from the SD Card!", host::kIdOk);
    } else {
      pc.Destination("C:\\Images", c.move);
    }
    if (swaps) pc.RemoveAndReinsert();
    if (c.end == End::NoImageFolder) pc.machine.ExpectBox("Error", kNoImageFolder, host::kIdOk);
    if (swaps) pc.RemoveAndReinsert();
    host::SendCommand(IDC_COPY_IMAGES);
    EXPECT_EQ(testing_cards::SfdiskDump(*pc.card), table);
    EXPECT_EQ(pc.machine.LogMatching("box Remove").size(), swaps ? 2u : 0u);
    EXPECT_EQ(pc.Opened("C:\\Images"), c.end == End::Done);
    EXPECT_EQ(pc.machine.VolumeOffset('E'), c.firstMb == 0 ? 63u * 512 : 512u);
    EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    if (c.firstMb == 9 && c.end == End::Done) {
      EXPECT_EQ(pc.OnPc("C:\\Images\\100ABCDE\\P1.JPG"), "picture one");
      testing_cards::KeepCard(*pc.card, std::string("ImageTransfer.TwoPartitions.") + (Win7() ? "win7" : "win10"));
    }
  }
}

}  // namespace
