// vorninst serve as the window speaks to it, and as a hostile or broken
// window might: a line it cannot take ends the session with status 2 and
// nothing more said, and the card keeps every byte.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include "linux/protocol.h"
#include "linux_card.h"

namespace {
using linux_cards::LoopCard;
using linuxhost::protocol::Message;

constexpr char kProgram[] = VORN_PROGRAM;
constexpr std::uint64_t kCardSectors = 124735488;  // 64 GB: New Install makes two partitions
constexpr char kInstalled[] = "Install finished!\nLock the card, insert into the camera and VORN will auto-boot.";

// The engine with pipes for its standard input and output, as the window
// starts it.
class Engine {
 public:
  explicit Engine(const std::string& card) {
    std::signal(SIGPIPE, SIG_IGN);  // a write to an engine that has ended fails instead
    const std::string addOn = linux_cards::MakeAddOnFolder();
    std::array<int, 2> in{};
    std::array<int, 2> out{};
    EXPECT_EQ(::pipe2(in.data(), O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out.data(), O_CLOEXEC), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::setenv("HOME", linux_cards::TestHome().c_str(), 1);
      ::execl(kProgram, kProgram, "--card", card.c_str(), "--addon", addOn.c_str(), "serve", nullptr);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Engine() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    if (pid_ > 0) Wait();
    for (const int fd : {to_, from_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  void Send(const std::string& line) {
    const std::string whole = line + "\n";
    for (std::size_t at = 0; at < whole.size();) {
      const ssize_t written = ::write(to_, whole.data() + at, whole.size() - at);
      if (written <= 0) return;  // the engine stopped reading and ended
      at += static_cast<std::size_t>(written);
    }
  }
  // The window crashes: its end of the pipe closes.
  void Close() {
    ::close(to_);
    to_ = -1;
  }
  // The next line, within this time; an empty verb when the engine wrote no more.
  Message Next(std::chrono::seconds patience = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + patience;
    std::size_t end = 0;
    while ((end = shown_.find('\n')) == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd wait{from_, POLLIN, 0};
      std::array<char, 4096> chunk{};
      if (::poll(&wait, 1, 200) <= 0) continue;
      const ssize_t got = ::read(from_, chunk.data(), chunk.size());
      if (got <= 0) break;
      shown_.append(chunk.data(), static_cast<std::size_t>(got));
    }
    Message message;
    if (end == std::string::npos) return message;
    EXPECT_TRUE(linuxhost::protocol::Decode(shown_.substr(0, end), message)) << shown_.substr(0, end);
    shown_.erase(0, end + 1);
    return message;
  }
  // The next line of this verb, the ones before it passed over.
  Message Until(const std::string& verb) {
    Message message = Next();
    while (!message.verb.empty() && message.verb != verb) message = Next();
    EXPECT_EQ(message.verb, verb);
    return message;
  }
  // Its exit status; -1 when it did not end by itself within this time.
  int Wait(std::chrono::seconds patience = std::chrono::seconds(60)) {
    int status = 0;
    for (int tenths = 0; ::waitpid(pid_, &status, WNOHANG) == 0; ++tenths) {
      if (tenths == patience.count() * 10) ::kill(pid_, SIGKILL);
      ::usleep(100000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string shown_;
};

// A card of two FAT16 partitions, the first with a photo.
void MakeCard(const LoopCard& card) {
  card.Partition({{0x06, 63, 65473}, {0x06, 65536, 65536}});
  card.Format(63, 65473, 16);
  card.Format(65536, 65536, 16);
  card.Put(63, "DCIM/100TEST/IMG.JPG", "picture");
}

// Lines the engine must not take, each after the lines that lead to it
// (each sent once the engine has said the verb after it): the session ends
// with 2, nothing more is said, and the card is as it was.
TEST(Serve, EveryLineItCannotTakeEndsTheSessionAndNothingIsWritten) {
  struct Step {
    std::string line;
    std::string until;
  };
  struct Row {
    const char* name;
    std::vector<Step> before;
    std::string hostile;
  };
  const std::vector<Step> idle = {{"tick", "window"}};
  const std::vector<Step> confirming = {{"tick", "window"}, {"command id=210", "dialog"}, {"click dialog=1 id=1", "box"}};
  const std::vector<Step> destination = {{"tick", "window"}, {"command id=213", "dialog"}};
  std::vector<Step> testing = confirming;
  testing.push_back({"answer id=1 button=yes", "progress"});
  const Row rows[] = {
      {"garbage", {}, "\x7f\x45LF garbage"},
      {"an unknown verb", {}, "format id=210"},
      {"an unknown field", {}, "tick now=1"},
      {"a missing field", idle, "select"},
      {"a drive it did not list", idle, "select index=2"},
      {"a button it does not show", idle, "command id=209"},
      {"an answer to a box never shown", idle, "answer id=1 button=yes"},
      {"a click in a dialog never opened", idle, "click dialog=1 id=1"},
      {"a line a megabyte long", {}, std::string(1 << 20, 'a')},
      {"garbage at New Install's first box", confirming, "answer id=1 button=y\xffs"},
      {"an answer to another box", confirming, "answer id=2 button=yes"},
      {"a button the box lacks", confirming, "answer id=1 button=cancel"},
      {"a request in the middle of a command", confirming, "tick"},
      {"a folder that is no full path", destination, "type dialog=1 id=215 text=Pictures"},
      // Refused at once, while the size test writes: not kept for the next box.
      {"an answer in the middle of the size test", testing, "answer id=2 button=yes"},
  };
  LoopCard card(kCardSectors * 512);
  MakeCard(card);
  const std::size_t before = card.Fingerprint();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Engine engine(card.Device());
    engine.Until("hello");
    for (const Step& step : row.before) {
      engine.Send(step.line);
      engine.Until(step.until);
    }
    engine.Send(row.hostile);
    Message after = engine.Next(std::chrono::seconds(10));
    while (after.verb == "progress") after = engine.Next(std::chrono::seconds(10));  // on its way before the line
    EXPECT_EQ(after.verb, "");
    EXPECT_EQ(engine.Wait(std::chrono::seconds(10)), 2);
    EXPECT_EQ(card.Fingerprint(), before);
  }
}

// New Install through the protocol, every question answered as a user
// would: the card has two partitions that sfdisk, fsck.fat and mdir read.
// A cancel at its first question, or a window gone then, writes nothing.
TEST(Serve, NewInstallThroughTheProtocolAndCancelAtItsFirstQuestion) {
  enum class Window { Answers, Cancels, Crashes };
  for (const Window window : {Window::Answers, Window::Cancels, Window::Crashes}) {
    SCOPED_TRACE(static_cast<int>(window));
    LoopCard card(kCardSectors * 512);
    MakeCard(card);
    const std::size_t before = card.Fingerprint();
    Engine engine(card.Device());
    engine.Until("hello");
    engine.Send("tick");
    EXPECT_EQ(engine.Until("window").Text("selection"), "0");
    const auto started = std::chrono::steady_clock::now();
    engine.Send("command id=210");
    EXPECT_NE(engine.Until("stake").Text("text").find("New Install works on " + card.Device()), std::string::npos);
    Message line = engine.Until("dialog");
    if (window == Window::Crashes) engine.Close();
    if (window == Window::Cancels) engine.Send("cancel");
    for (; window == Window::Answers && line.verb != "end"; line = engine.Next()) {
      ASSERT_NE(line.verb, "");
      if (line.verb == "dialog") engine.Send("click dialog=" + line.Text("dialog") + " id=1");
      if (line.verb == "box") engine.Send("answer id=" + line.Text("id") + " button=" + (line.Text("buttons") == "ok" ? "ok" : "yes"));
      if (line.Text("text") == kInstalled) {
        std::cout << "New Install took " << std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()
                  << " s to \"Install finished!\"\n";
      }
    }
    if (window != Window::Crashes) {
      line = line.verb == "end" ? line : engine.Until("end");
      EXPECT_EQ(line.Text("stopped"), window == Window::Cancels ? "1" : "0");
      EXPECT_EQ(line.Text("error"), "0");
      engine.Until("window");
      engine.Send("quit");
      EXPECT_EQ(engine.Until("bye").Text("status"), "0");
    }
    EXPECT_EQ(engine.Wait(), 0);
    if (window != Window::Answers) {
      EXPECT_EQ(card.Fingerprint(), before);
      continue;
    }
    EXPECT_EQ(card.Entries(), (std::vector<std::string>{"start=1,size=4096,type=1",
                                                         "start=4097,size=" + std::to_string(kCardSectors - 4098) + ",type=b"}));
    EXPECT_EQ(card.Bytes(512 + 64, 8), "BOOTDISK");
    EXPECT_EQ(card.File(1, "DISKBOOT.BIN"), "boot file");
    EXPECT_EQ(card.File(4097, "LYRE/LYRE.CFG"), "config left");
    card.ExpectClean(1, 4096);
    card.ExpectClean(4097, kCardSectors - 4098);
  }
}

}  // namespace
