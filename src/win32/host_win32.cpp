// The host seam on Win32: each primitive is the one call it stands for.
#include "win32/windows_clean.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "host/host.h"
#include "win32/main_window.h"

namespace host {
namespace {

HANDLE ToWin(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

bool Control(Handle handle, DWORD code, void* buffer, std::uint32_t size) {
  DWORD returned = 0;
  return DeviceIoControl(ToWin(handle), code, nullptr, 0, buffer, size, &returned, nullptr) != FALSE;
}

// The dialogs the program runs, by template name.
struct DialogEntry {
  const char* name;
  DLGPROC procedure;
};
constexpr DialogEntry kDialogs[] = {
    {win32::kAboutTemplate, win32::AboutProc},
    {win32::kHelpTemplate, win32::AboutProc},
};

}  // namespace

int MessageBox(const char* text, const char* caption, unsigned flags) {
  return MessageBoxA(win32::gMainWindow, text, caption, flags);
}

int LoadString(unsigned id, char* buffer, int bufferSize) {
  return LoadStringA(GetModuleHandleA(nullptr), id, buffer, bufferSize);
}

void ShowControl(int controlId, int showCommand) {
  ShowWindow(GetDlgItem(win32::gMainWindow, controlId), showCommand);
}

void SetControlText(int controlId, const char* text) {
  SetDlgItemTextA(win32::gMainWindow, controlId, text);
}

void ComboReset(int controlId) {
  SendDlgItemMessageA(win32::gMainWindow, controlId, CB_RESETCONTENT, 0, 0);
}

void ComboAddString(int controlId, const char* text) {
  SendDlgItemMessageA(win32::gMainWindow, controlId, CB_ADDSTRING, 0,
                      reinterpret_cast<LPARAM>(text));
}

void ComboSetCurSel(int controlId, int index) {
  SendDlgItemMessageA(win32::gMainWindow, controlId, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int ComboGetCurSel(int controlId) {
  return static_cast<int>(SendDlgItemMessageA(win32::gMainWindow, controlId, CB_GETCURSEL, 0, 0));
}

bool ComboGetText(int controlId, int index, std::string& text) {
  const LRESULT length = SendDlgItemMessageA(win32::gMainWindow, controlId, CB_GETLBTEXTLEN,
                                             static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return false;
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  if (SendDlgItemMessageA(win32::gMainWindow, controlId, CB_GETLBTEXT,
                          static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(buffer.data())) == CB_ERR) {
    return false;
  }
  text = buffer.data();
  return true;
}

void SetTimer(unsigned timerId, unsigned milliseconds) {
  ::SetTimer(win32::gMainWindow, timerId, milliseconds, nullptr);
}

void KillTimer(unsigned timerId) { ::KillTimer(win32::gMainWindow, timerId); }

void SendCommand(unsigned commandId, unsigned notifyCode) {
  SendMessageA(win32::gMainWindow, WM_COMMAND,
               MAKEWPARAM(static_cast<WORD>(commandId), static_cast<WORD>(notifyCode)), 0);
}

void PostCommand(unsigned commandId, unsigned notifyCode) {
  PostMessageA(win32::gMainWindow, WM_COMMAND,
               MAKEWPARAM(static_cast<WORD>(commandId), static_cast<WORD>(notifyCode)), 0);
}

void BringMainWindowToFront() { SetForegroundWindow(win32::gMainWindow); }

bool EnableMainWindow(bool enable) {
  return EnableWindow(win32::gMainWindow, enable ? TRUE : FALSE) != FALSE;
}

void SendClose() { SendMessageA(win32::gMainWindow, WM_CLOSE, 0, 0); }

void PostQuit(int exitCode) { PostQuitMessage(exitCode); }

std::intptr_t RunDialog(const char* templateName) {
  for (const DialogEntry& dialog : kDialogs) {
    if (std::strcmp(dialog.name, templateName) == 0) {
      return DialogBoxParamA(win32::gInstance, templateName, win32::gMainWindow,
                             dialog.procedure, 0);
    }
  }
  return -1;
}

namespace {

// Hands the messages of a dialog to the logic's procedure, which travels in
// the creation parameter and then in the dialog's user data.
INT_PTR CALLBACK ForwardingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lParam);
  const auto procedure = reinterpret_cast<DialogProcedure>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (procedure == nullptr) return FALSE;
  return procedure(reinterpret_cast<DialogWindow>(dialog), message, wParam, lParam);
}

HWND ToHwnd(DialogWindow dialog) { return reinterpret_cast<HWND>(dialog); }

}  // namespace

std::intptr_t RunDialog(const char* templateName, DialogProcedure procedure) {
  return DialogBoxParamA(win32::gInstance, templateName, win32::gMainWindow, ForwardingDialogProc,
                         reinterpret_cast<LPARAM>(procedure));
}

void EndDialog(DialogWindow dialog, std::intptr_t result) { ::EndDialog(ToHwnd(dialog), result); }

void CheckRadioButton(DialogWindow dialog, int firstId, int lastId, int checkId) {
  ::CheckRadioButton(ToHwnd(dialog), firstId, lastId, checkId);
}

unsigned IsDlgButtonChecked(DialogWindow dialog, int id) {
  return ::IsDlgButtonChecked(ToHwnd(dialog), id);
}

void CheckDlgButton(DialogWindow dialog, int id, unsigned check) {
  ::CheckDlgButton(ToHwnd(dialog), id, check);
}

void SetDlgItemText(DialogWindow dialog, int id, const char* text) {
  SetDlgItemTextA(ToHwnd(dialog), id, text);
}

std::string GetDlgItemText(DialogWindow dialog, int id, int bufferSize) {
  std::vector<char> buffer(static_cast<std::size_t>(bufferSize > 0 ? bufferSize : 1), '\0');
  GetDlgItemTextA(ToHwnd(dialog), id, buffer.data(), bufferSize);
  return buffer.data();
}

void LimitDlgItemText(DialogWindow dialog, int id, int maximumCharacters) {
  SendDlgItemMessageA(ToHwnd(dialog), id, EM_LIMITTEXT, static_cast<WPARAM>(maximumCharacters), 0);
}

// A dialog's focus, and a box over a dialog.
void SetDlgItemFocus(DialogWindow dialog, int id) {
  // Posted: a box closing over the dialog would give the focus back to the
  // control it had before, after this.
  PostMessageA(ToHwnd(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(ToHwnd(dialog), id)),
               TRUE);
}

int DialogMessageBox(DialogWindow owner, const char* text, const char* caption, unsigned flags) {
  return MessageBoxA(ToHwnd(owner), text, caption, flags);
}

namespace {

// Hands the browser's messages to the logic's callback, which travels in
// the BROWSEINFOA's lParam.
int CALLBACK ForwardingBrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data) {
  const auto callback = reinterpret_cast<BrowseCallback>(data);
  return callback == nullptr ? 0 : callback(reinterpret_cast<DialogWindow>(browser), message, lParam, 0);
}

}  // namespace

ItemList BrowseForFolder(DialogWindow owner, const char* title, unsigned flags,
                         BrowseCallback callback) {
  // The browser is a COM object: WinMain has this thread in an apartment.
  BROWSEINFOA info{};
  info.hwndOwner = ToHwnd(owner);
  info.lpszTitle = title;
  info.ulFlags = flags;
  info.lpfn = ForwardingBrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(callback);
  const PIDLIST_ABSOLUTE list = SHBrowseForFolderA(&info);
  return reinterpret_cast<ItemList>(list);
}

bool PathFromItemList(ItemList list, std::string& path) {
  std::array<char, MAX_PATH> buffer{};
  if (!SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(list), buffer.data())) return false;
  path = buffer.data();
  return true;
}

void FreeItemList(ItemList list) { CoTaskMemFree(reinterpret_cast<void*>(list)); }

void BrowserSetSelection(DialogWindow browser, const char* path) {
  SendMessageA(ToHwnd(browser), BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(path));
}

namespace {
HKEY ToHkey(RegistryKey key) { return reinterpret_cast<HKEY>(key); }
}  // namespace

long RegCreateKey(const char* subkey, std::uint32_t access, RegistryKey& key) {
  HKEY made = nullptr;
  DWORD disposition = 0;
  const LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      access, nullptr, &made, &disposition);
  key = reinterpret_cast<RegistryKey>(made);
  return result;
}

long RegOpenKey(const char* subkey, std::uint32_t access, RegistryKey& key) {
  HKEY opened = nullptr;
  const LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, access, &opened);
  key = reinterpret_cast<RegistryKey>(opened);
  return result;
}

long RegSetValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                 std::uint32_t size) {
  return RegSetValueExA(ToHkey(key), name, 0, type, static_cast<const BYTE*>(data), size);
}

long RegQueryValue(RegistryKey key, const char* name, std::uint32_t& type, void* data,
                   std::uint32_t& size) {
  DWORD valueType = 0;
  DWORD bytes = size;
  const LONG result =
      RegQueryValueExA(ToHkey(key), name, nullptr, &valueType, static_cast<BYTE*>(data), &bytes);
  type = valueType;
  size = bytes;
  return result;
}

void RegCloseKey(RegistryKey key) { ::RegCloseKey(ToHkey(key)); }

std::string ExpandEnvironmentStrings(const char* text) {
  const DWORD needed = ExpandEnvironmentStringsA(text, nullptr, 0);
  if (needed == 0) return {};
  std::vector<char> buffer(needed, '\0');
  if (ExpandEnvironmentStringsA(text, buffer.data(), needed) == 0) return {};
  return buffer.data();
}

std::intptr_t ShellOpen(const char* path) {
  return reinterpret_cast<std::intptr_t>(
      ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL));
}

Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                  std::uint32_t disposition, std::uint32_t flags) {
  return reinterpret_cast<Handle>(
      CreateFileA(path, access, share, nullptr, disposition, flags, nullptr));
}

void CloseHandle(Handle handle) { ::CloseHandle(ToWin(handle)); }

bool GetFileSize(Handle handle, std::uint64_t& size) {
  LARGE_INTEGER answer{};
  if (!GetFileSizeEx(ToWin(handle), &answer)) return false;
  size = static_cast<std::uint64_t>(answer.QuadPart);
  return true;
}

namespace {
bool Seek(Handle handle, std::uint64_t offset) {
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(ToWin(handle), position, nullptr, FILE_BEGIN) != FALSE;
}
}  // namespace

bool ReadAt(Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
            std::uint32_t& transferred) {
  DWORD done = 0;
  const BOOL ok = Seek(handle, offset) && ReadFile(ToWin(handle), buffer, size, &done, nullptr);
  transferred = done;
  return ok != FALSE;
}

bool WriteAt(Handle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
             std::uint32_t& transferred) {
  DWORD done = 0;
  const BOOL ok = Seek(handle, offset) && WriteFile(ToWin(handle), buffer, size, &done, nullptr);
  transferred = done;
  return ok != FALSE;
}

bool QueryDeviceNumber(Handle handle, StorageDeviceNumber& number) {
  STORAGE_DEVICE_NUMBER answer{};
  if (!Control(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, &answer, sizeof answer)) return false;
  number.deviceType = answer.DeviceType;
  number.deviceNumber = answer.DeviceNumber;
  number.partitionNumber = answer.PartitionNumber;
  return true;
}

bool QueryDriveGeometryEx(Handle handle, void* buffer, std::uint32_t size) {
  return Control(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, buffer, size);
}

bool QueryDriveGeometry(Handle handle, void* buffer, std::uint32_t size) {
  return Control(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, buffer, size);
}

bool QueryDriveLayoutEx(Handle handle, void* buffer, std::uint32_t size) {
  return Control(handle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, buffer, size);
}

bool EjectMedia(Handle handle) {
  return Control(handle, IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0);
}

bool QueryLength(Handle handle, std::uint64_t& length) {
  GET_LENGTH_INFORMATION answer{};
  if (!Control(handle, IOCTL_DISK_GET_LENGTH_INFO, &answer, sizeof answer)) return false;
  length = static_cast<std::uint64_t>(answer.Length.QuadPart);
  return true;
}

bool LockVolume(Handle volume) { return Control(volume, FSCTL_LOCK_VOLUME, nullptr, 0); }
bool DismountVolume(Handle volume) { return Control(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0); }

bool QueryMediaChangeCount(Handle drive, std::uint32_t& count) {
  ULONG answer = 0;
  DWORD returned = 0;
  // A driver that answers without filling the ULONG gives no count.
  if (!DeviceIoControl(ToWin(drive), IOCTL_STORAGE_CHECK_VERIFY2, nullptr, 0, &answer, sizeof answer, &returned,
                       nullptr) ||
      returned != sizeof answer) {
    return false;
  }
  count = answer;
  return true;
}

namespace {

constexpr DWORD kDescriptorBytes = 1024;
using DeviceDescriptor = std::array<BYTE, kDescriptorBytes>;

// STORAGE_DEVICE_DESCRIPTOR of a disk; 0 when the query fails, else the
// bytes it returned.
DWORD QueryDeviceDescriptor(Handle drive, DeviceDescriptor& answer) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  DWORD returned = 0;
  if (!DeviceIoControl(ToWin(drive), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer.data(),
                       static_cast<DWORD>(answer.size()), &returned, nullptr) ||
      returned < sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
    return 0;
  }
  return returned;
}

// The NUL-terminated text at an offset of the answer; empty for offset 0
// (none told) or one outside it.
std::string DescriptorText(const DeviceDescriptor& answer, DWORD returned, DWORD at) {
  if (at == 0 || at >= returned) return {};
  const char* text = reinterpret_cast<const char*>(answer.data() + at);
  return std::string(text, strnlen(text, returned - at));
}

const STORAGE_DEVICE_DESCRIPTOR& Descriptor(const DeviceDescriptor& answer) {
  return *reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(answer.data());
}

}  // namespace

bool QueryStorageSerialNumber(Handle drive, std::string& serial) {
  alignas(STORAGE_DEVICE_DESCRIPTOR) DeviceDescriptor answer{};
  const DWORD returned = QueryDeviceDescriptor(drive, answer);
  if (returned == 0) return false;
  serial = DescriptorText(answer, returned, Descriptor(answer).SerialNumberOffset);
  return !serial.empty();
}

bool QueryStorageDeviceIds(Handle drive, std::string& vendor, std::string& product) {
  alignas(STORAGE_DEVICE_DESCRIPTOR) DeviceDescriptor answer{};
  const DWORD returned = QueryDeviceDescriptor(drive, answer);
  if (returned == 0) return false;
  vendor = DescriptorText(answer, returned, Descriptor(answer).VendorIdOffset);
  product = DescriptorText(answer, returned, Descriptor(answer).ProductIdOffset);
  return true;
}

bool UpdateDiskProperties(Handle drive) { return Control(drive, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0); }
bool AllowExtendedDasdIo(Handle volume) { return Control(volume, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0); }

bool QueryPartitionInfo(Handle volume, PartitionInfo& info) {
  PARTITION_INFORMATION_EX answer{};
  if (!Control(volume, IOCTL_DISK_GET_PARTITION_INFO_EX, &answer, sizeof answer)) return false;
  info.startingOffset = answer.StartingOffset.QuadPart;
  info.partitionLength = answer.PartitionLength.QuadPart;
  return true;
}

bool QueryVolumeDiskNumbers(Handle volume, std::vector<std::uint32_t>& diskNumbers) {
  // Room for a volume that spans a few disks; more is no system volume here.
  constexpr DWORD kMaximumExtents = 16;
  std::vector<std::uint8_t> buffer(sizeof(VOLUME_DISK_EXTENTS) + kMaximumExtents * sizeof(DISK_EXTENT));
  if (!Control(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, buffer.data(),
               static_cast<std::uint32_t>(buffer.size()))) {
    return false;
  }
  VOLUME_DISK_EXTENTS head{};
  std::memcpy(&head, buffer.data(), sizeof head);
  const DWORD count = std::min(head.NumberOfDiskExtents, kMaximumExtents);
  diskNumbers.clear();
  for (DWORD i = 0; i < count; ++i) {
    DISK_EXTENT extent{};
    std::memcpy(&extent, buffer.data() + offsetof(VOLUME_DISK_EXTENTS, Extents) + i * sizeof extent,
                sizeof extent);
    diskNumbers.push_back(extent.DiskNumber);
  }
  return true;
}

bool FlushFileBuffers(Handle handle) { return ::FlushFileBuffers(ToWin(handle)) != FALSE; }

unsigned GetDriveType(const char* root) { return GetDriveTypeA(root); }

bool GetDiskTotalBytes(const char* root, std::uint64_t& totalBytes) {
  ULARGE_INTEGER total{};
  if (!GetDiskFreeSpaceExA(root, nullptr, &total, nullptr)) return false;
  totalBytes = total.QuadPart;
  return true;
}

bool GetDiskFreeSpace(const char* root, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  ULARGE_INTEGER total{};
  ULARGE_INTEGER free{};
  if (!GetDiskFreeSpaceExA(root, nullptr, &total, &free)) return false;
  totalBytes = total.QuadPart;
  freeBytes = free.QuadPart;
  return true;
}

bool GetVolumeInformation(const char* root, std::string& label, std::string& fileSystem) {
  std::array<char, MAX_PATH + 1> name{};
  std::array<char, MAX_PATH + 1> system{};
  if (!GetVolumeInformationA(root, name.data(), static_cast<DWORD>(name.size()), nullptr, nullptr, nullptr,
                             system.data(), static_cast<DWORD>(system.size()))) {
    return false;
  }
  label = name.data();
  fileSystem = system.data();
  return true;
}

std::uint32_t GetFileAttributes(const char* path) { return GetFileAttributesA(path); }

std::string GetSystemWindowsDirectory() {
  std::array<char, MAX_PATH> buffer{};
  const UINT length = GetSystemWindowsDirectoryA(buffer.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(buffer.data(), length);
}

std::string GetSystemDirectory() {
  std::array<char, MAX_PATH> buffer{};
  const UINT length = GetSystemDirectoryA(buffer.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(buffer.data(), length);
}

std::string GetTempPath() {
  std::array<char, MAX_PATH + 1> buffer{};
  const DWORD length = GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return {};
  return std::string(buffer.data(), length);
}

bool CreateDirectoryEx(const char* templateFolder, const char* newFolder) {
  return CreateDirectoryExA(templateFolder, newFolder, nullptr) != FALSE;
}

bool CreateDirectory(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }

bool IsDBCSLeadByte(unsigned char byte) { return ::IsDBCSLeadByte(byte) != FALSE; }

std::uint64_t GetSystemTimeAsFileTime() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
}

std::string GetComputerName() {
  std::array<char, MAX_COMPUTERNAME_LENGTH + 1> buffer{};
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!GetComputerNameA(buffer.data(), &size)) return {};
  return std::string(buffer.data(), size);
}

namespace {

// Takes every message waiting, as the message loop would. True when a quit
// was asked for meanwhile: that is for the program's own loop to take.
bool TakeWaitingMessages(WPARAM& quitCode) {
  bool quit = false;
  MSG message{};
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quit = true;
      quitCode = message.wParam;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return quit;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// The window disabled while this lives, as a modal box disables its owner:
// it repaints but takes no input. Enabled again only if it was enabled
// before, so that a box or dialog that disabled it keeps it so.
class DisabledWindow {
 public:
  explicit DisabledWindow(HWND window)
      : window_(window), wasEnabled_(window != nullptr && !EnableWindow(window, FALSE)) {}
  ~DisabledWindow() {
    if (wasEnabled_) EnableWindow(window_, TRUE);
  }
  DisabledWindow(const DisabledWindow&) = delete;
  DisabledWindow& operator=(const DisabledWindow&) = delete;

 private:
  HWND window_;
  bool wasEnabled_;
};

// Waits for the process while the thread keeps taking its messages, so that
// its windows stay alive. A quit asked for meanwhile is left for the
// program's own loop.
void WaitTakingMessages(HANDLE process) {
  bool quit = false;
  WPARAM quitCode = 0;
  for (;;) {
    // The queue is emptied first: the wait wakes only for messages that
    // come after the last look at it.
    quit = TakeWaitingMessages(quitCode) || quit;
    const DWORD woken = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 + 1) continue;
    // A failed wait still never returns before the process has ended.
    if (woken != WAIT_OBJECT_0) WaitForSingleObject(process, INFINITE);
    break;
  }
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
}

}  // namespace

bool StopRequested() { return false; }

void DispatchPendingMessages() {
  WPARAM quitCode = 0;
  if (TakeWaitingMessages(quitCode)) PostQuitMessage(static_cast<int>(quitCode));
}

bool RunProcessAndWait(const char* applicationName, const char* commandLine,
                       std::uint32_t& exitCode) {
  // CreateProcessA may write into its command line.
  std::vector<char> line(commandLine, commandLine + std::strlen(commandLine) + 1);
  // A console program such as format.com gets its own console window, shown
  // normally: its questions are the user's to answer.
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  constexpr DWORD kCreationFlags = 0;
  // From the start to the end of the process the window takes no input, so
  // that no command begins in the middle of this one.
  const DisabledWindow disabled(win32::gMainWindow);
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(applicationName, line.data(), nullptr, nullptr, FALSE, kCreationFlags, nullptr,
                      nullptr, &startup, &started)) {
    return false;
  }
  const UniqueHandle process(started.hProcess);
  const UniqueHandle thread(started.hThread);
  WaitTakingMessages(process.get());
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) code = static_cast<DWORD>(-1);
  exitCode = code;
  return true;
}

int ShellFileOperation(FileOperation& operation) {
  SHFILEOPSTRUCTA shell{};
  shell.hwnd = win32::gMainWindow;
  shell.wFunc = operation.function;
  shell.pFrom = operation.from;
  shell.pTo = operation.to;
  shell.fFlags = static_cast<FILEOP_FLAGS>(operation.flags);
  shell.fAnyOperationsAborted = operation.anyOperationsAborted ? TRUE : FALSE;
  const int result = SHFileOperationA(&shell);
  operation.anyOperationsAborted = shell.fAnyOperationsAborted != FALSE;
  return result;
}

}  // namespace host

// The seam's constants carry the values of their Win32 namesakes.
static_assert(host::kMbIconWarning == MB_ICONWARNING && host::kMbYesNo == MB_YESNO &&
                  host::kMbYesNoCancel == MB_YESNOCANCEL, "message box flags");
static_assert(host::kIdOk == IDOK && host::kIdCancel == IDCANCEL && host::kIdYes == IDYES &&
                  host::kIdNo == IDNO, "message box results");
static_assert(host::kSwHide == SW_HIDE && host::kSwShow == SW_SHOW, "show commands");
static_assert(host::kCbnSelChange == CBN_SELCHANGE && host::kCbErr == CB_ERR, "combo box");
static_assert(host::kGenericRead == GENERIC_READ && host::kGenericWrite == GENERIC_WRITE &&
                  host::kFileShareRead == FILE_SHARE_READ &&
                  host::kFileShareWrite == FILE_SHARE_WRITE, "access and sharing");
static_assert(host::kCreateNew == CREATE_NEW && host::kCreateAlways == CREATE_ALWAYS &&
                  host::kOpenExisting == OPEN_EXISTING, "dispositions");
static_assert(host::kFileFlagNoBuffering == FILE_FLAG_NO_BUFFERING &&
                  host::kFileFlagWriteThrough == FILE_FLAG_WRITE_THROUGH, "file flags");
// The byte layout that the logic decodes.
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == 48 &&
                  sizeof(PARTITION_INFORMATION_EX) == 144 &&
                  offsetof(PARTITION_INFORMATION_EX, StartingOffset) == 8 &&
                  offsetof(PARTITION_INFORMATION_EX, PartitionNumber) == 24 &&
                  offsetof(PARTITION_INFORMATION_EX, Mbr.PartitionType) == 32 &&
                  offsetof(PARTITION_INFORMATION_EX, Mbr.HiddenSectors) == 36,
              "drive layout");
static_assert(host::kDriveRemovable == DRIVE_REMOVABLE && host::kDriveFixed == DRIVE_FIXED,
              "drive types");
static_assert(host::kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES &&
                  host::kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY, "attributes");
static_assert(host::kFileDeviceDisk == FILE_DEVICE_DISK, "device type");
static_assert(host::kFoMove == FO_MOVE && host::kFoCopy == FO_COPY &&
                  host::kFofNoConfirmation == FOF_NOCONFIRMATION &&
                  host::kFofNoErrorUi == FOF_NOERRORUI, "shell file operations");
static_assert(host::kWmInitDialog == WM_INITDIALOG && host::kWmCommand == WM_COMMAND &&
                  host::kBstUnchecked == BST_UNCHECKED && host::kBstChecked == BST_CHECKED &&
                  host::kIdDialogOk == IDOK && host::kIdDialogCancel == IDCANCEL, "dialogs");
static_assert(host::kRegSz == REG_SZ && host::kRegExpandSz == REG_EXPAND_SZ &&
                  host::kRegBinary == REG_BINARY && host::kKeyRead == KEY_READ &&
                  host::kKeyWrite == KEY_WRITE && host::kErrorSuccess == ERROR_SUCCESS, "registry");
static_assert(host::kBifReturnOnlyFsDirs == BIF_RETURNONLYFSDIRS &&
                  host::kBffmInitialized == BFFM_INITIALIZED, "folder browser");
