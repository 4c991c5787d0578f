// The program on Linux, end to end: the logic and the Linux host on loop
// devices, a scripted user, and every finished card read by sfdisk,
// fsck.fat and mtools.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "linux/linux_host.h"
#include "linux_card.h"
#include "res/ids.h"

namespace {
namespace fs = std::filesystem;
using linux_cards::LoopCard;
using linux_cards::Script;

constexpr char kInstalled[] = "Install finished!\nLock the card, insert into the camera and VORN will auto-boot.";
constexpr char kQuick[] = "Quick Format ?";
constexpr char kInUse[] =
    "The SD Card is in use: a file or a window is open on it.\nClose everything that is open on the card, then try again.";
constexpr char kCardChanged[] = "SD Card changed or missing!\nRe-insert the card and start again.";
constexpr std::uint64_t k64GbSectors = 124735488;

std::string Entry(std::uint64_t start, std::uint64_t size, const char* type) {
  return "start=" + std::to_string(start) + ",size=" + std::to_string(size) + ",type=" + type;
}

std::function<void(linuxhost::Dialog&)> Choose(std::vector<int> buttons) {
  return [buttons](linuxhost::Dialog& dialog) {
    for (const int id : buttons) dialog.Click(id);
    if (!dialog.Ended()) dialog.Click(IDC_EXIT);
  };
}

// The user takes the card out at "Remove" and puts it back at "Re-insert";
// what the user does meanwhile comes before the second answer.
void RemoveAndReinsert(Script& script, std::function<void()> meanwhile = {}) {
  script.Box("Remove", "Remove SD Card! Then press OK button", host::kIdOk);
  script.Box("Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk, std::move(meanwhile));
}

// A card with one FAT16 partition from sector 63, holding these files.
void MakeOnePartitionCard(const LoopCard& card, std::uint64_t sectors,
                          const std::vector<std::pair<std::string, std::string>>& files) {
  card.Partition({{0x06, 63, sectors - 63}});
  card.Format(63, sectors - 63, 16);
  for (const auto& [path, content] : files) card.Put(63, path, content);
}

// ---- New Install ---------------------------------------------------------------

TEST(LinuxProgram, NewInstallWithOneAndWithTwoPartitions) {
  struct Row {
    const char* name;
    std::uint64_t sectors;
    bool two;
  };
  for (const Row& row : {Row{"one", 262144, false}, Row{"two64GB", k64GbSectors, true}}) {
    SCOPED_TRACE(row.name);
    Script script;
    linux_cards::StartProgram(script);
    LoopCard card(row.sectors * 512);
    linux_cards::InsertCard(card.Device());
    script.Dialog("INSTSET", [&row](linuxhost::Dialog& dialog) {
      EXPECT_EQ(dialog.Checked(IDC_TWO_PARTITIONS), row.two);  // 4000 MB or more
      dialog.Click(row.two ? IDC_CAMERA_RIGHT : IDC_CAMERA_LEFT);
      dialog.Click(IDC_EXIT);
    });
    script.Box("Confirm", row.two ? "Need to re-create two partitions.\nContinue to install VORN ? "
                                  : "Need to re-create one partition.\nContinue to install VORN ? ",
               host::kIdYes);
    RemoveAndReinsert(script);
    script.Box("Confirm", kQuick, host::kIdYes);
    script.Box(row.two ? "Confirm" : "Finish", kInstalled, host::kIdOk);
    const auto started = std::chrono::steady_clock::now();
    linuxhost::Command(IDC_NEW_INSTALL);
    std::cout << row.name << ": New Install took "
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() << " s\n";

    const std::uint64_t boot = row.two ? 1 : 249;
    const std::uint64_t bootSectors = row.two ? 4096 : row.sectors - 249;
    const std::uint64_t folders = row.two ? 4097 : 249;
    const std::vector<std::string> layout =
        row.two ? std::vector<std::string>{Entry(1, 4096, "1"), Entry(4097, row.sectors - 4098, "b")}
                : std::vector<std::string>{Entry(249, row.sectors - 249, "6")};
    EXPECT_EQ(card.Entries(), layout);
    EXPECT_EQ(card.Bytes(boot * 512 + 64, 8), "BOOTDISK");
    EXPECT_EQ(card.File(boot, "DISKBOOT.BIN"), "boot file");
    EXPECT_EQ(card.File(folders, "LYRE/LYRE.CFG"), row.two ? "config right" : "config left");
    EXPECT_EQ(card.File(folders, "DCIM/100TEST/README.TXT"), "dcim");
    card.ExpectClean(boot, bootSectors);
    if (row.two) {
      // The large partition is the program's own FAT32: 32 KiB clusters.
      EXPECT_EQ(card.Bytes(4097 * 512 + 82, 8), "FAT32   ");
      EXPECT_EQ(card.Bytes(4097 * 512 + 13, 1), std::string(1, 64));
      EXPECT_NE(card.Bytes(4097 * 512 + 64, 8), "BOOTDISK");
      card.ExpectClean(4097, row.sectors - 4098);
    }
    card.Keep();
  }
}

// ---- Version Up, Format, the image folders -------------------------------------------

TEST(LinuxProgram, VersionUpKeepsTheUsersConfigurationAsTheBackup) {
  Script script;
  linux_cards::StartProgram(script);
  LoopCard card(64 * linux_cards::kMb);
  MakeOnePartitionCard(card, 131072, {{"DISKBOOT.BIN", "old"}, {"LYRE/LYRE.CFG", "user config"}});
  linux_cards::InsertCard(card.Device());
  script.Dialog("INSTSET2", Choose({IDC_CAMERA_RIGHT}));
  script.Box("Finish", "Version Up finished!\nLock the card, insert into the camera and VORN will auto-boot.",
             host::kIdOk);
  linuxhost::Command(IDC_VERSION_UP);
  EXPECT_EQ(card.File(63, "DISKBOOT.BIN"), "boot file");
  EXPECT_EQ(card.File(63, "LYRE/LYRE.CFG.OLD"), "user config");
  EXPECT_EQ(card.File(63, "LYRE/LYRE.CFG"), "config right");
  EXPECT_EQ(card.File(63, "LYRE/LYRE.BIN"), "add-on");
  card.ExpectClean(63, 131072 - 63);
  card.Keep();
}

TEST(LinuxProgram, FullFormatEmptiesTheCard) {
  Script script;
  linux_cards::StartProgram(script);
  LoopCard card(64 * linux_cards::kMb);
  MakeOnePartitionCard(card, 131072, {{"OLD.TXT", "old"}});
  linux_cards::InsertCard(card.Device());
  // The card as this system tells it: a loop device's model is its image.
  script.Box("Confirm SD Card",
             "SD Card D:  64 MB" + (card.Loop() ? "  " + card.Image() : "") +
                 "\n  Partition 1 (D:): FAT, 2 KB used\nEverything on D: will be erased.\nContinue?",
             host::kIdYes);
  script.Box("Confirm", "Format FAT(YES) or FAT32(NO) ?", host::kIdYes);
  script.Box("Confirm", kQuick, host::kIdNo);
  // A program of the system tool's name earlier in PATH is not the one run.
  const std::string decoy = linux_cards::TestHome() + "/bin";
  fs::create_directories(decoy);
  std::ofstream(decoy + "/mkfs.fat") << "#!/bin/sh\nexit 0\n";
  fs::permissions(decoy + "/mkfs.fat", fs::perms::owner_all);
  const std::string path = std::getenv("PATH");
  ::setenv("PATH", (decoy + ":" + path).c_str(), 1);
  linuxhost::Command(IDC_FORMAT);
  ::setenv("PATH", path.c_str(), 1);
  EXPECT_FALSE(card.Exists(63, "OLD.TXT"));
  EXPECT_EQ(card.Bytes(63 * 512 + 54, 5), "FAT16");
  card.ExpectClean(63, 131072 - 63);
  card.Keep();
}

TEST(LinuxProgram, CopyImageFolderCopiesOrMovesToThePc) {
  std::string stored;  // the folder of the copy before, kept in the user's settings file
  // A move whose folder is on the PC already, its photo kept there at the
  // question to replace it: that folder stays on the card, photo and all.
  enum class To { Copy, Move, MoveToAFullDisk, MoveKeepingThePcsPhoto };
  for (const To to : {To::Copy, To::Move, To::MoveToAFullDisk, To::MoveKeepingThePcsPhoto}) {
    SCOPED_TRACE(static_cast<int>(to));
    const bool move = to != To::Copy;
    const bool full = to == To::MoveToAFullDisk;
    const bool kept = to == To::MoveKeepingThePcsPhoto;
    Script script;
    const std::string addOn = linux_cards::StartProgram(script);
    LoopCard card(64 * linux_cards::kMb);
    const std::string picture = full ? std::string(256 * 1024, 'p') : "picture";
    MakeOnePartitionCard(card, 131072, {{"DCIM/100CAMRA/IMG_0001.JPG", picture}, {"DCIM/INDEX.DAT", "index"}});
    linux_cards::InsertCard(card.Device());
    const std::string destination =
        linuxhost::TheUser().home + (full ? "/Full" : kept ? "/Pictures/kept" : move ? "/Pictures/moved" : "/Pictures/copied");
    if (full) {  // a disk with no room for the picture
      fs::create_directories(destination);
      linux_cards::Run({"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", destination});
      script.Box("Error", "Cannot write " + destination + "/100CAMRA/IMG_0001.JPG: the disk is full or refuses it. Nothing more was copied.", host::kIdOk);
    }
    if (kept) {
      fs::create_directories(destination + "/100CAMRA");
      std::ofstream(destination + "/100CAMRA/IMG_0001.JPG") << "the PC's";
      script.Box("Confirm", "Replace " + destination + "/100CAMRA/IMG_0001.JPG?", host::kIdNo);
    }
    std::string windows;
    std::string refusal;
    ASSERT_TRUE(linuxhost::ToWindowsPath(destination, windows, refusal)) << refusal;
    script.Dialog("TODIR", [&](linuxhost::Dialog& dialog) {
      EXPECT_EQ(dialog.Text(IDC_DESTINATION), stored);
      dialog.Type(IDC_DESTINATION, windows);
      if (move) dialog.Click(IDC_DELETE_AFTER_COPY);
      dialog.Click(IDC_EXIT);
    });
    linuxhost::Command(IDC_COPY_IMAGES);
    {
      std::ifstream copied(destination + "/100CAMRA/IMG_0001.JPG");
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copied), {}), full ? "" : kept ? "the PC's" : picture);
    }
    EXPECT_FALSE(fs::exists(destination + "/INDEX.DAT"));  // not an image folder
    EXPECT_EQ(card.Exists(63, "DCIM/100CAMRA/IMG_0001.JPG"), !move || full || kept);  // nothing moved is lost
    EXPECT_TRUE(card.Exists(63, "DCIM/INDEX.DAT"));
    EXPECT_EQ(script.opened, full ? std::vector<std::string>{} : std::vector<std::string>{destination});
    if (full) ::umount2(destination.c_str(), 0);
    card.ExpectClean(63, 131072 - 63);
    stored = windows;
  }
}

// Names a card may hold but no tool may be given: a folder of DCIM that
// names the card's root LYRE, a file inside an image folder that climbs
// out, a name with a line break. Each entry is skipped with its name said,
// and stays on the card; the other folders are moved.
TEST(LinuxProgram, HostileNamesOnTheCardAreSkippedAndStay) {
  struct Row {
    const char* file;         // put on the card, with a long name of seven characters
    const char* placeholder;  // in it, renamed on the card to
    const char* hostile;      // seven others
    const char* shown;
    const char* stays;        // on the card
  };
  for (const Row& row : {Row{"DCIM/xYzWvUt/F.JPG", "xYzWvUt", "../LYRE", "../LYRE", "LYRE/LYRE.BIN"},
                         Row{"DCIM/100CAMRA/qWeRtYu", "qWeRtYu", "../../E", "100CAMRA/../../E", "DCIM/100CAMRA"},
                         Row{"DCIM/aSdFgHj/F.JPG", "aSdFgHj", "1\n::/D*", "1?::/D*/", "DCIM/ASDFGHJ/F.JPG"}}) {
    SCOPED_TRACE(row.hostile);
    Script script;
    linux_cards::StartProgram(script);
    LoopCard card(64 * linux_cards::kMb);
    MakeOnePartitionCard(card, 131072, {{"LYRE/LYRE.BIN", "add-on"}, {"DCIM/200GOOD/IMG.JPG", "good"},
                                        {row.file, "x"}});
    {  // the long name's characters, in its directory entry (UTF-16: five, then two more)
      std::string image = card.Bytes(0, 64 * linux_cards::kMb);
      std::string utf16;
      for (std::size_t i = 0; i < 5; ++i) utf16 += std::string{row.placeholder[i], '\0'};
      const std::size_t at = image.find(utf16);
      ASSERT_NE(at, std::string::npos);
      std::fstream file(card.Image(), std::ios::in | std::ios::out | std::ios::binary);
      for (std::size_t i = 0; i < 7; ++i) {
        file.seekp(static_cast<std::streamoff>(at + (i < 5 ? 2 * i : 13 + 2 * (i - 5))));
        file.put(row.hostile[i]);
      }
    }
    linux_cards::InsertCard(card.Device());
    const std::string destination = linuxhost::TheUser().home + "/Hostile";
    std::string windows;
    std::string refusal;
    ASSERT_TRUE(linuxhost::ToWindowsPath(destination, windows, refusal)) << refusal;
    script.Dialog("TODIR", [&](linuxhost::Dialog& dialog) {
      dialog.Type(IDC_DESTINATION, windows);
      dialog.Click(IDC_DELETE_AFTER_COPY);
      dialog.Click(IDC_EXIT);
    });
    script.Box("Error", std::string("The name \"") + row.shown + "\" on the SD Card cannot be passed on as it is: it "
               "was skipped, and nothing of it was copied or deleted.", host::kIdOk);
    linuxhost::Command(IDC_COPY_IMAGES);
    EXPECT_TRUE(card.Exists(63, row.stays));
    EXPECT_FALSE(card.Exists(63, "DCIM/200GOOD"));
    std::vector<std::string> copied;
    for (const auto& entry : fs::directory_iterator(destination)) copied.push_back(entry.path().filename());
    EXPECT_EQ(copied, std::vector<std::string>{"200GOOD"});
    fs::remove_all(destination);
    card.ExpectClean(63, 131072 - 63);
  }
}

// ---- The card's lock switch, the system's mounts, the card pulled out ------------------

TEST(LinuxProgram, AReadOnlyCardStopsTheCommandsAsALockedOne) {
  struct Row {
    unsigned command;
    const char* box;  // the one box the command shows
  };
  for (const Row& row : {Row{IDC_NEW_INSTALL, nullptr}, Row{IDC_FORMAT, nullptr},
                         Row{IDC_MAKE_BOOTABLE, "Cannot write boot sector! Maybe write protected."}}) {
    SCOPED_TRACE(row.command);
    Script script;
    linux_cards::StartProgram(script);
    LoopCard card(64 * linux_cards::kMb, true);
    MakeOnePartitionCard(card, 131072, {{"OLD.TXT", "old"}});
    const std::size_t before = card.Fingerprint();
    linux_cards::InsertCard(card.Device());
    if (row.box != nullptr) script.Box("Error", row.box, host::kIdOk);
    linuxhost::Command(row.command);
    EXPECT_EQ(card.Fingerprint(), before);
    // Where no box says why, the card's refusal does (the terminal's last line).
    const std::string fault = "the card refused to write 512 bytes at byte 32256 of " + card.Device() + " (";
    EXPECT_EQ(linuxhost::CardFault().substr(0, fault.size()), fault);
  }
}

// A card whose whole disk holds a file system the system mounted: busy, it
// is left as it is, with the locked-volume message; idle, it is unmounted,
// then made.
TEST(LinuxProgram, AMountedCardIsUnmountedUnlessBusy) {
  enum class Mounted { Busy, Idle, HoldsTheAddOn, HoldsTheAddOnBehindALink };
  for (const Mounted mounted : {Mounted::Busy, Mounted::Idle, Mounted::HoldsTheAddOn, Mounted::HoldsTheAddOnBehindALink}) {
    SCOPED_TRACE(static_cast<int>(mounted));
    const bool busy = mounted == Mounted::Busy;
    const bool idle = mounted == Mounted::Idle;
    Script script;
    const std::string addOn = linux_cards::StartProgram(script);
    LoopCard card(64 * linux_cards::kMb);
    if (!card.Loop()) GTEST_SKIP() << "no loop device: nothing the system could mount";
    // No lazy initialisation: the kernel writes nothing by itself meanwhile.
    linux_cards::Run({"mkfs.ext4", "-q", "-E", "lazy_itable_init=0,lazy_journal_init=0", card.Device()});
    const fs::path target = addOn + "/mounted";
    fs::create_directories(target);
    // noatime: the program reading its files there must not have the kernel
    // write their access times to the card (a journal commit that, on a busy
    // machine, lands between the two fingerprints).
    linux_cards::Run({"mount", "-o", "noatime", card.Device(), target.string()});
    const int open = ::open((target / "open.txt").c_str(), O_CREAT | O_RDWR, 0644);
    if (!busy) ::close(open);
    const bool holdsTheAddOn = mounted == Mounted::HoldsTheAddOn || mounted == Mounted::HoldsTheAddOnBehindALink;
    if (holdsTheAddOn) {  // the program's files on the card itself
      for (const auto& entry : fs::directory_iterator(addOn)) {
        if (entry.path() != target) fs::copy(entry.path(), target / entry.path().filename(), fs::copy_options::recursive);
      }
      const fs::path link = addOn + "-link";  // a path outside the mount that leads into it
      if (mounted == Mounted::HoldsTheAddOnBehindALink) fs::create_symlink(target, link);
      std::string refusal;
      EXPECT_TRUE(linuxhost::SetAddOnFolder(mounted == Mounted::HoldsTheAddOn ? target : link, refusal)) << refusal;
    }
    ::sync();
    const std::size_t before = card.Fingerprint();
    linux_cards::InsertCard(card.Device());
    if (busy) script.Box("Error", kInUse, host::kIdOk);
    // The card holds the program's own files: refused at the first write.
    if (holdsTheAddOn) script.Box("Error", "Run the installer from the PC, not from the SD Card!", host::kIdOk);
    if (idle) {
      script.Dialog("INSTSET", Choose({}));
      script.Box("Confirm", "Need to re-create one partition.\nContinue to install VORN ? ", host::kIdYes);
      RemoveAndReinsert(script);
      script.Box("Confirm", kQuick, host::kIdYes);
      script.Box("Finish", kInstalled, host::kIdOk);
    }
    linuxhost::Command(IDC_NEW_INSTALL);
    const std::size_t after = card.Fingerprint();
    const bool stillMounted = ::umount2(target.c_str(), 0) == 0 || errno == EBUSY;
    if (!idle) {
      ::close(open);
      if (busy && ::umount2(target.c_str(), 0) != 0) ADD_FAILURE() << "still busy";
      EXPECT_TRUE(stillMounted);
      EXPECT_EQ(after, before);
    } else {
      EXPECT_FALSE(stillMounted);
      EXPECT_EQ(card.Entries(), std::vector<std::string>{Entry(249, 131072 - 249, "6")});
      EXPECT_EQ(card.File(249, "DISKBOOT.BIN"), "boot file");
    }
  }
}

// The card leaves the reader while the program waits for it to come back:
// the command ends as the Windows program's do.
TEST(LinuxProgram, ACardPulledAtTheReinsertPromptEndsTheCommand) {
  Script script;
  linux_cards::StartProgram(script);
  LoopCard card(64 * linux_cards::kMb);
  if (!card.Loop()) GTEST_SKIP() << "no loop device to pull";
  linux_cards::InsertCard(card.Device());
  script.Dialog("INSTSET", Choose({}));
  script.Box("Confirm", "Need to re-create one partition.\nContinue to install VORN ? ", host::kIdYes);
  RemoveAndReinsert(script, [&card] { card.Detach(); });
  RemoveAndReinsert(script);
  script.Box("Error", kCardChanged, host::kIdOk);
  linuxhost::Command(IDC_NEW_INSTALL);
  EXPECT_EQ(card.Entries(), std::vector<std::string>{Entry(249, 131072 - 249, "6")});  // the table, no more
  EXPECT_FALSE(card.Exists(249, "DISKBOOT.BIN"));
}

// A stop (Ctrl-C) anywhere in New Install: the step in hand ends (the size
// test puts its samples back), and no later step writes anything: before
// the table is written the card stays byte for byte as it was; after it,
// the table alone is new. No box after the stop carries the command on.
TEST(LinuxProgram, AStopEndsNewInstallAndNothingLaterIsWritten) {
  enum class Left { Untouched, NewTableOnly, FormattedOnly, BootPartitionOnly };
  struct Row {
    const char* name;
    bool two;
    const char* stopAt;  // the box whose answer comes with the stop, or the first
                         // progress line of that text after the boxes before it
    Left left;
  };
  constexpr char kSizeTest[] = "Testing SD Card : 50 %";
  constexpr char kFormatted[] = "Formatting SD Card : 100 %";
  for (const Row& row : {Row{"at the erase question", false, "Need to re-create", Left::Untouched},
                         Row{"during the size test", false, kSizeTest, Left::Untouched},
                         Row{"at Remove", false, "Remove SD Card!", Left::NewTableOnly},
                         Row{"at Re-insert", false, "Re-insert SD Card!", Left::NewTableOnly},
                         Row{"at the quick format question", false, kQuick, Left::NewTableOnly},
                         Row{"as mkfs.fat ends", false, kFormatted, Left::FormattedOnly},
                         Row{"two: at the large partition's format", true, kQuick, Left::BootPartitionOnly}}) {
    SCOPED_TRACE(row.name);
    Script script;
    linux_cards::StartProgram(script);
    const std::uint64_t sectors = row.two ? k64GbSectors : 131072;
    LoopCard card(sectors * 512);
    // A used card of two partitions (both layouts re-create the table).
    card.Partition({{0x06, 63, 65473}, {0x06, 65536, 65536}});
    card.Format(63, 65473, 16);
    card.Put(63, "DCIM/100CANON/IMG_0001.JPG", std::string(100000, 'p'));
    const std::size_t before = card.Fingerprint();
    const std::size_t afterTable = std::hash<std::string>()(card.Bytes(512, 4 * linux_cards::kMb));
    linux_cards::InsertCard(card.Device());
    // The steps in their order (boxes, and progress lines with no caption);
    // the user's part in each up to the stop.
    const std::string erase = std::string("Need to re-create ") + (row.two ? "two partitions" : "one partition") +
                              ".\nContinue to install VORN ? ";
    std::vector<std::tuple<const char*, std::string, int>> steps = {
        {"Confirm", erase, host::kIdYes},
        {"", kSizeTest, 0},
        {"Remove", "Remove SD Card! Then press OK button", host::kIdOk},
        {"Re-insert", "Re-insert SD Card! Then press OK button", host::kIdOk},
        {"Confirm", kQuick, host::kIdYes},
        {"", kFormatted, 0}};
    script.Dialog("INSTSET", Choose({row.two ? IDC_TWO_PARTITIONS : IDC_ONE_PARTITION}));
    int boxes = 0, answered = 0;
    for (const auto& [caption, text, answer] : steps) {
      const bool here = text.rfind(row.stopAt, 0) == 0;
      if (*caption != '\0') {
        ++boxes;
        script.Box(caption, text, answer, [&script, &answered, here] {
          ++answered;
          script.interrupted = script.interrupted || here;
        });
      }
      if (here) break;
    }
    script.progress = [&](const std::string& line) {
      if (line == row.stopAt && answered == boxes) script.interrupted = true;
    };
    linuxhost::Command(IDC_NEW_INSTALL);
    EXPECT_TRUE(script.interrupted);
    switch (row.left) {
      case Left::Untouched: EXPECT_EQ(card.Fingerprint(), before); break;
      case Left::NewTableOnly:
        EXPECT_EQ(card.Entries(), std::vector<std::string>{Entry(249, sectors - 249, "6")});
        EXPECT_EQ(std::hash<std::string>()(card.Bytes(512, 4 * linux_cards::kMb)), afterTable);
        break;
      case Left::FormattedOnly:
        EXPECT_EQ(card.Entries(), std::vector<std::string>{Entry(249, sectors - 249, "6")});
        card.ExpectClean(249, sectors - 249);
        EXPECT_NE(card.Bytes(249 * 512 + 64, 8), "BOOTDISK");
        EXPECT_FALSE(card.Exists(249, "DISKBOOT.BIN"));
        break;
      case Left::BootPartitionOnly:
        EXPECT_EQ(card.Bytes(512 + 64, 8), "BOOTDISK");
        EXPECT_TRUE(card.Exists(1, "DISKBOOT.BIN"));
        EXPECT_NE(card.Bytes(4097 * 512 + 82, 8), "FAT32   ");
        break;
    }
  }
}

// ---- Bad input ---------------------------------------------------------------------

// A name the card cannot hold as it is, or what is no file nor folder (a
// pipe would be read for ever, a link to a folder may loop): the copy says
// so, and nothing of that folder lands on the card. A copy the card cannot
// take says why: it is full, or it was pulled out as the copy began.
TEST(LinuxProgram, NamesThatWouldBeMangledAreRefused) {
  enum class Kind { File, Pipe, LinkUp, Large, Pulled };
  struct Row {
    const char* name;
    const char* says;
    Kind kind;
  };
  const char* neither = " is neither a file nor a folder (a pipe, a device, a socket, or a link to a folder or to nothing)";
  for (const Row& row : {Row{"a:b.txt", " holds a character that an SD card cannot hold", Kind::File},
                         Row{"\xff.txt", " cannot be written in this system's encoding", Kind::File},
                         Row{"PIPE", neither, Kind::Pipe}, Row{"LOOP", neither, Kind::LinkUp},
                         Row{"BIG.BIN", " onto the SD Card: the card is full or refuses it. Nothing more was copied.", Kind::Large},
                         Row{"GONE.BIN", " onto the SD Card: the card was removed. Nothing more was copied.", Kind::Pulled}}) {
    SCOPED_TRACE(row.name);
    Script script;
    const std::string addOn = linux_cards::StartProgram(script);
    const std::string path = addOn + "/LYRE/" + row.name;
    if (row.kind == Kind::File) std::ofstream(path) << "x";
    if (row.kind == Kind::Pipe) ::mkfifo(path.c_str(), 0600);
    if (row.kind == Kind::LinkUp) fs::create_directory_symlink("..", path);
    if (row.kind == Kind::Large) std::ofstream(path).close(), fs::resize_file(path, 70 * linux_cards::kMb);
    LoopCard card(64 * linux_cards::kMb);
    MakeOnePartitionCard(card, 131072, {});
    linux_cards::InsertCard(card.Device());
    const bool tried = row.kind == Kind::Large || row.kind == Kind::Pulled;
    if (row.kind == Kind::Pulled && !card.Loop()) continue;  // no reader to pull it from
    script.progress = [&card, &row](const std::string& line) {  // out as LYRE starts: the reader holds no medium
      if (row.kind != Kind::Pulled || line.rfind("Copying", 0) != 0 || line.find("LYRE") == std::string::npos) return;
      fs::resize_file(card.Image(), 0);
      linux_cards::Run({"losetup", "-c", card.Device()});
    };
    const std::string what = row.kind == Kind::File ? std::string("The name \"") + row.name + "\"" : "\"" + path + "\"";
    script.Box("Error", tried ? "Cannot copy " + addOn + "/LYRE" + row.says : what + row.says + ": nothing was copied.",
               host::kIdOk);
    linuxhost::Command(IDC_COPY_VORN);
    if (row.kind == Kind::Pulled) continue;
    EXPECT_EQ(card.File(63, "DISKBOOT.BIN"), "boot file");
    EXPECT_FALSE(card.Exists(63, row.kind == Kind::Large ? "LYRE/BIG.BIN" : "LYRE"));
    std::string refusal;  // named as the add-on's folder, it is refused before anything is written
    EXPECT_EQ(linuxhost::SetAddOnFolder(addOn, refusal), row.kind == Kind::File || row.kind == Kind::Large);
  }
}

std::string RootDisk() {
  struct stat root {};
  ::stat("/", &root);
  const fs::path device = fs::canonical("/sys/dev/block/" + std::to_string(major(root.st_dev)) + ":" +
                                        std::to_string(minor(root.st_dev)));
  const fs::path disk = fs::exists(device / "partition") ? device.parent_path() : device;
  return "/dev/" + disk.filename().string();
}

TEST(LinuxProgram, BadNamesAreRefusedWithAClearMessage) {
  Script script;
  const std::string addOn = linux_cards::StartProgram(script);
  const std::string tiny = addOn + "/tiny.img";
  std::ofstream(tiny) << std::string(1024, '\0');
  struct Row {
    std::string path;
    const char* says;
  };
  for (const Row& row : {Row{addOn + "/missing.img", "no such file or device"},
                         Row{addOn, "is a folder, not a card"},
                         Row{"/dev/null", "neither a block device nor an image file"},
                         Row{tiny, "too small for any partition layout"},
                         Row{RootDisk(), "holds what the system needs (/)"}}) {
    SCOPED_TRACE(row.path);
    std::string refusal;
    EXPECT_FALSE(linuxhost::NameCard(row.path, refusal));
    EXPECT_NE(refusal.find(row.says), std::string::npos) << refusal;
  }
  linuxhost::Tick();
  EXPECT_TRUE(linuxhost::Drives().empty());
}

}  // namespace
