// The program's command line on Linux:
//   vorninst [--card PATH]... [--drive E:] [--addon DIR] [COMMAND [OPTIONS]]
// one command per button of the window, with the answers to its questions
// as options; no command opens the window in the terminal.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "terminal/terminal.h"

namespace linuxhost {

// The options, as flags of what a command takes and needs.
enum Option : unsigned {
  kOptionCard = 1u << 0,
  kOptionDrive = 1u << 1,
  kOptionAddOn = 1u << 2,
  kOptionYes = 1u << 3,
  kOptionCamera = 1u << 4,
  kOptionLayout = 1u << 5,
  kOptionQuick = 1u << 6,  // --quick or --full
  kOptionFat = 1u << 7,    // --fat or --fat32
  kOptionTo = 1u << 8,
  kOptionMove = 1u << 9,
};

// How a command shows that it reached its end (exit status 0).
enum class EndSign {
  Listed,         // list: always
  Inspected,      // inspect: every card shown was identified
  BootMark,       // the card inspected again carries the boot mark
  Inspection,     // the card was inspected again, with no error box
  EndMessage,     // one of the command's end messages, with no error box
  FolderOpened,   // the last step opened a folder, with no error box
  Served,         // serve: the window's engine, which ends as its protocol says
};

struct CommandSpec {
  const char* name;
  int button;           // the window's button it presses (0: none)
  unsigned takes;       // its own options
  unsigned needs;       // the answers it cannot go without when no terminal can ask
  bool onOneCard;       // refused without --card or --drive
  EndSign end;
  std::vector<std::string> endMessages;  // for EndSign::EndMessage: the texts
  const char* does;     // what it does, for --help
  const char* done;     // what exit status 0 tells, for --help
};

const std::vector<CommandSpec>& Commands();

struct Invocation {
  std::vector<std::string> cards;
  std::optional<char> drive;
  std::optional<std::string> addOn;
  std::optional<std::string> to;  // as typed: a Linux path
  const CommandSpec* command = nullptr;  // none: the window
  Answers answers;                       // all but --to, which needs the user's home
  unsigned given = 0;                    // Option flags
  bool help = false;
  bool version = false;
};

// False, with the reason, for bad usage.
bool ParseCommandLine(const std::vector<std::string>& arguments, Invocation& invocation, std::string& error);

std::string ProgramHelp();
std::string CommandHelp(const CommandSpec& command);
std::string VersionText();

// The options a command needs and was not given, for the user ("--camera
// left|right, --yes"); empty when none is missing.
std::string MissingAnswers(const CommandSpec& command, unsigned given);

}  // namespace linuxhost
