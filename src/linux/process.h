// External tools (mkfs.fat, mtools) run with an argument vector, never
// through a shell: paths and names come from users.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace linuxhost {

struct ToolResult {
  bool started = false;
  int exitCode = -1;   // -1 when it did not end by itself
  std::string output;  // standard output
  std::string errors;  // standard error
  bool ended = false;  // ended by the program: keepGoing said no
  bool Succeeded() const { return started && exitCode == 0 && !ended; }
};

// Asked about every 200 ms while a tool runs, with what it has
// written so far: false ends the tool.
using ToolWatch = std::function<bool(const ToolResult& soFar)>;

// Runs the program (found on PATH, and in the system's sbin folders where
// mkfs.fat lies) with these arguments and these NAME=value settings added to
// the environment, standard input from /dev/null, and waits for it. When
// the watch says no, the tool and every process it started are ended
// (SIGTERM to its process group, SIGKILL a while later) and waited for.
ToolResult RunTool(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}, const ToolWatch& watch = {});

// The full path of a program, or empty when it is nowhere.
std::string FindTool(const std::string& name);

}  // namespace linuxhost
