#include "terminal/addon_folder.h"

#include <array>
#include <filesystem>

#include "card/scan.h"
#include "host/host.h"

namespace linuxhost {
namespace {

namespace fs = std::filesystem;

// The settings file's key and value for the folder.
constexpr char kSettingsKey[] = "vorninst";
constexpr char kFolderValue[] = "AddOnFolder";
constexpr std::size_t kMaxFolderBytes = 4096;
// Folders of installed programs: whatever else lies there is no add-on of
// this program's.
constexpr const char* kProgramFolderNames[] = {"bin", "sbin"};

class SettingsKey {
 public:
  explicit SettingsKey(bool write) {
    open_ = (write ? host::RegCreateKey(kSettingsKey, host::kKeyWrite, key_)
                   : host::RegOpenKey(kSettingsKey, host::kKeyRead, key_)) == host::kErrorSuccess;
  }
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;
  ~SettingsKey() {
    if (open_) host::RegCloseKey(key_);
  }
  bool Open() const { return open_; }
  host::RegistryKey Get() const { return key_; }

 private:
  host::RegistryKey key_ = 0;
  bool open_ = false;
};

std::string RememberedFolder() {
  const SettingsKey key(false);
  if (!key.Open()) return {};
  std::array<char, kMaxFolderBytes> text{};
  std::uint32_t type = 0;
  auto size = static_cast<std::uint32_t>(text.size());
  if (host::RegQueryValue(key.Get(), kFolderValue, type, text.data(), size) != host::kErrorSuccess ||
      type != host::kRegSz) {
    return {};
  }
  return text.data();
}

bool HoldsAddOn(const fs::path& folder) {
  std::error_code error;
  return fs::is_regular_file(folder / card::kBootFileName, error);
}

bool IsProgramsFolder(const fs::path& folder) {
  const std::string name = folder.filename().string();
  for (const char* programs : kProgramFolderNames) {
    if (name == programs) return true;
  }
  return false;
}

}  // namespace

AddOnFolder FindAddOnFolder(const std::optional<std::string>& named, const std::string& programFolder) {
  AddOnFolder found;
  if (named) {
    found.source = AddOnSource::Named;
    found.folder = *named;
    return found;
  }
  const fs::path own = fs::path(programFolder).lexically_normal();
  if (!programFolder.empty() && !IsProgramsFolder(own) && HoldsAddOn(own)) {
    found.source = AddOnSource::BesideProgram;
    found.folder = programFolder;
    return found;
  }
  const std::string remembered = RememberedFolder();
  std::error_code error;
  if (remembered.empty()) return found;
  if (!fs::is_directory(remembered, error)) {
    found.gone = remembered;
    return found;
  }
  found.source = AddOnSource::Remembered;
  found.folder = remembered;
  return found;
}

bool RememberAddOnFolder(const std::string& folder) {
  const SettingsKey key(true);
  return key.Open() && host::RegSetValue(key.Get(), kFolderValue, host::kRegSz, folder.c_str(),
                                         static_cast<std::uint32_t>(folder.size() + 1)) == host::kErrorSuccess;
}

std::string NoAddOnFolderNote(const AddOnFolder& found) {
  if (found.source != AddOnSource::None) return {};
  const std::string why = found.gone.empty() ? "No add-on folder is known"
                                             : "The add-on folder named last, " + found.gone + ", is gone";
  return why + ": name the folder of DISKBOOT.BIN, PS.FIR, LYRE and DCIM with --addon DIR (it is remembered).\n";
}

}  // namespace linuxhost
