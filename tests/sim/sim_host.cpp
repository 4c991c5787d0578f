#include "sim_host.h"

#include "linux/fat_format.h"
#include "linux/volume_facts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "app/dispatch.h"
#include "common/module_directory.h"
#include "common/card_state.h"
#include "card/scan.h"
#include "install/install_setting.h"
#include "res/ids.h"

namespace sim {
namespace fs = std::filesystem;

namespace {

Machine* gCurrent = nullptr;

constexpr std::uint64_t kSector = 512;
constexpr std::uint32_t kSystemDiskNumber = 0;
constexpr char kWindowsDirectory[] = "C:\\Windows";
constexpr char kTemporaryFolder[] = "C:\\Users\\me\\AppData\\Local\\Temp\\";
constexpr char kPhysicalPrefix[] = "\\\\.\\PHYSICALDRIVE";

// The controls of the main window template, all visible at creation.
constexpr int kTemplateControls[] = {1,   200, 201, 202, 112, 207, 113, 208,
                                     211, 206, 210, 212, 213, 223, 222};

// The string table, from the same list the resource script uses.
const std::map<unsigned, std::string>& StringTable() {
  static const std::map<unsigned, std::string> table = {
#define VORN_STRING(id, text) {id, text},
#include "res/messages.def"
#undef VORN_STRING
  };
  return table;
}

// Dialog templates the program's resources hold.
const std::set<std::string>& DialogTemplates() {
  static const std::set<std::string> names = {"ABOUT"};
  return names;
}

using linuxhost::GetLe32;

std::uint16_t GetLe16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

bool HasSignature(const std::vector<std::uint8_t>& sector) {
  return sector.size() == 512 && sector[510] == 0x55 && sector[511] == 0xAA;
}

// The layout as the disk itself holds it.
std::vector<LayoutEntry> ReadLayout(const Card& card, bool& gpt) {
  const linuxhost::DiskLayout layout = linuxhost::ReadLayout(
      [&card](std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& bytes) {
        if (offset + size > card.sizeBytes) return false;
        bytes = card.Read(offset, size);
        return true;
      },
      card.sizeBytes);
  gpt = layout.gpt;
  return layout.entries;
}

bool IsFixedDrive(char letter) { return letter == 'C' || letter == 'D'; }

// How an open is logged: "[0]", "[r]", "[w]" or "[rw]".
std::string AccessName(std::uint32_t access) {
  std::string name;
  if ((access & host::kGenericRead) != 0) name += "r";
  if ((access & host::kGenericWrite) != 0) name += "w";
  if ((access & host::kFileReadAttributes) != 0) name += "a";
  return "[" + (name.empty() ? std::string("0") : name) + "]";
}

}  // namespace

std::string Run(const std::string& command, bool* succeeded) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return output;
  }
  std::array<char, 4096> chunk{};
  std::size_t got = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) output.append(chunk.data(), got);
  const int status = ::pclose(pipe);
  if (succeeded != nullptr) *succeeded = status == 0;
  if (status != 0 && succeeded == nullptr) ADD_FAILURE() << command << " failed:\n" << output;
  return output;
}

// ---- Card ----------------------------------------------------------------

std::vector<std::uint8_t> Card::Read(std::uint64_t offset, std::size_t size) const {
  std::vector<std::uint8_t> bytes(size, 0);
  const int fd = ::open(imagePath.c_str(), O_RDONLY);
  if (fd < 0 || ::pread(fd, bytes.data(), size, static_cast<off_t>(offset)) < 0) {
    ADD_FAILURE() << "cannot read " << imagePath;
  }
  if (fd >= 0) ::close(fd);
  return bytes;
}

void Card::Write(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) const {
  ++writes;
  const int fd = ::open(imagePath.c_str(), O_WRONLY);
  if (fd < 0 ||
      ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
          static_cast<ssize_t>(bytes.size())) {
    ADD_FAILURE() << "cannot write " << imagePath;
  }
  if (fd >= 0) ::close(fd);
}

// ---- Machine: set-up -------------------------------------------------------

Machine::Machine() {
  char pattern[] = "/tmp/vorn-sim-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = made;
  fs::create_directories(root_ + "/C/Windows");
  fs::create_directories(root_ + "/D");
  fs::create_directories(root_ + "/UNC");
  MakePcFolder(kTemporaryFolder);
  fs::create_directories(root_ + "/cards");
  ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  gCurrent = this;
  common::gCardState = common::CardState{};
  common::gDriveSlots.fill(0);
  card::ResetButtonVisibilityState();
  install::gInstallOptions = install::InstallOptions{};  // as at program start
  common::gModuleDirectory = "C:\\VORN\\";
  for (int id : kTemplateControls) visible_[id] = true;
  texts_[IDC_STATUS] = "Insert SD Card";
}

Machine::~Machine() {
  for (const ScriptedBox& box : boxScript_) {
    ADD_FAILURE() << "expected box not shown: " << box.caption << " / " << box.text;
  }
  for (const auto& dialog : dialogScript_) ADD_FAILURE() << "expected dialog not run: " << dialog.first;
  for (const auto& dialog : procedureDialogs_) {
    ADD_FAILURE() << "expected dialog not run: " << dialog.first;
  }
  for (auto& [handle, open] : handles_) {
    if (open.fd >= 0) ::close(open.fd);
  }
  if (!handles_.empty()) ADD_FAILURE() << handles_.size() << " handle(s) left open";
  if (!registryKeys_.empty()) ADD_FAILURE() << registryKeys_.size() << " registry key(s) left open";
  if (!itemLists_.empty()) ADD_FAILURE() << itemLists_.size() << " item list(s) not freed";
  for (std::size_t i = 0; i < browseScript_.size(); ++i) ADD_FAILURE() << "expected folder browser not shown";
  if (!replaceAnswers.empty()) ADD_FAILURE() << "the shell asked fewer questions than expected";
  if (requestsBeyondEnd != 0) ADD_FAILURE() << requestsBeyondEnd << " transfer(s) asked past an end";
  std::error_code ignored;
  fs::remove_all(root_, ignored);
  gCurrent = nullptr;
}

Machine& Machine::Current() {
  if (gCurrent == nullptr) throw std::logic_error("no simulated machine");
  return *gCurrent;
}

std::string Machine::PcPath(const std::string& windowsPath) const {
  std::string path;
  std::size_t rest = 0;
  if (windowsPath.rfind("\\\\", 0) == 0) {  // \\server\share\... of the network
    path = root_ + "/UNC/";
    rest = 2;
  } else if (windowsPath.size() >= 2 && windowsPath[1] == ':' &&
             IsFixedDrive(static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0]))))) {
    path = root_ + "/" + static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0])));
    rest = 2;
  } else {
    return {};
  }
  // A backslash that is the second byte of a double-byte character is no
  // separator: the name holds it.
  bool trail = false;
  for (std::size_t i = 0; i < windowsPath.size(); ++i) {
    const auto byte = static_cast<unsigned char>(windowsPath[i]);
    if (i >= rest) path += byte == '\\' && !trail ? '/' : windowsPath[i];
    trail = !trail && codePage == 932 && ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC));
  }
  return path;
}

void Machine::WritePcFile(const std::string& windowsPath, const std::string& content) const {
  const fs::path path = PcPath(windowsPath);
  fs::create_directories(path.parent_path());
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

void Machine::MakePcFolder(const std::string& windowsPath) const {
  fs::create_directories(PcPath(windowsPath));
}

std::map<std::string, std::string> Machine::PcFiles() const {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    const std::string path = entry.path().string();
    if (entry.is_regular_file() && path.rfind(root_ + "/cards", 0) != 0 && path != root_ + "/put.tmp") {
      std::ifstream file(path, std::ios::binary);
      files[path].assign(std::istreambuf_iterator<char>(file), {});
    }
  }
  return files;
}

void Machine::AddReader(char letter) { readers_[letter]; }

std::shared_ptr<Card> Machine::NewCard(std::uint64_t sizeBytes, std::uint32_t deviceNumber) {
  auto card = std::make_shared<Card>();
  card->imagePath = root_ + "/cards/card" + std::to_string(++cardCount_) + ".img";
  card->sizeBytes = sizeBytes;
  card->deviceNumber = deviceNumber;
  const int fd = ::open(card->imagePath.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  // Sparse: only the sectors written take room.
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(sizeBytes)) != 0) {
    ADD_FAILURE() << "cannot create " << card->imagePath;
  }
  if (fd >= 0) ::close(fd);
  return card;
}

void Machine::Insert(char letter, std::shared_ptr<Card> card) {
  Reader& reader = readers_[letter];
  reader.insertion = Insertion{};  // a card put in takes the place of any there
  ++reader.mediaChanges;
  Insertion insertion;
  insertion.card = std::move(card);
  insertion.generation = nextGeneration_++;
  insertion.layout = ReadLayout(*insertion.card, insertion.gpt);
  Mount(letter, insertion);
  reader.insertion = std::move(insertion);
}

bool Machine::LetterFree(char letter, char readerLetter, const Insertion& mounting) const {
  if (IsFixedDrive(letter) || (letter != readerLetter && readers_.count(letter) != 0)) return false;
  for (const Volume& volume : mounting.volumes) {
    if (volume.letter == letter) return false;
  }
  return InsertionAt(letter) == nullptr;
}

// Windows 7 shows the first entry in use under the reader's letter. Windows
// 10 gives every partition it mounts the letter it had, else the reader's,
// else the lowest one free. A card without one shows whole.
void Machine::Mount(char readerLetter, Insertion& insertion) {
  const std::uint32_t signature = GetLe32(insertion.card->Sector(0).data() + 440);
  for (const LayoutEntry& entry : insertion.layout) {
    if (entry.type == 0 && !entry.basicData) continue;
    if (windows == Windows::Win7) {
      if (linuxhost::IsExtended(entry.type) || entry.basicData) continue;
      insertion.volumes.push_back({readerLetter, entry.startingOffset, entry.partitionLength,
                                   entry.partitionNumber});
      break;
    }
    // No partition is mounted that is empty or ends past the disk's end.
    const std::uint64_t end = entry.startingOffset + entry.partitionLength;
    if (!linuxhost::IsMountable(entry) || entry.partitionLength == 0 || end > insertion.card->sizeBytes) continue;
    const auto key = std::make_pair(signature, entry.startingOffset / kSector);
    const auto known = mountedDevices.find(key);
    char letter = 0;
    if (known != mountedDevices.end() && LetterFree(known->second, readerLetter, insertion)) {
      letter = known->second;
    } else if (LetterFree(readerLetter, readerLetter, insertion)) {
      letter = readerLetter;
    }
    for (char candidate = 'D'; letter == 0 && candidate <= 'Z'; ++candidate) {
      if (LetterFree(candidate, readerLetter, insertion)) letter = candidate;
    }
    if (letter == 0) break;  // no letter left
    mountedDevices[key] = letter;
    insertion.volumes.push_back({letter, entry.startingOffset, entry.partitionLength, entry.partitionNumber});
  }
  if (insertion.volumes.empty()) {
    insertion.volumes.push_back({readerLetter, 0, insertion.card->sizeBytes, 0});
  }
}

void Machine::Remove(char letter) { readers_[letter].insertion = Insertion{}; }

void Machine::Reinsert(char letter) {
  std::shared_ptr<Card> card = CardIn(letter);
  ASSERT_NE(card, nullptr) << "no card in " << letter;
  Remove(letter);
  Insert(letter, card);
}

bool Machine::Ejected(char letter) const {
  const auto it = readers_.find(letter);
  return it != readers_.end() && it->second.insertion.card && it->second.insertion.ejected;
}

std::shared_ptr<Card> Machine::CardIn(char letter) const {
  const auto it = readers_.find(letter);
  return it == readers_.end() ? nullptr : it->second.insertion.card;
}

std::uint64_t Machine::VolumeOffset(char letter) const {
  const Volume* volume = VolumeAt(letter);
  return volume ? volume->offset : 0;
}

std::uint64_t Machine::VolumeLength(char letter) const {
  const Volume* volume = VolumeAt(letter);
  return volume ? volume->length : 0;
}

void Machine::Format(const Card& card, std::uint64_t firstSector, std::uint64_t sectorCount,
                     int fatBits) {
  EXPECT_TRUE(linuxhost::MakeFatFileSystem(card.imagePath, firstSector * kSector, sectorCount * kSector, fatBits));
}

std::optional<linuxhost::CardVolume> Machine::FilesAt(char letter) const {
  const Insertion* insertion = InsertionAt(letter);
  // A file system never told of the new one reads it by the old (or RAW).
  if (insertion == nullptr || insertion->ejected || VolumeAt(letter)->staleBoot) return std::nullopt;
  return linuxhost::CardVolume{insertion->card->imagePath, VolumeAt(letter)->offset};
}

// The byte at 37, or at 65 on FAT32 (no 16-bit FAT size at 22).
void Machine::MarkInUse(char letter, bool inUse) const {
  const Volume* volume = VolumeAt(letter);
  if (volume == nullptr) return;
  const Insertion& insertion = *InsertionAt(letter);
  const Card& card = *insertion.card;
  // A file system that was never told of a new one writes its own sector.
  std::vector<std::uint8_t> boot = volume->staleBoot.value_or(card.Read(volume->offset, kSector));
  if (!HasSignature(boot) || GetLe16(boot.data() + 11) != kSector) return;
  std::uint8_t& flags = boot[GetLe16(boot.data() + 22) == 0 ? 65 : 37];
  flags = static_cast<std::uint8_t>(inUse ? flags | 1 : flags & ~1);
  CacheOf(insertion).sectors.erase(volume->offset);  // the system's own write: it knows of it
  card.Write(volume->offset, boot);
  insertion.cache.cardWrites = card.writes;
}

bool Machine::CardFileExists(char letter, const std::string& name) const {
  const auto volume = FilesAt(letter);
  return volume && linuxhost::CardEntryExists(*volume, name);
}

std::string Machine::CardFileContent(char letter, const std::string& name, bool* succeeded) const {
  const auto volume = FilesAt(letter);
  const std::optional<std::string> content = volume ? linuxhost::CardFileContent(*volume, name) : std::nullopt;
  if (succeeded != nullptr) *succeeded = content.has_value();
  EXPECT_TRUE(content.has_value() || succeeded != nullptr) << "no " << name << " on " << letter << ":";
  return content.value_or("");
}

void Machine::PutCardFile(char letter, const std::string& name, const std::string& content,
                          bool* succeeded) const {
  const auto volume = FilesAt(letter);
  const bool put = volume && linuxhost::PutCardFile(*volume, name, content, root_);
  if (succeeded != nullptr) *succeeded = put;
  EXPECT_TRUE(put || succeeded != nullptr) << "cannot put " << name;
}

// ---- Machine: window, timer, messages ------------------------------------

void Machine::Create() { app::OnCreate(); }

void Machine::RunPosted() {
  while (!posted_.empty()) {
    const auto [command, notify] = posted_.front();
    posted_.pop_front();
    Record("run posted " + std::to_string(command));
    app::OnCommand(command, notify);
  }
}

void Machine::Tick() {
  RunPosted();
  if (timerRunning_ && !quitPosted_) {
    Record("tick");
    app::OnTimer();
  }
}

bool Machine::Visible(int controlId) const {
  const auto it = visible_.find(controlId);
  return it != visible_.end() && it->second;
}

std::string Machine::Text(int controlId) const {
  const auto it = texts_.find(controlId);
  return it == texts_.end() ? std::string() : it->second;
}

void Machine::SelectComboEntry(int index) {
  ASSERT_LT(index, static_cast<int>(comboEntries_.size()));
  comboSelection_ = index;
  SendCommand(IDC_DRIVE_COMBO, host::kCbnSelChange);
}

void Machine::ExpectBox(const std::string& caption, const std::string& text, int answer,
                        std::function<void()> beforeAnswer) {
  boxScript_.push_back({caption, text, answer, std::move(beforeAnswer)});
}

void Machine::ExpectDialog(const std::string& name, std::intptr_t result) {
  dialogScript_.emplace_back(name, result);
}

std::vector<std::string> Machine::LogMatching(const std::string& prefix) const {
  std::vector<std::string> lines;
  for (const std::string& line : log_) {
    if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
  }
  return lines;
}

void Machine::ClearRecords() {
  log_.clear();
  boxes_.clear();
  calls_.clear();
}

int Machine::Calls(const std::string& primitive) const {
  const auto it = calls_.find(primitive);
  return it == calls_.end() ? 0 : it->second;
}

void Machine::Record(const std::string& line) { log_.push_back(line); }

int Machine::MessageBox(const char* text, const char* caption, unsigned flags) {
  Count("MessageBox");
  Record("box " + std::string(caption) + " | " + text);
  const bool atStake = caption == StringTable().at(MSG_CAPTION_CARD_AT_STAKE);
  if (atStake && cardAtStakeConfirmed && (boxScript_.empty() || boxScript_.front().caption != caption)) {
    return host::kIdYes;
  }
  boxes_.push_back({text, caption, flags});
  if (boxScript_.empty() && answerAnyBox) return answerAnyBox(boxes_.back());
  if (boxScript_.empty()) {
    ADD_FAILURE() << "unexpected box: " << caption << " / " << text;
    return host::kIdCancel;
  }
  ScriptedBox box = std::move(boxScript_.front());
  boxScript_.pop_front();
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.text, text);
  if (box.beforeAnswer) box.beforeAnswer();
  return box.answer;
}

int Machine::LoadString(unsigned id, char* buffer, int bufferSize) {
  Count("LoadString");
  Record("load " + std::to_string(id));
  const auto it = StringTable().find(id);
  const std::string text = it == StringTable().end() ? std::string() : it->second;
  if (bufferSize <= 0) return 0;
  const std::size_t length = std::min(text.size(), static_cast<std::size_t>(bufferSize - 1));
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

void Machine::ShowControl(int controlId, int showCommand) {
  Count("ShowWindow");
  visible_[controlId] = showCommand != host::kSwHide;
  Record("show " + std::to_string(controlId) + " " + std::to_string(showCommand));
}

void Machine::SetControlText(int controlId, const char* text) {
  Count("SetDlgItemText");
  texts_[controlId] = text;
  Record("text " + std::to_string(controlId) + " " + text);
}

void Machine::ComboReset(int) {
  Count("CB_RESETCONTENT");
  comboEntries_.clear();
  comboSelection_ = host::kCbErr;
  Record("combo reset");
}

void Machine::ComboAddString(int, const char* text) {
  Count("CB_ADDSTRING");
  comboEntries_.emplace_back(text);
  Record("combo add " + std::string(text));
}

void Machine::ComboSetCurSel(int, int index) {
  Count("CB_SETCURSEL");
  comboSelection_ =
      index >= 0 && index < static_cast<int>(comboEntries_.size()) ? index : host::kCbErr;
}

int Machine::ComboGetCurSel(int) {
  Count("CB_GETCURSEL");
  return comboSelection_;
}

bool Machine::ComboGetText(int, int index, std::string& text) {
  Count("CB_GETLBTEXT");
  if (index < 0 || index >= static_cast<int>(comboEntries_.size())) return false;
  text = comboEntries_[static_cast<std::size_t>(index)];
  return true;
}

void Machine::SetTimer(unsigned timerId, unsigned milliseconds) {
  EXPECT_EQ(timerId, 1u);
  EXPECT_EQ(milliseconds, 500u);
  timerRunning_ = true;
  Record("timer start");
}

void Machine::KillTimer(unsigned timerId) {
  EXPECT_EQ(timerId, 1u);
  timerRunning_ = false;
  Record("timer stop");
}

void Machine::SendCommand(unsigned commandId, unsigned notifyCode) {
  Record("send " + std::to_string(commandId));
  app::OnCommand(commandId, notifyCode);
  Record("end " + std::to_string(commandId));
}

void Machine::PostCommand(unsigned commandId, unsigned notifyCode) {
  Record("post " + std::to_string(commandId));
  posted_.emplace_back(commandId, notifyCode);
}

void Machine::BringMainWindowToFront() { Record("foreground"); }

bool Machine::EnableMainWindow(bool enable) {
  Record(enable ? "window enabled" : "window disabled");
  return std::exchange(mainWindowDisabled_, !enable);
}

void Machine::DispatchPendingMessages() { Count("DispatchPendingMessages"); }

std::uint64_t Machine::GetSystemTimeAsFileTime() { return clock_ += 10000000; }  // a second a call

void Machine::SendClose() {
  Record("close");
  app::OnClose();
}

void Machine::PostQuit(int exitCode) {
  quitPosted_ = true;
  Record("quit " + std::to_string(exitCode));
}

std::intptr_t Machine::RunDialog(const char* templateName) {
  Count("DialogBoxParam");
  Record("dialog " + std::string(templateName));
  if (DialogTemplates().count(templateName) == 0) return -1;
  if (dialogScript_.empty() || dialogScript_.front().first != templateName) {
    ADD_FAILURE() << "unexpected dialog " << templateName;
    return -1;
  }
  const std::intptr_t result = dialogScript_.front().second;
  dialogScript_.pop_front();
  return result;
}

std::intptr_t Machine::ShellOpen(const char* path) {
  Count("ShellExecute");
  Record("shell open " + std::string(path));
  return 42;  // above 32: success
}

// ---- Machine: devices and files -------------------------------------------

const Machine::Insertion* Machine::InsertionAt(char letter) const {
  for (const auto& [readerLetter, reader] : readers_) {
    if (!reader.insertion.card) continue;
    for (const Volume& volume : reader.insertion.volumes) {
      if (volume.letter == letter) return &reader.insertion;
    }
  }
  return nullptr;
}

const Machine::Volume* Machine::VolumeAt(char letter) const {
  const Insertion* insertion = InsertionAt(letter);
  if (insertion == nullptr) return nullptr;
  for (const Volume& volume : insertion->volumes) {
    if (volume.letter == letter) return &volume;
  }
  return nullptr;
}

const Machine::Volume* Machine::VolumeOf(const OpenHandle& open) const {
  const Insertion* insertion = LiveInsertion(open);
  if (open.device != Device::Volume || insertion == nullptr) return nullptr;
  return &insertion->volumes[open.volume];
}

bool Machine::IsCardLetter(char letter) const {
  return readers_.count(letter) != 0 || InsertionAt(letter) != nullptr;
}

const Machine::Insertion* Machine::InsertionOfDevice(std::uint32_t deviceNumber) const {
  for (const auto& [letter, reader] : readers_) {
    const Insertion& insertion = reader.insertion;
    if (insertion.card && !insertion.ejected && insertion.card->deviceNumber == deviceNumber) {
      return &insertion;
    }
  }
  return nullptr;
}

// The insertion a handle was opened on, while that card is still in.
const Machine::Insertion* Machine::LiveInsertion(const OpenHandle& open) const {
  for (const auto& [letter, reader] : readers_) {
    const Insertion& insertion = reader.insertion;
    if (insertion.card && insertion.generation == open.generation && !insertion.ejected) {
      return &insertion;
    }
  }
  return nullptr;
}

Machine::OpenHandle* Machine::Find(host::Handle handle) {
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ADD_FAILURE() << "unknown handle " << handle;
    return nullptr;
  }
  return &it->second;
}

host::Handle Machine::Add(OpenHandle open) {
  open.flags = std::exchange(openFlags_, 0);
  const host::Handle handle = nextHandle_++;
  handles_.emplace(handle, std::move(open));
  return handle;
}

host::Handle Machine::OpenDevicePath(const std::string& path, std::uint32_t access) {
  const bool write = (access & host::kGenericWrite) != 0;
  OpenHandle open;
  open.write = write;
  if (path.rfind(kPhysicalPrefix, 0) == 0) {
    const std::string digits = path.substr(std::strlen(kPhysicalPrefix));
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) {
      return host::kInvalidHandle;
    }
    const auto number = static_cast<std::uint32_t>(std::stoul(digits));
    if (number == kSystemDiskNumber) {
      open.device = Device::SystemDisk;
      return Add(open);
    }
    const Insertion* insertion = InsertionOfDevice(number);
    if (insertion == nullptr || insertion->card->faults.physicalRefused) return host::kInvalidHandle;
    CardFaults& faults = insertion->card->faults;
    if (!write && faults.refusesOpenAfterFlush && flushed_) {
      faults.refusesOpenAfterFlush = false;
      return host::kInvalidHandle;
    }
    open.device = Device::Physical;
    open.card = insertion->card;
    open.generation = insertion->generation;
    return Add(open);
  }
  // "\.\X:"
  if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':') {
    return host::kInvalidHandle;
  }
  const char letter = path[4];
  if (letter == 'C') {
    // The data of the system volume needs rights the program never asks
    // for: it only queries it.
    if (access != 0) return host::kInvalidHandle;
    open.device = Device::SystemVolume;
    return Add(open);
  }
  const Insertion* insertion = InsertionAt(letter);
  if (insertion == nullptr) {
    // An empty reader opens; every read of it fails.
    if (readers_.count(letter) == 0) return host::kInvalidHandle;
    open.device = Device::Volume;
    open.letter = letter;
    return Add(open);
  }
  const Volume* volume = VolumeAt(letter);
  // A locked volume opens for no one else.
  if (insertion->card->faults.volumeRefused || volume->lockedBy != 0) return host::kInvalidHandle;
  open.device = Device::Volume;
  open.letter = letter;
  open.card = insertion->card;
  open.generation = insertion->generation;
  open.volume = static_cast<std::size_t>(volume - insertion->volumes.data());
  return Add(open);
}

host::Handle Machine::OpenFilePath(const std::string& path, bool write, std::uint32_t disposition) {
  const std::string local = PcPath(path);
  if (local.empty()) return host::kInvalidHandle;
  int flags = write ? O_RDWR : O_RDONLY;
  if (disposition == host::kCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == host::kCreateAlways) flags |= O_CREAT | O_TRUNC;
  const int fd = ::open(local.c_str(), flags, 0644);
  if (fd < 0) return host::kInvalidHandle;
  OpenHandle open;
  open.device = Device::PcFile;
  open.write = write;
  open.fd = fd;
  return Add(open);
}

host::Handle Machine::OpenCardFile(char letter, std::string name, std::uint32_t disposition) {
  std::replace(name.begin(), name.end(), '\\', '/');
  const Insertion* insertion = InsertionAt(letter);
  if (insertion == nullptr || insertion->ejected) return host::kInvalidHandle;
  const bool exists = CardFileExists(letter, name);
  if (disposition == host::kCreateNew && exists) return host::kInvalidHandle;
  if (disposition == host::kOpenExisting && !exists) return host::kInvalidHandle;
  if (!exists || disposition == host::kCreateAlways) {
    bool made = !insertion->card->faults.locked;
    if (made) PutCardFile(letter, name, "", &made);
    if (!made) return host::kInvalidHandle;
  }
  OpenHandle open;
  open.device = Device::CardFile;
  open.letter = letter;
  open.card = insertion->card;
  open.generation = insertion->generation;
  open.name = name;
  return Add(open);
}

host::Handle Machine::CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                                 std::uint32_t disposition, std::uint32_t flags) {
  Count("CreateFile");
  openFlags_ = flags;
  Record("open " + std::string(path) + " " + AccessName(access));
  EXPECT_EQ(share, host::kFileShareRead | host::kFileShareWrite);
  const std::string text = path;
  const bool write = (access & host::kGenericWrite) != 0;
  if (text.rfind("\\\\.\\", 0) == 0) {
    EXPECT_EQ(disposition, host::kOpenExisting);
    return OpenDevicePath(text, access);
  }
  if (text.size() > 3 && text[1] == ':' && text[2] == '\\' && IsCardLetter(text[0])) {
    return OpenCardFile(text[0], text.substr(3), disposition);
  }
  return OpenFilePath(text, write, disposition);
}

void Machine::CloseHandle(host::Handle handle) {
  Count("CloseHandle");
  const auto it = handles_.find(handle);
  if (it == handles_.end()) {
    ADD_FAILURE() << "closing unknown handle " << handle;
    return;
  }
  if (it->second.fd >= 0) ::close(it->second.fd);
  if (const Insertion* insertion = LiveInsertion(it->second)) WriteBack(*insertion, handle, false);
  handles_.erase(it);
  // A lock ends with the handle that made it.
  for (auto& [letter, reader] : readers_) {
    for (const Volume& volume : reader.insertion.volumes) {
      if (volume.lockedBy != handle) continue;
      Record(std::string("unlock ") + volume.letter);
      if (volume.dismounted) {
        volume.staleBoot.reset();
      } else if (reader.insertion.card->Read(volume.offset, kSector) != volume.mountedBoot) {
        volume.staleBoot = volume.mountedBoot;
      }
      volume.lockedBy = 0;
      volume.dismounted = false;
    }
  }
}

// Windows lets no one write under a mounted file system: a volume's own
// boot sector only, unless the volume is locked or dismounted.
bool Machine::WriteAllowed(const Insertion& insertion, const OpenHandle& open, std::uint64_t offset,
                           std::uint64_t size) const {
  if (open.device == Device::Volume) {
    return offset + size <= kSector || !insertion.volumes[open.volume].Free();
  }
  for (const Volume& volume : insertion.volumes) {
    const bool inside = offset < volume.offset + volume.length && volume.offset < offset + size;
    if (inside && volume.Free()) return false;
  }
  return true;
}

bool Machine::Transfer(host::Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                       std::uint32_t& transferred, bool write) {
  transferred = 0;
  OpenHandle* open = Find(handle);
  if (open == nullptr) return false;
  if (write && !open->write) return false;
  switch (open->device) {
    case Device::PcFile: {
      if (write && pcWritesFail) return false;
      const auto at = static_cast<off_t>(offset);
      const ssize_t done = write ? ::pwrite(open->fd, buffer, size, at) : ::pread(open->fd, buffer, size, at);
      if (done < 0) return false;
      transferred = static_cast<std::uint32_t>(done);
      return true;
    }
    case Device::SystemDisk:
      if (write) ++systemDiskWrites;
      return false;
    case Device::CardFile: {
      const Insertion* insertion = LiveInsertion(*open);
      if (write || insertion == nullptr) return false;
      const auto kept = insertion->cache.files.find(open->name);
      const bool cached = kept != insertion->cache.files.end() && (open->flags & host::kFileFlagNoBuffering) == 0;
      bool read = cached;
      const std::string content = cached ? kept->second : CardFileContent(open->letter, open->name, &read);
      if (!read) return false;
      transferred = static_cast<std::uint32_t>(std::min<std::size_t>(size, content.size()));
      std::memcpy(buffer, content.data(), transferred);
      return true;
    }
    case Device::SystemVolume:
      return false;
    case Device::Volume:
    case Device::Physical:
      break;
  }
  // Unbuffered device transfers: whole sectors, from an aligned buffer.
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer) % 4096, 0u) << "a device buffer is not aligned";
  EXPECT_EQ(offset % kSector, 0u);
  EXPECT_EQ(size % kSector, 0u);
  const Insertion* insertion = LiveInsertion(*open);
  if (insertion == nullptr) return false;
  CardFaults& faults = insertion->card->faults;
  if (write && (faults.locked || faults.writeFails)) return false;
  const Volume* volume = VolumeOf(*open);
  if (write && faults.firstSectorGuarded && volume == nullptr && offset < kSector) return false;
  const std::uint64_t base = volume ? volume->offset : 0;
  const std::uint64_t limit = volume ? volume->length : insertion->card->sizeBytes;
  // The file system keeps a volume handle off the volume's last sectors
  // (never its boot sector).
  const std::uint64_t kept = volume && !open->extendedDasd && limit > 8 * kSector ? 8 * kSector : 0;
  if (write && !WriteAllowed(*insertion, *open, volume ? offset : base + offset, size)) {
    Record("write refused");
    return false;  // ERROR_ACCESS_DENIED
  }
  if (!write && (faults.readFails || (volume && faults.volumeReadsFail))) return false;
  if (offset + size > limit) {
    Record("beyond the end " + std::to_string(++requestsBeyondEnd));
    return false;
  }
  if (offset + size > limit - kept) return false;
  const std::uint32_t count = faults.shortTransfer || (write && faults.shortWrites) ? size - 1 : size;
  // Through the system's cache unless the handle asked for none; a write
  // waits there unless it asked to write through.
  const bool cached = (open->flags & host::kFileFlagNoBuffering) == 0;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::uint64_t at = base + offset;
  Cache& cache = CacheOf(*insertion);
  if (!write) Flash(*insertion, at, bytes, count, false);
  for (std::uint32_t done = 0; (write || cached) && done < count; done += kSector) {
    const std::uint32_t piece = std::min<std::uint32_t>(count - done, kSector);
    const auto hit = cache.sectors.find(at + done);
    if (write && !cached) {
      if (hit != cache.sectors.end()) cache.sectors.erase(hit);
    } else if (write || hit == cache.sectors.end()) {
      cache.sectors[at + done].assign(bytes + done, bytes + done + piece);
    } else {
      std::memcpy(bytes + done, hit->second.data(), std::min<std::size_t>(piece, hit->second.size()));
    }
  }
  if (write && (open->flags & host::kFileFlagWriteThrough) == 0) {
    cache.pending.push_back({handle, at, std::vector<std::uint8_t>(bytes, bytes + count)});
  } else if (write) {
    Flash(*insertion, at, bytes, count, true);
  }
  cache.cardWrites = insertion->card->writes;
  (write ? deviceBytesWritten : deviceBytesRead) += count;
  transferred = count;
  if (write && faults.writesBeforeReadsFail > 0 && --faults.writesBeforeReadsFail == 0) faults.readFails = true;
  if (write && faults.writesBeforePull > 0 && --faults.writesBeforePull == 0) {
    for (auto& [letter, reader] : readers_) reader.insertion = Insertion{};
  }
  return true;
}

Machine::Cache& Machine::CacheOf(const Insertion& insertion) {
  if (insertion.cache.cardWrites != insertion.card->writes) insertion.cache.sectors.clear();
  return insertion.cache;
}

// The card under its reader: a counterfeit's flash takes what it can, and a
// reader that loses writes at a flush keeps what each one overwrote.
void Machine::Flash(const Insertion& insertion, std::uint64_t at, std::uint8_t* bytes, std::uint64_t size,
                    bool write) {
  const Card& card = *insertion.card;
  if (write && card.faults.dropsWrites) return;
  const std::uint64_t flash = card.flashBytes;
  for (std::uint64_t done = 0; done < size;) {
    const std::uint64_t piece = flash == 0 ? size - done : std::min<std::uint64_t>(size - done, kSector);
    std::uint64_t target = at + done;
    const bool beyond = flash != 0 && target >= flash;
    if (beyond && card.beyond == Card::Beyond::Wraps) target %= flash;
    if (beyond && write && card.beyond == Card::Beyond::OnFirstSector) target %= kSector;
    if (!write) {
      const std::vector<std::uint8_t> read = card.Read(target, piece);
      std::memcpy(bytes + done, read.data(), piece);
    } else if (!beyond || card.beyond != Card::Beyond::Lost) {
      if (card.faults.losesAtFlush) insertion.cache.overwritten.push_back({0, target, card.Read(target, piece)});
      card.Write(target, std::vector<std::uint8_t>(bytes + done, bytes + done + piece));
    }
    done += piece;
  }
}

// What waits in the cache goes to the card, oldest first: a handle's own
// writes at its close (only), every one at a flush.
void Machine::WriteBack(const Insertion& insertion, host::Handle only, bool flush) {
  std::vector<Pending>& pending = CacheOf(insertion).pending;
  const auto mine = [only](const Pending& write) { return only == 0 || write.handle == only; };
  for (Pending& write : pending) {
    if (mine(write)) Flash(insertion, write.at, write.bytes.data(), write.bytes.size(), true);
  }
  pending.erase(std::remove_if(pending.begin(), pending.end(), mine), pending.end());
  std::vector<Pending>& overwritten = insertion.cache.overwritten;
  for (auto old = overwritten.rbegin(); flush && old != overwritten.rend(); ++old) {
    insertion.card->Write(old->at, old->bytes);
  }
  if (flush) overwritten.clear();
  insertion.cache.cardWrites = insertion.card->writes;
}

bool Machine::GetFileSize(host::Handle handle, std::uint64_t& size) {
  OpenHandle* open = Find(handle);
  struct stat info {};
  if (open == nullptr || open->device != Device::PcFile || ::fstat(open->fd, &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool Machine::ReadAt(host::Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                     std::uint32_t& transferred) {
  Count("ReadFile");
  return Transfer(handle, offset, buffer, size, transferred, false);
}

bool Machine::WriteAt(host::Handle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
                      std::uint32_t& transferred) {
  Count("WriteFile");
  Record("write " + std::to_string(handle));
  return Transfer(handle, offset, const_cast<void*>(buffer), size, transferred, true);
}

bool Machine::QueryDeviceNumber(host::Handle handle, host::StorageDeviceNumber& number) {
  Count("IOCTL_STORAGE_GET_DEVICE_NUMBER");
  OpenHandle* open = Find(handle);
  if (open == nullptr) return false;
  if (open->device == Device::SystemVolume) {
    if (systemDiskUnknown) return false;
    number = {host::kFileDeviceDisk, kSystemDiskNumber, 1};
    return true;
  }
  if (open->device != Device::Volume) return false;
  const Insertion* insertion = LiveInsertion(*open);
  if (insertion == nullptr || insertion->card->faults.deviceNumberFails) return false;
  number = {insertion->card->deviceType, insertion->card->deviceNumber,
            insertion->volumes[open->volume].partitionNumber};
  return true;
}

bool Machine::QueryDriveGeometryEx(host::Handle handle, void* buffer, std::uint32_t size) {
  Count("IOCTL_DISK_GET_DRIVE_GEOMETRY_EX");
  OpenHandle* open = Find(handle);
  if (open == nullptr || open->device != Device::Physical || size < 32) return false;
  const Insertion* insertion = LiveInsertion(*open);
  if (insertion == nullptr || insertion->card->faults.geometryExFails) return false;
  const Card& card = *insertion->card;
  return linuxhost::EncodeGeometryEx(card.sizeBytes, card.faults.zeroBytesPerSector ? 0 : card.bytesPerSector,
                                     buffer, size);
}

bool Machine::QueryDriveGeometry(host::Handle handle, void* buffer, std::uint32_t size) {
  Count("IOCTL_DISK_GET_DRIVE_GEOMETRY");
  OpenHandle* open = Find(handle);
  if (open == nullptr || open->device != Device::Physical || size < 24) return false;
  const Insertion* insertion = LiveInsertion(*open);
  if (insertion == nullptr || insertion->card->faults.geometryFails) return false;
  const Card& card = *insertion->card;
  return linuxhost::EncodeGeometry(card.sizeBytes, card.faults.zeroBytesPerSector ? 0 : card.bytesPerSector,
                                   buffer, size);
}

// DRIVE_LAYOUT_INFORMATION_EX: its head, then 144 bytes an entry.
bool Machine::QueryDriveLayoutEx(host::Handle handle, void* buffer, std::uint32_t size) {
  Count("IOCTL_DISK_GET_DRIVE_LAYOUT_EX");
  OpenHandle* open = Find(handle);
  if (open == nullptr || open->device != Device::Physical) return false;
  const Insertion* insertion = LiveInsertion(*open);
  if (insertion == nullptr || insertion->card->faults.layoutFails) return false;
  linuxhost::DiskLayout layout;
  layout.gpt = insertion->gpt;
  layout.signature = insertion->gpt ? 0 : GetLe32(insertion->card->Sector(0).data() + 440);
  layout.entries = insertion->layout;
  return linuxhost::EncodeLayout(layout, buffer, size);  // ERROR_INSUFFICIENT_BUFFER when it does not fit
}

bool Machine::EjectMedia(host::Handle handle) {
  Count("IOCTL_STORAGE_EJECT_MEDIA");
  Record("eject");
  OpenHandle* open = Find(handle);
  if (open == nullptr || open->device != Device::Physical) return false;
  for (auto& [letter, reader] : readers_) {
    if (reader.insertion.card && reader.insertion.generation == open->generation) {
      reader.insertion.ejected = true;
      return true;
    }
  }
  return false;
}

bool Machine::QueryPartitionInfo(host::Handle volume, host::PartitionInfo& info) {
  Count("IOCTL_DISK_GET_PARTITION_INFO_EX");
  OpenHandle* open = Find(volume);
  if (open == nullptr || open->device != Device::Volume) return false;
  const Volume* mounted = VolumeOf(*open);
  if (mounted == nullptr) return false;
  info.startingOffset = static_cast<std::int64_t>(mounted->offset);
  info.partitionLength = static_cast<std::int64_t>(mounted->length);
  return true;
}

bool Machine::QueryLength(host::Handle handle, std::uint64_t& length) {
  Count("IOCTL_DISK_GET_LENGTH_INFO");
  OpenHandle* open = Find(handle);
  const Insertion* insertion = open ? LiveInsertion(*open) : nullptr;
  if (insertion == nullptr || (open->device != Device::Volume && open->device != Device::Physical)) {
    return false;
  }
  const Volume* mounted = VolumeOf(*open);
  length = mounted ? mounted->length : insertion->card->sizeBytes;
  return true;
}

// A lock fails while any other handle is open on the volume, or a file or a
// window of someone else's is.
bool Machine::LockVolume(host::Handle volume) {
  Count("FSCTL_LOCK_VOLUME");
  OpenHandle* open = Find(volume);
  const Volume* mounted = open ? VolumeOf(*open) : nullptr;
  if (mounted == nullptr || busyVolumes.count(mounted->letter) != 0 || mounted->lockedBy != 0) return false;
  for (const auto& [handle, other] : handles_) {
    const bool sameVolume = other.generation == open->generation && other.letter == open->letter &&
                            (other.device == Device::Volume || other.device == Device::CardFile);
    if (handle != volume && sameVolume) return false;
  }
  mounted->lockedBy = volume;
  mounted->mountedBoot = open->card->Read(mounted->offset, kSector);
  Record(std::string("lock ") + mounted->letter);
  return true;
}

bool Machine::DismountVolume(host::Handle volume) {
  Count("FSCTL_DISMOUNT_VOLUME");
  OpenHandle* open = Find(volume);
  const Volume* mounted = open ? VolumeOf(*open) : nullptr;
  if (mounted == nullptr) return false;
  // The file system leaves it for good only under this handle's lock.
  if (mounted->lockedBy == volume) mounted->dismounted = true;
  return true;
}

// A file system control: no file system answers it on a dismounted volume.
bool Machine::AllowExtendedDasdIo(host::Handle volume) {
  OpenHandle* open = Find(volume);
  const Volume* mounted = open ? VolumeOf(*open) : nullptr;
  if (mounted == nullptr || mounted->dismounted) return false;
  open->extendedDasd = true;
  return true;
}

// IOCTL_STORAGE_CHECK_VERIFY2: the count of the reader that holds the card.
bool Machine::QueryMediaChangeCount(host::Handle drive, std::uint32_t& count) {
  OpenHandle* open = Find(drive);
  const Insertion* insertion = open && open->device == Device::Physical ? LiveInsertion(*open) : nullptr;
  if (insertion != nullptr && !std::exchange(insertion->changeReported, true)) return false;
  for (const auto& [letter, reader] : readers_) {
    if (&reader.insertion == insertion) count = insertion->card->faults.uncountedMedia ? 0 : reader.mediaChanges;
  }
  return insertion != nullptr;
}

bool Machine::QueryStorageSerialNumber(host::Handle drive, std::string& serial) {
  OpenHandle* open = Find(drive);
  const Insertion* insertion = open && open->device == Device::Physical ? LiveInsertion(*open) : nullptr;
  if (insertion == nullptr || insertion->card->serial.empty()) return false;
  serial = insertion->card->serial;
  return true;
}

bool Machine::QueryStorageDeviceIds(host::Handle drive, std::string& vendor, std::string& product) {
  Count("IOCTL_STORAGE_QUERY_PROPERTY");
  OpenHandle* open = Find(drive);
  const Insertion* insertion = open && open->device == Device::Physical ? LiveInsertion(*open) : nullptr;
  if (insertion == nullptr) return false;
  vendor = insertion->card->vendor;
  product = insertion->card->product;
  return true;
}

// A volume as the Linux host reads it: its boot sector and mdir.
std::optional<linuxhost::VolumeFacts> Machine::VolumeFactsAt(const char* root) {
  const std::optional<linuxhost::CardVolume> files = root[0] == '\0' ? std::nullopt : FilesAt(root[0]);
  if (!files) return std::nullopt;
  return linuxhost::ReadVolumeFacts(*files);
}

bool Machine::GetDiskFreeSpace(const char* root, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  Count("GetDiskFreeSpaceEx");
  const std::optional<linuxhost::VolumeFacts> facts = VolumeFactsAt(root);
  if (!facts) return false;
  totalBytes = facts->dataBytes;
  freeBytes = facts->freeBytes;
  return facts->useKnown;
}

bool Machine::GetVolumeInformation(const char* root, std::string& label, std::string& fileSystem) {
  Count("GetVolumeInformation");
  const std::optional<linuxhost::VolumeFacts> facts = VolumeFactsAt(root);
  if (!facts) return false;
  label = facts->label;
  fileSystem = facts->SystemName();
  return !fileSystem.empty();
}

bool Machine::UpdateDiskProperties(host::Handle drive) {
  Record("update properties");
  OpenHandle* open = Find(drive);
  return open != nullptr && open->device == Device::Physical && LiveInsertion(*open) != nullptr;
}

std::string Machine::GetComputerName() { return "CAMERA-PC"; }

bool Machine::QueryVolumeDiskNumbers(host::Handle volume, std::vector<std::uint32_t>& diskNumbers) {
  Count("IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS");
  OpenHandle* open = Find(volume);
  if (open == nullptr || open->device != Device::SystemVolume || systemDiskUnknown ||
      systemDiskExtents.empty()) {
    return false;
  }
  diskNumbers = systemDiskExtents;
  return true;
}

bool Machine::FlushFileBuffers(host::Handle handle) {
  Count("FlushFileBuffers");
  OpenHandle* open = Find(handle);
  if (open == nullptr) return false;
  Record("flush " + std::string(1, open->letter));
  flushed_ = true;
  if (const Insertion* insertion = LiveInsertion(*open)) WriteBack(*insertion, 0, true);
  const Insertion* live = LiveInsertion(*open);
  // A disk's too, as a handle that may write it (GENERIC_WRITE) flushes it.
  const bool flushed = open->write && live != nullptr;
  if (flushed && open->device == Device::Volume) MarkInUse(open->letter, false);
  return flushed && (open->device == Device::Volume || open->device == Device::Physical) &&
         !live->card->faults.flushFails;
}

unsigned Machine::GetDriveType(const char* root) {
  Count("GetDriveType");
  const std::string text = root;
  if (text.size() != 3 || text[1] != ':' || text[2] != '\\') return host::kDriveNoRootDir;
  if (IsFixedDrive(text[0])) return host::kDriveFixed;
  return IsCardLetter(text[0]) ? host::kDriveRemovable : host::kDriveNoRootDir;
}

bool Machine::GetDiskTotalBytes(const char* root, std::uint64_t& totalBytes) {
  Count("GetDiskFreeSpaceEx");
  const std::string text = root;
  if (text.empty()) return false;
  const Insertion* insertion = InsertionAt(text[0]);
  if (insertion == nullptr || insertion->ejected || insertion->card->faults.totalBytesFails) {
    return false;
  }
  if (insertion->card->volumeTotalBytes != 0) {
    totalBytes = insertion->card->volumeTotalBytes;
    return true;
  }
  // A volume without a FAT boot sector has no file system to measure.
  const std::vector<std::uint8_t> boot = insertion->card->Read(VolumeAt(text[0])->offset, 512);
  if (!HasSignature(boot) || GetLe16(boot.data() + 11) != kSector) return false;
  const std::uint32_t small = GetLe16(boot.data() + 19);
  totalBytes = (small != 0 ? small : GetLe32(boot.data() + 32)) * kSector;
  return true;
}

std::uint32_t Machine::GetFileAttributes(const char* path) {
  Count("GetFileAttributes");
  const std::string text = path;
  // A path on a card: what the file system the card root shows now holds.
  if (text.size() >= 3 && text[1] == ':' && text[2] == '\\' && IsCardLetter(text[0])) {
    const std::optional<linuxhost::CardVolume> files = FilesAt(text[0]);
    if (!files) return host::kInvalidFileAttributes;
    std::string inside;
    for (std::size_t i = 3; i < text.size(); ++i) inside += text[i] == '\\' ? '/' : text[i];
    const linuxhost::CardVolume& volume = *files;
    if (inside.empty() || linuxhost::CardFolderExists(volume, inside)) return host::kFileAttributeDirectory;
    return linuxhost::CardEntryExists(volume, inside) ? host::kFileAttributeArchive : host::kInvalidFileAttributes;
  }
  const std::string local = PcPath(path);
  struct stat info {};
  if (local.empty() || ::stat(local.c_str(), &info) != 0) return host::kInvalidFileAttributes;
  return S_ISDIR(info.st_mode) ? host::kFileAttributeDirectory : host::kFileAttributeArchive;
}

std::string Machine::GetTempPath() {
  Count("GetTempPath");
  return kTemporaryFolder;
}

std::string Machine::GetSystemWindowsDirectory() {
  Count("GetSystemWindowsDirectory");
  return kWindowsDirectory;
}

}  // namespace sim
