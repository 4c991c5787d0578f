// The simulated PC's registry, folder browser, folder creation, code page,
// and the shell's copy and move of a card's image folders to the PC.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "sim_host.h"

namespace sim {
namespace fs = std::filesystem;

namespace {

constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;
constexpr int kPathNotFound = 3;
constexpr int kCancelled = 1223;  // ERROR_CANCELLED
constexpr int kWriteProtect = 19;

// Lead bytes of code page 932 (Shift_JIS).
bool Is932LeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::string RunQuietly(const std::string& command, bool& ok) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) {
    ok = false;
    return output;
  }
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
  ok = ::pclose(pipe) == 0;
  return output;
}

// The names a pattern "*." takes: those without an extension.
bool WithoutExtension(const std::string& name) { return name.find('.') == std::string::npos; }

}  // namespace

// ---- Registry ------------------------------------------------------------------

long Machine::RegCreateKey(const char* subkey, std::uint32_t access, host::RegistryKey& key) {
  Count("RegCreateKeyEx");
  EXPECT_EQ(access, host::kKeyWrite);
  if (registryFails) return kErrorAccessDenied;
  const std::string path = Lower(subkey);
  registry[path];
  key = nextHandle_++;
  registryKeys_[key] = path;
  return host::kErrorSuccess;
}

long Machine::RegOpenKey(const char* subkey, std::uint32_t access, host::RegistryKey& key) {
  Count("RegOpenKeyEx");
  EXPECT_EQ(access, host::kKeyRead);
  if (registryFails) return kErrorAccessDenied;
  const std::string path = Lower(subkey);
  if (registry.count(path) == 0) return kErrorFileNotFound;
  key = nextHandle_++;
  registryKeys_[key] = path;
  return host::kErrorSuccess;
}

long Machine::RegSetValue(host::RegistryKey key, const char* name, std::uint32_t type, const void* data,
                          std::uint32_t size) {
  const auto open = registryKeys_.find(key);
  if (open == registryKeys_.end()) return kErrorAccessDenied;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  registry[open->second][Lower(name)] = {type, std::vector<std::uint8_t>(bytes, bytes + size)};
  Record("registry set " + std::string(name) + " = " + std::string(static_cast<const char*>(data)));
  return host::kErrorSuccess;
}

long Machine::RegQueryValue(host::RegistryKey key, const char* name, std::uint32_t& type, void* data,
                            std::uint32_t& size) {
  const auto open = registryKeys_.find(key);
  if (open == registryKeys_.end()) return kErrorAccessDenied;
  const auto& values = registry[open->second];
  const auto value = values.find(Lower(name));
  if (value == values.end()) return kErrorFileNotFound;
  type = value->second.type;
  const auto needed = static_cast<std::uint32_t>(value->second.data.size());
  const std::uint32_t room = size;
  size = needed;
  if (needed > room) return kErrorMoreData;
  std::memcpy(data, value->second.data.data(), needed);
  return host::kErrorSuccess;
}

void Machine::RegCloseKey(host::RegistryKey key) {
  EXPECT_EQ(registryKeys_.erase(key), 1u) << "closing a key that is not open";
}

std::string Machine::ExpandEnvironmentStrings(const char* text) {
  static const std::map<std::string, std::string> variables = {
      {"userprofile", "C:\\Users\\me"}, {"temp", "C:\\Users\\me\\AppData\\Local\\Temp"}};
  std::string expanded;
  const std::string source = text;
  for (std::size_t i = 0; i < source.size(); ++i) {
    const std::size_t end = source[i] == '%' ? source.find('%', i + 1) : std::string::npos;
    const auto variable = end == std::string::npos ? variables.end()
                                                   : variables.find(Lower(source.substr(i + 1, end - i - 1)));
    if (variable == variables.end()) {
      expanded += source[i];
      continue;
    }
    expanded += variable->second;
    i = end;
  }
  return expanded;
}

// ---- The folder browser ---------------------------------------------------------

void Machine::ExpectBrowse(std::function<std::string(const std::string& selected)> user) {
  browseScript_.push_back(std::move(user));
}

host::ItemList Machine::BrowseForFolder(host::DialogWindow, const char* title, unsigned flags,
                                        host::BrowseCallback callback) {
  Count("SHBrowseForFolder");
  Record("browse " + std::string(title));
  EXPECT_EQ(flags, host::kBifReturnOnlyFsDirs);
  browserSelection_.clear();
  const host::DialogWindow browser = nextHandle_++;
  if (callback != nullptr) {
    EXPECT_EQ(callback(browser, host::kBffmInitialized, 0, 0), 1);
  }
  if (browseScript_.empty()) {
    ADD_FAILURE() << "unexpected folder browser";
    return 0;
  }
  const std::string chosen = browseScript_.front()(browserSelection_);
  browseScript_.pop_front();
  if (chosen.empty()) return 0;
  const host::ItemList list = nextHandle_++;
  itemLists_[list] = chosen;
  return list;
}

bool Machine::PathFromItemList(host::ItemList list, std::string& path) {
  const auto found = itemLists_.find(list);
  if (found == itemLists_.end() || browsePathFails) return false;
  path = found->second;
  return true;
}

void Machine::FreeItemList(host::ItemList list) {
  EXPECT_EQ(itemLists_.erase(list), 1u) << "freeing an unknown item list";
}

void Machine::BrowserSetSelection(host::DialogWindow, const char* path) {
  browserSelection_ = path;
  Record("browse select " + browserSelection_);
}

// ---- Folders and the code page ---------------------------------------------------

bool Machine::MakeFolder(const std::string& path) {
  const std::string local = PcPath(path);
  std::error_code error;
  if (local.empty() || fs::exists(local, error) || !fs::is_directory(fs::path(local).parent_path(), error)) {
    return false;
  }
  return fs::create_directory(local, error);
}

bool Machine::CreateDirectoryEx(const char* templateFolder, const char* newFolder) {
  Count("CreateDirectoryEx");
  const std::string local = PcPath(templateFolder);
  std::error_code error;
  if (local.empty() || !fs::is_directory(local, error)) return false;
  const bool made = MakeFolder(newFolder);
  if (made) Record("mkdir " + std::string(newFolder) + " like " + templateFolder);
  return made;
}

bool Machine::CreateDirectory(const char* path) {
  Count("CreateDirectory");
  const bool made = MakeFolder(path);
  if (made) Record("mkdir " + std::string(path));
  return made;
}

bool Machine::IsDBCSLeadByte(unsigned char byte) { return codePage == 932 && Is932LeadByte(byte); }

// ---- The image folders to the PC ------------------------------------------------

// "E:\DCIM\*." to a PC folder: each entry without an extension, a folder with
// its contents, copied (or moved) into the folder. Without
// FOF_NOCONFIRMATION the shell asks before it replaces a file.
int Machine::CopyFromCard(const ShellCall& call, bool& aborted) {
  const Insertion* insertion = InsertionAt(call.from[0]);
  if (insertion == nullptr || insertion->ejected) return kPathNotFound;
  const bool move = call.function == host::kFoMove;
  if (move && insertion->card->faults.locked) return kWriteProtect;
  const std::string target = PcPath(call.to);
  std::error_code error;
  if (target.empty() || !fs::is_directory(target, error)) return kPathNotFound;
  const std::size_t star = call.from.rfind('\\');
  if (call.from.substr(star + 1) != "*.") return kPathNotFound;
  std::string folder = "::/";
  for (std::size_t i = 3; i < star; ++i) folder += call.from[i] == '\\' ? '/' : call.from[i];
  const std::string image = MtoolsImage(call.from[0]);
  bool listed = false;
  std::istringstream entries(RunQuietly("mdir -b -i " + image + " " + Quote(folder), listed));
  if (!listed) return kPathNotFound;

  const fs::path staging = root_ + "/staging";
  for (std::string entry; std::getline(entries, entry);) {
    const bool isFolder = !entry.empty() && entry.back() == '/';
    if (isFolder) entry.pop_back();
    const std::string name = entry.substr(entry.rfind('/') + 1);
    if (!WithoutExtension(name)) continue;
    fs::remove_all(staging, error);
    fs::create_directories(staging);
    bool copied = false;
    RunQuietly("mcopy -s -i " + image + " " + Quote(entry) + " " + Quote(staging.string() + "/"), copied);
    if (!copied) return kPathNotFound;
    // Merge into the target, asking before each file it would replace.
    bool skipped = false;
    for (const auto& item : fs::recursive_directory_iterator(staging)) {
      const fs::path destination = fs::path(target) / fs::relative(item.path(), staging);
      if (item.is_directory()) {
        fs::create_directories(destination, error);
        continue;
      }
      if (fs::exists(destination, error) && (call.flags & host::kFofNoConfirmation) == 0) {
        Record("shell asks to replace " + destination.filename().string());
        if (replaceAnswers.empty()) {
          ADD_FAILURE() << "the shell asks to replace " << destination << " and no answer was given";
          aborted = true;
          return kCancelled;
        }
        const int answer = replaceAnswers.front();
        replaceAnswers.pop_front();
        if (answer == host::kIdCancel) {
          aborted = true;
          return kCancelled;
        }
        if (answer == host::kIdNo) {
          skipped = true;
          continue;
        }
      }
      fs::create_directories(destination.parent_path(), error);
      fs::copy_file(item.path(), destination, fs::copy_options::overwrite_existing, error);
    }
    // A move leaves an entry behind only when one of its files stayed.
    if (move && !skipped) {
      bool removed = false;
      RunQuietly(std::string(isFolder ? "mdeltree" : "mdel") + " -i " + image + " " + Quote(entry), removed);
      if (!removed) return kPathNotFound;
      MarkInUse(call.from[0], true);
    }
  }
  fs::remove_all(staging, error);
  return 0;
}

}  // namespace sim
