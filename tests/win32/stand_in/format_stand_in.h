// The stand-in for the system's format.com that the Wine tests put in place:
// where it keeps its record and where it finds the exit code to give.
#pragma once

namespace stand_in {

constexpr char kFolder[] = "C:\\vorn-format";
// One line per run, its fields split by kSeparator: the program's own path,
// its command line, then each field below with its value.
constexpr char kRunsFile[] = "C:\\vorn-format\\runs.txt";
// The show command it was started with (STARTF_USESHOWWINDOW), or "default".
constexpr char kShowField[] = "show=";
// Its console window: "shown", "hidden" or "none".
constexpr char kConsoleField[] = "console=";
// The program's main window while it ran: "none", or "enabled" or "disabled",
// then ",answered" or ",not answered" to a close.
constexpr char kMainWindowField[] = "main window=";
// A decimal exit code; 0 when the file is missing.
constexpr char kExitCodeFile[] = "C:\\vorn-format\\exit-code.txt";
constexpr char kSeparator = '|';
// Built beside the tests under this name.
constexpr char kProgramName[] = "format.com";

}  // namespace stand_in
