#include "terminal/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>

namespace linuxhost {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;
volatile std::sig_atomic_t gSignal = 0;  // the last stop signal since Reset
volatile std::sig_atomic_t gPrompting = 0;

// Every signal that asks a program to end is a Ctrl-C: the step in hand
// ends (the size test puts its samples back), and nothing more is written.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr char kStopping[] = "\nStopping: the step in hand ends, and nothing more is written to the card.\n";
// A terminal that tells no width (a bare pseudo-terminal) is taken as this.
constexpr int kDefaultWidth = 80;
// Elsewhere, a line of the same work at most this often.
constexpr std::chrono::seconds kProgressEvery(2);
constexpr char kClearLine[] = "\r\033[K";

extern "C" void OnInterrupt(int number) {
  const int saved = errno;
  // Said once, and not at a prompt, which answers for itself.
  if (gInterrupted == 0 && gPrompting == 0 && ::write(STDERR_FILENO, kStopping, sizeof kStopping - 1) < 0) {
  }
  gInterrupted = 1;
  gSignal = number;
  errno = saved;
}

// A stop that comes while a progress line is checked and written waits
// until the line is out: "Stopping:" then follows it, never precedes it.
class StopsHeld {
 public:
  StopsHeld() {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int number : kStopSignals) sigaddset(&stops, number);
    ::sigprocmask(SIG_BLOCK, &stops, &before_);
  }
  ~StopsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  StopsHeld(const StopsHeld&) = delete;
  StopsHeld& operator=(const StopsHeld&) = delete;

 private:
  sigset_t before_{};
};

void Write(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// What stays of a progress line without its numbers: the kind of work.
std::string Shape(const std::string& line) {
  std::string shape;
  std::copy_if(line.begin(), line.end(), std::back_inserter(shape), [](char c) { return c < '0' || c > '9'; });
  return shape;
}

}  // namespace

Console& Console::Get() {
  static Console console;
  return console;
}

void Console::TakeSignals() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a prompt's read returns at once
  for (const int number : kStopSignals) ::sigaction(number, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

bool Console::InputIsTerminal() const { return ::isatty(STDIN_FILENO) == 1; }
bool Console::OutputIsTerminal() const { return ::isatty(STDOUT_FILENO) == 1; }

int Console::Width() const {
  if (!OutputIsTerminal()) return 0;
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultWidth;
  return size.ws_col;
}

Console::Read Console::ReadLine(const std::string& prompt, std::string& line, bool error) {
  gPrompting = 1;  // before the prompt shows: a Ctrl-C at it is the prompt's
  EndProgress();
  std::FILE* const shown = error ? stderr : stdout;
  if (error) std::fflush(stdout);
  Write(shown, prompt);
  line.clear();
  Read result = Read::Line;
  for (;;) {
    if (gInterrupted != 0) {
      result = Read::Interrupted;
      break;
    }
    char c = 0;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got == 1 && c == '\n') break;
    if (got == 1) {
      if (c != '\r') line += c;
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (line.empty()) result = Read::End;
    break;
  }
  gPrompting = 0;
  // What was answered shows beside its prompt when no terminal echoed it.
  if (result == Read::Line && !InputIsTerminal()) Write(shown, line);
  if (result != Read::Line || !InputIsTerminal()) Write(shown, "\n");
  return result;
}

void Console::Print(const std::string& text, bool error) {
  EndProgress();
  if (error) std::fflush(stdout);
  Write(error ? stderr : stdout, text);
}

void Console::Progress(const std::string& line) {
  // After "Stopping:" a line of the work (the size test putting its samples
  // back) would read as if the work went on, or finished.
  const StopsHeld stopsHeld;
  if (gInterrupted != 0) {
    held_.clear();
    return;
  }
  if (OutputIsTerminal()) {
    const std::size_t room = static_cast<std::size_t>(std::max(Width() - 1, 1));
    Write(stdout, kClearLine + line.substr(0, room));
    progressShown_ = !line.empty();
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const std::string shape = Shape(line);
  if (line.empty()) return;
  if (shape == lastShape_ && now - lastProgress_ < kProgressEvery) {
    held_ = line;  // told when the work ends
    return;
  }
  if (!held_.empty() && shape != lastShape_) Write(stdout, held_ + "\n");  // how the work before ended
  lastShape_ = shape;
  lastProgress_ = now;
  held_.clear();
  Write(stdout, line + "\n");
}

void Console::EndProgress() {
  const StopsHeld stopsHeld;
  if (progressShown_) Write(stdout, "\n");
  if (!held_.empty() && gInterrupted == 0) Write(stdout, held_ + "\n");
  progressShown_ = false;
  held_.clear();
  lastShape_.clear();
}

bool Console::Interrupted() const { return gInterrupted != 0; }
void Console::Interrupt() { gInterrupted = 1; }
int Console::StopSignal() const { return gSignal; }
void Console::Reset() {
  gInterrupted = 0;
  gSignal = 0;
}

}  // namespace linuxhost
