#include "terminal/terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <utility>

#include "host/host.h"
#include "linux/linux_host.h"
#include "linux/templates.h"
#include "res/ids.h"

namespace linuxhost {
namespace {
namespace fs = std::filesystem;

constexpr unsigned kButtonsMask = 0xF;
// The Esc key, as a line of a terminal that reads lines: a box's Cancel (No
// where there is none), a dialog's Cancel.
constexpr char kEscape[] = "\x1b";
// Where a PC path ends inside a box's text.
constexpr char kPathEnds[] = "\"'!?,;)";

// "OK" as the key that answers it: "[O]K".
std::string Keyed(const std::string& caption) {
  return caption.empty() ? caption : "[" + caption.substr(0, 1) + "]" + caption.substr(1);
}

std::string Keys(unsigned buttons) {
  switch (buttons) {
    case host::kMbYesNo: return "[Y]es [N]o";
    case host::kMbYesNoCancel: return "[Y]es [N]o [C]ancel";
    default: return "[O]K";
  }
}

std::string AnswerName(int answer) {
  switch (answer) {
    case host::kIdYes: return "Yes";
    case host::kIdNo: return "No";
    case host::kIdCancel: return "Cancel";
    default: return "OK";
  }
}

// What a box answers when no one does: Cancel, or No where there is none.
int NoAnswer(unsigned buttons) {
  if (buttons == host::kMbYesNoCancel) return host::kIdCancel;
  return buttons == host::kMbYesNo ? host::kIdNo : host::kIdOk;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// A folder the logic keeps (Z:\home\me) as the user knows it.
std::string ShownFolder(const std::string& pcPath) {
  const std::string local = ToLinuxPath(pcPath);
  return local.empty() ? pcPath : local;
}

// The dialog's controls the user changes by number: all but OK, CANCEL,
// labels and group boxes, as a reader meets them.
std::vector<int> Numbered(const std::string& dialog) {
  std::vector<int> ids;
  for (const auto& line : ReadingLines(TemplateControls(dialog))) {
    for (const TemplateControl& control : line) {
      if (control.id != IDC_UNADDRESSED && control.id != IDC_OK && control.id != IDC_CANCEL) ids.push_back(control.id);
    }
  }
  return ids;
}

std::string OkCancelKeys(const std::string& dialog) {
  return Keyed(ControlText(dialog, IDC_OK)) + " " + Keyed(ControlText(dialog, IDC_CANCEL));
}

// The dialog as it stands: its group boxes as headings, every control the
// user changes numbered, with its state.
std::string DialogText(const Dialog& dialog) {
  const std::vector<TemplateControl> controls = TemplateControls(dialog.Name());
  const std::vector<int> numbered = Numbered(dialog.Name());
  std::string text = "--- " + DialogTitle(dialog.Name()) + " ---\n";
  for (const auto& line : ReadingLines(controls)) {
    std::string label;  // a static's text, for the edit box after it
    for (const TemplateControl& control : line) {
      const std::string indent = InGroupBox(control, controls) ? "  " : "";
      const auto number = std::find(numbered.begin(), numbered.end(), control.id);
      if (control.IsGroupBox()) {
        text += indent + std::string(control.text) + "\n";
      } else if (control.IsStatic() && !control.IsIcon()) {
        label = control.text;
      } else if (number != numbered.end()) {
        const std::string item = indent + "  " + std::to_string(number - numbered.begin() + 1) + " ";
        const int id = control.id;
        if (control.IsRadio()) text += item + (dialog.Checked(id) ? "(*) " : "( ) ") + std::string(control.text) + "\n";
        if (control.IsCheckBox()) text += item + (dialog.Checked(id) ? "[x] " : "[ ] ") + std::string(control.text) + "\n";
        if (control.IsEdit()) text += item + label + " " + ShownFolder(dialog.Text(id)) + "\n";
        if (control.IsPushButton()) text += item + "[" + std::string(control.text) + "]\n";
        if (control.IsEdit()) label.clear();
      }
    }
  }
  return text;
}

}  // namespace

Terminal::Terminal(Answers answers, bool scripted) : answers_(std::move(answers)), scripted_(scripted) {}

void Terminal::BeginCommand() {
  outcome_ = Outcome{};
  cardNamed_ = false;
  Console::Get().Reset();
}

bool Terminal::CanAsk() const { return !scripted_ || Console::Get().InputIsTerminal(); }

void Terminal::Stop(const std::string& why) {
  outcome_.stopped = true;
  Console::Get().Interrupt();
  if (!why.empty()) Console::Get().Print("vorninst: " + why + "\n", true);
}

std::optional<int> Terminal::Preset(const std::string& text, unsigned buttons, std::string& option) const {
  const auto yesOrNo = [](const std::optional<bool>& yes) -> std::optional<int> {
    if (!yes) return std::nullopt;
    return *yes ? host::kIdYes : host::kIdNo;
  };
  if (text == CatalogueText(MSG_QUICK_FORMAT)) {
    option = "--quick or --full";
    return yesOrNo(answers_.quick);
  }
  if (text == CatalogueText(MSG_FAT_OR_FAT32)) {
    option = "--fat or --fat32";
    return yesOrNo(answers_.fat32 ? std::optional<bool>(!*answers_.fat32) : std::nullopt);
  }
  if (text == CatalogueText(MSG_ONE_OR_TWO_PARTITIONS)) {
    option = "--layout one or --layout two";
    return yesOrNo(answers_.layout ? std::optional<bool>(*answers_.layout == 0) : std::nullopt);
  }
  option = "--yes";
  return answers_.yes && buttons != host::kMbOk ? std::optional<int>(host::kIdYes) : std::nullopt;
}

int Terminal::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  Console& console = Console::Get();
  // Said already, in the terms of this system (its device, GiB): going on
  // is what the user chose, and the command's own question follows.
  if (cardNamed_ && caption == CatalogueText(MSG_CAPTION_CARD_AT_STAKE) && !console.Interrupted()) return host::kIdYes;
  outcome_.boxes.push_back(text);
  const bool error = caption == CatalogueText(MSG_CAPTION_ERROR);
  outcome_.errorBox = outcome_.errorBox || error;
  console.Print("--- " + caption + " ---\n" + ShownText(text) + "\n", error);
  const unsigned buttons = flags & kButtonsMask;
  // A notice waits for the user at a terminal; a script needs no hands.
  if (buttons == host::kMbOk) {
    std::string line;
    if (scripted_) {
      console.Print(Keys(buttons) + ": OK\n", error);
    } else if (console.ReadLine(Keys(buttons) + " ", line, error) != Console::Read::Line) {
      console.Print("OK\n", error);
    }
    return host::kIdOk;
  }
  // After a Ctrl-C every question ends the command, as its Cancel would.
  if (console.Interrupted()) {
    Stop("");
    console.Print(Keys(buttons) + ": " + AnswerName(NoAnswer(buttons)) + " (Ctrl-C)\n");
    return NoAnswer(buttons);
  }
  std::string option;
  const std::optional<int> preset = scripted_ ? Preset(text, buttons, option) : std::nullopt;
  if (preset) {
    console.Print(Keys(buttons) + ": " + AnswerName(*preset) + " (" + option + ")\n");
    return *preset;
  }
  if (!CanAsk()) {
    Preset(text, buttons, option);
    console.Print(Keys(buttons) + ": " + AnswerName(NoAnswer(buttons)) + " (no answer)\n");
    Stop("no answer to \"" + FirstLine(text) + "\": give " + option + ". It ends as " +
         AnswerName(NoAnswer(buttons)) + ".");
    return NoAnswer(buttons);
  }
  return Ask(buttons);
}

int Terminal::Ask(unsigned buttons) {
  Console& console = Console::Get();
  for (;;) {
    std::string line;
    if (console.ReadLine(Keys(buttons) + " ", line) != Console::Read::Line) {
      Stop("");
      console.Print(AnswerName(NoAnswer(buttons)) + "\n");
      return NoAnswer(buttons);
    }
    if (Typed(line) == kEscape) return NoAnswer(buttons);
    const std::string key = Typed(line).substr(0, 1);
    if (key == "y") return host::kIdYes;
    if (key == "n") return host::kIdNo;
    if (key == "c" && buttons == host::kMbYesNoCancel) return host::kIdCancel;
    console.Print(std::string(buttons == host::kMbYesNoCancel ? "Type Y, N or C" : "Type Y or N") +
                      " and Enter (Esc: " + AnswerName(NoAnswer(buttons)) + ").\n",
                  true);
  }
}

bool Terminal::PlayAnswers(Dialog& dialog, std::string& missing) {
  struct Choice {
    int first;  // the radio button of answer 0; answer 1's follows it
    std::optional<int> Answers::*answer;
    const char* option;
    const char* values;
  };
  const Choice choices[] = {{IDC_CAMERA_LEFT, &Answers::camera, "--camera", " left|right"},
                            {IDC_ONE_PARTITION, &Answers::layout, "--layout", " one|two"}};
  const auto add = [](std::string& list, const std::string& item) { list += (list.empty() ? "" : ", ") + item; };
  std::string given;
  for (const Choice& choice : choices) {
    if (!dialog.Exists(choice.first)) continue;
    const std::optional<int>& answer = answers_.*choice.answer;
    if (answer) dialog.Click(choice.first + *answer);
    add(answer ? given : missing, std::string(choice.option) + (answer ? "" : choice.values));
  }
  if (dialog.Exists(IDC_DESTINATION)) {
    if (answers_.to) dialog.Type(IDC_DESTINATION, *answers_.to);
    add(answers_.to ? given : missing, answers_.to ? "--to" : "--to DIR");
    if (dialog.Checked(IDC_DELETE_AFTER_COPY) != answers_.move) dialog.Click(IDC_DELETE_AFTER_COPY);
  }
  Console::Get().Print(DialogText(dialog));
  if (!missing.empty()) return false;
  Console::Get().Print(OkCancelKeys(dialog.Name()) + ": " + ControlText(dialog.Name(), IDC_OK) + " (" + given + ")\n");
  dialog.Click(IDC_OK);
  // The procedure kept the dialog up, having said why: the answers do not
  // do, and no one is there to mend them.
  if (!dialog.Ended()) {
    Stop("the answers to \"" + DialogTitle(dialog.Name()) + "\" were refused.");
    dialog.Escape();
  }
  return true;
}

void Terminal::RunDialog(Dialog& dialog) {
  if (Console::Get().Interrupted()) {
    Stop("");
    dialog.Escape();
    return;
  }
  std::string missing;
  if (scripted_) {
    if (PlayAnswers(dialog, missing)) return;
  } else {
    Console::Get().Print(DialogText(dialog));
  }
  if (!CanAsk()) {
    Stop("no answer to the dialog \"" + DialogTitle(dialog.Name()) + "\": give " + missing + ". It ends as " +
         ControlText(dialog.Name(), IDC_CANCEL) + ".");
    dialog.Escape();
    return;
  }
  AskDialog(dialog);
}

void Terminal::AskDialog(Dialog& dialog) {
  Console& console = Console::Get();
  const std::vector<int> numbered = Numbered(dialog.Name());
  const std::string prompt = "Choose 1-" + std::to_string(numbered.size()) + " to change, or " +
                             OkCancelKeys(dialog.Name()) + ": ";
  while (!dialog.Ended()) {
    std::string line;
    if (console.ReadLine(prompt, line) != Console::Read::Line) {
      Stop("");
      console.Print(ControlText(dialog.Name(), IDC_CANCEL) + "\n");
      dialog.Escape();
      return;
    }
    const std::string key = Typed(line);
    const std::size_t number = key.find_first_not_of("0123456789") == std::string::npos && !key.empty() &&
                                       key.size() < 3
                                   ? std::stoul(key)
                                   : 0;
    if (key == kEscape) {
      dialog.Escape();
    } else if (key == "o" || key == Typed(ControlText(dialog.Name(), IDC_OK))) {
      dialog.Click(IDC_OK);
    } else if (key == "c" || key == Typed(ControlText(dialog.Name(), IDC_CANCEL))) {
      dialog.Click(IDC_CANCEL);
    } else if (number >= 1 && number <= numbered.size()) {
      const int id = numbered[number - 1];
      if (dialog.KindOf(id) == Dialog::Control::Kind::Edit) {
        TypeFolder(dialog, id);
      } else {
        dialog.Click(id);
      }
    } else {
      console.Print("No such choice: " + line + " (" + prompt.substr(0, prompt.size() - 2) + ").\n", true);
      continue;
    }
    if (!dialog.Ended()) console.Print(DialogText(dialog));
  }
}

void Terminal::TypeFolder(Dialog& dialog, int id) {
  Console& console = Console::Get();
  std::string line;
  if (console.ReadLine("Folder (a full path, ~/ or a relative one; Enter keeps it): ", line) !=
      Console::Read::Line) {
    return;  // the dialog's own prompt answers for the Ctrl-C
  }
  if (line.empty()) return;
  std::string windows;
  std::string refusal;
  if (ToWindowsPath(FullPath(line), windows, refusal)) {
    dialog.Type(id, windows);
  } else {
    console.Print(refusal + "\n", true);
  }
}

std::string Terminal::BrowseForFolder(const std::string& title, const std::string& selected) {
  Console& console = Console::Get();
  console.Print("--- " + title + " ---\n");
  const std::string prompt =
      "Folder" + (selected.empty() ? std::string() : " (Enter: " + selected + ")") + ", or C to cancel: ";
  for (;;) {
    std::string line;
    if (console.ReadLine(prompt, line) != Console::Read::Line) {
      Stop("");
      return {};
    }
    if (Typed(line) == "c") return {};
    const std::string folder = line.empty() ? selected : FullPath(line);
    std::error_code error;
    if (!folder.empty() && fs::is_directory(folder, error)) return folder;
    if (!folder.empty()) console.Print(folder + " is no folder.\n", true);
  }
}

void Terminal::About() {
  Console& console = Console::Get();
  std::string text = "--- " + DialogTitle(kAboutTemplate) + " ---\n";
  for (const TemplateControl& control : TemplateControls(kAboutTemplate)) {
    if (control.IsStatic() && !control.IsIcon()) text += std::string(control.text) + "\n";
  }
  console.Print(text);
  std::string line;
  const std::string ok = Keyed(ControlText(kAboutTemplate, IDC_OK));
  if (scripted_ || console.ReadLine(ok + " ", line) != Console::Read::Line) console.Print(ok + "\n");
}

void Terminal::OpenFolder(const std::string& folder) {
  outcome_.folderOpened = true;
  std::string shown = ShownText(folder);
  for (const Drive& drive : Drives()) {
    if (folder.size() == 3 && std::toupper(static_cast<unsigned char>(folder[0])) == drive.letter) {
      shown += " (" + drive.device + ")";
    }
  }
  Console::Get().Print(ControlText(kMainWindowTemplate, IDC_FOLDER_OPEN) + ": " + shown + "\n");
}

void Terminal::Progress(const std::string& line) { Console::Get().Progress(ShownText(line)); }
void Terminal::Notice(const std::string& line) { Console::Get().Print("vorninst: " + ShownText(line) + "\n", true); }

bool Terminal::Interrupted() { return Console::Get().Interrupted(); }

std::string ShownText(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    const bool starts = i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1]));
    if (!starts || letter < 'A' || letter > 'Z' || text.compare(i + 1, 2, ":\\") != 0) {
      shown += text[i++];
      continue;
    }
    std::size_t end = i + 3;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
           std::strchr(kPathEnds, text[end]) == nullptr) {
      ++end;
    }
    const std::string pcPath = text.substr(i, end - i);
    std::string local = ToLinuxPath(pcPath);
    // A card's path keeps its drive, with Linux's separators: E:/LYRE/LYRE.CFG.
    if (letter != 'C' && letter != 'Z') {
      local = pcPath;
      std::replace(local.begin(), local.end(), '\\', '/');
    }
    const std::string& home = TheUser().home;
    // The user's home is "~", as a shell shows it.
    if (letter == 'C' && local.compare(0, home.size(), home) == 0) local = "~" + local.substr(home.size());
    shown += local.empty() ? pcPath : local;
    i = end;
  }
  return shown;
}

std::string Typed(std::string line) {
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  while (!line.empty() && line.back() == ' ') line.pop_back();
  while (!line.empty() && line.front() == ' ') line.erase(0, 1);
  return line;
}

std::string FullPath(const std::string& typed) {
  std::string path = typed;
  if (path == "~" || path.rfind("~/", 0) == 0) path = TheUser().home + path.substr(1);
  std::error_code error;
  fs::path full = fs::path(path).is_absolute() ? fs::path(path) : fs::current_path(error) / path;
  std::string normal = full.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

}  // namespace linuxhost
