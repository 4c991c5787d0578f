#include "linux/card_files.h"

#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>
#include <locale.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "host/host.h"
#include "linux/pc_files.h"
#include "linux/process.h"

namespace linuxhost {
namespace fs = std::filesystem;

namespace {

constexpr char kRoot[] = "::/";
// mtools on a device checks its geometry against the boot sector's; a card's
// never matches a reader's.
constexpr char kSkipCheck[] = "MTOOLS_SKIP_CHECK=1";
// mtools converts long names through the locale: in UTF-8 every name
// round-trips, as on the card.
constexpr char kUtf8Locale[] = "LC_ALL=C.UTF-8";
constexpr char kFatForbidden[] = "\"*/:<>?\\|";
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kAsciiEnd = 0x80;
constexpr char kImageFolderPattern[] = "*.";
// mcopy -v names each file and folder on its standard error as it starts it.
constexpr char kCopyingNote[] = "Copying ";
constexpr double kBytesPerMb = 1048576.0;
constexpr mode_t kPcFileMode = 0666;  // less the user's umask
// What mtools reads as a separator, a pattern or a drive, beyond FAT's own.
constexpr char kToolSpecial[] = "\"*/:<>?\\|[]";

std::string Image(const CardVolume& volume) { return volume.device + "@@" + std::to_string(volume.offset); }

bool ValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || (length == 2 && lead < 0xC2) || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

bool Ascii(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= kAsciiEnd) return false;
  }
  return true;
}

// "E:\LYRE\LYRE.CFG" -> "LYRE/LYRE.CFG"
std::string InsideCard(const std::string& windowsPath) {
  std::string path;
  for (std::size_t i = 3; i < windowsPath.size(); ++i) path += windowsPath[i] == '\\' ? '/' : windowsPath[i];
  return path;
}

bool OnCard(const ShellPlaces& places, const std::string& path, CardVolume& volume) {
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\') return false;
  const std::optional<CardVolume> found = places.cardVolume(path[0]);
  if (!found) return false;
  volume = *found;
  return true;
}

bool KeepGoing(const ShellPlaces& places) { return !places.keepGoing || places.keepGoing(); }

// What a copy has done and has to do, in files and bytes.
struct Amount {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
  Amount& operator+=(const Amount& other) {
    files += other.files;
    bytes += other.bytes;
    return *this;
  }
};

// The regular files of a PC file or folder tree.
Amount TreeAmount(const fs::path& top) {
  Amount amount;
  std::error_code error;
  if (fs::is_regular_file(top, error)) return {1, fs::file_size(top, error)};
  for (auto it = fs::recursive_directory_iterator(top, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::error_code sized;
    if (!it->is_regular_file(sized)) continue;
    ++amount.files;
    amount.bytes += it->file_size(sized);
  }
  return amount;
}

void Tell(const ShellPlaces& places, unsigned function, const Amount& done, const Amount& total) {
  if (!places.progress) return;
  std::array<char, 160> line{};
  std::snprintf(line.data(), line.size(), "%s: %llu of %llu files, %.1f of %.1f MB",
                function == host::kFoMove ? "Moving" : "Copying", static_cast<unsigned long long>(done.files),
                static_cast<unsigned long long>(total.files), static_cast<double>(done.bytes) / kBytesPerMb,
                static_cast<double>(total.bytes) / kBytesPerMb);
  places.progress(line.data());
}

// Every name of a file or a folder's tree, or the reason one may not go.
std::string RefuseTree(const fs::path& top, std::string (*refuse)(const std::string&)) {
  std::string reason = refuse(top.filename().string());
  if (reason.empty()) reason = RefuseAddOnTree(top.string());
  std::error_code error;
  if (!reason.empty() || !fs::is_directory(top, error)) return reason;
  for (auto it = fs::recursive_directory_iterator(top, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    reason = refuse(it->path().filename().string());
    if (!reason.empty()) return reason;
  }
  return {};
}

// What a name read from a card shows as: its control characters as '?',
// so that it cannot act on the terminal.
std::string Shown(const std::string& name) {
  std::string shown = name;
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < kFirstPrintable || byte == kDelete) c = '?';
  }
  return shown;
}

int Refused(const ShellPlaces& places, unsigned flags, const std::string& reason) {
  if ((flags & host::kFofNoErrorUi) == 0 && places.report) places.report(reason);
  return kShellInvalidName;
}

ShellOutcome CopyToCard(const ShellPlaces& places, const std::string& from, const CardVolume& volume,
                        const std::string& to, unsigned flags) {
  ShellOutcome outcome;
  const std::string local = places.pcPath(from);
  std::error_code error;
  if (local.empty() || !fs::exists(local, error)) {
    outcome.result = kShellFileNotFound;
    return outcome;
  }
  const std::string reason = RefuseTree(local, RefuseCardName);
  if (!reason.empty()) {
    outcome.result = Refused(places, flags, reason);
    return outcome;
  }
  std::string target = InsideCard(to);
  // Onto a folder (the root included) the source keeps its name; onto
  // anything else it takes the target's name.
  const bool intoFolder = target.empty() || CardFolderExists(volume, target);
  const bool folder = fs::is_directory(local, error);
  if (folder && !intoFolder) {
    outcome.result = kShellPathNotFound;
    return outcome;
  }
  std::vector<std::string> arguments = {"-v"};
  if (folder) arguments.push_back("-s");
  arguments.insert(arguments.end(), {"-o", local, kRoot + target + (intoFolder && !target.empty() ? "/" : "")});
  // Told by the files mcopy has started: each before the last is done.
  const Amount total = TreeAmount(local);
  std::map<std::string, std::uint64_t> sizes;  // by name, as mcopy names them
  if (!folder) sizes[fs::path(local).filename().string()] = total.bytes;
  for (auto it = fs::recursive_directory_iterator(local, error);
       folder && !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code sized;
    if (it->is_regular_file(sized)) sizes[it->path().filename().string()] = it->file_size(sized);
  }
  const ToolWatch watch = [&places, &sizes, &total](const ToolResult& soFar) {
    Amount done;
    std::uint64_t last = 0;
    std::istringstream notes(soFar.errors);
    for (std::string note; std::getline(notes, note);) {
      const auto size =
          note.rfind(kCopyingNote, 0) == 0 ? sizes.find(note.substr(sizeof kCopyingNote - 1)) : sizes.end();
      if (size == sizes.end()) continue;
      done.bytes += last;
      last = size->second;
      ++done.files;
    }
    if (done.files > 0) --done.files;  // the one in hand
    Tell(places, host::kFoCopy, done, total);
    return KeepGoing(places);
  };
  const ToolResult copied = RunMtools("mcopy", volume, arguments, watch);
  if (copied.ended) {
    outcome.aborted = true;
    outcome.result = kShellCancelled;
    return outcome;
  }
  if (!copied.Succeeded()) {
    // As the shell says it (a full card, or one gone), unless told to keep quiet.
    const bool removed = places.cardRemoved && places.cardRemoved();
    Refused(places, flags, "Cannot copy " + local + " onto the SD Card: " +
                               (removed ? "the card was removed" : "the card is full or refuses it") +
                               ". Nothing more was copied.");
    outcome.result = kShellPathNotFound;
    return outcome;
  }
  Tell(places, host::kFoCopy, total, total);
  outcome.cardTarget = intoFolder ? (target.empty() ? "" : target + "/") + fs::path(local).filename().string() : target;
  return outcome;
}

ShellOutcome MoveOnCard(const CardVolume& volume, const std::string& from, const std::string& to) {
  ShellOutcome outcome;
  if (!CardEntryExists(volume, InsideCard(from))) {
    outcome.result = kShellFileNotFound;
    return outcome;
  }
  if (!RunMtools("mmove", volume, {"-o", kRoot + InsideCard(from), kRoot + InsideCard(to)}).Succeeded()) {
    outcome.result = kShellPathNotFound;
  }
  return outcome;
}

enum class Merged { Whole, Cancelled, Failed, Stopped };

// A staged file (the program's own) into its place on the PC, written as
// the user; a file cut short (a failure, or a stop between two chunks) is
// removed.
bool CopyToPc(const ShellPlaces& places, const fs::path& from, const fs::path& to) {
  constexpr std::size_t kChunk = 1 << 16;
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : OpenPcFileForWriting(to, O_WRONLY | O_CREAT | O_TRUNC, kPcFileMode);
  bool copied = out >= 0;
  std::vector<char> chunk(kChunk);
  for (ssize_t got = 1; copied && got > 0;) {
    copied = KeepGoing(places);
    got = copied ? ::read(in, chunk.data(), chunk.size()) : -1;
    copied = got >= 0 && ::write(out, chunk.data(), static_cast<std::size_t>(got)) == got;
  }
  if (in >= 0) ::close(in);
  if (out >= 0) {
    copied = ::close(out) == 0 && copied;
    const AsPcUser user;
    std::error_code error;
    if (!copied && user.Ok()) fs::remove(to, error);
  }
  return copied;
}

// Merges a staged tree into the target, asking before each file it would
// replace unless told not to ask; skipped tells whether a file was left out.
// A folder or file that cannot be written (a full disk) fails the step, so
// that a move never deletes what did not arrive.
Merged Merge(const ShellPlaces& places, const fs::path& staging, const fs::path& target, unsigned flags,
             bool& skipped) {
  std::error_code error;
  // As the shell says it, unless told to keep quiet.
  const auto failed = [&places, flags](const fs::path& path) {
    if ((flags & host::kFofNoErrorUi) == 0 && places.report) {
      places.report("Cannot write " + path.string() + ": the disk is full or refuses it. Nothing more was copied.");
    }
    return Merged::Failed;
  };
  for (const auto& item : fs::recursive_directory_iterator(staging)) {
    if (!KeepGoing(places)) return Merged::Stopped;
    const fs::path destination = target / fs::relative(item.path(), staging);
    const bool exists = fs::exists(destination, error);
    if (item.is_directory()) {
      if (!exists && !MakePcFolder(destination.string())) return failed(destination);
      continue;
    }
    if (exists && (flags & host::kFofNoConfirmation) == 0) {
      const int answer = places.askReplace(destination.string());
      if (answer == host::kIdCancel) return Merged::Cancelled;
      if (answer == host::kIdNo) {
        skipped = true;
        continue;
      }
    }
    if (!CopyToPc(places, item.path(), destination)) return KeepGoing(places) ? failed(destination) : Merged::Stopped;
  }
  return Merged::Whole;
}

// The files and bytes of an entry of the card ("::/DCIM/100TEST"), as mdir
// lists them: its last summary line counts the bytes. (mdir takes -/ only
// for a folder.)
Amount CardAmount(const CardVolume& volume, const std::string& entry, bool isFolder) {
  Amount amount;
  amount.files = isFolder ? 0 : 1;
  std::istringstream paths(isFolder ? RunMtools("mdir", volume, {"-/", "-b", entry}).output : "");
  for (std::string path; std::getline(paths, path);) {
    if (path.rfind(kRoot, 0) == 0 && path.back() != '/') ++amount.files;
  }
  std::vector<std::string> arguments = {"-f", entry};
  if (isFolder) arguments.insert(arguments.begin(), "-/");
  std::istringstream lines(RunMtools("mdir", volume, arguments).output);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t files = line.find(" file");
    if (files == std::string::npos || line.find(" bytes") == std::string::npos) continue;
    std::string digits;
    for (const char c : line.substr(files)) {
      if (c >= '0' && c <= '9') digits += c;
    }
    if (!digits.empty() && digits.size() < 20) amount.bytes = std::stoull(digits);
  }
  return amount;
}

// A name read from a card is data: one that mtools or the PC would take for
// a path, a pattern or an option is never passed on.
bool HostileName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.front() == '-' || !RefusePcName(name).empty()) return true;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < kFirstPrintable || byte == kDelete || std::strchr(kToolSpecial, c) != nullptr) return true;
  }
  return false;
}

struct CardEntry {
  std::string name;
  bool folder = false;
};

// The entries of a card folder ("::/DCIM"), as mdir lists them one a line.
// A line that is not of the folder continues the name before it (a name
// with a line break in it), which makes that name hostile.
std::optional<std::vector<CardEntry>> ListCardFolder(const CardVolume& volume, const std::string& folder) {
  const ToolResult listing = RunMtools("mdir", volume, {"-b", folder + "/"});
  if (!listing.Succeeded()) return std::nullopt;
  std::vector<CardEntry> entries;
  std::istringstream lines(listing.output);
  const std::string prefix = folder + "/";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) != 0) {
      if (!entries.empty()) entries.back().name += "\n" + line;
      continue;  // else mtools' own remarks
    }
    CardEntry entry;
    entry.folder = line.back() == '/';
    entry.name = line.substr(prefix.size(), line.size() - prefix.size() - (entry.folder ? 1 : 0));
    entries.push_back(entry);
  }
  return entries;
}

// The first hostile name inside a card folder, as a path from it; empty
// when every name in its tree may be passed on.
std::string HostileInside(const CardVolume& volume, const std::string& folder, const std::string& shown) {
  const std::optional<std::vector<CardEntry>> entries = ListCardFolder(volume, folder);
  if (!entries) return shown;
  for (const CardEntry& entry : *entries) {
    if (HostileName(entry.name)) return shown + "/" + entry.name;
    if (!entry.folder) continue;
    const std::string inside = HostileInside(volume, folder + "/" + entry.name, shown + "/" + entry.name);
    if (!inside.empty()) return inside;
  }
  return {};
}

// "E:\DCIM\*." to a PC folder: each entry without an extension, a folder
// with its contents, copied (or moved) into the folder. An entry with a
// hostile name in it is skipped and said, and nothing of it is deleted.
ShellOutcome CopyFromCard(const ShellPlaces& places, const CardVolume& volume, unsigned function,
                          const std::string& from, const std::string& to, unsigned flags) {
  ShellOutcome outcome;
  outcome.result = kShellPathNotFound;
  const std::string target = places.pcPath(to);
  std::error_code error;
  const std::size_t star = from.rfind('\\');
  if (target.empty() || from.substr(star + 1) != kImageFolderPattern) return outcome;
  if (!fs::is_directory(target, error)) {
    Refused(places, flags, "Cannot copy into " + target + ": it is not a folder. Nothing was copied.");
    return outcome;
  }
  const std::string folder = kRoot + InsideCard(from.substr(0, star));
  const std::optional<std::vector<CardEntry>> listed = ListCardFolder(volume, folder);
  if (!listed) return outcome;
  std::vector<std::pair<std::string, bool>> entries;
  for (const CardEntry& entry : *listed) {
    std::string hostile = HostileName(entry.name) ? entry.name : "";
    if (hostile.empty() && entry.name.find('.') != std::string::npos) continue;  // "*." takes names without an extension
    if (hostile.empty() && entry.folder) hostile = HostileInside(volume, folder + "/" + entry.name, entry.name);
    if (!hostile.empty()) {
      Refused(places, flags, "The name \"" + Shown(hostile) + "\" on the SD Card cannot be passed on as it is: it was skipped, and nothing of it was copied or deleted.");
      continue;
    }
    entries.emplace_back(folder + "/" + entry.name, entry.folder);
  }
  const fs::path staging = fs::path(places.scratchFolder) / "staging";
  // What the copy has to do: the files and bytes mtools lists.
  std::vector<Amount> amounts;
  Amount total;
  for (const auto& [entry, isFolder] : entries) {
    amounts.push_back(CardAmount(volume, entry, isFolder));
    total += amounts.back();
  }
  Amount done;
  const auto stopped = [&outcome, &staging, &error] {
    outcome.aborted = true;
    outcome.result = kShellCancelled;
    fs::remove_all(staging, error);
    return outcome;
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& [entry, isFolder] = entries[i];
    fs::remove_all(staging, error);
    fs::create_directories(staging, error);
    if (!KeepGoing(places)) return stopped();
    Tell(places, function, done, total);
    // Told by what has reached the staging folder so far.
    const ToolWatch watch = [&places, &staging, &done, &total, function](const ToolResult&) {
      Amount now = done;
      now += TreeAmount(staging);
      Tell(places, function, now, total);
      return KeepGoing(places);
    };
    const ToolResult copied = RunMtools("mcopy", volume, {"-s", entry, staging.string() + "/"}, watch);
    if (copied.ended) return stopped();
    if (!copied.Succeeded()) return outcome;
    bool skipped = false;
    const Merged merged = Merge(places, staging, target, flags, skipped);
    if (merged == Merged::Stopped) return stopped();
    if (merged == Merged::Cancelled) {
      outcome.aborted = true;
      outcome.result = kShellCancelled;
    }
    if (merged != Merged::Whole) {
      if (merged == Merged::Failed) outcome.result = kShellDiskFull;
      fs::remove_all(staging, error);
      return outcome;
    }
    done += amounts[i];
    Tell(places, function, done, total);
    // A move leaves an entry behind only when one of its files stayed. Only
    // what was copied whole goes: a stop now ends the move before it.
    if (function == host::kFoMove && !skipped) {
      if (!KeepGoing(places)) return stopped();
      if (!RunMtools(isFolder ? "mdeltree" : "mdel", volume, {entry}).Succeeded()) return outcome;
    }
  }
  fs::remove_all(staging, error);
  outcome.result = 0;
  return outcome;
}

}  // namespace

// Only files and folders: a pipe or a device would be read for ever, and a
// link to a folder may lead back into its own tree.
std::string RefuseAddOnTree(const std::string& top) {
  std::error_code error;
  const auto refused = [](const fs::path& path) {
    return "\"" + path.string() + "\" is neither a file nor a folder (a pipe, a device, a socket, or a link to a "
           "folder or to nothing): nothing was copied.";
  };
  const auto plain = [&error](const fs::directory_entry& entry) {
    const fs::file_status status = entry.status(error);
    return fs::is_regular_file(status) || (fs::is_directory(status) && !entry.is_symlink(error));
  };
  if (!plain(fs::directory_entry(top, error))) return refused(top);
  if (!fs::is_directory(top, error)) return {};
  for (auto it = fs::recursive_directory_iterator(top, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!plain(*it)) return refused(it->path());
  }
  return error ? refused(top) : std::string();
}

bool SystemEncodingIsUtf8() {
  const locale_t system = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (system == static_cast<locale_t>(nullptr)) return false;
  const bool utf8 = std::strcmp(::nl_langinfo_l(CODESET, system), "UTF-8") == 0;
  ::freelocale(system);
  return utf8;
}

ToolResult RunMtools(const std::string& program, const CardVolume& volume, std::vector<std::string> arguments,
                     const ToolWatch& watch) {
  arguments.insert(arguments.begin(), {program, "-i", Image(volume)});
  std::vector<std::string> environment = {kSkipCheck};
  if (SystemEncodingIsUtf8()) environment.emplace_back(kUtf8Locale);
  return RunTool(arguments, environment, watch);
}

bool CardEntryExists(const CardVolume& volume, const std::string& path) {
  return RunMtools("mdir", volume, {kRoot + path}).Succeeded();
}

bool CardFolderExists(const CardVolume& volume, const std::string& path) {
  return RunMtools("mdir", volume, {kRoot + path + "/"}).Succeeded();
}

std::optional<std::string> CardFileContent(const CardVolume& volume, const std::string& path) {
  const ToolResult typed = RunMtools("mtype", volume, {kRoot + path});
  if (!typed.Succeeded()) return std::nullopt;
  return typed.output;
}

bool PutCardFile(const CardVolume& volume, const std::string& path, const std::string& content,
                 const std::string& scratchFolder) {
  const std::string local = scratchFolder + "/put.tmp";
  {
    std::ofstream file(local, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) return false;
  }
  const bool put = RunMtools("mcopy", volume, {"-o", local, kRoot + path}).Succeeded();
  std::error_code error;
  fs::remove(local, error);
  return put;
}

std::string RefusePcName(const std::string& name) {
  if (SystemEncodingIsUtf8() ? ValidUtf8(name) : Ascii(name)) return {};
  return "The name \"" + name + "\" cannot be written in this system's encoding: nothing was copied.";
}

std::string RefuseCardName(const std::string& name) {
  std::string reason = RefusePcName(name);
  if (!reason.empty()) return reason;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < kFirstPrintable || byte == kDelete || std::strchr(kFatForbidden, c) != nullptr) {
      return "The name \"" + name + "\" holds a character that an SD card cannot hold: nothing was copied.";
    }
  }
  if (name.empty() || name.back() == '.' || name.back() == ' ') {
    return "The name \"" + name + "\" cannot be kept as it is on an SD card: nothing was copied.";
  }
  return {};
}

ShellOutcome ShellOperation(const ShellPlaces& places, unsigned function, const std::string& from,
                            const std::string& to, unsigned flags) {
  ShellOutcome outcome;
  outcome.result = kShellPathNotFound;
  CardVolume source;
  CardVolume target;
  const bool fromCard = OnCard(places, from, source);
  const bool toCard = OnCard(places, to, target);
  if (fromCard && !toCard) return CopyFromCard(places, source, function, from, to, flags);
  if (!toCard) return outcome;
  if (function == host::kFoMove) {
    if (!fromCard || from[0] != to[0]) return outcome;
    return MoveOnCard(target, from, to);
  }
  if (function != host::kFoCopy) return outcome;
  return CopyToCard(places, from, target, to, flags);
}

}  // namespace linuxhost
