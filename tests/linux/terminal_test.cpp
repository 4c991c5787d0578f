// vorninst itself, as its users meet it: scripted commands through their
// exit statuses and outputs, bad usage, and the window in a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "disk/card_size.h"
#include "linux/process.h"
#include "linux_card.h"

namespace {
namespace fs = std::filesystem;
using linux_cards::LoopCard;

constexpr char kProgram[] = VORN_PROGRAM;
constexpr std::uint64_t kCardSectors = 131072;

std::vector<std::string> Environment() {
  return {"HOME=" + linux_cards::TestHome(), "XDG_CONFIG_HOME=", "SUDO_USER="};
}

std::string Read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// The program in a pseudo-terminal: what it shows is waited for, keys are
// typed, Ctrl-C among them.
class Pty {
 public:
  // The first argument is the program run (the program itself, or a tool
  // that runs it); settings add to the environment.
  explicit Pty(const std::vector<std::string>& arguments, std::vector<std::string> settings = {}) {
    const winsize size{40, 100, 0, 0};
    pid_ = ::forkpty(&fd_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      const std::vector<std::string> base = Environment();
      settings.insert(settings.begin(), base.begin(), base.end());
      for (const std::string& setting : settings) ::putenv(const_cast<char*>(setting.c_str()));
      std::vector<char*> argv;
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      ::execv(arguments[0].c_str(), argv.data());
      ::_exit(127);
    }
  }
  pid_t Pid() const { return pid_; }
  ~Pty() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (fd_ >= 0) ::close(fd_);
  }

  // Until the text shows (after what was waited for before).
  void Expect(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shown_.find(text, seen_) == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd wait{fd_, POLLIN, 0};
      std::array<char, 4096> chunk{};
      if (::poll(&wait, 1, 200) <= 0) continue;
      const ssize_t got = ::read(fd_, chunk.data(), chunk.size());
      if (got <= 0) break;
      shown_.append(chunk.data(), static_cast<std::size_t>(got));
    }
    const std::size_t at = shown_.find(text, seen_);
    if (at == std::string::npos && pid_ > 0) ::kill(pid_, SIGKILL);  // the test goes no further
    ASSERT_NE(at, std::string::npos) << "not shown: " << text << "\n--- the terminal:\n" << shown_.substr(seen_);
    seen_ = at + text.size();
  }
  const std::string& Shown() const { return shown_; }
  void Type(const std::string& keys) { ASSERT_EQ(::write(fd_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
  // Its exit status; -1 when it did not end by itself within 30 s.
  int Wait() {
    int status = 0;
    for (int tenths = 0; ::waitpid(pid_, &status, WNOHANG) == 0; ++tenths) {
      if (tenths == 300) ::kill(pid_, SIGKILL);
      ::usleep(100000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string shown_;
  std::size_t seen_ = 0;
};

struct Invocation {
  std::vector<std::string> arguments;
  int status;
  std::string out;  // shown on standard output
  std::string err;  // on standard error
  bool asNobody = false;
  std::string absent = {};  // shown nowhere
  std::vector<std::string> through = {};  // a tool that runs it (strace)
};

void ExpectRun(const Invocation& run, const std::vector<std::string>& before) {
  std::vector<std::string> arguments = {kProgram};
  if (run.asNobody) arguments.insert(arguments.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  arguments.insert(arguments.begin(), run.through.begin(), run.through.end());
  arguments.insert(arguments.end(), before.begin(), before.end());
  arguments.insert(arguments.end(), run.arguments.begin(), run.arguments.end());
  const linuxhost::ToolResult result = linuxhost::RunTool(arguments, Environment());
  std::string name;
  for (const std::string& argument : run.arguments) name += argument + " ";
  SCOPED_TRACE(name);
  EXPECT_EQ(result.exitCode, run.status) << result.output << result.errors;
  EXPECT_NE(result.output.find(run.out), std::string::npos) << result.output;
  EXPECT_NE(result.errors.find(run.err), std::string::npos) << result.errors;
  EXPECT_EQ(result.errors.find("Vista"), std::string::npos);  // a refusal names its one cause
  for (const std::string& shown : {result.output, result.errors}) {
    EXPECT_EQ(shown.find(":\\"), std::string::npos) << shown;  // paths in Linux form
    if (!run.absent.empty()) {
      EXPECT_EQ(shown.find(run.absent), std::string::npos) << shown;
    }
  }
}

// Every kind of command, one after the other on one card, as a script
// would run them: their exit statuses, what they show, and the card.
TEST(Terminal, ScriptedCommandsSayHowTheyEnded) {
  LoopCard card(kCardSectors * 512);
  const std::string home = linux_cards::TestHome();
  const std::vector<std::string> before = {"--card", card.Device(), "--addon", linux_cards::MakeAddOnFolder()};
  const std::string drive = "D:  " + card.Device();
  const Invocation runs[] = {
      {{"list"}, 0, drive, ""},
      {{"inspect"}, 0, "Total capacity : 64 MB", ""},
      {{"new-install", "--camera", "left", "--layout", "one", "--yes"}, 1, "", "give --quick or --full (or run it in "
       "a terminal, which asks). Nothing was done."},
      {{"new-install", "--camera", "left", "--layout", "one", "--quick", "--yes"}, 0, "Install finished!", ""},
      {{"create-partition", "--layout", "one"}, 0, "Remove and re-insert SD Card!", ""},
      {{"format", "--quick"}, 1, "[Y]es [N]o [C]ancel: Cancel (no answer)", "give --fat or --fat32"},
      {{"format", "--fat", "--full"}, 0, "63 MB (FAT16) (Card is probably not bootable!)", ""},
      {{"make-bootable"}, 0, "(Bootable card !!!)", ""},
      {{"swap", "--yes"}, 1, "", "does not offer \"Swap Partitions\""},
      {{"copy-addon"}, 0, "Folder Open: D:/", ""},
      {{"dump"}, 0, "--- Finish ---\nWrite to ~/DUMP.BIN \n", ""},
      {{"version-up", "--camera", "right"}, 0, "Version Up finished!", ""},
      {{"copy-images", "--to", home + "/a-file", "--move"}, 1, "", home + "/a-file: it is not a folder. Nothing was copied."},
      {{"copy-images", "--to", "~/" + std::string(300, 'p'), "--move"}, 2, "", "it takes 259 at most"},
      {{"copy-images", "--to", "~/Pictures", "--move"}, 0, "Folder Open: " + home + "/Pictures", ""},
  };
  std::ofstream(home + "/a-file") << "not a folder";
  for (const Invocation& run : runs) ExpectRun(run, before);
  // A dump the PC cannot hold: the error before the notice decides.
  // (/dev/full mounted over it: a link there would not be followed.)
  fs::copy_file(home + "/DUMP.BIN", home + "/DUMP.OLD");
  if (linux_cards::Succeeds({"mount", "--bind", "/dev/full", home + "/DUMP.BIN"})) {
    ExpectRun({{"dump"}, 1, "Write to ~/DUMP.BIN", "--- Error ---\nCannot write boot sector! Maybe write protected.\n[O]K: OK\n"},
              before);
    linux_cards::Run({"umount", home + "/DUMP.BIN"});
  }
  // Root's own run (no sudo) follows no link either: the file it leads to stays.
  fs::remove(home + "/DUMP.BIN");
  fs::create_symlink(home + "/a-file", home + "/DUMP.BIN");
  ExpectRun({{"dump"}, 1, "", "dump ended early"}, before);
  EXPECT_EQ(Read(home + "/a-file"), "not a folder");
  fs::rename(home + "/DUMP.OLD", home + "/DUMP.BIN");
  EXPECT_EQ(card.Entries(), std::vector<std::string>{"start=249,size=130823,type=6"});
  EXPECT_EQ(card.File(249, "DISKBOOT.BIN"), "boot file");
  EXPECT_EQ(card.File(249, "LYRE/LYRE.CFG"), "config right");
  EXPECT_FALSE(card.Exists(249, "DCIM/100TEST"));  // moved
  EXPECT_EQ(Read(home + "/Pictures/100TEST/README.TXT"), "dcim");
  EXPECT_EQ(Read(home + "/DUMP.BIN"), card.Bytes(249 * 512, 512));
  card.ExpectClean(249, kCardSectors - 249);
}

// A partition node of the machine's, when it has one (these machines make
// none for loop devices).
std::string SomePartition() {
  for (const auto& entry : fs::directory_iterator("/sys/class/block")) {
    const fs::path node = "/dev/" + entry.path().filename().string();
    if (fs::exists(entry.path() / "partition") && fs::exists(node)) return node;
  }
  return {};
}

TEST(Terminal, BadUsageEndsWithTwoAndNoRootWithOne) {
  LoopCard card(kCardSectors * 512);
  const std::size_t before = card.Fingerprint();
  const std::string pipes = linux_cards::MakeAddOnFolder();
  ::mkfifo((pipes + "/LYRE/PIPE").c_str(), 0600);
  std::vector<Invocation> runs = {
      {{"frobnicate"}, 2, "", "unknown command \"frobnicate\""},
      {{"--addon", pipes, "list"}, 2, "", "LYRE/PIPE\" is neither a file nor a folder"},
      {{"format", "--quick", "--fat"}, 2, "", "name it with --card PATH or --drive E:"},
      {{"--card", "/nonexistent/card.img", "inspect"}, 2, "", "no such file or device"},
      {{"--card", card.Device(), "--drive", "Q:", "format", "--quick"}, 2, "", "there is no drive Q:"},
      {{"--card", card.Device(), "list", "--quick"}, 2, "", "list does not take --quick"},
      {{"--card"}, 2, "", "--card needs a value"},
      {{"--card", card.Device(), "list"}, 1, "", "block devices need root; run it with sudo.", true},
  };
  if (!card.Loop() || ::geteuid() != 0) runs.pop_back();  // no block device, or no root to give up
  // Behind a folder closed to the user; refused by the system (a container's
  // device rules, as strace makes it), where sudo is no help to root.
  const std::string closed = linux_cards::TestHome() + "/closed";
  fs::create_directories(closed);
  fs::permissions(closed, fs::perms::owner_all);
  const std::vector<std::string> eperm = {"strace", "-qq", "-o", "/dev/null", "-P", card.Device(), "-e",
                                          "inject=openat:error=EPERM", "env", "ASAN_OPTIONS=detect_leaks=0"};
  const std::string refused = card.Device() + ": the system refused it (Operation not permitted)";
  if (::geteuid() == 0 && card.Loop() && !linuxhost::FindTool("strace").empty()) {
    runs.insert(runs.end(), {{{"--card", closed + "/card.img", "inspect"}, 1, "", "card.img: you may not read or write it.", true},
                             {{"--addon", closed, "list"}, 2, "", "closed\": you may not read or write it.", true},
                             {{"--card", card.Device(), "inspect"}, 1, "", refused + ".", false, "sudo", eperm},
                             {{"--card", card.Device(), "inspect"}, 1, "", refused + "; run it with sudo.", true, "", eperm}});
  }
  const std::string partition = SomePartition();
  if (!partition.empty()) runs.push_back({{"--card", partition, "inspect"}, 2, "", "is a partition of"});
  if (partition.empty()) std::cout << "No partition node on this machine: naming one is not tried\n";
  for (const Invocation& run : runs) ExpectRun(run, {});
  EXPECT_EQ(card.Fingerprint(), before);
}

// list names a volume as the commands reach it: a logical partition by its
// own node (from 5, not its extended partition's), else by its place.
TEST(Terminal, ListNamesTheVolumeTheCommandsActOn) {
  LoopCard card(kCardSectors * 512);
  card.Partition({{0x05, 2048, 120000}, {0x06, 4096, 100000}});
  card.Format(4096, 100000, 16);
  for (const std::string shown : {" @ 2097152  ", "p5  "}) {
    if (shown[0] == 'p' && !(card.Loop() && linux_cards::Succeeds({"partx", "-a", card.Device()}))) GTEST_SKIP() << "no nodes";
    ExpectRun({{"list"}, 0, "D:  " + card.Device() + shown, ""}, {"--card", card.Device()});
  }
  linux_cards::Run({"partx", "-d", card.Device()});
}

// Under sudo or pkexec (which clears the environment), what the program
// writes on the PC is the user's, and never goes through a link the user
// planted: a root-only file stays as it was.
TEST(Terminal, UnderSudoOrPkexecThePcFilesAreTheUsersAndNoLinkIsFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "no root to run as sudo would";
  const std::string home = linux_cards::TestHome() + "/sudo";
  const char* name = "vorninst-test";
  if (!linux_cards::Succeeds({"id", name})) linux_cards::Run({"useradd", "--system", "--no-create-home", name});
  linux_cards::Run({"usermod", "--home", home, name});
  // A folder the user may write only through a group of theirs that is not
  // their own group.
  const char* group = "vorninst-share";
  const std::string shared = linux_cards::TestHome() + "/shared";
  if (!linux_cards::Succeeds({"getent", "group", group})) linux_cards::Run({"groupadd", "--system", group});
  linux_cards::Run({"usermod", "-a", "-G", group, name});
  fs::create_directories(shared);
  linux_cards::Run({"chown", std::string("root:") + group, shared});
  fs::permissions(shared, fs::perms::owner_all | fs::perms::group_all);
  linux_cards::Run({"chmod", "o+x", fs::path(linux_cards::TestHome()).parent_path(), linux_cards::TestHome()});
  const std::string uid = linux_cards::Run({"id", "-u", name}), gid = linux_cards::Run({"id", "-g", name});
  const std::vector<std::string> sudo = {"HOME=/root", "XDG_CONFIG_HOME=", std::string("SUDO_USER=") + name,
                                         "SUDO_UID=" + uid.substr(0, uid.size() - 1), "SUDO_GID=" + gid.substr(0, gid.size() - 1)};
  const std::vector<std::string> pkexec = {"HOME=/root", "XDG_CONFIG_HOME=", "SUDO_USER=", "SUDO_UID=", "SUDO_GID=",
                                           "PKEXEC_UID=" + uid.substr(0, uid.size() - 1)};
  LoopCard card(kCardSectors * 512);
  card.Partition({{0x06, 63, kCardSectors - 63}});
  card.Format(63, kCardSectors - 63, 16);
  card.Put(63, "DCIM/100TEST/IMG.JPG", "picture");
  const std::string victim = linux_cards::TestHome() + "/root-only";
  struct Row {
    const char* link;  // in the user's home, to the root-only file
    std::vector<std::string> command;
    int status;
  };
  for (const auto& elevated : {sudo, pkexec}) for (const Row& row : {Row{"DUMP.BIN", {"dump"}, 1}, Row{".config/vorninst/settings.new", {"copy-images", "--to", home + "/P", "--yes"}, 0},
                         Row{"P/100TEST/IMG.JPG", {"copy-images", "--to", home + "/P", "--move", "--yes"}, 1},
                         Row{nullptr, {"dump"}, 0}, Row{nullptr, {"copy-images", "--to", shared, "--yes"}, 0},
                         Row{nullptr, {"copy-images", "--to", home + "/New", "--yes"}, 0}}) {
    SCOPED_TRACE(elevated.back());
    fs::remove_all(home);
    std::ofstream(victim) << "secret";
    fs::permissions(victim, fs::perms::owner_read | fs::perms::owner_write);
    if (row.link != nullptr) {
      fs::create_directories(fs::path(home + "/" + row.link).parent_path());
      fs::create_symlink(victim, home + "/" + row.link);
    }
    fs::create_directories(home);
    linux_cards::Run({"chown", "-R", std::string(name) + ":", home});
    std::vector<std::string> arguments = {kProgram, "--card", card.Device()};
    arguments.insert(arguments.end(), row.command.begin(), row.command.end());
    const linuxhost::ToolResult result = linuxhost::RunTool(arguments, elevated);
    EXPECT_EQ(result.exitCode, row.status) << result.output << result.errors;
    EXPECT_EQ(Read(victim), "secret");
    EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_TRUE(card.Exists(63, "DCIM/100TEST/IMG.JPG"));
    // Every file and folder made is the user's.
    for (const auto& entry : fs::recursive_directory_iterator(home)) {
      EXPECT_EQ(linux_cards::Run({"stat", "-c", "%U", entry.path()}), std::string(name) + "\n") << entry.path();
    }
  }
  EXPECT_EQ(Read(home + "/New/100TEST/IMG.JPG"), "picture");
  EXPECT_EQ(Read(shared + "/100TEST/IMG.JPG"), "picture");
}

// Bytes at these offsets of an image, little-endian numbers as (offset, value, width).
void Patch(const std::string& image, const std::vector<std::array<std::uint64_t, 3>>& numbers) {
  std::fstream file(image, std::ios::in | std::ios::out | std::ios::binary);
  for (const auto& [offset, value, width] : numbers) {
    file.seekp(static_cast<std::streamoff>(offset));
    for (std::uint64_t i = 0; i < width; ++i) file.put(static_cast<char>(value >> (8 * i)));
  }
}

// Tables that lie: the program lists and inspects the card, each volume once.
TEST(Terminal, HostileTablesNeverCrashTheProgram) {
  constexpr std::uint64_t kHeader = 512;
  constexpr std::uint64_t kEbr = 2048 * 512;
  struct Row {
    const char* name;
    bool gpt;  // on a GUID table of sfdisk's
    std::vector<std::array<std::uint64_t, 3>> bytes;
  };
  const Row rows[] = {
      {"GUID entries of 4 GB each", true, {{kHeader + 80, 1024, 4}, {kHeader + 84, 0xFFFFFFFF, 4}}},
      {"GUID entries of 4 GB less 128 bytes", true, {{kHeader + 80, 1024, 4}, {kHeader + 84, 0xFFFFFF80, 4}}},
      {"an extended record that links to itself", false,
       {{446 + 4, 0x05, 1}, {446 + 8, 2048, 4}, {446 + 12, 100000, 4}, {510, 0xAA55, 2}, {kEbr + 446 + 4, 0x06, 1},
        {kEbr + 446 + 8, 63, 4}, {kEbr + 446 + 12, 20000, 4}, {kEbr + 462 + 4, 0x05, 1},
        {kEbr + 462 + 12, 100000, 4}, {kEbr + 510, 0xAA55, 2}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LoopCard card(kCardSectors * 512);
    if (row.gpt) linux_cards::Run({"sh", "-c", "echo 'label: gpt' | sfdisk -q '" + card.Image() + "'"});
    Patch(card.Image(), row.bytes);
    ExpectRun({{"inspect"}, 0, "Total capacity : 64 MB", ""}, {"--card", card.Device()});
    const linuxhost::ToolResult listed = linuxhost::RunTool({kProgram, "--card", card.Device(), "list"}, Environment());
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_NE(listed.output.find("D:  " + card.Device()), std::string::npos) << listed.output;
    EXPECT_EQ(listed.output.find("E:  "), std::string::npos) << listed.output;
  }
}

// The window in a terminal: a Cancel at the dialog and a Ctrl-C at a
// question leave the card as it was; then one New Install.
TEST(Terminal, TheWindowInATerminalMakesACard) {
  LoopCard card(kCardSectors * 512);
  const std::string blank(512, '\0');  // no table: the first thing New Install writes
  Pty terminal({kProgram, "--card", card.Device(), "--addon", linux_cards::MakeAddOnFolder()});
  const auto newInstall = [&terminal] {
    terminal.Expect("[3] New Install");
    terminal.Expect("look again: ");
    terminal.Type("3\n");
    terminal.Expect("--- Install Setting ---\r\nCamera Position \r\n    1 (*) Left");
    terminal.Expect("[O]K [C]ANCEL: ");
  };
  newInstall();
  terminal.Type("c\n");
  newInstall();
  terminal.Type("o\n");
  terminal.Expect("Need to re-create one partition.");
  terminal.Expect("[Y]es [N]o ");
  terminal.Type("\x03");
  terminal.Expect("No\r\n");
  EXPECT_EQ(card.Bytes(0, 512), blank);
  newInstall();
  terminal.Type("2\n");
  terminal.Expect("    2 (*) Right");
  terminal.Type("o\n");
  for (const char* shown : {"[Y]es [N]o ", "Remove SD Card!", "[O]K ", "Re-insert SD Card!", "[O]K ", "Quick Format ?",
                            "[Y]es [N]o ", "Install finished!", "[O]K "}) {
    terminal.Expect(shown);
    if (std::string(shown).back() == ' ') terminal.Type(shown[1] == 'Y' ? "y\n" : "\n");
  }
  terminal.Expect("(Bootable card !!!)");
  terminal.Expect("look again: ");
  terminal.Type("0\n");
  EXPECT_EQ(terminal.Wait(), 0);
  EXPECT_EQ(card.File(249, "LYRE/LYRE.CFG"), "config right");
  card.ExpectClean(249, kCardSectors - 249);
}

// A card of two FAT16 partitions, the first labelled PHOTOS with 64 KiB of
// files in it.
void MakeTwoPartitionCard(const LoopCard& card) {
  card.Partition({{0x06, 2048, 65536}, {0x06, 67584, kCardSectors - 67584}});
  card.Format(2048, 65536, 16);
  card.Format(67584, kCardSectors - 67584, 16);
  card.Put(2048, "IMG.JPG", std::string(65536, 'j'));
  linux_cards::Run({"mlabel", "-i", card.Image() + "@@" + std::to_string(2048 * 512), "::PHOTOS"});
}

// What a user is told before the card is erased, which drive a command
// works on afterwards, and cards that are only looked at.
TEST(Terminal, ScriptedCommandsTellTheCardAndKeepTheDrive) {
  LoopCard card(kCardSectors * 512);
  MakeTwoPartitionCard(card);
  LoopCard blank(kCardSectors * 512);
  const std::vector<std::string> before = {"--card", card.Device(), "--addon", linux_cards::MakeAddOnFolder()};
  const std::string first = card.Device() + " @ 1048576";  // no partition node is named
  const Invocation runs[] = {
      {{"list"}, 0, "D:  " + first + "  32 MB", "", false, card.Device() + "p1"},
      {{"list", "--help"}, 0, "Exit status: 0 when the drives were listed", "", false, "always"},
      {{"--card", blank.Device(), "inspect"}, 0, "F:  " + blank.Device() + "  64 MB", ""},
      {{"--drive", "E:", "format", "--quick", "--fat"}, 0, "Format works on " + card.Device() + " ", "", false, "D:  "},
      {{"--drive", "E:", "create-partition", "--layout", "one"}, 0,
       "64.0 MiB: partition 1 FAT16 \"PHOTOS\", 64.0 KiB used; partition 2 FAT16, 0 bytes used\n--- Confirm", ""},
  };
  for (const Invocation& run : runs) ExpectRun(run, before);
  if (::geteuid() != 0) return;  // no root to give up
  // An image the user may read but not write: looked at, never written.
  const std::string locked = "/tmp/vorn-locked-" + std::to_string(::getpid()) + ".img";
  fs::copy_file(card.Image(), locked, fs::copy_options::overwrite_existing);
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const std::string sum = linux_cards::Run({"sha256sum", locked});
  const Invocation looks[] = {
      {{"--card", locked, "list"}, 0, "D:  " + locked + " @ ", "", true},
      {{"--card", locked, "inspect"}, 0, "Total capacity : 64 MB", "", true},
      {{"--card", locked, "dump"}, 1, "", "you may not write this image file", true},
  };
  for (const Invocation& run : looks) ExpectRun(run, {});
  EXPECT_EQ(linux_cards::Run({"sha256sum", locked}), sum);
  fs::remove(locked);
}

// The window: what it answers to keys it does not offer, Esc, a Ctrl-C at
// its prompt, and the drive kept after a command.
TEST(Terminal, TheWindowAnswersEveryKey) {
  LoopCard card(kCardSectors * 512);
  MakeTwoPartitionCard(card);
  const std::size_t fingerprint = card.Fingerprint();
  struct Step {
    std::string type;
    std::string shown;
  };
  struct Session {
    std::vector<Step> steps;
    int status;
  };
  const Session sessions[] = {
      {{{"", "look again: "}, {"E:\n", "* E:"}, {"7\n", "Format works on " + card.Device()},
        {"", ": partition 2 FAT16, 0 bytes used\r\n"}, {"", "[Y]es [N]o [C]ancel "},
        {"x\n", "Type Y, N or C and Enter"}, {"\x1b\n", "  * E:"}, {"", "look again: "},
        {"q\n", "No such choice now: q"}, {"", "look again: "}, {"\x03", ""}},
       130},
      {{{"", "look again: "}, {"\x1b\n", ""}}, 0},
  };
  for (const Session& session : sessions) {
    Pty terminal({kProgram, "--card", card.Device(), "--addon", linux_cards::MakeAddOnFolder()});
    for (const Step& step : session.steps) {
      if (!step.type.empty()) terminal.Type(step.type);
      if (!step.shown.empty()) terminal.Expect(step.shown);
    }
    EXPECT_EQ(terminal.Wait(), session.status);
  }
  EXPECT_EQ(card.Fingerprint(), fingerprint);
}

// Ctrl-C, SIGTERM and SIGHUP while New Install tests the card's size, and
// SIGTERM while images are moved (read off the card, or written to the PC):
// the command ends with 130 soon after, the size test reads no sample more
// and puts back those it wrote, nothing else is written (the card byte for
// byte as it was), a
// move takes off the card only what it copied whole and leaves no part of
// the rest on the PC, and no tool or scratch folder of the program's is
// left. The card (or the PC) is slowed down by strace so that the signal
// lands inside the work.
TEST(Terminal, EveryStopSignalEndsTheCommandAndWritesNothingMore) {
  const std::string strace = linuxhost::FindTool("strace");
  if (strace.empty()) GTEST_SKIP() << "no strace to slow the card down";
  struct Row {
    const char* name;
    int signal;
    std::vector<std::string> command;
    const char* working;                 // shown while the work goes on
    std::vector<std::string> slowDown;   // strace's options
    std::string folder;                  // where a file is on its way when the signal comes
    const char* arriving;                // that file
    bool photoMoved;                     // the photo's folder was copied whole before the stop
    bool logged = false;                 // its output and errors into one pipe, as into a log
  };
  const std::string pictures = linux_cards::TestHome() + "/Stopped";
  const std::vector<std::string> newInstall = {"new-install", "--camera", "left", "--layout", "one", "--yes", "--quick"};
  const std::vector<std::string> slowReads = {"-e", "trace=pread64,pwrite64", "-e", "inject=pread64:delay_enter=40000"};
  const std::vector<std::string> slowWrites = {"-e", "trace=pread64,pwrite64", "-e", "inject=pwrite64:delay_enter=40000"};
  const std::string scratch = linux_cards::TestHome() + "/scratch";
  const Row rows[] = {
      {"Ctrl-C in the size test", SIGINT, newInstall, "Testing SD Card", slowReads, "", "", false},
      {"SIGTERM in the size test", SIGTERM, newInstall, "Testing SD Card", slowWrites, "", "", false},
      {"SIGHUP in the size test", SIGHUP, newInstall, "Testing SD Card", slowWrites, "", "", false},
      {"Ctrl-C in the size test, logged", SIGINT, newInstall, "Testing SD Card", slowWrites, "", "", false, true},
      {"SIGTERM in a move", SIGTERM, {"copy-images", "--to", pictures, "--move"}, "Moving: 0 of 2 files",
       {"-f", "-e", "trace=read", "-e", "inject=read:delay_enter=30000"}, scratch, "MVI_0002.MOV", true},
      {"SIGTERM in a move's copy to the PC", SIGTERM, {"copy-images", "--to", pictures, "--move"},
       "Moving: 0 of 2 files", {"-e", "trace=write", "-e", "inject=write:delay_enter=30000"}, pictures,
       "MVI_0002.MOV", true},
      // The photo's folder is on the PC whole when the signal comes: it
      // stays on the card all the same.
      {"SIGTERM as a moved folder's last file closes", SIGTERM, {"copy-images", "--to", pictures, "--move"},
       "Moving: 0 of 2 files",
       {"-P", pictures + "/100CANON/IMG_0001.JPG", "-e", "trace=close", "-e", "inject=close:delay_enter=2000000"},
       pictures, "IMG_0001.JPG", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    LoopCard card(kCardSectors * 512);
    card.Partition({{0x06, 63, 65473}, {0x06, 65536, 65536}});
    card.Format(63, 65473, 16);
    card.Put(63, "DCIM/100CANON/IMG_0001.JPG", std::string(100000, 'p'));
    card.Put(63, "DCIM/101CANON/MVI_0002.MOV", std::string(20 * linux_cards::kMb, 'm'));
    const std::size_t before = card.Fingerprint();
    fs::remove_all(pictures);
    fs::create_directories(pictures);
    fs::create_directories(scratch);
    const std::string trace = linux_cards::TestHome() + "/stop.trace";
    std::vector<std::string> arguments = {strace, "-qq", "-o", trace, "-e", "signal=INT,TERM,HUP"};
    arguments.insert(arguments.end(), row.slowDown.begin(), row.slowDown.end());
    if (row.logged) arguments.insert(arguments.end(), {"/bin/bash", "-c", "exec \"$@\" > >(cat) 2>&1", "bash"});
    arguments.insert(arguments.end(), {kProgram, "--card", card.Device(), "--addon", linux_cards::MakeAddOnFolder()});
    arguments.insert(arguments.end(), row.command.begin(), row.command.end());
    // The sanitizer's leak check cannot run under strace.
    Pty terminal(arguments, {"TMPDIR=" + scratch, "ASAN_OPTIONS=detect_leaks=0"});
    terminal.Expect(row.working);
    // A move is stopped while a file is on its way to the PC.
    const auto copying = [&row] { return !linuxhost::RunTool({"find", row.folder, "-name", row.arriving}).output.empty(); };
    for (int wait = 0; !row.folder.empty() && !copying() && wait < 300; ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // The program, which strace runs.
    ::kill(std::stoi(linux_cards::Run({"pgrep", "-P", std::to_string(terminal.Pid())})), row.signal);
    const auto signalled = std::chrono::steady_clock::now();
    terminal.Expect("was stopped; nothing was written after the stop.");
    const std::string afterStop = terminal.Shown().substr(terminal.Shown().find("Stopping:"));
    for (const char* progress : {"Testing SD Card", "Moving"}) EXPECT_EQ(afterStop.find(progress), std::string::npos) << afterStop;
    EXPECT_EQ(terminal.Wait(), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(5));
    EXPECT_TRUE(fs::is_empty(scratch));
    EXPECT_FALSE(linux_cards::Succeeds({"pgrep", "-f", "mcopy -i " + card.Device()}));
    if (row.command.front() == "new-install") {
      EXPECT_EQ(card.Fingerprint(), before);
      // The stop is seen at the next sample: after it no sample is read, and
      // the card takes only what puts back the samples written before it,
      // and sector 0.
      std::set<std::string> samples;  // as strace ends a read of one: ", <offset>) = "
      for (const std::uint64_t sector : disk::CardSizeSamples(kCardSectors)) {
        samples.insert(", " + std::to_string(sector * 512) + ") = ");
      }
      std::ifstream lines(trace);
      std::array<int, 2> writes{};  // before the signal, after it
      int samplesRead = 0;          // after it
      bool stopped = false;
      for (std::string line; std::getline(lines, line);) {
        stopped = stopped || line.rfind("--- SIG", 0) == 0;
        if (line.rfind("pwrite64(", 0) == 0) ++writes[stopped];
        const std::size_t end = line.rfind(") = ");
        if (!stopped || line.rfind("pread64(", 0) != 0 || end == std::string::npos) continue;
        const std::size_t start = line.rfind(", ", end);
        samplesRead += static_cast<int>(samples.count(line.substr(start, end + 4 - start)));
      }
      EXPECT_EQ(samplesRead, 0);
      EXPECT_LE(writes[1], writes[0] + 1) << "written before the stop: " << writes[0];
    } else {
      // The photo moved whole; the film stays, with nothing of it on the PC.
      EXPECT_EQ(Read(pictures + "/100CANON/IMG_0001.JPG"), std::string(100000, 'p'));
      EXPECT_EQ(card.Exists(63, "DCIM/100CANON/IMG_0001.JPG"), !row.photoMoved);
      EXPECT_EQ(card.File(63, "DCIM/101CANON/MVI_0002.MOV").size(), 20 * linux_cards::kMb);
      EXPECT_FALSE(fs::exists(pictures + "/101CANON/MVI_0002.MOV"));
    }
  }
}

// Ctrl-C typed while mcopy writes the add-on onto the card reaches the
// program alone, which ends the copy itself (SIGTERM): the terminal never
// signals the tool. strace makes mcopy read the add-on slowly, so that the
// key lands inside its work.
TEST(Terminal, CtrlCReachesTheProgramAloneWhileAToolWritesTheCard) {
  const std::string strace = linuxhost::FindTool("strace");
  if (strace.empty()) GTEST_SKIP() << "no strace to slow the copy down";
  LoopCard card(kCardSectors * 512);
  card.Partition({{0x06, 63, kCardSectors - 63}});
  card.Format(63, kCardSectors - 63, 16);
  const std::string addOn = linux_cards::MakeAddOnFolder(), big = addOn + "/LYRE/BIG.BIN";
  const std::string trace = linux_cards::TestHome() + "/ctrl-c.trace";
  std::ofstream(big) << std::string(4 * linux_cards::kMb, 'b');
  std::ofstream(trace, std::ios::trunc).close();
  Pty terminal({strace, "-f", "-qq", "-o", trace, "-e", "signal=INT,TERM", "-P", big, "-e", "trace=read", "-e",
                "inject=read:delay_enter=100000", kProgram, "--card", card.Device(), "--addon", addOn, "copy-addon"},
               {"ASAN_OPTIONS=detect_leaks=0"});
  for (int wait = 0; Read(trace).find("read(") == std::string::npos && wait < 300; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string program = linux_cards::Run({"pgrep", "-P", std::to_string(terminal.Pid())});
  terminal.Type("\x03");
  terminal.Expect("was stopped; nothing was written after the stop.");
  EXPECT_EQ(terminal.Wait(), 130);
  int toolsEnded = 0;
  std::istringstream lines(Read(trace));
  for (std::string line; std::getline(lines, line);) {
    const std::string pid = line.substr(0, line.find(' ')) + "\n";
    EXPECT_TRUE(line.find("--- SIGINT") == std::string::npos || pid == program) << line;
    toolsEnded += static_cast<int>(line.find("--- SIGTERM") != std::string::npos && pid != program);
  }
  EXPECT_GE(toolsEnded, 1);  // the key came while mcopy ran
}

}  // namespace
