// host.h on Linux: the window, boxes and dialogs through the front end; the
// cards' disks and volumes as byte ranges of their block devices or image
// files; format.com as mkfs.fat; the shell's copies through mtools; the
// registry as a settings file; PC paths as Wine maps them.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "app/dispatch.h"
#include "common/card_state.h"
#include "host/host.h"
#include "linux/block_devices.h"
#include "linux/card_files.h"
#include "linux/fat_format.h"
#include "linux/host_state.h"
#include "linux/pc_files.h"
#include "linux/process.h"
#include "linux/templates.h"
#include "linux/volume_facts.h"
#include "res/ids.h"

namespace host {

using linuxhost::Card;
using linuxhost::HandleKind;
using linuxhost::HostState;
using linuxhost::OpenHandle;

namespace {
namespace fs = std::filesystem;

constexpr char kPhysicalPrefix[] = "\\\\.\\PHYSICALDRIVE";
constexpr char kDevicePrefix[] = "\\\\.\\";
// Where the logic finds format.com, and the Windows folder whose volume
// tells the system disk: Z:, the root.
constexpr char kSystemFolder[] = "Z:\\usr\\sbin";
constexpr char kFormatProgram[] = "\\format.com";
constexpr char kWindowsFolder[] = "Z:\\";
constexpr std::uint32_t kSystemDiskNumber = 0;
constexpr std::uint32_t kFormatRefused = 1;
constexpr std::uint64_t kSector = 512;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;
constexpr int kErrorWriteFault = 29;
constexpr int kAbove32 = 42;  // ShellExecuteA's success is any value above 32
// FILETIME counts 100 ns ticks from 1601; Unix time seconds from 1970.
constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::uint64_t kNanosecondsPerTick = 100;
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600;
constexpr char kSettingsFile[] = "/settings";
constexpr mode_t kFileMode = 0666;  // less the user's umask
constexpr int kPercentDone = 100;

HostState& S() { return HostState::Get(); }

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

char Upper(char letter) { return static_cast<char>(std::toupper(static_cast<unsigned char>(letter))); }

bool IsSystemLetter(char letter) { return Upper(letter) == 'C' || Upper(letter) == 'Z'; }

// "E:\..." on a card that a letter shows now.
bool IsCardPath(const std::string& path) {
  return path.size() >= 3 && path[1] == ':' && path[2] == '\\' && S().VolumeAt(path[0]) != nullptr;
}

std::string InsideCard(const std::string& windowsPath) {
  std::string path;
  for (std::size_t i = 3; i < windowsPath.size(); ++i) path += windowsPath[i] == '\\' ? '/' : windowsPath[i];
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path;
}

// A card opened for writing is written past every cache, as Windows writes
// a disk: what a write reports done is on the card, and what is read back
// comes from it. The card's claim, not the handle, holds it with O_EXCL: a
// second O_EXCL open of the program's own would be refused.
int OpenFlags(std::uint32_t access, std::uint32_t flags) {
  const bool write = (access & kGenericWrite) != 0;
  int result = O_CLOEXEC | (write ? O_RDWR : O_RDONLY);
  if (write || (flags & kFileFlagNoBuffering) != 0) result |= O_DIRECT;
  if (write || (flags & kFileFlagWriteThrough) != 0) result |= O_DSYNC;
  return result;
}

// Syncs what a tool wrote to the card through the system's cache; false
// when the card did not take it all.
bool SyncCard(const Card& card) {
  const int fd = ::open(card.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = card.blockDevice ? linuxhost::FlushBlockDevice(fd) : ::fsync(fd) == 0;
  return ::close(fd) == 0 && synced;
}

// Opens a card's device or image. A read-only device (the lock switch)
// opens for writing as Windows opens a locked card: its writes fail.
int OpenCard(const Card& card, int flags, bool& writesFail) {
  writesFail = false;
  int fd = ::open(card.path.c_str(), flags);
  if (fd < 0 && (errno == EROFS || errno == EACCES) && (flags & O_ACCMODE) == O_RDWR) {
    const int readOnly = ::open(card.path.c_str(), (flags & ~O_ACCMODE & ~O_EXCL) | O_RDONLY);
    if (readOnly >= 0 && card.blockDevice && !linuxhost::BlockDeviceReadOnly(readOnly)) {
      ::close(readOnly);
      return -1;
    }
    writesFail = readOnly >= 0;
    fd = readOnly;
  }
  // The device as O_DIRECT cannot take it (a file system without it).
  if (fd < 0 && errno == EINVAL && (flags & O_DIRECT) != 0) return OpenCard(card, flags & ~O_DIRECT, writesFail);
  return fd;
}

Handle OpenDisk(std::uint32_t number, std::uint32_t access, std::uint32_t flags) {
  OpenHandle open;
  if (number == kSystemDiskNumber) {
    open.kind = HandleKind::SystemDisk;
    return S().Add(open);
  }
  Card* card = S().CardByNumber(number);
  if (card == nullptr || !card->present) return kInvalidHandle;
  // Opened for writing, the disk is the program's until the handle closes.
  open.claimed = (access & kGenericWrite) != 0;
  if (open.claimed && !S().Claim(*card)) return kInvalidHandle;
  open.fd = OpenCard(*card, OpenFlags(access, flags), open.writesFail);
  if (open.fd < 0) {
    if (open.claimed) S().Unclaim(*card);
    return kInvalidHandle;
  }
  open.kind = HandleKind::Disk;
  open.card = number;
  open.length = card->bytes;
  open.write = (access & kGenericWrite) != 0;
  return S().Add(open);
}

Handle OpenVolume(char letter, std::uint32_t access, std::uint32_t flags) {
  OpenHandle open;
  if (IsSystemLetter(letter)) {
    open.kind = HandleKind::SystemVolume;
    return S().Add(open);
  }
  const Card* card = nullptr;
  const linuxhost::MappedVolume* volume = S().VolumeAt(letter, &card);
  if (volume == nullptr) return kInvalidHandle;
  open.fd = OpenCard(*card, OpenFlags(access, flags), open.writesFail);
  if (open.fd < 0) return kInvalidHandle;
  open.kind = HandleKind::Volume;
  open.card = card->number;
  open.base = volume->range.offset;
  open.length = volume->range.length;
  open.partitionNumber = volume->range.partitionNumber;
  open.write = (access & kGenericWrite) != 0;
  return S().Add(open);
}

Handle OpenCardFile(const std::string& path, std::uint32_t disposition) {
  const Card* card = nullptr;
  const linuxhost::MappedVolume* volume = S().VolumeAt(path[0], &card);
  const linuxhost::CardVolume files{card->path, volume->range.offset};
  const std::string inside = InsideCard(path);
  const std::optional<std::string> content = linuxhost::CardFileContent(files, inside);
  if (disposition == kCreateNew && content) return kInvalidHandle;
  if (disposition == kOpenExisting && !content) return kInvalidHandle;
  OpenHandle open;
  open.kind = HandleKind::CardFile;
  open.card = card->number;
  if (!content || disposition == kCreateAlways) {
    if (S().Interrupted()) return kInvalidHandle;
    Card& written = *S().CardByNumber(card->number);
    if (!S().Claim(written)) return kInvalidHandle;
    const bool put = linuxhost::PutCardFile(files, inside, "", S().Scratch()) && SyncCard(written);
    S().Unclaim(written);
    if (!put) return kInvalidHandle;
  } else {
    open.content = *content;
  }
  return S().Add(open);
}

// A PC file read as the program; one written, as the user, never through a
// symlink as its name.
Handle OpenPcFile(const std::string& path, std::uint32_t access, std::uint32_t disposition) {
  const std::string local = linuxhost::ToLinuxPath(path);
  if (local.empty()) return kInvalidHandle;
  const bool write = (access & kGenericWrite) != 0;
  int flags = O_CLOEXEC | (write ? O_RDWR : O_RDONLY);
  if (disposition == kCreateNew) flags |= O_CREAT | O_EXCL;
  if (disposition == kCreateAlways) flags |= O_CREAT | O_TRUNC;
  OpenHandle open;
  open.fd = write || (flags & O_CREAT) != 0 ? linuxhost::OpenPcFileForWriting(local, flags, kFileMode)
                                            : ::open(local.c_str(), flags);
  if (open.fd < 0) return kInvalidHandle;
  open.write = write;
  return S().Add(open);
}

// Keeps the first refusal of a command for the user; false.
bool RefusedTransfer(const OpenHandle& open, std::uint64_t offset, std::uint32_t size, bool write, int error) {
  const bool device = open.kind == HandleKind::Disk || open.kind == HandleKind::Volume;
  const Card* card = device ? S().CardByNumber(open.card) : nullptr;
  if (card == nullptr || !S().cardFault.empty()) return false;
  S().cardFault = std::string("the card refused to ") + (write ? "write " : "read ") + std::to_string(size) +
                  " bytes at byte " + std::to_string(open.base + offset) + " of " + card->path + " (" +
                  std::strerror(error) + ")";
  return false;
}

// A transfer within the handle's bytes; a volume's offsets count from its
// start on the disk.
bool Transfer(Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t& transferred,
              bool write) {
  transferred = 0;
  OpenHandle* open = S().Find(handle);
  if (open == nullptr || (open->fd < 0 && open->kind != HandleKind::CardFile)) return false;
  if (open->kind == HandleKind::CardFile) {
    if (write || offset >= open->content.size()) return !write;
    transferred = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, open->content.size() - offset));
    std::memcpy(buffer, open->content.data() + offset, transferred);
    return true;
  }
  const bool device = open->kind == HandleKind::Disk || open->kind == HandleKind::Volume;
  if (device && offset + size > open->length) return false;
  if (write) {
    if (!open->write) return false;
    if (open->writesFail) return RefusedTransfer(*open, offset, size, write, EROFS);
    // After Ctrl-C, the step in hand has ended: no more than a sector more.
    if (device && size > kSector && S().Interrupted()) return false;
    // A volume opened for writing claims its card at its first write: opened
    // to be read, it takes nothing from the system.
    Card* card = device ? S().CardByNumber(open->card) : nullptr;
    if (card != nullptr && !open->claimed) {
      if (!S().Claim(*card)) return false;
      open->claimed = true;
    }
  }
  const auto at = static_cast<off_t>(open->base + offset);
  const ssize_t done = write ? ::pwrite(open->fd, buffer, size, at) : ::pread(open->fd, buffer, size, at);
  if (done < 0) return RefusedTransfer(*open, offset, size, write, errno);
  transferred = static_cast<std::uint32_t>(done);
  return true;
}

Card* CardOf(Handle handle, std::initializer_list<HandleKind> kinds) {
  OpenHandle* open = S().Find(handle);
  if (open == nullptr || std::find(kinds.begin(), kinds.end(), open->kind) == kinds.end()) return nullptr;
  return S().CardByNumber(open->card);
}

// ---- The settings file, for the registry's values -----------------------------

using Settings = std::map<std::string, std::map<std::string, std::string>>;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string SettingsPath() { return linuxhost::TheUser().settingsFolder + kSettingsFile; }

// "[key]" lines, then "name=text" lines.
Settings ReadSettings() {
  Settings settings;
  std::ifstream file;
  {
    const linuxhost::AsPcUser user;  // the user's own settings, read with their rights
    if (user.Ok()) file.open(SettingsPath());
  }
  std::string key;
  for (std::string line; std::getline(file, line);) {
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      key = Lower(line.substr(1, line.size() - 2));
      settings[key];
    } else if (const std::size_t equals = line.find('='); equals != std::string::npos && !key.empty()) {
      settings[key][Lower(line.substr(0, equals))] = line.substr(equals + 1);
    }
  }
  return settings;
}

// Written whole beside the settings, then put in their place, as the user.
bool WriteSettings(const Settings& settings) {
  if (!linuxhost::MakePcFolders(linuxhost::TheUser().settingsFolder)) return false;
  std::ostringstream text;
  for (const auto& [key, values] : settings) {
    text << '[' << key << "]\n";
    for (const auto& [name, value] : values) text << name << '=' << value << '\n';
  }
  const std::string path = SettingsPath();
  const std::string temporary = path + ".new";
  const int fd = linuxhost::OpenPcFileForWriting(temporary, O_WRONLY | O_CREAT | O_TRUNC, kFileMode);
  if (fd < 0) return false;
  const std::string bytes = text.str();
  const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (::close(fd) != 0 || !written) return false;
  return linuxhost::RenamePcFile(temporary, path);
}

// ---- format.com --------------------------------------------------------------------

// The volume's own partition node where the kernel shows that very
// partition; else the disk, with mkfs.fat's check for partitions overridden
// where it has some (mkfs.fat holds the whole disk exclusively meanwhile).
// The program holds no handle of its own on the card while mkfs.fat runs.
linuxhost::FatTarget FormatTarget(const Card& card, std::uint64_t offset, std::uint64_t length) {
  linuxhost::FatTarget target(card.path);
  if (!card.blockDevice) return target;
  if (const auto node = linuxhost::PartitionNode(card.device, offset, length)) {
    target.path = *node;
    target.partitionNode = true;
  } else {
    target.overrideChecks = linuxhost::HasPartitionNodes(card.device);
  }
  return target;
}

std::uint32_t RunFormatCommand(const std::string& commandLine) {
  linuxhost::FormatRequest request;
  if (!linuxhost::ParseFormatCommand(commandLine, request)) return kFormatRefused;
  const Card* card = nullptr;
  const linuxhost::MappedVolume* volume = S().VolumeAt(request.letter, &card);
  if (volume == nullptr) return kFormatRefused;
  const std::uint64_t offset = volume->range.offset;
  const std::uint64_t length = volume->range.length;
  Card& claimed = *S().CardByNumber(card->number);
  // A format asked for after a stop is refused before anything is touched.
  if (S().Interrupted() || !linuxhost::FormatTakes(request.fat32, length, linuxhost::kFormatComFat32LimitBytes) ||
      !S().Claim(claimed)) {
    return kFormatRefused;
  }
  // Told as format.com tells it: in percent of the work.
  const std::string format = linuxhost::CatalogueText(MSG_FMT_FORMAT_PROGRESS);
  const auto tell = [&format](int percent) {
    std::array<char, 256> line{};
    std::snprintf(line.data(), line.size(), format.c_str(), percent);
    if (S().frontend != nullptr) S().frontend->Progress(line.data());
    return !S().Interrupted();
  };
  bool zeroed = true;
  if (!request.quick) {
    bool writesFail = false;
    const int fd = OpenCard(*card, OpenFlags(kGenericWrite, 0), writesFail);
    zeroed = fd >= 0 && !writesFail && linuxhost::ZeroRange(fd, offset, length, tell);
    if (fd >= 0 && ::close(fd) != 0) zeroed = false;
  } else {
    tell(0);  // mkfs.fat tells nothing while it works
  }
  // mkfs.fat claims the device with O_EXCL itself: the program lets it go.
  S().Unclaim(claimed);
  if (!zeroed) return kFormatRefused;
  // A stop ends mkfs.fat too: the step in hand ends, and says so. Written
  // through another node, the whole disk's cache is flushed after it.
  const bool made = linuxhost::MakeFatFileSystem(FormatTarget(*card, offset, length), offset, length,
                                                 linuxhost::FatBits(request.fat32, length),
                                                 [] { return !S().Interrupted(); }) &&
                    SyncCard(*card);
  if (made) tell(kPercentDone);
  return made ? 0 : kFormatRefused;
}

// The chosen card's reader when the user is asked to remove the card, and
// its medium then: an image or a loop device is only read again, and other
// readers are none of the command's business.
struct WatchedReader {
  std::uint32_t card = 0;
  std::string medium;
};
std::optional<WatchedReader> gWatched;

bool IsReader(const Card& card) {
  return card.blockDevice && linuxhost::SysfsAttribute(card.device, "loop/backing_file").empty();
}

void WatchReader(HostState& state) {
  gWatched.reset();
  for (const auto& [number, card] : state.cards) {
    if (card.present && IsReader(card) && common::PhysicalDrivePath(number) == common::gCardState.physicalDrivePath) {
      gWatched = WatchedReader{number, card.mediumId};
    }
  }
}

// Until the reader holds another medium (the card has been out and is
// back), the user stops, or patience runs out. While the card is out the
// reader holds no medium (USB), or its disk is gone altogether (an SD host
// removes it; a card put back may take 40 s and more to show again).
void WaitForReader(HostState& state) {
  constexpr std::chrono::milliseconds kPoll(200);
  constexpr std::chrono::seconds kPatience(120);
  const auto until = std::chrono::steady_clock::now() + kPatience;
  while (gWatched && std::chrono::steady_clock::now() < until && !state.Interrupted()) {
    if (state.frontend != nullptr) state.frontend->Progress("Waiting for the SD Card to be put back...");
    std::this_thread::sleep_for(kPoll);
    const Card* card = state.CardByNumber(gWatched->card);
    std::string now;
    std::uint64_t bytes = 0;
    if (card != nullptr && linuxhost::CurrentMedium(*card, now, bytes) && bytes != 0 && now != gWatched->medium) {
      break;
    }
  }
  gWatched.reset();
}

}  // namespace

// ---- Window, controls, timer, commands --------------------------------------------

int MessageBox(const char* text, const char* caption, unsigned flags) {
  HostState& state = S();
  if (state.frontend == nullptr) return 0;
  const std::string shown = text;
  const bool reinsert = shown == linuxhost::CatalogueText(MSG_REINSERT_CARD) || shown == linuxhost::CatalogueText(MSG_REMOVE_AND_REINSERT);
  if (shown == linuxhost::CatalogueText(MSG_REMOVE_CARD) || shown == linuxhost::CatalogueText(MSG_REMOVE_AND_REINSERT)) {
    WatchReader(state);
  }
  const int answer = state.frontend->MessageBox(shown, caption, flags);
  // The user has put the card back: the system reads it again; a reader's
  // card is first waited for.
  if (reinsert) {
    WaitForReader(state);
    for (auto& [number, card] : state.cards) state.Insert(card);
  }
  return answer;
}

int LoadString(unsigned id, char* buffer, int bufferSize) {
  static const std::map<unsigned, std::string> table = {
#define VORN_STRING(stringId, text) {stringId, text},
#include "res/messages.def"
#undef VORN_STRING
  };
  if (bufferSize <= 0) return 0;
  const auto it = table.find(id);
  const std::string text = it == table.end() ? std::string() : it->second;
  const std::size_t length = std::min(text.size(), static_cast<std::size_t>(bufferSize - 1));
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

void ShowControl(int controlId, int showCommand) { S().window.visible[controlId] = showCommand != kSwHide; }
void SetControlText(int controlId, const char* text) { S().window.texts[controlId] = text; }

void ComboReset(int) {
  S().window.comboEntries.clear();
  S().window.comboSelection = kCbErr;
}
void ComboAddString(int, const char* text) { S().window.comboEntries.emplace_back(text); }
void ComboSetCurSel(int, int index) {
  linuxhost::WindowState& window = S().window;
  window.comboSelection = index >= 0 && index < static_cast<int>(window.comboEntries.size()) ? index : kCbErr;
}
int ComboGetCurSel(int) { return S().window.comboSelection; }
bool ComboGetText(int, int index, std::string& text) {
  const auto& entries = S().window.comboEntries;
  if (index < 0 || index >= static_cast<int>(entries.size())) return false;
  text = entries[static_cast<std::size_t>(index)];
  return true;
}

void SetTimer(unsigned, unsigned) { S().window.timerRunning = true; }
void KillTimer(unsigned) { S().window.timerRunning = false; }
void SendCommand(unsigned commandId, unsigned notifyCode) { app::OnCommand(commandId, notifyCode); }
void PostCommand(unsigned commandId, unsigned notifyCode) { S().posted.emplace_back(commandId, notifyCode); }
void BringMainWindowToFront() {}
bool EnableMainWindow(bool enable) { return !std::exchange(S().window.enabled, enable); }
void DispatchPendingMessages() {
  if (S().frontend != nullptr) S().frontend->Progress(S().window.Text(IDC_STATUS));
}
bool StopRequested() { return S().Interrupted(); }
void SendClose() { app::OnClose(); }
void PostQuit(int) { S().window.quitPosted = true; }

std::intptr_t RunDialog(const char* templateName) {
  if (std::strcmp(templateName, linuxhost::kAboutTemplate) != 0 || S().frontend == nullptr) return -1;
  S().frontend->About();
  return 1;
}

// ---- Dialogs whose procedure is the program's logic ----------------------------------

std::intptr_t RunDialog(const char* templateName, DialogProcedure procedure) {
  HostState& state = S();
  const DialogWindow window = state.nextHandle++;
  std::unique_ptr<linuxhost::Dialog> dialog = linuxhost::Dialog::FromTemplate(templateName, window, procedure);
  if (!dialog || state.frontend == nullptr) return -1;
  state.dialogs[window] = dialog.get();
  dialog->Initialize();
  state.frontend->RunDialog(*dialog);
  state.dialogs.erase(window);
  return dialog->Ended() ? dialog->Result() : -1;
}

namespace {
linuxhost::Dialog* OpenDialog(DialogWindow window) {
  const auto it = S().dialogs.find(window);
  return it == S().dialogs.end() ? nullptr : it->second;
}
}  // namespace

void EndDialog(DialogWindow dialog, std::intptr_t result) {
  if (auto* open = OpenDialog(dialog)) open->End(result);
}
void CheckRadioButton(DialogWindow dialog, int firstId, int lastId, int checkId) {
  if (auto* open = OpenDialog(dialog)) open->CheckRadio(firstId, lastId, checkId);
}
unsigned IsDlgButtonChecked(DialogWindow dialog, int id) {
  const auto* open = OpenDialog(dialog);
  return open != nullptr && open->Checked(id) ? kBstChecked : kBstUnchecked;
}
void CheckDlgButton(DialogWindow dialog, int id, unsigned check) {
  if (auto* open = OpenDialog(dialog)) open->SetChecked(id, check == kBstChecked);
}
void SetDlgItemText(DialogWindow dialog, int id, const char* text) {
  if (auto* open = OpenDialog(dialog)) open->SetText(id, text);
}
std::string GetDlgItemText(DialogWindow dialog, int id, int bufferSize) {
  const auto* open = OpenDialog(dialog);
  if (open == nullptr || bufferSize <= 0) return {};
  return open->Text(id).substr(0, static_cast<std::size_t>(bufferSize - 1));
}
void LimitDlgItemText(DialogWindow dialog, int id, int maximumCharacters) {
  if (auto* open = OpenDialog(dialog)) open->Limit(id, maximumCharacters);
}
void SetDlgItemFocus(DialogWindow dialog, int id) {
  if (auto* open = OpenDialog(dialog)) open->Focus(id);
}
// The front end shows the box over the dialog it is playing.
int DialogMessageBox(DialogWindow, const char* text, const char* caption, unsigned flags) {
  return MessageBox(text, caption, flags);
}

// Linux offers no prompt to format a new partition behind the program's back.
bool BeginClosingDrivePrompts(const std::string&) { return true; }
void EndClosingDrivePrompts() {}

// ---- The folder browser ----------------------------------------------------------------

ItemList BrowseForFolder(DialogWindow, const char* title, unsigned, BrowseCallback callback) {
  HostState& state = S();
  state.browserSelection.clear();
  const DialogWindow browser = state.nextHandle++;
  if (callback != nullptr) callback(browser, kBffmInitialized, 0, 0);
  if (state.frontend == nullptr) return 0;
  const std::string chosen =
      state.frontend->BrowseForFolder(title, linuxhost::ToLinuxPath(state.browserSelection));
  std::string windows;
  std::string refusal;
  if (chosen.empty()) return 0;
  if (!linuxhost::ToWindowsPath(chosen, windows, refusal)) {
    state.frontend->MessageBox(refusal, linuxhost::CatalogueText(MSG_CAPTION_ERROR), kMbIconWarning);
    return 0;
  }
  const ItemList list = state.nextHandle++;
  state.itemLists[list] = windows;
  return list;
}

bool PathFromItemList(ItemList list, std::string& path) {
  const auto found = S().itemLists.find(list);
  if (found == S().itemLists.end()) return false;
  path = found->second;
  return true;
}

void FreeItemList(ItemList list) { S().itemLists.erase(list); }

void BrowserSetSelection(DialogWindow, const char* path) { S().browserSelection = path; }

// ---- The registry: a settings file -------------------------------------------------------

long RegCreateKey(const char* subkey, std::uint32_t, RegistryKey& key) {
  Settings settings = ReadSettings();
  if (settings.count(Lower(subkey)) == 0) {
    settings[Lower(subkey)];
    if (!WriteSettings(settings)) return kErrorAccessDenied;
  }
  key = S().nextHandle++;
  S().registryKeys[key] = Lower(subkey);
  return kErrorSuccess;
}

long RegOpenKey(const char* subkey, std::uint32_t, RegistryKey& key) {
  if (ReadSettings().count(Lower(subkey)) == 0) return kErrorFileNotFound;
  key = S().nextHandle++;
  S().registryKeys[key] = Lower(subkey);
  return kErrorSuccess;
}

long RegSetValue(RegistryKey key, const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
  const auto open = S().registryKeys.find(key);
  if (open == S().registryKeys.end() || type != kRegSz) return kErrorAccessDenied;
  const auto* bytes = static_cast<const char*>(data);
  std::string text(bytes, size);
  text = text.c_str();  // a REG_SZ's text ends at its NUL
  // One line a value: a line break is no part of a folder's name.
  if (text.find('\n') != std::string::npos || text.find('\r') != std::string::npos) return kErrorAccessDenied;
  Settings settings = ReadSettings();
  settings[open->second][Lower(name)] = text;
  return WriteSettings(settings) ? kErrorSuccess : kErrorAccessDenied;
}

long RegQueryValue(RegistryKey key, const char* name, std::uint32_t& type, void* data, std::uint32_t& size) {
  const auto open = S().registryKeys.find(key);
  if (open == S().registryKeys.end()) return kErrorAccessDenied;
  Settings settings = ReadSettings();
  const auto& values = settings[open->second];
  const auto value = values.find(Lower(name));
  if (value == values.end()) return kErrorFileNotFound;
  type = kRegSz;
  const auto needed = static_cast<std::uint32_t>(value->second.size() + 1);
  const std::uint32_t room = size;
  size = needed;
  if (needed > room) return kErrorMoreData;
  std::memcpy(data, value->second.c_str(), needed);
  return kErrorSuccess;
}

void RegCloseKey(RegistryKey key) { S().registryKeys.erase(key); }

std::string ExpandEnvironmentStrings(const char* text) {
  std::string expanded;
  const std::string source = text;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const std::size_t end = source[i] == '%' ? source.find('%', i + 1) : std::string::npos;
    if (end == std::string::npos) {
      expanded += source[i];
      continue;
    }
    const std::string name = source.substr(i + 1, end - i - 1);
    const char* value = std::getenv(name.c_str());
    if (SameText(name, "USERPROFILE")) {
      expanded += "C:\\";
    } else if (value != nullptr) {
      expanded += value;
    } else {
      expanded += source.substr(i, end - i + 1);
    }
    i = end;
  }
  return expanded;
}

std::intptr_t ShellOpen(const char* path) {
  if (S().frontend == nullptr) return 0;
  const std::string local = linuxhost::ToLinuxPath(path);
  S().frontend->OpenFolder(local.empty() ? path : local);
  return kAbove32;
}

// ---- Files and devices -----------------------------------------------------------------

Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t, std::uint32_t disposition,
                  std::uint32_t flags) {
  const std::string text = path;
  if (text.rfind(kPhysicalPrefix, 0) == 0) {
    const std::string digits = text.substr(sizeof kPhysicalPrefix - 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      return kInvalidHandle;
    }
    return OpenDisk(static_cast<std::uint32_t>(std::stoul(digits)), access, flags);
  }
  if (text.rfind(kDevicePrefix, 0) == 0) {
    if (text.size() != 6 || text[5] != ':') return kInvalidHandle;
    return OpenVolume(text[4], access, flags);
  }
  if (IsCardPath(text)) return OpenCardFile(text, disposition);
  return OpenPcFile(text, access, disposition);
}

void CloseHandle(Handle handle) {
  OpenHandle* open = S().Find(handle);
  if (open == nullptr) return;
  if (open->fd >= 0) ::close(open->fd);
  Card* card = open->claimed ? S().CardByNumber(open->card) : nullptr;
  if (card != nullptr) S().Unclaim(*card);
  S().handles.erase(handle);
}

bool GetFileSize(Handle handle, std::uint64_t& size) {
  OpenHandle* open = S().Find(handle);
  if (open == nullptr) return false;
  if (open->kind == HandleKind::CardFile) {
    size = open->content.size();
    return true;
  }
  struct stat info {};
  if (open->kind != HandleKind::PcFile || ::fstat(open->fd, &info) != 0) return false;
  size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool ReadAt(Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size, std::uint32_t& transferred) {
  return Transfer(handle, offset, buffer, size, transferred, false);
}

bool WriteAt(Handle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
             std::uint32_t& transferred) {
  return Transfer(handle, offset, const_cast<void*>(buffer), size, transferred, true);
}

bool QueryDeviceNumber(Handle handle, StorageDeviceNumber& number) {
  OpenHandle* open = S().Find(handle);
  if (open == nullptr) return false;
  switch (open->kind) {
    case HandleKind::SystemVolume: number = {kFileDeviceDisk, kSystemDiskNumber, 1}; return true;
    case HandleKind::Volume:
    case HandleKind::Disk: number = {kFileDeviceDisk, open->card, open->partitionNumber}; return true;
    default: return false;
  }
}

bool QueryDriveGeometryEx(Handle handle, void* buffer, std::uint32_t size) {
  const Card* card = CardOf(handle, {HandleKind::Disk});
  return card != nullptr && linuxhost::EncodeGeometryEx(card->bytes, card->sectorSize, buffer, size);
}

bool QueryDriveGeometry(Handle handle, void* buffer, std::uint32_t size) {
  const Card* card = CardOf(handle, {HandleKind::Disk});
  return card != nullptr && linuxhost::EncodeGeometry(card->bytes, card->sectorSize, buffer, size);
}

bool QueryDriveLayoutEx(Handle handle, void* buffer, std::uint32_t size) {
  const Card* card = CardOf(handle, {HandleKind::Disk});
  return card != nullptr && linuxhost::EncodeLayout(card->layout, buffer, size);
}

bool EjectMedia(Handle handle) {
  OpenHandle* open = S().Find(handle);
  const Card* card = CardOf(handle, {HandleKind::Disk});
  if (card == nullptr) return false;
  if (card->blockDevice) {
    if (!linuxhost::FlushBlockDevice(open->fd)) return false;
    // A loop device has no medium to eject: it is only flushed.
    if (IsReader(*card) && !linuxhost::EjectMedium(open->fd) && S().frontend != nullptr) {
      // A SCSI reader's refusal comes back as its status, without errno.
      S().frontend->Notice("The reader did not eject the SD Card: take it out by hand.");
    }
  }
  return ::fsync(open->fd) == 0;
}

// The disk's sequence number stands for the reader's count of media: both
// change when the medium does. An image file has none.
bool QueryMediaChangeCount(Handle drive, std::uint32_t& count) {
  OpenHandle* open = S().Find(drive);
  const Card* card = CardOf(drive, {HandleKind::Disk});
  std::uint64_t sequence = 0;
  if (card == nullptr || !card->blockDevice || !linuxhost::DiskSequence(open->fd, sequence)) return false;
  count = static_cast<std::uint32_t>(sequence);
  return true;
}

// An SD host's card tells its own identity (its CID register, and the
// serial number in it); a USB reader tells none of its card.
bool QueryStorageSerialNumber(Handle drive, std::string& serial) {
  const Card* card = CardOf(drive, {HandleKind::Disk});
  if (card == nullptr || !card->blockDevice) return false;
  const std::string cid = linuxhost::SysfsAttribute(card->device, "device/cid");
  if (cid.empty()) return false;
  serial = cid + "/" + linuxhost::SysfsAttribute(card->device, "device/serial");
  return true;
}

// What sysfs tells of the disk; an image tells nothing.
bool QueryStorageDeviceIds(Handle drive, std::string& vendor, std::string& product) {
  const Card* card = CardOf(drive, {HandleKind::Disk});
  if (card == nullptr) return false;
  vendor = card->vendor;
  product = card->model;
  return true;
}

// The kernel reads the new table where it will; the program's own picture
// of it changes at the re-insert, as on Windows.
bool UpdateDiskProperties(Handle drive) {
  OpenHandle* open = S().Find(drive);
  const Card* card = CardOf(drive, {HandleKind::Disk});
  if (card == nullptr || !card->blockDevice || ::fsync(open->fd) != 0) return false;
  // While the program claims the disk, only its claim may ask: the kernel
  // refuses a rescan to anyone else who does not hold it.
  const int claim = card->claim.Disk();
  return linuxhost::RereadPartitionTable(claim >= 0 ? claim : open->fd);
}

// A volume here is a byte range of its disk: every sector of it is in reach.
bool AllowExtendedDasdIo(Handle volume) { return CardOf(volume, {HandleKind::Volume}) != nullptr; }

bool QueryLength(Handle handle, std::uint64_t& length) {
  OpenHandle* open = S().Find(handle);
  if (open == nullptr || (open->kind != HandleKind::Disk && open->kind != HandleKind::Volume)) return false;
  length = open->length;
  return true;
}

bool LockVolume(Handle volume) {
  OpenHandle* open = S().Find(volume);
  const Card* card = CardOf(volume, {HandleKind::Volume});
  if (card == nullptr || !card->blockDevice) return card != nullptr;
  for (const linuxhost::DiskMount& mount : linuxhost::MountsOnDisk(card->device, card->bytes)) {
    const bool overlaps = mount.offset < open->base + open->length && open->base < mount.offset + mount.length;
    if (overlaps && !linuxhost::Unmount(mount.target)) return false;  // busy: the logic says so
  }
  return true;
}

bool DismountVolume(Handle volume) { return CardOf(volume, {HandleKind::Volume}) != nullptr; }

bool QueryPartitionInfo(Handle volume, PartitionInfo& info) {
  OpenHandle* open = S().Find(volume);
  if (open == nullptr || open->kind != HandleKind::Volume) return false;
  info.startingOffset = static_cast<std::int64_t>(open->base);
  info.partitionLength = static_cast<std::int64_t>(open->length);
  return true;
}

bool QueryVolumeDiskNumbers(Handle volume, std::vector<std::uint32_t>& diskNumbers) {
  OpenHandle* open = S().Find(volume);
  if (open == nullptr) return false;
  if (open->kind == HandleKind::SystemVolume) {
    diskNumbers = {kSystemDiskNumber};
    return true;
  }
  if (open->kind != HandleKind::Volume) return false;
  diskNumbers = {open->card};
  return true;
}

bool FlushFileBuffers(Handle handle) {
  OpenHandle* open = S().Find(handle);
  if (open == nullptr || open->fd < 0) return false;
  const Card* card = CardOf(handle, {HandleKind::Disk, HandleKind::Volume});
  if (card != nullptr && card->blockDevice) return linuxhost::FlushBlockDevice(open->fd);
  return ::fsync(open->fd) == 0;
}

unsigned GetDriveType(const char* root) {
  const std::string text = root;
  if (text.size() != 3 || text[1] != ':' || text[2] != '\\') return kDriveNoRootDir;
  if (IsSystemLetter(text[0])) return kDriveFixed;
  return S().VolumeAt(text[0]) != nullptr ? kDriveRemovable : kDriveNoRootDir;
}

bool GetDiskTotalBytes(const char* root, std::uint64_t& totalBytes) {
  const std::string text = root;
  if (text.empty()) return false;
  if (IsSystemLetter(text[0])) {
    struct statvfs info {};
    const std::string local = linuxhost::ToLinuxPath(text);
    if (local.empty() || ::statvfs(local.c_str(), &info) != 0) return false;
    totalBytes = std::uint64_t{info.f_blocks} * info.f_frsize;
    return true;
  }
  // A FAT volume's size, from its boot sector; no file system, no size.
  const Card* card = nullptr;
  const linuxhost::MappedVolume* volume = S().VolumeAt(text[0], &card);
  if (volume == nullptr) return false;
  const int fd = ::open(card->path.c_str(), O_RDONLY | O_CLOEXEC);
  std::array<std::uint8_t, kSector> boot{};
  const bool read = fd >= 0 && ::pread(fd, boot.data(), boot.size(), static_cast<off_t>(volume->range.offset)) ==
                                   static_cast<ssize_t>(boot.size());
  if (fd >= 0) ::close(fd);
  constexpr std::size_t kBytesPerSector = 11;
  constexpr std::size_t kSmallCount = 19;
  constexpr std::size_t kLargeCount = 32;
  if (!read || boot[510] != 0x55 || boot[511] != 0xAA || (boot[kBytesPerSector] | boot[kBytesPerSector + 1] << 8) != kSector) {
    return false;
  }
  const std::uint32_t small = static_cast<std::uint32_t>(boot[kSmallCount] | boot[kSmallCount + 1] << 8);
  totalBytes = std::uint64_t{small != 0 ? small : linuxhost::GetLe32(boot.data() + kLargeCount)} * kSector;
  return true;
}

// A card's volume as its boot sector and mtools tell it; the PC's drives
// are not asked.
std::optional<linuxhost::VolumeFacts> CardVolumeFacts(const char* root) {
  const std::optional<linuxhost::CardVolume> volume = root[0] == '\0' ? std::nullopt : S().CardVolumeAt(root[0]);
  if (!volume) return std::nullopt;
  return linuxhost::ReadVolumeFacts(*volume);
}

bool GetDiskFreeSpace(const char* root, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  const std::optional<linuxhost::VolumeFacts> facts = CardVolumeFacts(root);
  if (!facts) return false;
  totalBytes = facts->dataBytes;
  freeBytes = facts->freeBytes;
  return facts->useKnown;
}

bool GetVolumeInformation(const char* root, std::string& label, std::string& fileSystem) {
  const std::optional<linuxhost::VolumeFacts> facts = CardVolumeFacts(root);
  if (!facts) return false;
  label = facts->label;
  fileSystem = facts->SystemName();
  return !fileSystem.empty();
}

std::uint32_t GetFileAttributes(const char* path) {
  const std::string text = path;
  if (IsCardPath(text)) {
    const std::optional<linuxhost::CardVolume> volume = S().CardVolumeAt(text[0]);
    const std::string inside = InsideCard(text);
    if (inside.empty() || linuxhost::CardFolderExists(*volume, inside)) return kFileAttributeDirectory;
    return linuxhost::CardEntryExists(*volume, inside) ? kFileAttributeArchive : kInvalidFileAttributes;
  }
  const std::string local = linuxhost::ToLinuxPath(text);
  struct stat info {};
  if (local.empty() || ::stat(local.c_str(), &info) != 0) return kInvalidFileAttributes;
  return S_ISDIR(info.st_mode) ? kFileAttributeDirectory : kFileAttributeArchive;
}

std::string GetSystemWindowsDirectory() { return kWindowsFolder; }
std::string GetSystemDirectory() { return kSystemFolder; }

std::string GetTempPath() {
  std::string windows;
  std::string refusal;
  if (!linuxhost::ToWindowsPath(S().Scratch(), windows, refusal)) return {};
  return windows + "\\";
}

bool CreateDirectoryEx(const char*, const char* newFolder) { return CreateDirectory(newFolder); }

bool CreateDirectory(const char* path) {
  const std::string local = linuxhost::ToLinuxPath(path);
  return !local.empty() && linuxhost::MakePcFolder(local);
}

// UTF-8 and the single-byte encodings have no lead bytes; the double-byte
// ones (Shift_JIS, GBK, Big5) do.
bool IsDBCSLeadByte(unsigned char byte) {
  if (linuxhost::SystemEncodingIsUtf8() || MB_CUR_MAX == 1) return false;
  const char single = static_cast<char>(byte);
  std::mbstate_t state{};
  return byte >= 0x80 && std::mbrlen(&single, 1, &state) == static_cast<std::size_t>(-2);
}

std::string GetComputerName() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return {};
  std::string text = name.data();
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::uint64_t GetSystemTimeAsFileTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return (static_cast<std::uint64_t>(now.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
         static_cast<std::uint64_t>(now.tv_nsec) / kNanosecondsPerTick;
}

// ---- Processes --------------------------------------------------------------------------

bool RunProcessAndWait(const char* applicationName, const char* commandLine, std::uint32_t& exitCode) {
  // The system's format.com is mkfs.fat; nothing else is run.
  if (applicationName == nullptr || !SameText(applicationName, std::string(kSystemFolder) + kFormatProgram) ||
      linuxhost::FindTool("mkfs.fat").empty()) {
    return false;
  }
  const bool wasEnabled = !EnableMainWindow(false);
  exitCode = RunFormatCommand(commandLine);
  if (wasEnabled) EnableMainWindow(true);
  return true;
}

// ---- Shell file operations ----------------------------------------------------------------

int ShellFileOperation(FileOperation& operation) {
  HostState& state = S();
  operation.anyOperationsAborted = false;
  const std::string from = operation.from != nullptr ? operation.from : "";
  const std::string to = operation.to != nullptr ? operation.to : "";
  // After Ctrl-C the command ends as a cancelled copy would.
  if (state.Interrupted()) {
    operation.anyOperationsAborted = true;
    return linuxhost::kShellCancelled;
  }
  // The volume written (a move from a card writes it too) is the program's.
  const std::string& written = IsCardPath(to) ? to : from;
  Card* card = nullptr;
  if (IsCardPath(written) && (IsCardPath(to) || operation.function == kFoMove)) {
    const Card* shown = nullptr;
    state.VolumeAt(written[0], &shown);
    card = state.CardByNumber(shown->number);
    if (!state.Claim(*card)) return kErrorAccessDenied;
  }
  if (state.frontend != nullptr) state.frontend->Progress((operation.function == kFoMove ? "Moving " : "Copying ") + from);
  linuxhost::ShellPlaces places;
  places.cardVolume = [&state](char letter) { return state.CardVolumeAt(letter); };
  places.pcPath = [](const std::string& path) { return linuxhost::ToLinuxPath(path); };
  places.askReplace = [&state](const std::string& file) {
    if (state.frontend == nullptr) return kIdCancel;
    return state.frontend->MessageBox("Replace " + file + "?", linuxhost::CatalogueText(MSG_CAPTION_CONFIRM), kMbYesNoCancel);
  };
  places.report = [&state](const std::string& message) {
    if (state.frontend != nullptr) state.frontend->MessageBox(message, linuxhost::CatalogueText(MSG_CAPTION_ERROR), kMbIconWarning);
  };
  places.scratchFolder = state.Scratch();
  // A stop ends the copy at the next file, or the file in hand within a
  // moment; a move deletes only what arrived whole.
  places.keepGoing = [&state] { return !state.Interrupted(); };
  places.progress = [&state](const std::string& line) {
    if (state.frontend != nullptr) state.frontend->Progress(line);
  };
  // A reader left without its card holds no medium, or is gone itself.
  places.cardRemoved = [card] {
    std::string medium;
    std::uint64_t bytes = 0;
    return card != nullptr && card->blockDevice &&
           !(linuxhost::CurrentMedium(*card, medium, bytes) && bytes != 0 && medium == card->mediumId);
  };
  linuxhost::ShellOutcome outcome = linuxhost::ShellOperation(places, operation.function, from, to, operation.flags);
  // The tools write through the system's cache: only a sync tells that
  // the card took it.
  if (card != nullptr) {
    if (!SyncCard(*card) && outcome.result == 0) outcome.result = kErrorWriteFault;
    state.Unclaim(*card);
  }
  operation.anyOperationsAborted = outcome.aborted;
  return outcome.result;
}

}  // namespace host
