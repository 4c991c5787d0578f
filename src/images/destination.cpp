#include "images/destination.h"

#include <algorithm>
#include <vector>

#include "common/catalogue.h"
#include "images/transfer.h"
#include "res/ids.h"

namespace images {

std::string gDestinationFolder;
bool gDeleteAfterCopy = false;

namespace {

constexpr std::uintptr_t kCommandIdMask = 0xFFFF;
// The edit box's text with its NUL.
constexpr int kFolderBufferSize = static_cast<int>(kFolderMaximum) + 1;

std::string EditText(host::DialogWindow dialog) {
  return host::GetDlgItemText(dialog, IDC_DESTINATION, kFolderBufferSize);
}

void Browse(host::DialogWindow dialog) {
  gDestinationFolder = EditText(dialog);
  TrimFolderPath(gDestinationFolder);  // so that the browser can select it
  const host::ItemList list =
      host::BrowseForFolder(dialog, common::LoadMessageText(MSG_BROWSE_TITLE),
                            host::kBifReturnOnlyFsDirs, DestinationBrowseCallback);
  if (list == 0) return;  // cancelled
  std::string chosen;
  // A list that names no folder leaves the text as it was.
  if (host::PathFromItemList(list, chosen)) {
    gDestinationFolder = chosen;
    host::SetDlgItemText(dialog, IDC_DESTINATION, gDestinationFolder.c_str());
  }
  host::FreeItemList(list);
}

// OK: a folder the images may go to is kept, and stored as typed. Any other
// text is neither: the user is told, and corrects it in the dialog.
void TakeDestination(host::DialogWindow dialog) {
  const std::string typed = EditText(dialog);
  std::string folder = typed;
  TrimFolderPath(folder);
  if (!AcceptableDestination(folder)) {
    common::ShowErrorMessage(MSG_DESTINATION_NOT_FULL_PATH, dialog);
    host::SetDlgItemFocus(dialog, IDC_DESTINATION);
    return;
  }
  gDeleteAfterCopy = host::IsDlgButtonChecked(dialog, IDC_DELETE_AFTER_COPY) == host::kBstChecked;
  gDestinationFolder = typed;
  WriteSetting(kDestinationSetting, gDestinationFolder);
  host::EndDialog(dialog, 1);
}

}  // namespace

std::intptr_t DestinationFolderProc(host::DialogWindow dialog, unsigned message,
                                    std::uintptr_t wParam, std::intptr_t) {
  if (message == host::kWmInitDialog) {
    ReadSetting(kDestinationSetting, gDestinationFolder);
    host::LimitDlgItemText(dialog, IDC_DESTINATION, static_cast<int>(kFolderMaximum));
    host::SetDlgItemText(dialog, IDC_DESTINATION, gDestinationFolder.c_str());
    host::CheckDlgButton(dialog, IDC_DELETE_AFTER_COPY,
                         gDeleteAfterCopy ? host::kBstChecked : host::kBstUnchecked);
    return 1;  // the system gives the first tab stop the focus
  }
  if (message != host::kWmCommand) return 0;
  switch (static_cast<int>(wParam & kCommandIdMask)) {
    case host::kIdDialogOk:
      TakeDestination(dialog);
      return 1;
    case host::kIdDialogCancel:
      host::EndDialog(dialog, 0);
      return 1;
    case IDC_BROWSE:
      Browse(dialog);
      return 0;
    default:
      return 0;
  }
}

int DestinationBrowseCallback(host::DialogWindow browser, unsigned message, std::intptr_t,
                              std::intptr_t) {
  if (message != host::kBffmInitialized) return 0;
  host::BrowserSetSelection(browser, gDestinationFolder.c_str());
  return 1;
}

int RunDestinationDialog() {
  return host::RunDialog(kDestinationTemplate, DestinationFolderProc) == 1 ? 1 : 0;
}

bool IsLeadByte(unsigned char byte) { return host::IsDBCSLeadByte(byte); }

bool IsTrailByte(const std::string& text, std::size_t index) {
  bool trail = false;
  for (std::size_t i = 0; i <= index && i < text.size(); ++i) {
    if (i == index) return trail;
    trail = !trail && IsLeadByte(static_cast<unsigned char>(text[i]));
  }
  return false;
}

void TrimFolderPath(std::string& path) {
  const std::size_t size = path.size();
  if (size == 0 || path[size - 1] != '\\' || IsTrailByte(path, size - 1)) return;
  if (size >= 2 && path[size - 2] == ':') return;
  path.pop_back();
}

void WriteSetting(const char* name, const std::string& text) {
  host::RegistryKey key = 0;
  if (host::RegCreateKey(kSettingsKey, host::kKeyWrite, key) != host::kErrorSuccess) return;
  host::RegSetValue(key, name, host::kRegSz, text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
  host::RegCloseKey(key);
}

void ReadSetting(const char* name, std::string& text) {
  text.clear();
  host::RegistryKey key = 0;
  if (host::RegOpenKey(kSettingsKey, host::kKeyRead, key) != host::kErrorSuccess) return;
  std::vector<char> buffer(kFolderBufferSize, '\0');
  auto size = static_cast<std::uint32_t>(buffer.size());
  std::uint32_t type = 0;
  const long result = host::RegQueryValue(key, name, type, buffer.data(), size);
  host::RegCloseKey(key);
  if (result != host::kErrorSuccess || (type != host::kRegSz && type != host::kRegExpandSz)) return;
  // A stored text without its NUL reads the same as one with it.
  std::string stored(buffer.data(), std::min<std::size_t>(size, buffer.size()));
  stored = stored.c_str();
  if (type == host::kRegExpandSz) stored = host::ExpandEnvironmentStrings(stored.c_str());
  if (stored.size() <= kFolderMaximum) text = stored;
}

}  // namespace images
