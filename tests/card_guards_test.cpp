// The guards of every command that writes to a card: the same card after a
// pause, the re-insert that took effect, writes read back, no repartitioning
// of the card the program runs from, the flush before the card comes out,
// and the system disks.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "card_fixture.h"
#include "common/card_state.h"
#include "common/module_directory.h"
#include "disk/card_guards.h"
#include "disk/partition_table.h"
#include "host/host.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_cards::InOrder;
using testing_cards::kMb;

constexpr char kCardChanged[] = "SD Card changed or missing!\nRe-insert the card and start again.";
constexpr char kProgramOnCard[] = "Run the installer from the PC, not from the SD Card!";
constexpr std::uint32_t kCardDevice = 2;

// A PC with a two-partition card in E: (a small FAT12 partition first, a
// FAT16 one behind it), identified.
struct Pc {
  sim::Machine machine;
  std::shared_ptr<sim::Card> card;

  explicit Pc(sim::Windows windows = sim::Windows::Win10) {
    machine.windows = windows;
    testing_cards::SetUpPc(machine);
    card = NewCard(64 * kMb, kCardDevice);
    machine.Insert('E', card);
    machine.Tick();
    machine.ClearRecords();
  }
  std::shared_ptr<sim::Card> NewCard(std::uint64_t bytes, std::uint32_t device) {
    auto made = machine.NewCard(bytes, device);
    testing_cards::WriteTable(*made, {{1, 1, 4096}, {6, 4097, 60000}});
    sim::Machine::Format(*made, 1, 4096, 12);
    return made;
  }
  Bytes Mbr() const { return card->Sector(0); }
  Bytes Vbr() const { return card->Sector(1); }
  bool Logged(const std::string& prefix) const { return !machine.LogMatching(prefix).empty(); }
};

struct Command {
  const char* name;
  unsigned id;
  const char* question;
  int answer;
  std::function<void(sim::Machine&)> expectRest;  // the boxes after a passed guard
};

// The commands that ask before they write, each answered so that it writes.
std::vector<Command> WritingCommands() {
  const auto reinsertNotice = [](sim::Machine& machine) {
    machine.ExpectBox("Re-insert", "Remove and re-insert SD Card!", host::kIdOk);
  };
  return {
      {"format", IDC_FORMAT, "Quick Format ?", host::kIdYes, {}},
      {"swap", IDC_SWAP_PARTITIONS, "Sure?", host::kIdYes, reinsertNotice},
      {"one partition", IDC_CREATE_PARTITION, "Create One Partition(YES) or Two Partitions(NO) ?",
       host::kIdYes, reinsertNotice},
      {"two partitions", IDC_CREATE_PARTITION, "Create One Partition(YES) or Two Partitions(NO) ?",
       host::kIdNo, reinsertNotice},
  };
}

TEST(SameCard, WhatHappensToTheReaderDuringTheQuestionDecidesTheWrite) {
  enum class During { Nothing, OtherCard, OtherDrive, Removed, OtherSize };
  for (const Command& command : WritingCommands()) {
    for (const During during :
         {During::Nothing, During::OtherCard, During::OtherDrive, During::Removed, During::OtherSize}) {
      SCOPED_TRACE(std::string(command.name) + ", case " + std::to_string(static_cast<int>(during)));
      Pc pc;
      std::shared_ptr<sim::Card> other = pc.NewCard(64 * kMb, 3);
      const Bytes mbr = pc.Mbr();
      const Bytes vbr = pc.Vbr();
      const Bytes otherMbr = other->Sector(0);
      pc.machine.ExpectBox("Confirm", command.question, command.answer, [&] {
        switch (during) {
          case During::Nothing: break;
          case During::OtherCard:
            pc.machine.Remove('E');
            pc.machine.Insert('E', other);
            break;
          case During::OtherDrive:  // the reader re-plugged: a new device number
            pc.card->deviceNumber = 4;
            pc.machine.Reinsert('E');
            break;
          case During::Removed: pc.machine.Remove('E'); break;
          case During::OtherSize:  // another card, given the same device number
            other->deviceNumber = kCardDevice;
            other->sizeBytes -= kMb;
            pc.machine.Remove('E');
            pc.machine.Insert('E', other);
            break;
        }
      });
      const bool passes = during == During::Nothing;
      if (passes && command.expectRest) command.expectRest(pc.machine);
      if (!passes) pc.machine.ExpectBox("Error", kCardChanged, host::kIdOk);
      host::SendCommand(command.id);
      const bool changed = pc.Mbr() != mbr || pc.Vbr() != vbr;
      EXPECT_EQ(changed, passes);
      EXPECT_EQ(other->Sector(0), otherMbr);
      EXPECT_EQ(pc.Logged("process"), passes && command.id == IDC_FORMAT);
      EXPECT_EQ(pc.Logged("send 205"), passes && command.id != IDC_FORMAT);
      EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    }
  }
}

// A new table takes effect when the card is back: the older Windows show
// the swapped first entry then; Windows 10 its partitions as long as the new
// table makes them (the same starts are not enough).
TEST(Reinsert, TheRemovePromptIsCheckedAndAskedOnceMore) {
  struct Case {
    const char* name;
    int reinsertAt;  // the re-insert prompt (1 or 2) at which the user re-inserts; 0: never
    int result;
  };
  constexpr std::uint64_t kNewLarge = 64 * 2048 - 4098;
  for (const sim::Windows windows : {sim::Windows::Win7, sim::Windows::Win10}) {
    for (const Case& c : {Case{"re-inserted", 1, 0}, Case{"re-inserted at the second asking", 2, 0},
                          Case{"never re-inserted", 0, 1}}) {
      const bool win7 = windows == sim::Windows::Win7;
      SCOPED_TRACE(std::string(win7 ? "win7, swap: " : "win10, two partitions: ") + c.name);
      Pc pc(windows);
      const int askings = c.reinsertAt == 1 ? 1 : 2;
      for (int asking = 1; asking <= askings; ++asking) {
        pc.machine.ExpectBox("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
        pc.machine.ExpectBox("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk,
                             [&pc, &c, asking] {
                               if (asking == c.reinsertAt) pc.machine.Reinsert('E');
                             });
      }
      if (c.result != 0) pc.machine.ExpectBox("Error", kCardChanged, host::kIdOk);
      if (win7) {
        EXPECT_EQ(disk::SwapPartitionEntries(false), c.result);
      } else {
        ASSERT_EQ(disk::WriteDualPartitionTable(), 0);
        EXPECT_EQ(disk::AskToRemoveAndReinsert(), c.result == 0);
      }
      EXPECT_TRUE(InOrder(pc.machine, {"write", "flush E", "box Remove"}));
      EXPECT_EQ(pc.machine.LogMatching("flush E").size(), static_cast<std::size_t>(askings));
      if (win7) {
        EXPECT_EQ(pc.machine.VolumeOffset('E'), c.result == 0 ? 4097u * 512 : 512u);
      } else {
        EXPECT_EQ(pc.machine.VolumeLength('F'), (c.result == 0 ? kNewLarge : 60000u) * 512);
      }
      EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    }
  }
}

// Writes the card takes and does not keep are failed writes, with the box
// that write shows when it fails.
TEST(ReadBack, DroppedWritesAreReportedAsFailed) {
  struct Case {
    const char* name;
    unsigned command;
    const char* question;
    int answer;
    const char* error;
  };
  const Case cases[] = {
      {"boot mark", IDC_MAKE_BOOTABLE, nullptr, 0, "Cannot write boot sector! Maybe write protected."},
      {"script flag", IDC_SCRIPT_FLAG, nullptr, 0, "Cannot write boot sector! Maybe write protected."},
      {"swap", IDC_SWAP_PARTITIONS, "Sure?", host::kIdYes, "Cannot write boot sector! Maybe write protected."},
      {"one partition", IDC_CREATE_PARTITION, "Create One Partition(YES) or Two Partitions(NO) ?",
       host::kIdYes, "Cannot write boot sector!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc;
    pc.card->faults.dropsWrites = true;
    const Bytes mbr = pc.Mbr();
    const Bytes vbr = pc.Vbr();
    if (c.question != nullptr) pc.machine.ExpectBox("Confirm", c.question, c.answer);
    pc.machine.ExpectBox("Error", c.error, host::kIdOk);
    host::SendCommand(c.command);
    EXPECT_EQ(pc.Mbr(), mbr);
    EXPECT_EQ(pc.Vbr(), vbr);
    EXPECT_FALSE(pc.Logged("eject"));
  }
}

TEST(ProgramOnCard, CommandsThatEraseTheCardRefuseIt) {
  struct Folder {
    const char* path;
    bool onCard;
  };
  // The card shows under E: and F:.
  const Folder folders[] = {{"E:\\VORN\\", true}, {"e:\\", true}, {"F:\\VORN\\", true},
                            {"C:\\VORN\\", false}, {"\\\\server\\share\\VORN\\", false}};
  for (const Command& command : WritingCommands()) {
    for (const Folder& folder : folders) {
      SCOPED_TRACE(std::string(command.name) + " from " + folder.path);
      Pc pc;
      common::gModuleDirectory = folder.path;
      const Bytes mbr = pc.Mbr();
      if (folder.onCard) {
        pc.machine.ExpectBox("Error", kProgramOnCard, host::kIdOk);
      } else {
        // The first question comes; Cancel (or No) leaves the card alone.
        const bool choice = command.id != IDC_SWAP_PARTITIONS;
        const char* first = command.id == IDC_FORMAT ? "Format FAT(YES) or FAT32(NO) ?" : command.question;
        if (command.id == IDC_FORMAT) common::gCardState.volumeSizeMb = 40;
        pc.machine.ExpectBox("Confirm", first, choice ? host::kIdCancel : host::kIdNo);
      }
      const Bytes vbr = pc.Vbr();
      host::SendCommand(command.id);
      EXPECT_EQ(pc.machine.Boxes().size(), 1u);
      EXPECT_EQ(pc.Mbr(), mbr);
      EXPECT_EQ(pc.Vbr(), vbr);
      EXPECT_FALSE(pc.Logged("process"));
    }
  }
  // Command 209 stands guard on its own too.
  Pc pc;
  common::gModuleDirectory = "E:\\";
  pc.machine.ExpectBox("Error", kProgramOnCard, host::kIdOk);
  host::SendCommand(IDC_WRITE_DUAL);
  EXPECT_FALSE(pc.Logged("write"));
}

// A card with a volume encrypted by BitLocker (its own header, or To Go's
// FAT boot sector with its GUID) is refused before anything is asked; one
// with a file or a window open on a volume, when its table would be written.
TEST(WritesToTheCard, AnEncryptedOrABusyCardIsRefused) {
  constexpr char kEncrypted[] = "The SD Card is encrypted with BitLocker!\nTurn BitLocker off for the card, then try again.";
  constexpr char kInUse[] =
      "The SD Card is in use: a file or a window is open on it.\nClose everything that is open on the card, then try again.";
  const Bytes mswin = {'M', 'S', 'W', 'I', 'N', '4', '.', '1'};
  const Bytes toGoGuid = {0x3B, 0xD6, 0x67, 0x49, 0x29, 0x2E, 0xD8, 0x4A,
                          0x83, 0x99, 0xF6, 0xA3, 0x39, 0xE3, 0xD0, 0x01};
  struct Kind {
    const char* name;
    Bytes at3, at424;  // in the second partition's boot sector
    bool busy;
  };
  const Kind kinds[] = {{"BitLocker", {'-', 'F', 'V', 'E', '-', 'F', 'S', '-'}, {}, false},
                        {"BitLocker To Go", mswin, toGoGuid, false}, {"F: in use", {}, {}, true}};
  std::vector<Command> commands = WritingCommands();
  commands.push_back({"boot mark", IDC_MAKE_BOOTABLE, nullptr, 0, {}});
  commands.push_back({"script flag", IDC_SCRIPT_FLAG, nullptr, 0, {}});
  commands.push_back({"New Install", IDC_NEW_INSTALL, nullptr, 0, {}});
  commands.push_back({"Version Up", IDC_VERSION_UP, nullptr, 0, {}});
  for (const Kind& kind : kinds) {
    for (const Command& command : commands) {
      // format.com locks the volume itself, a boot sector may always be
      // written, and a sequence asks its questions first.
      if (kind.busy && (command.question == nullptr || command.id == IDC_FORMAT)) continue;
      SCOPED_TRACE(std::string(command.name) + ", " + kind.name);
      Pc pc;
      pc.card->Write(4097 * 512 + 3, kind.at3);
      pc.card->Write(4097 * 512 + 424, kind.at424);
      if (kind.busy) {
        pc.machine.busyVolumes = {'F'};
        pc.machine.ExpectBox("Confirm", command.question, command.answer);
      }
      const Bytes mbr = pc.Mbr();
      const Bytes vbr = pc.Vbr();
      pc.machine.ExpectBox("Error", kind.busy ? kInUse : kEncrypted, host::kIdOk);
      host::SendCommand(command.id);
      EXPECT_EQ(pc.Mbr(), mbr);
      EXPECT_EQ(pc.Vbr(), vbr);
      EXPECT_FALSE(pc.Logged("process"));
      EXPECT_FALSE(pc.Logged("write"));
      EXPECT_FALSE(pc.Logged("dialog"));
      EXPECT_EQ(pc.machine.OpenHandles(), 0u);
    }
  }
  Pc pc;  // the name without the GUID, as any FAT card may have it
  pc.card->Write(4097 * 512 + 3, mswin);
  host::SendCommand(IDC_MAKE_BOOTABLE);
  EXPECT_TRUE(pc.machine.Boxes().empty());
}

TEST(Flush, TheSystemLearnsOfTheNewTableUnderTheLocksAndTheVolumeIsFlushedBeforeTheEject) {
  for (const Command& command : WritingCommands()) {
    if (command.id == IDC_FORMAT) continue;
    SCOPED_TRACE(command.name);
    Pc pc;
    pc.machine.ExpectBox("Confirm", command.question, command.answer);
    command.expectRest(pc.machine);
    host::SendCommand(command.id);
    EXPECT_TRUE(InOrder(pc.machine, {"lock", "write", "update properties", "unlock", "flush E", "eject",
                                     "box Re-insert"}));
  }
}

// The system volume is only queried; every disk it spans is a system disk.
TEST(SystemDisk, EveryDiskOfTheWindowsVolumeIsRefusedAndOnlyQueriesAreAsked) {
  struct Case {
    std::vector<std::uint32_t> extents;  // empty: the query fails, the device number answers
    std::uint32_t cardDevice;
    bool identified;
  };
  const Case cases[] = {{{0, 3}, 3, false}, {{0, 3}, 2, true}, {{}, 2, true}, {{}, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cardDevice);
    sim::Machine machine;
    testing_cards::SetUpPc(machine);
    machine.systemDiskExtents = c.extents;
    machine.Insert('E', machine.NewCard(16 * kMb, c.cardDevice));
    machine.Tick();
    EXPECT_EQ(common::CardIdentified(), c.identified);
    for (const std::string& open : machine.LogMatching("open \\\\.\\C:")) EXPECT_EQ(open, "open \\\\.\\C: [0]");
  }
}

// Every device is opened with the access its use needs, and no more.
TEST(DeviceAccess, EachUseOpensItsDeviceAsTheDeviceTableSays) {
  struct Case {
    const char* name;
    std::function<void(sim::Machine&)> run;
    std::set<std::string> opens;
  };
  // The card shows as E: and F:; every letter is asked which disk it lies on.
  const std::string volume = "open \\\\.\\E: ";
  const std::string second = "open \\\\.\\F: ";
  const std::string fixed = "open \\\\.\\D: [0]";
  const std::string drive = "open \\\\.\\PHYSICALDRIVE2 ";
  const std::string system = "open \\\\.\\C: [0]";
  const Case cases[] = {
      {"scan", [](sim::Machine&) { host::SendCommand(IDC_SCAN); }, {volume + "[r]", second + "[r]"}},
      {"inspection", [](sim::Machine&) { host::SendCommand(IDC_INSPECT); },
       {volume + "[rw]", drive + "[a]", drive + "[r]", system}},
      {"boot mark", [](sim::Machine&) { host::SendCommand(IDC_MAKE_BOOTABLE); },
       {fixed, volume + "[0]", second + "[0]", volume + "[rw]", drive + "[a]", drive + "[r]"}},
      {"swap, its volumes locked",
       [](sim::Machine& m) {
         m.ExpectBox("Confirm", "Sure?", host::kIdYes);
         m.ExpectBox("Re-insert", "Remove and re-insert SD Card!", host::kIdOk);
         host::SendCommand(IDC_SWAP_PARTITIONS);
       },
       {fixed, volume + "[0]", second + "[0]", volume + "[rw]", second + "[rw]", drive + "[a]", drive + "[r]",
        drive + "[rw]", system}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pc pc;
    c.run(pc.machine);
    // The command's own opens: those before it sends a refresh of its own.
    std::set<std::string> opens;
    const std::vector<std::string>& log = pc.machine.Log();
    for (std::size_t i = 1; i < log.size() && log[i].rfind("send ", 0) != 0; ++i) {
      if (log[i].rfind("open \\\\.\\", 0) == 0) opens.insert(log[i]);
    }
    EXPECT_EQ(opens, c.opens);
  }
}

}  // namespace
