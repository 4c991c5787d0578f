#include "terminal/screen.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <iterator>

#include "card/card_report.h"
#include "linux/block_devices.h"
#include "linux/templates.h"
#include "terminal/terminal.h"
#include "res/controls.def"
#include "res/ids.h"

namespace linuxhost {
namespace {

// Narrower than this, the window is one thing a line.
constexpr int kNarrow = 60;
constexpr char kGap[] = "   ";
constexpr char kIndent[] = "  ";
// The buttons that erase or rewrite a card: what it holds is said first.
constexpr int kErasingButtons[] = {IDC_NEW_INSTALL, IDC_CREATE_PARTITION, IDC_FORMAT, IDC_SWAP_PARTITIONS};

std::string DriveList(const std::string& indent) {
  const WindowState& window = Window();
  std::string selected;
  if (window.comboSelection >= 0 && window.comboSelection < static_cast<int>(window.comboEntries.size())) {
    selected = window.comboEntries[static_cast<std::size_t>(window.comboSelection)];
  }
  std::string list;
  for (const std::string& entry : window.comboEntries) {
    const std::vector<Drive> drives = Drives();
    const auto drive = std::find_if(drives.begin(), drives.end(), [&entry](const Drive& d) {
      return !entry.empty() && d.letter == std::toupper(static_cast<unsigned char>(entry[0]));
    });
    const std::string line = drive != drives.end() ? DriveLine(*drive) : entry;
    list += indent + (entry == selected ? "* " : "  ") + line + "\n";
  }
  return list;
}

// Bytes as a user reads them: "7.4 GiB", "20.0 MiB", "512 bytes".
std::string ReadableSize(std::uint64_t bytes) {
  constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  constexpr std::uint64_t kStep = 1024;
  if (bytes < kStep) return std::to_string(bytes) + " bytes";
  std::uint64_t unit = kStep;
  std::size_t index = 0;
  while (index + 1 < std::size(kUnits) && bytes / unit >= kStep) {
    unit *= kStep;
    ++index;
  }
  const std::uint64_t tenths = (bytes * 10 + unit / 2) / unit;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " + kUnits[index];
}

std::string PartitionText(const PartitionContents& partition) {
  std::string text = partition.number != 0 ? "partition " + std::to_string(partition.number) + " " : "";
  if (partition.fileSystem.empty()) {
    constexpr char kHex[] = "0123456789abcdef";
    const std::string type = partition.type == 0 ? std::string()
                                                 : std::string(" (type 0x") + kHex[partition.type >> 4] +
                                                       kHex[partition.type & 0xF] + ")";
    return text + "no file system it reads" + type;
  }
  text += partition.fileSystem;
  if (!partition.label.empty()) text += " \"" + partition.label + "\"";
  if (partition.usedKnown) text += ", " + ReadableSize(partition.usedBytes) + " used";
  return text;
}

}  // namespace

std::string ContentsLine(char letter, bool onlyShown) {
  CardContents contents;
  if (!ContentsOfCard(letter, contents)) return {};
  std::string line = contents.disk + " ";
  for (const std::string& name : {contents.vendor, contents.model}) line += name.empty() ? "" : " " + name;
  line += " " + ReadableSize(contents.bytes) + ": ";
  if (!contents.table) line += "no partition table, ";
  if (contents.gpt) line += "GPT, ";
  std::string parts;
  for (const PartitionContents& partition : contents.partitions) {
    if (onlyShown && !partition.shownAs) continue;
    parts += (parts.empty() ? "" : "; ") + PartitionText(partition);
  }
  return line + (parts.empty() ? "no partition" : parts);
}

std::string StakeLine(int button, char letter) {
  if (std::find(std::begin(kErasingButtons), std::end(kErasingButtons), button) == std::end(kErasingButtons)) return {};
  const std::string line = ContentsLine(letter, button == IDC_FORMAT);
  return line.empty() ? line : ControlText(kMainWindowTemplate, button) + " works on " + line;
}

int ComboIndex(char letter) {
  const std::vector<std::string>& entries = Window().comboEntries;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].empty() && std::toupper(static_cast<unsigned char>(entries[i][0])) == letter) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string DiskOf(char letter) {
  for (const Drive& drive : Drives()) {
    if (drive.letter == letter) return drive.disk;
  }
  return {};
}

char Reinspect(const std::string& disk, char selected) {
  Tick();
  if (Window().quitPosted) return 0;
  char letter = 0;
  for (const Drive& drive : Drives()) {
    if (drive.disk != disk || ComboIndex(drive.letter) < 0) continue;
    if (letter == 0 || drive.letter == selected) letter = drive.letter;
  }
  if (letter != 0) SelectDrive(ComboIndex(letter));
  return letter;
}

std::string IndentedLines(const std::string& text, const std::string& indent) {
  std::string lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines += indent + text.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return lines;
}

std::string DriveLine(const Drive& drive) {
  std::string line = std::string(1, drive.letter) + ":  " + drive.device + "  " +
                     card::FormatSize(drive.bytes, MSG_FMT_SIZE_MB, MSG_FMT_SIZE_DECIMAL);
  const std::string maker = drive.vendor + (drive.vendor.empty() || drive.model.empty() ? "" : " ") + drive.model;
  return maker.empty() ? line : line + "  " + maker;
}

std::vector<int> MenuButtons() {
  std::vector<int> buttons;
  for (const auto& line : ReadingLines(TemplateControls(kMainWindowTemplate))) {
    for (const TemplateControl& control : line) {
      if (control.IsPushButton() && control.id != IDC_EXIT) buttons.push_back(control.id);
    }
  }
  return buttons;
}

std::string MainWindowText(int width) {
  const WindowState& window = Window();
  const std::vector<TemplateControl> controls = TemplateControls(kMainWindowTemplate);
  const std::vector<int> buttons = MenuButtons();
  const bool plain = width < kNarrow;
  std::string text = std::string(VORN_TITLE_MAIN_WINDOW) + "\n" + "[0] " + VORN_MENU_EXIT + kGap + "[A] " +
                     VORN_MENU_ABOUT + "\n";
  for (const auto& line : ReadingLines(controls)) {
    std::string row;  // what shares the line, joined while it fits
    std::string below;  // what takes lines of its own
    std::string indent;
    for (const TemplateControl& control : line) {
      indent = InGroupBox(control, controls) ? kIndent : "";
      std::string item;
      const auto number = std::find(buttons.begin(), buttons.end(), control.id);
      if (control.IsGroupBox()) {
        item = std::string(control.text);
      } else if (control.id == IDC_DRIVE_COMBO) {
        below += DriveList(indent + kIndent);
      } else if (control.IsStatic() && control.id != IDC_UNADDRESSED) {
        below += IndentedLines(ShownText(window.Text(control.id)), indent);  // the status line and the report
      } else if (control.IsStatic()) {
        item = std::string(control.text);
      } else if (control.id == IDC_EXIT) {
        item = "[0] " + std::string(control.text);
      } else if (number != buttons.end() && Offered(control.id)) {
        item = "[" + std::to_string(number - buttons.begin() + 1) + "] " + std::string(control.text);
      }
      if (item.empty()) continue;
      const bool fits = !plain && !row.empty() &&
                        static_cast<int>(indent.size() + row.size() + sizeof kGap - 1 + item.size()) < width;
      if (row.empty()) {
        row = item;
      } else if (fits) {
        row += kGap + item;
      } else {
        text += indent + row + "\n";
        row = item;
      }
    }
    if (!row.empty()) text += indent + row + "\n";
    text += below;
  }
  return text;
}

bool Offered(int button) { return Window().enabled && Window().Visible(button); }

std::string MainWindowPrompt() {
  const std::vector<int> buttons = MenuButtons();
  const bool anyButton = std::any_of(buttons.begin(), buttons.end(), Offered);
  std::string choices = anyButton ? "a button's number, " : "";
  if (!Window().comboEntries.empty()) choices += "a drive (" + Window().comboEntries.front().substr(0, 2) + "), ";
  return "Choose " + choices + "A for " + std::string(VORN_MENU_ABOUT) + ", 0 for " + std::string(VORN_MENU_EXIT) +
         ", or Enter to look again: ";
}

std::string RootNote() {
  if (::geteuid() == 0 || RemovableDisks().empty()) return {};
  return "Removable disks need root to be seen: run it with sudo (image files need no root).\n";
}

}  // namespace linuxhost
