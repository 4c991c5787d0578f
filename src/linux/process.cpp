#include "linux/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "linux/descriptor.h"

extern char** environ;

namespace linuxhost {
namespace {

// The system's own tools first, as Windows' format.com is taken from the
// system folder: a program of the same name earlier in PATH must never be
// the one that runs as root. mkfs.fat lies in sbin, which a user's PATH may
// lack.
constexpr const char* kSystemFolders[] = {"/usr/local/sbin", "/usr/sbin", "/sbin", "/usr/bin", "/bin"};
// How often a running tool's watch is asked: a stop ends it about this soon.
constexpr int kToolWatchEveryMs = 200;
// A tool told to end that is still there after this is killed.
constexpr std::chrono::seconds kToolGrace(2);

bool Executable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The environment with the settings given, each replacing one of its name.
std::vector<std::string> Environment(const std::vector<std::string>& settings) {
  std::vector<std::string> result;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string line = *entry;
    const std::string name = line.substr(0, line.find('=') + 1);
    bool replaced = false;
    for (const std::string& setting : settings) replaced = replaced || setting.rfind(name, 0) == 0;
    if (!replaced) result.push_back(line);
  }
  result.insert(result.end(), settings.begin(), settings.end());
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::string FindTool(const std::string& name) {
  if (name.find('/') != std::string::npos) return Executable(name) ? name : std::string();
  std::vector<std::string> folders(std::begin(kSystemFolders), std::end(kSystemFolders));
  const char* path = std::getenv("PATH");
  std::istringstream entries(path != nullptr ? path : "");
  for (std::string folder; std::getline(entries, folder, ':');) {
    if (!folder.empty()) folders.push_back(folder);
  }
  for (const std::string& folder : folders) {
    const std::string candidate = folder + "/" + name;
    if (Executable(candidate)) return candidate;
  }
  return {};
}

ToolResult RunTool(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   const ToolWatch& watch) {
  ToolResult result;
  if (arguments.empty()) return result;
  const std::string program = FindTool(arguments[0]);
  if (program.empty()) return result;
  std::array<int, 2> outputEnds{};
  std::array<int, 2> errorEnds{};
  if (::pipe2(outputEnds.data(), O_CLOEXEC) != 0) return result;
  Fd outputRead(outputEnds[0]);
  Fd outputWrite(outputEnds[1]);
  if (::pipe2(errorEnds.data(), O_CLOEXEC) != 0) return result;
  Fd errorRead(errorEnds[0]);
  Fd errorWrite(errorEnds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outputWrite.Get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errorWrite.Get(), STDERR_FILENO);
  std::vector<std::string> argv = arguments;
  std::vector<std::string> envp = Environment(environment);
  std::vector<char*> argvPointers = Pointers(argv);
  std::vector<char*> envpPointers = Pointers(envp);
  // A process group of its own: the terminal's Ctrl-C is the program's to
  // act on, and never cuts a tool (mkfs.fat, mcopy) off in the middle of
  // its writes.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, static_cast<short>(POSIX_SPAWN_SETPGROUP));
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t child = 0;
  const int spawned =
      posix_spawn(&child, program.c_str(), &actions, &attributes, argvPointers.data(), envpPointers.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  outputWrite.Close();
  errorWrite.Close();
  if (spawned != 0) return result;
  result.started = true;
  // Both pipes at once: a tool that fills one while the other is read
  // would wait for ever.
  std::array<pollfd, 2> pipes = {pollfd{outputRead.Get(), POLLIN, 0}, pollfd{errorRead.Get(), POLLIN, 0}};
  std::array<std::string*, 2> texts = {&result.output, &result.errors};
  std::array<char, 4096> chunk{};
  // Its group: what it started goes with it.
  const auto end = [child](int signal) { ::kill(-child, signal); };
  std::chrono::steady_clock::time_point endedAt{};
  for (int open = 2; open > 0;) {
    const int ready = ::poll(pipes.data(), pipes.size(), watch ? kToolWatchEveryMs : -1);
    if (ready < 0 && errno != EINTR) break;
    if (!result.ended && watch && !watch(result)) {
      result.ended = true;
      endedAt = std::chrono::steady_clock::now();
      end(SIGTERM);
    }
    if (result.ended && std::chrono::steady_clock::now() - endedAt > kToolGrace) end(SIGKILL);
    for (std::size_t i = 0; ready > 0 && i < pipes.size(); ++i) {
      if (pipes[i].fd < 0 || pipes[i].revents == 0) continue;
      const ssize_t got = ::read(pipes[i].fd, chunk.data(), chunk.size());
      if (got > 0) {
        texts[i]->append(chunk.data(), static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        pipes[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // A process the tool left behind in its group (a pipe's other end closed
  // by it, but still running) goes too once the tool was ended.
  if (result.ended) end(SIGKILL);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace linuxhost
