// The stand-in for the system's format.com that the Wine tests put in place:
// where it keeps its record and where it finds the exit code to give.
#pragma once

namespace stand_in {

constexpr char kFolder[] = "C:\\vorn-format";
// One line per run: the program's own path, kSeparator, its command line.
constexpr char kRunsFile[] = "C:\\vorn-format\\runs.txt";
// A decimal exit code; 0 when the file is missing.
constexpr char kExitCodeFile[] = "C:\\vorn-format\\exit-code.txt";
constexpr char kSeparator = '|';
// Built beside the tests under this name.
constexpr char kProgramName[] = "format.com";

}  // namespace stand_in
