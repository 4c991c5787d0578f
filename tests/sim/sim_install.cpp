// The simulated PC's dialogs, its format.com and its shell file operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <utility>

#include "res/ids.h"
#include "sim_host.h"

namespace sim {
namespace fs = std::filesystem;

namespace {

using Kind = SimDialog::Control::Kind;

constexpr char kSystemDirectory[] = "C:\\Windows\\system32";
constexpr char kFormatProgram[] = "\\format.com";
constexpr std::uintptr_t kBnClicked = 0;

// What format.com accepts (bytes of the volume).
constexpr std::uint64_t kMiB = 1048576;
constexpr std::uint64_t kFatLimit = 4096 * kMiB;
constexpr std::uint64_t kFat12Below = 16 * kMiB;
constexpr std::uint64_t kFat32Minimum = 65527 * std::uint64_t{512};
constexpr std::uint64_t kFat32Limit = 32768 * kMiB;
constexpr std::uint64_t kNewerFat32Limit = (std::uint64_t{1} << 32) * 512 - 512;
constexpr std::uint32_t kFormatRefused = 1;

// Shell results (winerror.h values the shell passes on).
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kWriteProtect = 19;
constexpr int kDiskFull = 112;

struct TemplateControl {
  int id;
  Kind kind;
  int group;
};

// The dialogs whose procedure is the program's, as their templates hold them.
const std::map<std::string, std::vector<TemplateControl>>& ProcedureTemplates() {
  static const std::map<std::string, std::vector<TemplateControl>> templates = {
      {"INSTSET",
       {{1, Kind::Button, 0}, {2, Kind::Button, 0}, {IDC_CAMERA_LEFT, Kind::Radio, 1},
        {IDC_CAMERA_RIGHT, Kind::Radio, 1}, {IDC_ONE_PARTITION, Kind::Radio, 2},
        {IDC_TWO_PARTITIONS, Kind::Radio, 2}}},
      {"INSTSET2",
       {{1, Kind::Button, 0}, {2, Kind::Button, 0}, {IDC_CAMERA_LEFT, Kind::Radio, 1},
        {IDC_CAMERA_RIGHT, Kind::Radio, 1}}},
      {"TODIR",
       {{1, Kind::Button, 0}, {2, Kind::Button, 0}, {IDC_DESTINATION, Kind::Edit, 0},
        {IDC_BROWSE, Kind::Button, 0}, {IDC_DELETE_AFTER_COPY, Kind::Check, 0}}},
  };
  return templates;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The one path of a shell list; the list must end right after it.
std::string OnlyPath(const char* list) {
  if (list == nullptr) {
    ADD_FAILURE() << "no path list";
    return {};
  }
  const std::string path = list;
  EXPECT_EQ(list[path.size() + 1], '\0') << "a list of one path ends with two NULs: " << path;
  return path;
}

// "E:\LYRE\LYRE.CFG" -> "::/LYRE/LYRE.CFG"
std::string MtoolsPath(const std::string& windowsPath) {
  std::string path = "::/";
  for (std::size_t i = 3; i < windowsPath.size(); ++i) {
    path += windowsPath[i] == '\\' ? '/' : windowsPath[i];
  }
  return path;
}

bool Succeeds(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

}  // namespace

// ---- Dialogs -----------------------------------------------------------------

bool SimDialog::Exists(int id) const { return controls_.count(id) != 0; }

bool SimDialog::Checked(int id) const {
  const auto it = controls_.find(id);
  return it != controls_.end() && it->second.checked;
}

std::string SimDialog::Text(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? std::string() : it->second.text;
}

void SimDialog::Click(int id) {
  ASSERT_TRUE(Exists(id)) << name_ << " has no control " << id;
  Control& clicked = controls_[id];
  focused_ = id;
  if (clicked.kind == Kind::Radio) {
    for (auto& [otherId, other] : controls_) {
      if (other.kind == Kind::Radio && other.group == clicked.group) other.checked = otherId == id;
    }
  } else if (clicked.kind == Kind::Check) {
    clicked.checked = !clicked.checked;
  }
  Command(id);
}

void SimDialog::Type(int id, const std::string& text) {
  ASSERT_TRUE(Exists(id)) << name_ << " has no control " << id;
  Control& edit = controls_[id];
  focused_ = id;
  // The edit box takes no more than its limit.
  edit.text = edit.limit > 0 ? text.substr(0, static_cast<std::size_t>(edit.limit)) : text;
}

void SimDialog::Command(int id) {
  ASSERT_FALSE(ended_) << name_ << " has ended";
  procedure_(window_, host::kWmCommand, static_cast<std::uintptr_t>(id) | kBnClicked << 16, 0);
}

void Machine::ExpectDialog(const std::string& name, std::function<void(SimDialog&)> user) {
  procedureDialogs_.emplace_back(name, std::move(user));
}

std::intptr_t Machine::RunDialog(const char* templateName, host::DialogProcedure procedure) {
  Count("DialogBoxParam");
  Record("dialog " + std::string(templateName));
  const auto found = ProcedureTemplates().find(templateName);
  if (found == ProcedureTemplates().end()) return -1;
  std::function<void(SimDialog&)> user = answerAnyDialog;
  if (!procedureDialogs_.empty() && procedureDialogs_.front().first == templateName) {
    user = std::move(procedureDialogs_.front().second);
    procedureDialogs_.pop_front();
  } else if (!user) {
    ADD_FAILURE() << "unexpected dialog " << templateName;
    return -1;
  }
  if (!user) return -1;

  auto dialog = std::make_unique<SimDialog>();
  dialog->name_ = templateName;
  dialog->window_ = nextHandle_++;
  dialog->procedure_ = procedure;
  for (const TemplateControl& control : found->second) {
    dialog->controls_[control.id].kind = control.kind;
    dialog->controls_[control.id].group = control.group;
  }
  openDialogs_.push_back(std::move(dialog));
  SimDialog& open = *openDialogs_.back();
  procedure(open.window_, host::kWmInitDialog, 0, 0);
  user(open);
  const bool ended = open.ended_;
  const std::intptr_t result = open.result_;
  openDialogs_.pop_back();
  if (!ended) {
    ADD_FAILURE() << "the user left " << templateName << " open";
    return -1;
  }
  Record("dialog end " + std::to_string(result));
  return result;
}

SimDialog* Machine::OpenDialog(host::DialogWindow dialog) {
  for (const auto& open : openDialogs_) {
    if (open->window_ == dialog) return open.get();
  }
  ADD_FAILURE() << "no open dialog " << dialog;
  return nullptr;
}

void Machine::EndDialog(host::DialogWindow dialog, std::intptr_t result) {
  SimDialog* open = OpenDialog(dialog);
  if (open == nullptr) return;
  open->ended_ = true;
  open->result_ = result;
}

void Machine::CheckRadioButton(host::DialogWindow dialog, int firstId, int lastId, int checkId) {
  SimDialog* open = OpenDialog(dialog);
  if (open == nullptr) return;
  for (int id = firstId; id <= lastId; ++id) {
    if (open->Exists(id)) open->controls_[id].checked = id == checkId;
  }
}

unsigned Machine::IsDlgButtonChecked(host::DialogWindow dialog, int id) {
  const SimDialog* open = OpenDialog(dialog);
  return open != nullptr && open->Checked(id) ? host::kBstChecked : host::kBstUnchecked;
}

void Machine::CheckDlgButton(host::DialogWindow dialog, int id, unsigned check) {
  SimDialog* open = OpenDialog(dialog);
  if (open != nullptr && open->Exists(id)) open->controls_[id].checked = check == host::kBstChecked;
}

void Machine::SetDlgItemText(host::DialogWindow dialog, int id, const char* text) {
  SimDialog* open = OpenDialog(dialog);
  if (open != nullptr && open->Exists(id)) open->controls_[id].text = text;
}

void Machine::LimitDlgItemText(host::DialogWindow dialog, int id, int maximumCharacters) {
  SimDialog* open = OpenDialog(dialog);
  if (open != nullptr && open->Exists(id)) open->controls_[id].limit = maximumCharacters;
}

std::string Machine::GetDlgItemText(host::DialogWindow dialog, int id, int bufferSize) {
  const SimDialog* open = OpenDialog(dialog);
  if (open == nullptr || bufferSize <= 0) return {};
  return open->Text(id).substr(0, static_cast<std::size_t>(bufferSize - 1));
}

void Machine::SetDlgItemFocus(host::DialogWindow dialog, int id) {
  SimDialog* open = OpenDialog(dialog);
  if (open != nullptr) open->focused_ = id;
}

int Machine::DialogMessageBox(host::DialogWindow owner, const char* text, const char* caption, unsigned flags) {
  EXPECT_NE(OpenDialog(owner), nullptr);
  return MessageBox(text, caption, flags);
}

bool Machine::BeginClosingDrivePrompts(const std::string& letters) {
  EXPECT_FALSE(std::exchange(closingDrivePrompts_, true)) << "nested";
  Record("drive prompts closed " + letters);
  return true;
}

void Machine::EndClosingDrivePrompts() {
  EXPECT_TRUE(std::exchange(closingDrivePrompts_, false));
  Record("drive prompts left");
}

// ---- format.com --------------------------------------------------------------

std::string Machine::GetSystemDirectory() {
  Count("GetSystemDirectory");
  return kSystemDirectory;
}

bool Machine::RunProcessAndWait(const char* applicationName, const char* commandLine,
                                std::uint32_t& exitCode) {
  Count("CreateProcess");
  Record("process " + std::string(applicationName ? applicationName : "(none)") + " | " + commandLine);
  const std::string program = applicationName ? applicationName : "";
  if (!SameText(program, std::string(kSystemDirectory) + kFormatProgram)) {
    ADD_FAILURE() << "the simulated PC runs only the system's format.com, not " << program;
    return false;
  }
  if (formatMissing) return false;
  exitCode = RunFormatCommand(commandLine);
  if (afterFormat) afterFormat();
  return true;
}

// "format.com E: [/q] /fs:fat[32]": formats the volume the letter shows now.
std::uint32_t Machine::RunFormatCommand(const std::string& commandLine) {
  std::istringstream words(commandLine);
  std::string program;
  std::string drive;
  words >> program >> drive;
  bool fat32 = false;
  bool fileSystemGiven = false;
  for (std::string option; words >> option;) {
    if (option == "/fs:fat" || option == "/fs:fat32") {
      fileSystemGiven = true;
      fat32 = option == "/fs:fat32";
    } else if (option != "/q") {
      return kFormatRefused;
    }
  }
  if (program != "format.com" || drive.size() != 2 || drive[1] != ':' || !fileSystemGiven) {
    return kFormatRefused;
  }
  const Insertion* insertion = InsertionAt(drive[0]);
  if (insertion == nullptr || insertion->ejected) return kFormatRefused;
  const CardFaults& faults = insertion->card->faults;
  if (faults.locked || faults.writeFails) return kFormatRefused;
  if (formatRunsBeforeExitCode > 0) {
    --formatRunsBeforeExitCode;
  } else if (formatExitCode != 0) {
    return formatExitCode;
  }
  const Volume& volume = *VolumeAt(drive[0]);
  const std::uint64_t bytes = volume.length;
  const std::uint64_t fat32Limit = formatTakesLargeFat32 ? kNewerFat32Limit : kFat32Limit;
  if (fat32 ? bytes < kFat32Minimum || bytes > fat32Limit : bytes > kFatLimit) return kFormatRefused;
  const int bits = fat32 ? 32 : bytes < kFat12Below ? 12 : 16;
  const std::uint64_t firstSector = volume.offset / 512;
  std::ostringstream command;
  command << "mkfs.fat -F " << bits << " -h " << firstSector << " --offset " << firstSector << " "
          << Quote(insertion->card->imagePath) << " " << bytes / 1024;
  return Succeeds(command.str()) ? 0 : kFormatRefused;
}

// ---- Shell file operations -----------------------------------------------------

int Machine::ShellFileOperation(host::FileOperation& operation) {
  Count("SHFileOperation");
  ShellCall call;
  call.function = operation.function;
  call.from = OnlyPath(operation.from);
  call.to = OnlyPath(operation.to);
  call.flags = operation.flags;
  EXPECT_FALSE(operation.anyOperationsAborted) << "the flag is cleared before the call";
  Record(std::string("shell ") + (call.function == host::kFoMove ? "move " : "copy ") + call.from +
         " -> " + call.to);
  bool aborted = false;
  call.result = ShellOperation(call, aborted);
  operation.anyOperationsAborted = aborted;
  shellCalls_.push_back(call);
  return call.result;
}

int Machine::ShellOperation(const ShellCall& call, bool& aborted) {
  const int number = static_cast<int>(shellCalls_.size()) + 1;
  const auto fault = shellFaults.find(number);
  if (fault != shellFaults.end()) {
    switch (fault->second) {
      case ShellFault::Fails: return kDiskFull;
      case ShellFault::Aborted: aborted = true; return 0;
      case ShellFault::CardPulled:
        for (auto& [letter, reader] : readers_) reader.insertion = Insertion{};
        return kPathNotFound;
    }
  }
  const bool fromCard = call.from.size() >= 3 && InsertionAt(call.from[0]) != nullptr;
  const bool toCard = call.to.size() >= 3 && InsertionAt(call.to[0]) != nullptr;
  if (fromCard && !toCard) return CopyFromCard(call, aborted);
  if (call.to.size() < 3 || call.to[1] != ':' || call.to[2] != '\\') return kPathNotFound;
  if (call.function == host::kFoMove) {
    if (!toCard || call.from.empty() || call.from[0] != call.to[0]) return kPathNotFound;
    return MoveOnCard(call.to[0], call.from, call.to);
  }
  if (call.function != host::kFoCopy || !toCard) return kPathNotFound;
  return CopyToCard(call.from, call.to[0], call.to, call.flags);
}

int Machine::CopyToCard(const std::string& from, char letter, const std::string& to, unsigned) {
  const Insertion* insertion = InsertionAt(letter);
  if (insertion == nullptr || insertion->ejected) return kPathNotFound;
  if (insertion->card->faults.locked) return kWriteProtect;
  const std::string local = PcPath(from);
  std::error_code error;
  if (local.empty() || !fs::exists(local, error)) return kFileNotFound;
  const std::string image = MtoolsImage(letter);
  std::string target = MtoolsPath(to);
  // Onto a folder (the root included) the source keeps its name; onto
  // anything else it takes the target's name.
  const bool intoFolder = to.size() == 3 || Succeeds("mdir -i " + image + " " + Quote(target + "/"));
  if (intoFolder && target.back() != '/') target += '/';
  const std::string recursive = fs::is_directory(local, error) ? "-s " : "";
  if (!recursive.empty() && !intoFolder) return kPathNotFound;
  if (!Succeeds("mcopy " + recursive + "-o -i " + image + " " + Quote(local) + " " + Quote(target))) {
    return kPathNotFound;
  }
  // A reader that loses the data of one file written through it, silently.
  const std::string& damaged = insertion->card->faults.damagedFile;
  const std::string copied = intoFolder ? target + fs::path(local).filename().string() : target;
  if (!damaged.empty() && ("::/" + damaged == copied || ("::/" + damaged).rfind(copied + "/", 0) == 0) &&
      CardFileExists(letter, damaged)) {
    std::string content = CardFileContent(letter, damaged);
    if (insertion->card->faults.corrupts) {
      content[0] = static_cast<char>(content[0] ^ 0x20);
    } else {
      content.assign(content.size(), '\0');
    }
    PutCardFile(letter, damaged, content);
  }
  return 0;
}

int Machine::MoveOnCard(char letter, const std::string& from, const std::string& to) {
  const Insertion* insertion = InsertionAt(letter);
  if (insertion == nullptr || insertion->ejected) return kPathNotFound;
  if (insertion->card->faults.locked) return kWriteProtect;
  const std::string image = MtoolsImage(letter);
  if (!Succeeds("mdir -i " + image + " " + Quote(MtoolsPath(from)))) return kFileNotFound;
  return Succeeds("mmove -o -i " + image + " " + Quote(MtoolsPath(from)) + " " + Quote(MtoolsPath(to)))
             ? 0
             : kPathNotFound;
}

}  // namespace sim
