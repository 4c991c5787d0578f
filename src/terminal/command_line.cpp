#include "terminal/command_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

#include "disk/boot_marks.h"
#include "linux/templates.h"
#include "res/ids.h"

namespace linuxhost {
namespace {

// What --version says after the version, as free programs say it.
constexpr char kLicence[] =
    "Copyright 2026 the VORN Installer team.\n"
    "Licence GPL-3.0-or-later: the GNU General Public License, version 3 or later.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

constexpr unsigned kCardOptions = kOptionCard | kOptionDrive | kOptionAddOn | kOptionYes;

struct OptionName {
  Option option;
  const char* name;
  const char* usage;  // as the help and the messages write it
};
constexpr OptionName kOptionNames[] = {
    {kOptionCard, "--card", "--card PATH"},       {kOptionDrive, "--drive", "--drive E:"},
    {kOptionAddOn, "--addon", "--addon DIR"},     {kOptionYes, "--yes", "--yes"},
    {kOptionCamera, "--camera", "--camera left|right"}, {kOptionLayout, "--layout", "--layout one|two"},
    {kOptionQuick, "--quick", "--quick or --full"}, {kOptionFat, "--fat", "--fat or --fat32"},
    {kOptionTo, "--to", "--to DIR"},              {kOptionMove, "--move", "--move"},
};

std::string Usage(Option option) {
  for (const OptionName& name : kOptionNames) {
    if (name.option == option) return name.usage;
  }
  return {};
}

const CommandSpec* Find(const std::string& name) {
  for (const CommandSpec& command : Commands()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

// "E", "e:", "E:\" as the letter E.
bool ParseDrive(const std::string& text, char& letter) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  const std::string rest = text.substr(1);
  if (!rest.empty() && rest != ":" && rest != ":\\" && rest != ":/") return false;
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return true;
}

// One of two words as 0 or 1.
bool ParseChoice(const std::string& text, const char* zero, const char* one, std::optional<int>& choice) {
  if (text == zero || text == one) {
    choice = text == one ? 1 : 0;
    return true;
  }
  return false;
}

class Parser {
 public:
  Parser(const std::vector<std::string>& arguments, Invocation& invocation)
      : arguments_(arguments), invocation_(invocation) {}

  bool Parse(std::string& error) {
    for (index_ = 0; index_ < arguments_.size(); ++index_) {
      std::string word = arguments_[index_];
      inline_.reset();
      if (word.rfind("--", 0) == 0 && word.find('=') != std::string::npos) {
        inline_ = word.substr(word.find('=') + 1);
        word = word.substr(0, word.find('='));
      }
      if (!Take(word, error)) return false;
    }
    return Check(error);
  }

 private:
  bool Value(const std::string& option, std::string& value, std::string& error) {
    if (inline_) {
      value = *inline_;
    } else if (index_ + 1 < arguments_.size() && arguments_[index_ + 1].rfind("--", 0) != 0) {
      value = arguments_[++index_];
    } else {
      error = option + " needs a value";
      return false;
    }
    if (value.empty()) error = option + " needs a value";
    return !value.empty();
  }

  // The same yes/no option twice must agree.
  bool Flag(Option option, std::optional<bool>& flag, bool value, std::string& error) {
    if (flag && *flag != value) {
      error = "give only one of " + Usage(option);
      return false;
    }
    flag = value;
    invocation_.given |= option;
    return true;
  }

  bool Take(const std::string& word, std::string& error) {
    Answers& answers = invocation_.answers;
    std::string value;
    if (word == "--help" || word == "-h") {
      invocation_.help = true;
    } else if (word == "--version") {
      invocation_.version = true;
    } else if (word == "--yes" || word == "-y") {
      answers.yes = true;
      invocation_.given |= kOptionYes;
    } else if (word == "--move") {
      answers.move = true;
      invocation_.given |= kOptionMove;
    } else if (word == "--quick" || word == "--full") {
      return Flag(kOptionQuick, answers.quick, word == "--quick", error);
    } else if (word == "--fat" || word == "--fat32") {
      return Flag(kOptionFat, answers.fat32, word == "--fat32", error);
    } else if (word == "--card") {
      if (!Value(word, value, error)) return false;
      invocation_.cards.push_back(value);
      invocation_.given |= kOptionCard;
    } else if (word == "--drive") {
      char letter = 0;
      if (!Value(word, value, error)) return false;
      if (!ParseDrive(value, letter)) {
        error = "--drive takes a drive letter such as E:, not \"" + value + "\"";
        return false;
      }
      invocation_.drive = letter;
      invocation_.given |= kOptionDrive;
    } else if (word == "--addon" || word == "--to") {
      if (!Value(word, value, error)) return false;
      (word == "--to" ? invocation_.to : invocation_.addOn) = value;
      invocation_.given |= word == "--to" ? kOptionTo : kOptionAddOn;
    } else if (word == "--camera" || word == "--layout") {
      const bool camera = word == "--camera";
      if (!Value(word, value, error)) return false;
      if (!ParseChoice(value, camera ? "left" : "one", camera ? "right" : "two",
                       camera ? answers.camera : answers.layout)) {
        error = Usage(camera ? kOptionCamera : kOptionLayout) + ", not \"" + value + "\"";
        return false;
      }
      invocation_.given |= camera ? kOptionCamera : kOptionLayout;
    } else if (word.rfind('-', 0) == 0) {
      error = "unknown option " + word;
      return false;
    } else if (invocation_.command == nullptr) {
      invocation_.command = Find(word);
      if (invocation_.command == nullptr) error = "unknown command \"" + word + "\"";
      return invocation_.command != nullptr;
    } else {
      error = "one command at a time: \"" + word + "\" follows " + invocation_.command->name;
      return false;
    }
    return true;
  }

  // Every option given must be one the command takes.
  bool Check(std::string& error) const {
    if (invocation_.help || invocation_.version) return true;
    const CommandSpec* command = invocation_.command;
    const unsigned windowOptions = kOptionCard | kOptionDrive | kOptionAddOn;
    const bool window = command == nullptr || command->end == EndSign::Served;
    const unsigned takes = window ? windowOptions : kCardOptions | command->takes;
    for (const OptionName& name : kOptionNames) {
      if ((invocation_.given & name.option) == 0 || (takes & name.option) != 0) continue;
      error = command != nullptr ? std::string(command->name) + " does not take " + name.name
                                 : std::string(name.name) + " belongs to a command; the window asks";
      return false;
    }
    return true;
  }

  const std::vector<std::string>& arguments_;
  Invocation& invocation_;
  std::size_t index_ = 0;
  std::optional<std::string> inline_;
};

// Words in lines of at most kHelpWidth columns, the first one starting at
// column `at`, the others indented by `indent`.
constexpr std::size_t kHelpWidth = 79;
std::string Wrap(const std::string& text, std::size_t at, std::size_t indent) {
  std::string wrapped;
  std::size_t column = at;
  bool lineStart = true;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    const std::string word = text.substr(start, end - start);
    if (!lineStart && column + 1 + word.size() > kHelpWidth) {
      wrapped += "\n" + std::string(indent, ' ');
      column = indent;
      lineStart = true;
    }
    wrapped += (lineStart ? "" : " ") + word;
    column += word.size() + (lineStart ? 0 : 1);
    lineStart = false;
    start = end + 1;
  }
  return wrapped + "\n";
}

std::string OptionsText(unsigned options) {
  std::string text;
  for (const OptionName& name : kOptionNames) {
    std::string usage = name.usage;
    if (const std::size_t either = usage.find(" or "); either != std::string::npos) usage.replace(either, 4, "|");
    if ((options & name.option) != 0) text += std::string(text.empty() ? "" : " ") + "[" + usage + "]";
  }
  return text;
}

}  // namespace

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
      {"list", 0, 0, 0, false, EndSign::Listed, {},
       "Lists the drives the program sees: each letter with its device and partition (or image), its size, "
       "vendor and model.",
       "0 when the drives were listed, none found included; 1 when a card named cannot be read (a block device "
       "without root, an image the user may not read)."},
      {"inspect", IDC_INSPECT, 0, 0, false, EndSign::Inspected, {},
       "Shows what the window shows of a card: its drive, status line and partition report. Without --drive, of "
       "every drive of the cards named, or of every drive when none is.",
       "0 when a card was found and every one shown was identified; 1 otherwise."},
      {"make-bootable", IDC_MAKE_BOOTABLE, 0, 0, true, EndSign::BootMark, {},
       "Writes the boot mark BOOTDISK into the boot sector of the drive's volume (offered, as in the window, "
       "for a FAT12 or FAT16 volume without it).",
       "0 when the card, inspected again, carries the boot mark."},
      {"script-flag", IDC_SCRIPT_FLAG, 0, 0, true, EndSign::Inspection, {},
       "Writes the script flag SCRIPT into the volume's boot sector and makes extend.m and script.req in its root.",
       "0 when the flag was written and the card inspected again, with no error box."},
      {"dump", IDC_DUMP_BOOT_SECTOR, 0, 0, true, EndSign::EndMessage, {disk::kDumpDoneText},
       "Saves the volume's boot sector to ~/DUMP.BIN.",
       "0 when the box \"Write to ~/DUMP.BIN\" came, with no error box."},
      {"format", IDC_FORMAT, kOptionQuick | kOptionFat, kOptionQuick, true, EndSign::Inspection, {},
       "Formats the drive's volume, quick (--quick) or full (--full, which zeroes it first): FAT up to 10 MB, "
       "FAT32 over 4000 MB, and between them --fat or --fat32.",
       "0 when the format ran and the card was inspected again, with no error box."},
      {"copy-addon", IDC_COPY_VORN, 0, 0, true, EndSign::FolderOpened, {},
       "Copies the add-on's files (DISKBOOT.BIN, PS.FIR, LYRE, DCIM) from the add-on folder onto the card.",
       "0 when every file was copied and the card's folder opened, with no error box."},
      {"swap", IDC_SWAP_PARTITIONS, kOptionYes, kOptionYes, true, EndSign::EndMessage, {CatalogueText(MSG_REMOVE_AND_REINSERT)},
       "Exchanges the first two entries of the card's partition table (--yes answers \"Sure?\").",
       "0 when the table was written and the card read again, with no error box."},
      {"create-partition", IDC_CREATE_PARTITION, kOptionLayout, kOptionLayout, true, EndSign::EndMessage,
       {CatalogueText(MSG_REMOVE_AND_REINSERT)},
       "Writes a new partition table with one partition (--layout one) or two (--layout two): what the card "
       "held is lost.",
       "0 when the table was written and the card read again, with no error box."},
      {"new-install", IDC_NEW_INSTALL, kOptionCamera | kOptionLayout | kOptionQuick | kOptionYes,
       kOptionCamera | kOptionLayout | kOptionYes | kOptionQuick, true, EndSign::EndMessage,
       {CatalogueText(MSG_INSTALL_FINISHED), CatalogueText(MSG_INSTALL_FINISHED_CONFIRM)},
       "Makes the card one the camera starts VORN from: its real size tested, a new partition table where the "
       "layout needs one, format, boot mark, the add-on's files and the camera's configuration, all read back.",
       "0 when \"Install finished!\" came after the read-back, with no error box."},
      {"version-up", IDC_VERSION_UP, kOptionCamera, kOptionCamera, true, EndSign::EndMessage,
       {CatalogueText(MSG_VERSION_UP_FINISHED)},
       "Brings an installed card up to the add-on beside the program, keeping its configuration as "
       "LYRE\\LYRE.CFG.OLD.",
       "0 when \"Version Up finished!\" came, with no error box."},
      {"copy-images", IDC_COPY_IMAGES, kOptionTo | kOptionMove | kOptionYes, kOptionTo, true, EndSign::FolderOpened, {},
       "Copies the camera's image folders from the card's DCIM folder into DIR (made when missing); with "
       "--move they leave the card.",
       "0 when the copy ended and the folder was opened, with no error box."},
      {"serve", 0, 0, 0, false, EndSign::Served, {},
       "The window's engine, not to be typed: vorninst-window starts it (through pkexec) and speaks to it in "
       "lines on its standard input and output. It works only on the cards it lists itself and those named with "
       "--card.",
       "0 after the window's quit or the end of its input; 1 when a card named with --card is refused; 2 for bad "
       "usage or a line it could not take, after which it writes nothing more."},
  };
  return commands;
}

bool ParseCommandLine(const std::vector<std::string>& arguments, Invocation& invocation, std::string& error) {
  return Parser(arguments, invocation).Parse(error);
}

std::string MissingAnswers(const CommandSpec& command, unsigned given) {
  std::string missing;
  for (const OptionName& name : kOptionNames) {
    if ((command.needs & name.option) != 0 && (given & name.option) == 0) {
      missing += std::string(missing.empty() ? "" : ", ") + name.usage;
    }
  }
  return missing;
}

std::string VersionText() {
  const std::vector<TemplateControl> about = TemplateControls(kAboutTemplate);
  std::string text = "vorninst";
  for (const TemplateControl& control : about) {
    if (control.IsStatic() && control.text.rfind("Version", 0) == 0) text += " " + std::string(control.text);
  }
  return text + "\n" + kLicence;
}

std::string ProgramHelp() {
  std::string text =
      "Usage: vorninst [--card PATH]... [--drive E:] [--addon DIR] [COMMAND [OPTIONS]]\n"
      "       vorninst COMMAND --help | --help | --version\n\n"
      "Prepares an SD card so that the camera starts the VORN add-on by itself.\n"
      "Without a command it shows the program's window in the terminal: the drives,\n"
      "the card's status and report, and its buttons as a numbered menu. A command\n"
      "presses one button, with its questions answered by options.\n\n"
      "Commands (each with --help):\n";
  for (const CommandSpec& command : Commands()) {
    const std::string caption = command.button > IDC_INSPECT ? ControlText(kMainWindowTemplate, command.button) : "";
    constexpr std::size_t kColumn = 20;
    const std::string name = command.name;
    text += "  " + name + std::string(kColumn - 2 - name.size(), ' ') +
            Wrap((caption.empty() ? "" : "\"" + caption + "\": ") + command.does, kColumn, kColumn);
  }
  text +=
      "\nOptions:\n"
      "  --card PATH   a card: a block device (/dev/sdb, /dev/loop3; needs root) or an\n"
      "                image file (needs the right to write it); repeatable\n"
      "  --drive E:    the drive letter to work on (vorninst list shows them); without\n"
      "                it, the first drive of the card named first\n"
      "  --addon DIR   the add-on's files (DISKBOOT.BIN, PS.FIR, LYRE, DCIM,\n"
      "                LYRE.CFG.L, LYRE.CFG.R), remembered; when not given, the\n"
      "                program's folder if they lie there, else the one named last\n"
      "  --yes         answers Yes to every confirmation\n"
      "Every command but list and inspect needs --card or --drive: it never picks a\n"
      "card itself. A question that no option answers is asked when the input is a\n"
      "terminal; otherwise the command ends as at Cancel (No where there is none),\n"
      "naming the option that answers it.\n\n"
      "Ctrl-C (or SIGTERM, SIGHUP) stops a command: the step in hand ends, the size\n"
      "test puts its test sectors back, the tools it runs are ended, and nothing more\n"
      "is written to the card.\n\n"
      "Exit status: 0 when the command reached its end (see each command's --help);\n"
      "1 when it ended early or was refused (Cancel or No, an error box, no root for\n"
      "a block device); 2 for bad usage (an unknown command or option, a missing\n"
      "value, a path that is no card); 130 when Ctrl-C, SIGTERM or SIGHUP stopped it.\n";
  return text;
}

std::string CommandHelp(const CommandSpec& command) {
  const std::string own = OptionsText(command.takes);
  std::string text = Wrap("Usage: vorninst " + OptionsText(kOptionCard | kOptionDrive | kOptionAddOn) + " " + command.name +
                              (own.empty() ? "" : " " + own),
                          0, 8) +
                     "\n";
  std::string about = command.does;
  if (command.button > IDC_INSPECT) {
    about += " It is the window's button \"" + ControlText(kMainWindowTemplate, command.button) + "\".";
  }
  if (command.onOneCard) about += " It needs --card PATH or --drive E:.";
  const std::string needs = MissingAnswers(command, 0);
  if (!needs.empty()) about += " Without a terminal to ask, it needs " + needs + ".";
  text += Wrap(about, 0, 0) + "\n";
  // serve says all its statuses itself.
  if (command.end == EndSign::Served) return text + Wrap("Exit status: " + std::string(command.done), 0, 0);
  // list only lists: its own text tells when it ends with 1.
  const std::string early = command.end == EndSign::Listed ? "" : " 1 when it ended early or was refused;";
  text += Wrap("Exit status: " + std::string(command.done) + early + " 2 for bad usage; 130 when stopped (Ctrl-C).", 0, 0);
  return text;
}

}  // namespace linuxhost
