// External tools (mkfs.fat, mtools) run with an argument vector, never
// through a shell: paths and names come from users.
#pragma once

#include <string>
#include <vector>

namespace linuxhost {

struct ToolResult {
  bool started = false;
  int exitCode = -1;   // -1 when it did not end by itself
  std::string output;  // standard output
  std::string errors;  // standard error
  bool Succeeded() const { return started && exitCode == 0; }
};

// Runs the program (found on PATH, and in the system's sbin folders where
// mkfs.fat lies) with these arguments and these NAME=value settings added to
// the environment, standard input from /dev/null, and waits for it.
ToolResult RunTool(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {});

// The full path of a program, or empty when it is nowhere.
std::string FindTool(const std::string& name);

}  // namespace linuxhost
