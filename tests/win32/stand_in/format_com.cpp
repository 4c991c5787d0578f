// A stand-in for the system's format.com: it formats nothing, records which
// program ran with which command line, and exits with the code the test
// asked for.
#include <windows.h>

#include <array>
#include <fstream>

#include "format_stand_in.h"

namespace {

// Long enough that a caller which does not wait finds no record yet.
constexpr DWORD kRunMilliseconds = 300;

}  // namespace

int main() {
  Sleep(kRunMilliseconds);
  std::array<char, MAX_PATH> self{};
  GetModuleFileNameA(nullptr, self.data(), MAX_PATH);
  std::ofstream(stand_in::kRunsFile, std::ios::app)
      << self.data() << stand_in::kSeparator << GetCommandLineA() << '\n';
  int exitCode = 0;
  std::ifstream(stand_in::kExitCodeFile) >> exitCode;
  return exitCode;
}
