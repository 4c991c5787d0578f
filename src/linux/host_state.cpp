#include "linux/host_state.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "app/dispatch.h"
#include "common/module_directory.h"
#include "linux/block_devices.h"
#include "linux/pc_files.h"
#include "linux/templates.h"
#include "res/ids.h"

namespace linuxhost {
namespace fs = std::filesystem;

namespace {

// The letters cards show under: C: is the user's home and Z: the root.
constexpr char kFirstCardLetter = 'D';
constexpr char kLastCardLetter = 'Y';
constexpr char kHomeLetter = 'C';
constexpr char kRootLetter = 'Z';
// The smallest card a layout fits (the single layout's 250 sectors).
constexpr std::uint64_t kSmallestCardBytes = 250 * kSectorBytes;
constexpr char kSettingsName[] = "vorninst";

// The number sudo or pkexec left in this variable, if any.
std::optional<unsigned> SudoId(const char* variable) {
  const char* text = std::getenv(variable);
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > UINT_MAX) return std::nullopt;
  return static_cast<unsigned>(value);
}

// Under sudo, the user who ran it (SUDO_UID and SUDO_GID); under pkexec,
// which clears the environment, the one PKEXEC_UID names, with the group,
// home and groups the passwd and group databases give. PC files are theirs
// from the start.
User FindUser() {
  User user;
  const std::optional<unsigned> sudoUid = SudoId("SUDO_UID");
  const std::optional<unsigned> sudoGid = SudoId("SUDO_GID");
  const std::optional<unsigned> pkexecUid = SudoId("PKEXEC_UID");
  const passwd* entry = nullptr;
  std::optional<unsigned> gid;
  if (::geteuid() == 0 && sudoUid && sudoGid && *sudoUid != 0) {
    entry = ::getpwuid(*sudoUid);
    gid = sudoGid;
  } else if (::geteuid() == 0 && pkexecUid && *pkexecUid != 0) {
    entry = ::getpwuid(*pkexecUid);
    if (entry != nullptr) gid = entry->pw_gid;
  }
  user.viaSudo = entry != nullptr;
  if (entry == nullptr) entry = ::getpwuid(::getuid());
  const char* home = std::getenv("HOME");
  user.uid = entry != nullptr ? entry->pw_uid : ::getuid();
  user.gid = user.viaSudo ? *gid : entry != nullptr ? entry->pw_gid : ::getgid();
  user.home = user.viaSudo || home == nullptr ? (entry != nullptr ? entry->pw_dir : "/") : home;
  // sudo keeps root's environment: the user's own settings folder is the
  // usual one in their home.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string configFolder =
      !user.viaSudo && config != nullptr && config[0] == '/' ? config : user.home + "/.config";
  user.settingsFolder = configFolder + "/" + kSettingsName;
  if (user.viaSudo) WritePcFilesAs(user.uid, user.gid);
  return user;
}

// What changes when a block device's medium does: the kernel's sequence
// number of the disk, where it has one, and its size.
std::string MediumId(const Card& card, std::uint64_t bytes) {
  const std::string sequence = card.blockDevice ? SysfsAttribute(card.device, "diskseq") : "";
  return sequence + "/" + std::to_string(bytes);
}

bool Denied(int error) { return error == EACCES || error == EPERM; }

// Why a card's path could not be reached or opened, as the system's error
// means it. sudo is offered only to a user who is not root: root refused
// (in a container, by a security module) gains nothing from it.
std::string Unreachable(const std::string& path, int error, bool block) {
  const bool root = ::geteuid() == 0;
  if (error == EACCES && block && !root) return path + ": block devices need root; run it with sudo.";
  if (error == EACCES) return path + ": you may not read or write it.";
  if (error == EPERM) {
    return path + ": the system refused it (" + std::strerror(error) + ")" + (root ? "." : "; run it with sudo.");
  }
  if (error == ENOENT || error == ENOTDIR) return path + ": no such file or device.";
  return path + " cannot be opened: " + std::strerror(error) + ".";
}

std::string Describe(const Card& card, const VolumeRange& range) {
  if (!card.blockDevice) return card.path + (range.offset != 0 ? " @ " + std::to_string(range.offset) : "");
  if (range.partitionNumber == 0) return card.path;
  // The system's node over the same bytes: the program counts partitions as
  // Windows does, and Linux numbers an extended partition's logical ones
  // from 5, leaving the number before them to the container. Without one (a
  // loop device without partition scanning, a table not read again yet):
  // named by its place on the disk.
  const std::optional<std::string> node = PartitionNode(card.device, range.offset, range.length);
  return node ? *node : card.path + " @ " + std::to_string(range.offset);
}

}  // namespace

HostState& HostState::Get() {
  static HostState state;
  return state;
}

HostState::~HostState() {
  std::error_code error;
  if (!scratch_.empty()) fs::remove_all(scratch_, error);
}

Card* HostState::CardByNumber(std::uint32_t number) {
  const auto it = cards.find(number);
  return it == cards.end() ? nullptr : &it->second;
}

Card* HostState::CardByPath(const std::string& path) {
  for (auto& [number, card] : cards) {
    if (card.path == path) return &card;
  }
  return nullptr;
}

Card& HostState::AddCard(const std::string& path, bool blockDevice, dev_t device) {
  if (Card* known = CardByPath(path)) return *known;
  const std::uint32_t number = cards.empty() ? 1 : cards.rbegin()->first + 1;
  Card& card = cards[number];
  card.path = path;
  card.number = number;
  card.blockDevice = blockDevice;
  card.device = device;
  if (blockDevice) {
    card.vendor = SysfsAttribute(device, "device/vendor");
    card.model = SysfsAttribute(device, "device/model");
    if (card.model.empty()) card.model = SysfsAttribute(device, "device/name");  // an SD card's own
    if (card.model.empty()) card.model = SysfsAttribute(device, "loop/backing_file");
  }
  return card;
}

void HostState::Insert(Card& card) {
  card.present = false;
  card.volumes.clear();
  Fd fd(::open(card.path.c_str(), O_RDONLY | O_CLOEXEC));
  std::uint64_t bytes = 0;
  std::uint32_t sectorSize = kSectorBytes;
  struct stat info {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &info) != 0) return;
  if (card.blockDevice ? !BlockDeviceSize(fd.Get(), bytes, sectorSize) : !S_ISREG(info.st_mode)) return;
  if (!card.blockDevice) bytes = static_cast<std::uint64_t>(info.st_size);
  card.mediumId = MediumId(card, bytes);
  if (bytes == 0) return;  // a reader without a card, a loop device without a file
  card.bytes = bytes;
  card.sectorSize = sectorSize;
  const int descriptor = fd.Get();
  card.layout = ReadLayout(
      [descriptor](std::uint64_t offset, std::size_t size, std::vector<std::uint8_t>& read) {
        read.assign(size, 0);
        return ::pread(descriptor, read.data(), size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
      },
      bytes);
  card.present = true;
  std::vector<char> taken;
  for (const auto& [number, other] : cards) {
    if (number == card.number) continue;
    for (const MappedVolume& volume : other.volumes) taken.push_back(volume.letter);
  }
  for (const VolumeRange& range : MountableVolumes(card.layout, bytes)) {
    const auto key = std::make_pair(card.path, range.offset);
    char letter = 0;
    const auto known = letters_.find(key);
    const auto free = [&taken](char candidate) {
      return std::find(taken.begin(), taken.end(), candidate) == taken.end();
    };
    if (known != letters_.end() && free(known->second)) letter = known->second;
    for (char candidate = kFirstCardLetter; letter == 0 && candidate <= kLastCardLetter; ++candidate) {
      if (free(candidate)) letter = candidate;
    }
    if (letter == 0) break;  // no letter left
    letters_[key] = letter;
    taken.push_back(letter);
    card.volumes.push_back({letter, range});
  }
}

const MappedVolume* HostState::VolumeAt(char letter, const Card** owner) const {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (const auto& [number, card] : cards) {
    if (!card.present) continue;
    for (const MappedVolume& volume : card.volumes) {
      if (volume.letter != letter) continue;
      if (owner != nullptr) *owner = &card;
      return &volume;
    }
  }
  return nullptr;
}

std::optional<CardVolume> HostState::CardVolumeAt(char letter) const {
  const Card* card = nullptr;
  const MappedVolume* volume = VolumeAt(letter, &card);
  if (volume == nullptr) return std::nullopt;
  return CardVolume{card->path, volume->range.offset};
}

void HostState::ShowBusy() {
  host::MessageBox(CatalogueText(MSG_VOLUME_IN_USE).c_str(), CatalogueText(MSG_CAPTION_ERROR).c_str(),
                   host::kMbIconWarning);
}

namespace {

// The add-on's folder lies in a file system on the card's bytes: the
// program and its files run from the card. Told by the devices, not by the
// path, which a symlink may hide.
bool AddOnOnCard(const Card& card) {
  if (!FolderOnCard(ToLinuxPath(common::gModuleDirectory), card.path)) return false;
  host::MessageBox(CatalogueText(MSG_PROGRAM_ON_CARD).c_str(), CatalogueText(MSG_CAPTION_ERROR).c_str(),
                   host::kMbIconWarning);
  return true;
}

}  // namespace

bool HostState::PrepareWrite(const Card& card, std::uint64_t offset, std::uint64_t length) {
  if (AddOnOnCard(card)) return false;
  if (!card.blockDevice) return true;
  for (const DiskMount& mount : MountsOnDisk(card.device, card.bytes)) {
    if (mount.offset >= offset + length || offset >= mount.offset + mount.length) continue;
    if (!Unmount(mount.target)) {
      ShowBusy();
      return false;
    }
  }
  return true;
}

bool HostState::Claim(Card& card) {
  if (card.claimUsers > 0) {
    ++card.claimUsers;
    return true;
  }
  if (AddOnOnCard(card)) return false;
  bool taken = card.claim.Take(card.path, card.blockDevice);
  // The system's own idle mounts of the card go, as before any write; what
  // holds another name of its bytes is never the program's to unmount.
  if (!taken && card.claim.DiskRefused()) {
    if (!PrepareWrite(card, 0, card.bytes)) return false;
    taken = card.claim.Take(card.path, card.blockDevice);
  }
  if (!taken) {
    ShowBusy();
    return false;
  }
  card.claimUsers = 1;
  return true;
}

void HostState::Unclaim(Card& card) {
  if (card.claimUsers > 0 && --card.claimUsers == 0) card.claim.Release();
}

bool HostState::Interrupted() { return frontend != nullptr && frontend->Interrupted(); }

host::Handle HostState::Add(OpenHandle open) {
  const host::Handle handle = nextHandle++;
  handles.emplace(handle, std::move(open));
  return handle;
}

OpenHandle* HostState::Find(host::Handle handle) {
  const auto it = handles.find(handle);
  return it == handles.end() ? nullptr : &it->second;
}

const std::string& HostState::Scratch() {
  if (scratch_.empty()) {
    // Under sudo, TMPDIR is the user's to change: root's staging stays in /tmp.
    const char* tmp = TheUser().viaSudo ? nullptr : std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/vorninst-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) scratch_ = pattern;
  }
  return scratch_;
}

// ---- The API of linux_host.h ---------------------------------------------------

const User& TheUser() {
  static const User user = FindUser();
  return user;
}

void SetFrontend(Frontend* frontend) { HostState::Get().frontend = frontend; }

bool NameCard(const std::string& path, std::string& refusal, bool* denied, bool lookOnly) {
  if (denied != nullptr) *denied = false;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (denied != nullptr) *denied = Denied(errno);
    refusal = Unreachable(path, errno, false);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    refusal = path + " is a folder, not a card: name a card's device or an image file.";
    return false;
  }
  const bool block = S_ISBLK(info.st_mode);
  if (!block && !S_ISREG(info.st_mode)) {
    refusal = path + " is neither a block device nor an image file.";
    return false;
  }
  if (block) {
    if (const auto disk = DiskOfPartition(info.st_rdev)) {
      refusal = path + " is a partition of " + *disk + ": name the whole disk, " + *disk + ".";
      return false;
    }
  }
  // Under any of its names: a loop device over the disk the system runs
  // from is that disk.
  const std::string use = CardSystemUse(path);
  if (!use.empty()) {
    refusal = path + " holds what the system needs (" + use + "): it is never a card.";
    return false;
  }
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (denied != nullptr) *denied = Denied(errno);
    refusal = Unreachable(path, errno, block);
    return false;
  }
  std::uint64_t bytes = static_cast<std::uint64_t>(info.st_size);
  std::uint32_t sectorSize = kSectorBytes;
  if (block && !BlockDeviceSize(fd.Get(), bytes, sectorSize)) bytes = 0;
  if (block && bytes == 0) {
    refusal = path + " holds no medium.";
    return false;
  }
  if (bytes < kSmallestCardBytes) {
    refusal = path + " holds " + std::to_string(bytes) + " bytes: too small for any partition layout (" +
              std::to_string(kSmallestCardBytes) + " bytes at least).";
    return false;
  }
  if (!block && !lookOnly && ::access(path.c_str(), R_OK | W_OK) != 0) {
    if (denied != nullptr) *denied = true;
    refusal = path + ": you may not write this image file (image files need no root, only the right to write them).";
    return false;
  }
  std::array<char, PATH_MAX> resolved{};
  const std::string canonical = ::realpath(path.c_str(), resolved.data()) != nullptr ? resolved.data() : path;
  HostState& state = HostState::Get();
  Card& card = state.AddCard(canonical, block, block ? info.st_rdev : 0);
  state.Insert(card);
  return true;
}

void Refresh() {
  HostState& state = HostState::Get();
  for (const std::string& path : RemovableDisks()) {
    struct stat info {};
    if (state.CardByPath(path) != nullptr || ::stat(path.c_str(), &info) != 0 || !S_ISBLK(info.st_mode) ||
        !CardSystemUse(path).empty()) {
      continue;
    }
    state.Insert(state.AddCard(path, true, info.st_rdev));
  }
  for (auto& [number, card] : state.cards) {
    std::string medium;
    std::uint64_t bytes = 0;
    if (!card.blockDevice) continue;
    // A device that no longer opens (a reader unplugged) holds no card.
    const bool opened = CurrentMedium(card, medium, bytes);
    if (opened ? medium != card.mediumId : card.present) state.Insert(card);
  }
}

bool CurrentMedium(const Card& card, std::string& mediumId, std::uint64_t& bytes) {
  Fd fd(::open(card.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  std::uint32_t sectorSize = 0;
  bytes = 0;
  if (fd.Get() < 0) return false;
  if (!BlockDeviceSize(fd.Get(), bytes, sectorSize)) bytes = 0;  // a reader without its card
  mediumId = MediumId(card, bytes);
  return true;
}

void ForgetCards() { HostState::Get().cards.clear(); }

std::vector<Drive> Drives() {
  std::vector<Drive> drives;
  for (const auto& [number, card] : HostState::Get().cards) {
    if (!card.present) continue;
    for (const MappedVolume& volume : card.volumes) {
      drives.push_back(
          {volume.letter, Describe(card, volume.range), card.path, volume.range.length, card.vendor, card.model});
    }
  }
  std::sort(drives.begin(), drives.end(), [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
  return drives;
}

bool ToWindowsPath(const std::string& linuxPath, std::string& windowsPath, std::string& refusal) {
  if (linuxPath.empty() || linuxPath[0] != '/') {
    refusal = "\"" + linuxPath + "\" is no full path (one that starts with /).";
    return false;
  }
  if (linuxPath.find('\\') != std::string::npos) {
    refusal = "\"" + linuxPath + "\" holds a backslash, which the program cannot carry in a path.";
    return false;
  }
  std::string name = RefusePcName(linuxPath);
  if (!name.empty()) {
    refusal = "\"" + linuxPath + "\" is not written in this system's encoding.";
    return false;
  }
  windowsPath = std::string(1, kRootLetter) + ":";
  for (const char c : linuxPath) windowsPath += c == '/' ? '\\' : c;
  return true;
}

std::string ToLinuxPath(const std::string& windowsPath) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':' || (windowsPath[2] != '\\' && windowsPath[2] != '/')) {
    return {};
  }
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(windowsPath[0])));
  std::string path;
  if (letter == kRootLetter) {
    path = "/";
  } else if (letter == kHomeLetter) {
    path = TheUser().home + "/";
  } else {
    return {};
  }
  for (std::size_t i = 3; i < windowsPath.size(); ++i) {
    const char c = windowsPath[i] == '\\' ? '/' : windowsPath[i];
    if (c == '/' && !path.empty() && path.back() == '/') continue;
    path += c;
  }
  if (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool SetAddOnFolder(const std::string& linuxFolder, std::string& refusal) {
  std::string windows;
  std::error_code error;
  const std::string folder = fs::absolute(linuxFolder, error).lexically_normal().string();
  if (!fs::is_directory(folder, error)) {
    refusal = "\"" + linuxFolder + "\"" +
              (error == std::errc::permission_denied ? ": you may not read or write it." : " is no folder.");
    return false;
  }
  if (!ToWindowsPath(folder, windows, refusal)) return false;
  // What would hang or loop a copy is refused before anything is written.
  for (const char* part : {"LYRE", "DCIM"}) {
    refusal = fs::exists(folder + "/" + part, error) ? RefuseAddOnTree(folder + "/" + part) : "";
    if (!refusal.empty()) return false;
  }
  if (windows.back() != '\\') windows += '\\';
  common::gModuleDirectory = windows;
  return true;
}

bool WindowState::Visible(int id) const {
  const auto it = visible.find(id);
  return it != visible.end() && it->second;
}

std::string WindowState::Text(int id) const {
  const auto it = texts.find(id);
  return it == texts.end() ? std::string() : it->second;
}

const WindowState& Window() { return HostState::Get().window; }

void CreateMainWindow() {
  TheUser();  // under sudo, every PC file is the user's from the first
  WindowState& window = HostState::Get().window;
  window = WindowState{};
  for (const TemplateControl& control : TemplateControls(kMainWindowTemplate)) {
    if (control.id == IDC_UNADDRESSED) continue;
    window.visible[control.id] = true;
    window.texts[control.id] = std::string(control.text);
  }
  app::OnCreate();
}

void Tick() {
  HostState& state = HostState::Get();
  while (!state.posted.empty() && !state.window.quitPosted) {
    const auto [command, notify] = state.posted.front();
    state.posted.erase(state.posted.begin());
    app::OnCommand(command, notify);
  }
  if (state.window.timerRunning && !state.window.quitPosted) {
    Refresh();
    app::OnTimer();
  }
}

void Command(unsigned commandId) {
  HostState::Get().cardFault.clear();
  app::OnCommand(commandId, 0);
}

std::string CardFault() { return HostState::Get().cardFault; }

std::vector<unsigned> PostedCommands() {
  std::vector<unsigned> commands;
  for (const auto& [command, notify] : HostState::Get().posted) commands.push_back(command);
  return commands;
}

void SelectDrive(int index) {
  WindowState& window = HostState::Get().window;
  if (index < 0 || index >= static_cast<int>(window.comboEntries.size())) return;
  window.comboSelection = index;
  app::OnCommand(IDC_DRIVE_COMBO, host::kCbnSelChange);
}

}  // namespace linuxhost
