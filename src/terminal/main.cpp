// vorninst on Linux: the window in a terminal, or one button pressed by a
// command with its questions answered by options.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <csignal>
#include <climits>
#include <filesystem>
#include <utility>
#include <vector>

#include "card/scan.h"
#include "common/card_state.h"
#include "common/module_directory.h"
#include "common/paths.h"
#include "terminal/addon_folder.h"
#include "images/destination.h"
#include "terminal/command_line.h"
#include "terminal/console.h"
#include "linux/linux_host.h"
#include "terminal/screen.h"
#include "terminal/serve.h"
#include "linux/templates.h"
#include "terminal/terminal.h"
#include "res/ids.h"

namespace linuxhost {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitEndedEarly = 1;
constexpr int kExitUsage = 2;
// Stopped by Ctrl-C, SIGTERM or SIGHUP: as shells and other tools end after
// SIGINT.
constexpr int kExitStopped = 130;
// The buttons that the window hides while the add-on's boot file is
// missing beside the program.
constexpr int kAddOnButtons[] = {IDC_COPY_VORN, IDC_NEW_INSTALL, IDC_VERSION_UP};
// The Esc key, as a line of a terminal that reads lines.
constexpr char kEscape[] = "\x1b";

int UsageError(const std::string& error) {
  Console::Get().Print("vorninst: " + error + "\nTry vorninst --help.\n", true);
  return kExitUsage;
}

int Refused(const std::string& why) {
  Console::Get().Print("vorninst: " + why + "\n", true);
  return kExitEndedEarly;
}

// The folder the program lies in: the add-on's unless --addon says another.
std::string ProgramFolder() {
  std::array<char, PATH_MAX> self{};
  const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
  if (length <= 0) return {};
  return std::filesystem::path(std::string(self.data(), static_cast<std::size_t>(length))).parent_path().string();
}

// Before a button that erases or rewrites the card of this letter: which
// card it is and what it holds (a format, only the letter's partition).
// True when it was said.
bool TellWhatIsAtStake(int button, char letter) {
  const std::string line = StakeLine(button, letter);
  if (!line.empty()) Console::Get().Print(line + "\n");
  return !line.empty();
}

// A drive and, indented, the window's status line and report of it.
std::string CardText(const Drive& drive) {
  std::string text = DriveLine(drive) + "\n";
  for (const int id : {IDC_STATUS, IDC_REPORT}) text += IndentedLines(ShownText(Window().Text(id)), "  ");
  return text;
}

class Program {
 public:
  explicit Program(Invocation invocation)
      : invocation_(std::move(invocation)), terminal_(invocation_.answers, invocation_.command != nullptr) {}

  int Run() {
    const int set = SetUp();
    if (set >= 0) return set;
    return invocation_.command == nullptr ? RunWindow() : RunCommand(*invocation_.command);
  }

 private:
  // list and inspect only read: an image the user may not write will do.
  bool LooksOnly() const {
    return invocation_.command != nullptr &&
           (invocation_.command->end == EndSign::Listed || invocation_.command->end == EndSign::Inspected);
  }

  // -1 when all is set; otherwise the exit status.
  int SetUp() {
    std::string refusal;
    const std::optional<std::string> named = invocation_.addOn ? std::optional(FullPath(*invocation_.addOn)) : std::nullopt;
    addOn_ = FindAddOnFolder(named, ProgramFolder());
    if (addOn_.source != AddOnSource::None && !SetAddOnFolder(addOn_.folder, refusal)) {
      if (named) return UsageError("--addon: " + refusal);
      addOn_ = AddOnFolder{};
    }
    if (named) RememberAddOnFolder(*named);  // a convenience: a settings file that cannot be written changes nothing
    SetFrontend(&terminal_);
    CreateMainWindow();
    for (const std::string& path : invocation_.cards) {
      bool denied = false;
      if (!NameCard(path, refusal, &denied, LooksOnly())) {
        Console::Get().Print("vorninst: " + refusal + "\n", true);
        return denied ? kExitEndedEarly : kExitUsage;
      }
      std::error_code error;
      named_.push_back(std::filesystem::canonical(path, error).string());
    }
    Tick();
    return -1;
  }

  // The drive a command works on: the one named, else the first named
  // card's first. 0 when none is named.
  int TargetDrive(const CommandSpec& command, char& letter) const {
    letter = 0;
    if (invocation_.drive) {
      letter = *invocation_.drive;
    } else if (!named_.empty()) {
      if (named_.size() > 1 && command.onOneCard) {
        return UsageError("several cards are named: say which drive " + std::string(command.name) +
                          " works on with --drive E: (vorninst list shows them)");
      }
      for (const Drive& drive : Drives()) {
        if (drive.disk == named_.front() && letter == 0) letter = drive.letter;
      }
      if (letter == 0) {
        return Refused(invocation_.cards.front() + " shows no drive: it holds no partition of a kind the program "
                       "can reach (FAT, FAT32 or NTFS).");
      }
    } else if (command.onOneCard) {
      return UsageError(std::string(command.name) + " works on one card: name it with --card PATH or --drive E: "
                        "(vorninst list shows the drives); it never picks one itself");
    }
    if (letter != 0 && ComboIndex(letter) < 0) {
      return UsageError(std::string("there is no drive ") + letter + ": (vorninst list shows the drives)");
    }
    return kExitDone;
  }

  // Picks the drive as the user would in the combo box: it is inspected.
  // False when the drive is not listed or holds no card it identifies.
  static bool Select(char letter) {
    const int index = ComboIndex(letter);
    if (index < 0) return false;
    SelectDrive(index);
    const std::string& root = common::gCardState.driveRoot;
    return !Window().quitPosted && common::CardIdentified() && !root.empty() && root[0] == letter;
  }

  std::string DriveText(char letter) const {
    for (const Drive& drive : Drives()) {
      if (drive.letter == letter) return CardText(drive);
    }
    return {};
  }

  int List() const {
    std::string text;
    for (const Drive& drive : Drives()) text += DriveLine(drive) + "\n";
    Console::Get().Print((text.empty() ? "No card found.\n" : text) + RootNote());
    return kExitDone;
  }

  // The drive given, else every drive of the cards named, else every drive.
  int Inspect(char letter) {
    std::vector<char> letters;
    if (letter != 0) letters.push_back(letter);
    bool identified = true;
    for (std::size_t i = 0; letter == 0 && i < named_.size(); ++i) {
      const std::size_t before = letters.size();
      for (const Drive& drive : Drives()) {
        if (drive.disk == named_[i]) letters.push_back(drive.letter);
      }
      if (letters.size() > before) continue;
      identified = false;
      Console::Get().Print("vorninst: " + invocation_.cards[i] + " shows no drive: it holds no partition of a kind "
                           "the program can reach (FAT, FAT32 or NTFS).\n", true);
    }
    for (const Drive& drive : Drives()) {
      if (letter == 0 && named_.empty()) letters.push_back(drive.letter);
    }
    if (letters.empty()) {
      return identified ? Refused("no card found." + std::string(RootNote().empty() ? "" : " ") + RootNote())
                        : kExitEndedEarly;
    }
    for (const char each : letters) {
      identified = Select(each) && identified;
      Console::Get().Print(DriveText(each));
    }
    return identified ? kExitDone : kExitEndedEarly;
  }

  // Why the window does not offer the command's button now.
  std::string NotOffered(const CommandSpec& command, char letter) const {
    const std::string caption = ControlText(kMainWindowTemplate, command.button);
    const bool addOnButton = std::find(std::begin(kAddOnButtons), std::end(kAddOnButtons), command.button) !=
                             std::end(kAddOnButtons);
    if (addOnButton && addOn_.source == AddOnSource::None) {
      return NoAddOnFolderNote(addOn_) + "The window does not offer \"" + caption + "\" without it.";
    }
    if (addOnButton && !common::IsFile(common::gModuleDirectory + card::kBootFileName)) {
      return std::string(card::kBootFileName) + " is not in the add-on folder " +
             ShownText(common::gModuleDirectory) + ": give --addon DIR. The window does not offer \"" + caption +
             "\" without it.";
    }
    return std::string("the window does not offer \"") + caption + "\" for " + letter + ": now.";
  }

  bool Reached(const CommandSpec& command, bool inspectionPosted) const {
    const Outcome& outcome = terminal_.LastOutcome();
    if (outcome.errorBox || Window().quitPosted) return false;
    switch (command.end) {
      case EndSign::BootMark: return inspectionPosted && common::gCardState.bootMarkSeen == 1;
      case EndSign::Inspection: return inspectionPosted;
      case EndSign::FolderOpened: return outcome.folderOpened;
      case EndSign::EndMessage:
        return std::any_of(outcome.boxes.begin(), outcome.boxes.end(), [&command](const std::string& box) {
          return std::find(command.endMessages.begin(), command.endMessages.end(), box) != command.endMessages.end();
        });
      default: return true;
    }
  }

  int RunCommand(const CommandSpec& command) {
    Console& console = Console::Get();
    if (command.end == EndSign::Listed) return List();
    if (command.end == EndSign::Inspected && !invocation_.drive) return Inspect(0);
    char letter = 0;
    if (const int target = TargetDrive(command, letter); target != kExitDone) return target;
    if (command.end == EndSign::Inspected) return Inspect(letter);
    const bool identified = Select(letter);
    console.Print(DriveText(letter));
    if (Window().quitPosted) return Refused(std::string(command.name) + " did not start: the program closed.");
    if (!identified) return Refused(std::string(1, letter) + ": holds no card the program can identify.");
    if (!Window().Visible(command.button)) return Refused(NotOffered(command, letter));
    const std::string missing = MissingAnswers(command, invocation_.given);
    if (!console.InputIsTerminal() && !missing.empty()) {
      return Refused(std::string(command.name) + " asks what no option answers: give " + missing +
                     " (or run it in a terminal, which asks). Nothing was done.");
    }
    const std::string disk = DiskOf(letter);
    const bool named = TellWhatIsAtStake(command.button, letter);
    terminal_.BeginCommand();
    if (named) terminal_.CardNamed();
    Command(static_cast<unsigned>(command.button));
    const std::vector<unsigned> posted = PostedCommands();
    const bool inspectionPosted = std::find(posted.begin(), posted.end(), IDC_INSPECT) != posted.end();
    const char after = Reinspect(disk, letter);
    if (after != 0) console.Print(DriveText(after));
    if (console.StopSignal() != 0) {
      console.Print("vorninst: " + std::string(command.name) + " was stopped; nothing was written after the stop.\n",
                    true);
      return kExitStopped;
    }
    if (Reached(command, inspectionPosted)) {
      console.Print("vorninst: " + std::string(command.name) + " reached its end.\n");
      return kExitDone;
    }
    // Where the program showed no error, the card's own refusal is the why.
    const std::string fault = terminal_.LastOutcome().errorBox ? "" : linuxhost::CardFault();
    return Refused(std::string(command.name) + " ended early" +
                   (terminal_.LastOutcome().stopped ? ", stopped" : "") + (fault.empty() ? "" : ": " + fault) + ".");
  }

  int RunWindow() {
    Console& console = Console::Get();
    console.Print(RootNote() + NoAddOnFolderNote(addOn_));
    if (invocation_.drive && ComboIndex(*invocation_.drive) >= 0) SelectDrive(ComboIndex(*invocation_.drive));
    const std::vector<int> buttons = MenuButtons();
    for (;;) {
      Tick();
      if (Window().quitPosted) return kExitDone;
      console.Print("\n" + MainWindowText(console.Width()));
      terminal_.BeginCommand();
      std::string line;
      const Console::Read read = console.ReadLine(MainWindowPrompt(), line);
      const std::string key = Typed(line);
      if (read != Console::Read::Line || key == kEscape) {
        Command(IDC_CANCEL_KEY);  // Esc, which closes the window; so do Ctrl-C and the input's end
        if (read == Console::Read::Interrupted && Window().quitPosted) return kExitStopped;
        continue;
      }
      const bool number = !key.empty() && key.size() < 3 && key.find_first_not_of("0123456789") == std::string::npos;
      const std::size_t chosen = number ? std::stoul(key) : buttons.size() + 1;
      if (key.empty()) continue;
      if (key == "0") {
        Command(IDC_EXIT);
      } else if (key == "a") {
        Command(IDM_ABOUT);
      } else if ((key.size() == 1 || (key.size() == 2 && key[1] == ':')) && !number &&
                 ComboIndex(static_cast<char>(std::toupper(key[0]))) >= 0) {
        SelectDrive(ComboIndex(static_cast<char>(std::toupper(key[0]))));
      } else if (chosen >= 1 && chosen <= buttons.size() && Offered(buttons[chosen - 1])) {
        const std::string root = common::gCardState.driveRoot;
        const std::string disk = root.empty() ? std::string() : DiskOf(root[0]);
        if (!root.empty() && TellWhatIsAtStake(buttons[chosen - 1], root[0])) terminal_.CardNamed();
        Command(static_cast<unsigned>(buttons[chosen - 1]));
        if (!disk.empty()) Reinspect(disk, root[0]);
        // Ctrl-C brings the menu back; SIGTERM and SIGHUP (the terminal
        // closed) end the window once the command has stopped.
        if (console.StopSignal() != 0 && console.StopSignal() != SIGINT) return kExitStopped;
      } else {
        console.Print("No such choice now: " + line + "\n", true);
      }
    }
  }

  Invocation invocation_;
  Terminal terminal_;
  std::vector<std::string> named_;  // the named cards' disks, as the host keeps them
  AddOnFolder addOn_;
};

}  // namespace
}  // namespace linuxhost

int main(int argc, char** argv) {
  using linuxhost::Console;
  linuxhost::Invocation invocation;
  std::string error;
  if (!linuxhost::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), invocation, error)) {
    return linuxhost::UsageError(error);
  }
  if (invocation.help) {
    Console::Get().Print(invocation.command != nullptr ? linuxhost::CommandHelp(*invocation.command)
                                                        : linuxhost::ProgramHelp());
    return linuxhost::kExitDone;
  }
  if (invocation.version) {
    Console::Get().Print(linuxhost::VersionText());
    return linuxhost::kExitDone;
  }
  if (invocation.to) {
    std::string windows;
    if (!linuxhost::ToWindowsPath(linuxhost::FullPath(*invocation.to), windows, error)) {
      return linuxhost::UsageError("--to: " + error);
    }
    // The destination's box holds so much; a longer path is never cut.
    if (windows.size() > images::kFolderMaximum) {
      return linuxhost::UsageError("--to: the folder's path is " + std::to_string(windows.size()) +
                                   " characters long as the program holds it; it takes " +
                                   std::to_string(images::kFolderMaximum) + " at most");
    }
    invocation.answers.to = windows;
  }
  Console::Get().TakeSignals();
  if (invocation.command != nullptr && invocation.command->end == linuxhost::EndSign::Served) {
    return linuxhost::Serve(invocation, linuxhost::ProgramFolder());
  }
  return linuxhost::Program(std::move(invocation)).Run();
}
