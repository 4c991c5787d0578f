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

#include "linux/card_files.h"
#include "linux/fat_format.h"

namespace sim {
namespace fs = std::filesystem;

namespace {

constexpr char kSystemDirectory[] = "C:\\Windows\\system32";
constexpr char kFormatProgram[] = "\\format.com";
constexpr std::uint32_t kFormatRefused = 1;

// Shell results (winerror.h values the shell passes on).
constexpr int kWriteProtect = 19;
constexpr int kDiskFull = 112;

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

}  // namespace

// ---- Dialogs -----------------------------------------------------------------

void Machine::ExpectDialog(const std::string& name, std::function<void(SimDialog&)> user) {
  procedureDialogs_.emplace_back(name, std::move(user));
}

std::intptr_t Machine::RunDialog(const char* templateName, host::DialogProcedure procedure) {
  Count("DialogBoxParam");
  Record("dialog " + std::string(templateName));
  std::function<void(SimDialog&)> user = answerAnyDialog;
  if (!procedureDialogs_.empty() && procedureDialogs_.front().first == templateName) {
    user = std::move(procedureDialogs_.front().second);
    procedureDialogs_.pop_front();
  } else if (!user) {
    ADD_FAILURE() << "unexpected dialog " << templateName;
    return -1;
  }
  if (!user) return -1;

  std::unique_ptr<SimDialog> dialog = SimDialog::FromTemplate(templateName, nextHandle_++, procedure);
  if (!dialog) return -1;
  openDialogs_.push_back(std::move(dialog));
  SimDialog& open = *openDialogs_.back();
  open.Initialize();
  user(open);
  const bool ended = open.Ended();
  const std::intptr_t result = open.Result();
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
    if (open->Window() == dialog) return open.get();
  }
  ADD_FAILURE() << "no open dialog " << dialog;
  return nullptr;
}

void Machine::EndDialog(host::DialogWindow dialog, std::intptr_t result) {
  SimDialog* open = OpenDialog(dialog);
  if (open == nullptr) return;
  open->End(result);
}

void Machine::CheckRadioButton(host::DialogWindow dialog, int firstId, int lastId, int checkId) {
  if (SimDialog* open = OpenDialog(dialog)) open->CheckRadio(firstId, lastId, checkId);
}

unsigned Machine::IsDlgButtonChecked(host::DialogWindow dialog, int id) {
  const SimDialog* open = OpenDialog(dialog);
  return open != nullptr && open->Checked(id) ? host::kBstChecked : host::kBstUnchecked;
}

void Machine::CheckDlgButton(host::DialogWindow dialog, int id, unsigned check) {
  if (SimDialog* open = OpenDialog(dialog)) open->SetChecked(id, check == host::kBstChecked);
}

void Machine::SetDlgItemText(host::DialogWindow dialog, int id, const char* text) {
  if (SimDialog* open = OpenDialog(dialog)) open->SetText(id, text);
}

void Machine::LimitDlgItemText(host::DialogWindow dialog, int id, int maximumCharacters) {
  if (SimDialog* open = OpenDialog(dialog)) open->Limit(id, maximumCharacters);
}

std::string Machine::GetDlgItemText(host::DialogWindow dialog, int id, int bufferSize) {
  const SimDialog* open = OpenDialog(dialog);
  if (open == nullptr || bufferSize <= 0) return {};
  return open->Text(id).substr(0, static_cast<std::size_t>(bufferSize - 1));
}

void Machine::SetDlgItemFocus(host::DialogWindow dialog, int id) {
  SimDialog* open = OpenDialog(dialog);
  if (open != nullptr) open->Focus(id);
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
  linuxhost::FormatRequest request;
  if (!linuxhost::ParseFormatCommand(commandLine, request)) return kFormatRefused;
  const Insertion* insertion = InsertionAt(request.letter);
  if (insertion == nullptr || insertion->ejected) return kFormatRefused;
  const CardFaults& faults = insertion->card->faults;
  if (faults.locked || faults.writeFails) return kFormatRefused;
  if (faults.dropsWrites) return 0;  // every write taken, none kept, and a quick format reads nothing back
  if (formatRunsBeforeExitCode > 0) {
    --formatRunsBeforeExitCode;
  } else if (formatExitCode != 0) {
    return formatExitCode;
  }
  const Volume& volume = *VolumeAt(request.letter);
  const std::uint64_t limit =
      formatTakesLargeFat32 ? linuxhost::kNewerFormatComFat32LimitBytes : linuxhost::kFormatComFat32LimitBytes;
  if (!linuxhost::FormatTakes(request.fat32, volume.length, limit)) return kFormatRefused;
  const int bits = linuxhost::FatBits(request.fat32, volume.length);
  insertion->cache.sectors.clear();  // format.com dismounts the volume: the system forgets what it read
  return linuxhost::MakeFatFileSystem(insertion->card->imagePath, volume.offset, volume.length, bits) ? 0
                                                                                                     : kFormatRefused;
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
  if (duringShell) duringShell(call);
  const auto fault = shellFaults.find(number);
  if (fault != shellFaults.end()) {
    switch (fault->second) {
      case ShellFault::Fails: return kDiskFull;
      case ShellFault::Aborted: aborted = true; return 0;
      case ShellFault::CardPulled:
        for (auto& [letter, reader] : readers_) reader.insertion = Insertion{};
        return linuxhost::kShellPathNotFound;
    }
  }
  // A locked card takes no write: a copy onto it, or a move off or on it.
  for (const std::string* path : {&call.to, &call.from}) {
    const Insertion* insertion = path->size() >= 3 ? InsertionAt((*path)[0]) : nullptr;
    const bool written = path == &call.to || call.function == host::kFoMove;
    if (insertion != nullptr && written && insertion->card->faults.locked) return kWriteProtect;
  }
  linuxhost::ShellPlaces places;
  places.cardVolume = [this](char letter) { return FilesAt(letter); };
  places.pcPath = [this](const std::string& path) { return PcPath(path); };
  places.askReplace = [this](const std::string& file) {
    Record("shell asks to replace " + fs::path(file).filename().string());
    if (replaceAnswers.empty()) {
      ADD_FAILURE() << "the shell asks to replace " << file << " and no answer was given";
      return host::kIdCancel;
    }
    const int answer = replaceAnswers.front();
    replaceAnswers.pop_front();
    return answer;
  };
  places.report = [](const std::string&) {};
  places.scratchFolder = root_;
  const linuxhost::ShellOutcome outcome = linuxhost::ShellOperation(places, call.function, call.from, call.to, call.flags);
  aborted = outcome.aborted;
  // Files written onto a volume, or moved off it, leave it marked in use.
  if (outcome.result == 0 && call.to.size() >= 3 && InsertionAt(call.to[0]) != nullptr) MarkInUse(call.to[0], true);
  if (outcome.result == 0 && call.function == host::kFoMove && call.from.size() >= 3 &&
      InsertionAt(call.from[0]) != nullptr) {
    MarkInUse(call.from[0], true);
  }
  if (outcome.result == 0 && !outcome.cardTarget.empty()) Damage(call.to[0], outcome.cardTarget);
  return outcome.result;
}

// A reader that loses the data of one file written through it, silently.
void Machine::Damage(char letter, const std::string& written) {
  const Insertion* insertion = InsertionAt(letter);
  const std::string& damaged = insertion->card->faults.damagedFile;
  if (damaged.empty() || (damaged != written && damaged.rfind(written + "/", 0) != 0) ||
      !CardFileExists(letter, damaged)) {
    return;
  }
  std::string content = CardFileContent(letter, damaged);
  insertion->cache.files[damaged] = content;  // the system's cache keeps what the shell wrote
  if (insertion->card->faults.lengthens) {
    content += " and the tail of an older file";
  } else if (insertion->card->faults.corrupts) {
    content[0] = static_cast<char>(content[0] ^ 0x20);
  } else {
    content.assign(content.size(), '\0');
  }
  PutCardFile(letter, damaged, content);
}

}  // namespace sim
