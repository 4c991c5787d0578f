// The card is its bytes: what holds them under another name stops every
// write as "in use"; what the card did not take is never called done.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "linux/linux_host.h"
#include "linux/process.h"
#include "linux_card.h"
#include "res/ids.h"

namespace {
namespace fs = std::filesystem;
using linux_cards::LoopCard;
using linux_cards::Script;

constexpr char kProgram[] = VORN_PROGRAM;
constexpr char kInUse[] =
    "The SD Card is in use: a file or a window is open on it.\nClose everything that is open on the card, then try again.";
constexpr std::uint64_t kCardBytes = 64 * linux_cards::kMb;
constexpr std::uint64_t kBtrfsBytes = 256 * linux_cards::kMb;

// A loop device over a file or a device, detached at the end.
struct Loop {
  explicit Loop(const std::string& over) : device(linux_cards::Run({"losetup", "-f", "--show", over})) {
    device = device.substr(0, device.find('\n'));
  }
  ~Loop() { linuxhost::RunTool({"losetup", "-d", device}); }
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;
  std::string device;
};

bool Btrfs() {
  linuxhost::RunTool({"modprobe", "btrfs"});
  std::ifstream filesystems("/proc/filesystems");
  return std::string(std::istreambuf_iterator<char>(filesystems), {}).find("btrfs") != std::string::npos;
}

void MakeExt4(const std::string& device) {
  linux_cards::Run({"mkfs.ext4", "-q", "-F", "-E", "lazy_itable_init=0,lazy_journal_init=0", device});
}

void MakeBtrfsRaid1(const std::string& first, const std::string& second) {
  linux_cards::Run({"mkfs.btrfs", "-q", "-f", "-d", "raid1", "-m", "raid1", first, second});
  linux_cards::Run({"btrfs", "device", "scan"});
}

// A mount that a shell in its own mount namespace keeps while the test
// runs: the program's mount table never shows it.
struct HiddenMount {
  HiddenMount(const std::string& device, const std::string& folder) : pid(::fork()) {
    const std::string ready = folder + ".ready";
    if (pid == 0) {
      ::execlp("unshare", "unshare", "-m", "--propagation", "private", "sh", "-c",
               ("mount " + device + " " + folder + " && touch " + ready + " && exec sleep 600").c_str(), nullptr);
      ::_exit(127);
    }
    for (int wait = 0; wait < 100 && !fs::exists(ready); ++wait) ::usleep(50000);
  }
  ~HiddenMount() {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  HiddenMount(const HiddenMount&) = delete;
  HiddenMount& operator=(const HiddenMount&) = delete;
  pid_t pid;
};

// New Install on a card whose bytes something else holds: the in-use
// message, and not a byte of the card (nor of what holds it) changes.
TEST(Claims, BytesHeldUnderAnotherNameAreInUse) {
  enum class Held { ImageMountedThroughALoop, SecondLoopMounted, StackedOverAMountedDisk, MountInAnotherNamespace,
                    LoopOverAPartitionMounted, BtrfsRaid1Member };
  for (const Held held : {Held::ImageMountedThroughALoop, Held::SecondLoopMounted, Held::StackedOverAMountedDisk,
                          Held::MountInAnotherNamespace, Held::LoopOverAPartitionMounted, Held::BtrfsRaid1Member}) {
    SCOPED_TRACE(static_cast<int>(held));
    Script script;
    const std::string folder = linux_cards::StartProgram(script) + "/mnt";
    const bool btrfs = held == Held::BtrfsRaid1Member;
    if (btrfs && !Btrfs()) GTEST_SKIP() << "this kernel has no btrfs";
    LoopCard card(btrfs ? kBtrfsBytes : kCardBytes);
    if (!card.Loop()) GTEST_SKIP() << "no loop device: nothing the system could mount";
    if (!btrfs) MakeExt4(card.Device());
    fs::create_directories(folder);
    std::string named = card.Device();
    std::unique_ptr<Loop> other;
    std::unique_ptr<LoopCard> second;
    std::unique_ptr<HiddenMount> hidden;
    switch (held) {
      case Held::ImageMountedThroughALoop:
        linux_cards::Run({"mount", card.Device(), folder});
        named = card.Image();
        break;
      case Held::SecondLoopMounted:
        other = std::make_unique<Loop>(card.Image());
        linux_cards::Run({"mount", other->device, folder});
        break;
      case Held::StackedOverAMountedDisk:
        linux_cards::Run({"mount", card.Device(), folder});
        other = std::make_unique<Loop>(card.Device());
        named = other->device;
        break;
      case Held::MountInAnotherNamespace:
        hidden = std::make_unique<HiddenMount>(card.Device(), folder);
        ASSERT_TRUE(fs::exists(folder + ".ready"));
        break;
      case Held::BtrfsRaid1Member:
        second = std::make_unique<LoopCard>(kBtrfsBytes);
        MakeBtrfsRaid1(second->Device(), card.Device());
        linux_cards::Run({"mount", second->Device(), folder});
        break;
      case Held::LoopOverAPartitionMounted:  // the partition's node made by hand: these loops make none
        card.Partition({{0x83, 2048, kCardBytes / 512 - 2048}});
        if (!linux_cards::Succeeds({"partx", "-a", card.Device()})) {
          std::cout << "The kernel made no partition node: a loop device over one is not tried\n";
          continue;
        }
        other = std::make_unique<Loop>(card.Device() + "p1");
        MakeExt4(other->device);
        linux_cards::Run({"mount", other->device, folder});
        break;
    }
    std::ofstream(folder + "/photo.jpg") << "the user's data";
    ::sync();
    const std::size_t before = card.Fingerprint();
    linux_cards::InsertCard(named);
    script.Box("Error", kInUse, host::kIdOk);
    linuxhost::Command(IDC_NEW_INSTALL);
    EXPECT_EQ(card.Fingerprint(), before);
    hidden.reset();
    linuxhost::RunTool({"umount", folder});
  }
}

// The disk the system runs from is never a card under any name: a loop
// device over it, its btrfs's other member (/home in a namespace of its own).
TEST(Claims, TheSystemsDiskUnderAnotherNameIsNeverACard) {
  for (const bool btrfs : {false, true}) {
    SCOPED_TRACE(btrfs ? "btrfs RAID1 member" : "loop device over the disk");
    if (btrfs && !Btrfs()) GTEST_SKIP() << "this kernel has no btrfs";
    LoopCard disk(kBtrfsBytes);
    if (!disk.Loop()) GTEST_SKIP() << "no loop device";
    LoopCard member(kBtrfsBytes);
    btrfs ? MakeBtrfsRaid1(disk.Device(), member.Device()) : MakeExt4(disk.Device());
    const Loop stacked(disk.Device());
    const std::string named = btrfs ? member.Device() : stacked.device;
    const linuxhost::ToolResult result = linuxhost::RunTool(
        {"unshare", "-m", "--propagation", "private", "sh", "-c",
         "mount " + disk.Device() + " /home && exec " + kProgram + " --card " + named + " script-flag"},
        {"HOME=" + linux_cards::TestHome()});
    EXPECT_EQ(result.exitCode, 2) << result.output << result.errors;
    EXPECT_NE(result.errors.find("holds what the system needs (/home)"), std::string::npos) << result.errors;
  }
}

// Two runs of the program on one image: while one writes the card, the
// other's writes end as in use, and the card is the first one's.
TEST(Claims, ASecondRunOnTheSameImageIsInUse) {
  Script script;
  linux_cards::StartProgram(script);
  LoopCard card(kCardBytes);
  card.Detach();  // the image itself is the card
  linux_cards::InsertCard(card.Image());
  linuxhost::ToolResult second;
  script.Dialog("INSTSET", [](linuxhost::Dialog& dialog) { dialog.Click(IDC_EXIT); });
  script.Box("Confirm", "Need to re-create one partition.\nContinue to install VORN ? ", host::kIdYes);
  script.Box("Remove", "Remove SD Card! Then press OK button", host::kIdOk, [&] {
    second = linuxhost::RunTool({kProgram, "--card", card.Image(), "--addon", linux_cards::MakeAddOnFolder(),
                                 "create-partition", "--layout", "one"},
                                {"HOME=" + linux_cards::TestHome()});
  });
  script.Box("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk);
  script.Box("Confirm", "Quick Format ?", host::kIdYes);
  script.Box("Finish", "Install finished!\nLock the card, insert into the camera and VORN will auto-boot.",
             host::kIdOk);
  linuxhost::Command(IDC_NEW_INSTALL);
  EXPECT_EQ(second.exitCode, 1) << second.output << second.errors;
  EXPECT_NE((second.output + second.errors).find(kInUse), std::string::npos) << second.output << second.errors;
  card.ExpectClean(249, 131072 - 249);
}

// A card that takes the tools' writes but fails them at the flush (a loop
// device over a file on a full disk): the copy is never called done.
TEST(Claims, AFlushThatFailsFailsTheCopy) {
  Script script;
  const std::string addOn = linux_cards::StartProgram(script), full = addOn + "/full";
  std::ofstream(addOn + "/PS.FIR") << std::string(4 * linux_cards::kMb, 'f');
  fs::create_directories(full);
  linux_cards::Run({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", full});
  const std::string image = full + "/card.img";
  linux_cards::Run({"sh", "-c", "truncate -s 64M " + image + " && echo start=63,type=6 | sfdisk -q " + image});
  linux_cards::Run({"mkfs.fat", "-F", "16", "-h", "63", "--offset", "63", image, "32000"});
  {
    const Loop card(image);
    linux_cards::InsertCard(card.device);
    linuxhost::Command(IDC_COPY_VORN);
  }
  EXPECT_EQ(script.opened, std::vector<std::string>{});  // the card's folder is shown when the copy is done
  linux_cards::Run({"umount", full});
}

// The flush before the boot file is read back fails (strace fails the
// card's second fsync; the first is the copy's own): what is read back may
// be the system's cache, so Version Up ends there.
TEST(Claims, AFailedFlushLeavesTheBootFileUnproven) {
  LoopCard card(kCardBytes);
  card.Partition({{0x06, 63, kCardBytes / 512 - 63}});
  card.Format(63, kCardBytes / 512 - 63, 16);
  card.Put(63, "DISKBOOT.BIN", "old boot file");
  const linuxhost::ToolResult result = linuxhost::RunTool(
      {"strace", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e", "inject=fsync:error=EIO:when=2", kProgram,
       "--card", card.Device(), "--addon", linux_cards::MakeAddOnFolder(), "version-up", "--camera", "right"},
      {"HOME=" + linux_cards::TestHome(), "ASAN_OPTIONS=detect_leaks=0"});
  EXPECT_EQ(result.exitCode, 1) << result.output << result.errors;
  EXPECT_NE((result.output + result.errors).find("Check failed: DISKBOOT.BIN on the SD Card is not the installer's!"),
            std::string::npos) << result.output << result.errors;
}

// The card's opens seen by strace: claimed with O_EXCL, written past the
// cache (O_DIRECT), each write on the card when it returns (O_DSYNC). Tools
// of the system's names first in PATH are never run: the card comes out whole.
TEST(Claims, TheCardIsWrittenClaimedAndPastTheCache) {
  LoopCard card(kCardBytes);
  if (!card.Loop()) GTEST_SKIP() << "no loop device";
  const std::string trace = linux_cards::TestHome() + "/opens", decoys = linux_cards::TestHome() + "/decoys";
  fs::create_directories(decoys);
  for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "mdeltree", "mdir", "mmove", "mtype"}) {
    std::ofstream(decoys + "/" + tool) << "#!/bin/sh\ntouch \"$0.ran\"\n";
    fs::permissions(decoys + "/" + tool, fs::perms::owner_all);
  }
  const std::vector<std::vector<std::string>> commands = {
      {"new-install", "--camera", "left", "--layout", "one", "--quick", "--yes"}, {"format", "--fat", "--full"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command[0]);
    std::vector<std::string> arguments = {"strace", "-e", "trace=openat", "-o", trace, kProgram, "--card",
                                          card.Device(), "--addon", linux_cards::MakeAddOnFolder()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const linuxhost::ToolResult result =
        linuxhost::RunTool(arguments, {"HOME=" + linux_cards::TestHome(), "ASAN_OPTIONS=detect_leaks=0",
                                       "PATH=" + decoys + ":" + std::getenv("PATH")});
    EXPECT_EQ(result.exitCode, 0) << result.output << result.errors;
    std::ifstream opens(trace);
    bool claimed = false;
    for (std::string line; std::getline(opens, line);) {
      const auto has = [&line](const std::string& text) { return line.find(text) != std::string::npos; };
      if (!has("\"" + card.Device() + "\"") || has("= -1")) continue;
      claimed = claimed || has("O_EXCL");
      EXPECT_TRUE(!has("O_RDWR") || (has("O_DIRECT") && has("O_DSYNC"))) << line;
    }
    EXPECT_TRUE(claimed);
  }
  for (const auto& entry : fs::directory_iterator(decoys)) EXPECT_NE(entry.path().extension().string(), ".ran") << entry.path();
}

}  // namespace
