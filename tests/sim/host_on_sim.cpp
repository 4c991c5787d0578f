// host.h implemented on the simulated machine of the running test.
#include "host/host.h"
#include "sim_host.h"

namespace host {
namespace {
sim::Machine& M() { return sim::Machine::Current(); }
}  // namespace

int MessageBox(const char* text, const char* caption, unsigned flags) {
  return M().MessageBox(text, caption, flags);
}
int LoadString(unsigned id, char* buffer, int bufferSize) {
  return M().LoadString(id, buffer, bufferSize);
}
void ShowControl(int controlId, int showCommand) { M().ShowControl(controlId, showCommand); }
void SetControlText(int controlId, const char* text) { M().SetControlText(controlId, text); }
void ComboReset(int controlId) { M().ComboReset(controlId); }
void ComboAddString(int controlId, const char* text) { M().ComboAddString(controlId, text); }
void ComboSetCurSel(int controlId, int index) { M().ComboSetCurSel(controlId, index); }
int ComboGetCurSel(int controlId) { return M().ComboGetCurSel(controlId); }
bool ComboGetText(int controlId, int index, std::string& text) {
  return M().ComboGetText(controlId, index, text);
}
void SetTimer(unsigned timerId, unsigned milliseconds) { M().SetTimer(timerId, milliseconds); }
void KillTimer(unsigned timerId) { M().KillTimer(timerId); }
void SendCommand(unsigned commandId, unsigned notifyCode) { M().SendCommand(commandId, notifyCode); }
void PostCommand(unsigned commandId, unsigned notifyCode) { M().PostCommand(commandId, notifyCode); }
void SendClose() { M().SendClose(); }
void BringMainWindowToFront() { M().BringMainWindowToFront(); }
bool EnableMainWindow(bool enable) { return M().EnableMainWindow(enable); }
void DispatchPendingMessages() { M().DispatchPendingMessages(); }
// Windows, which the machine models, has no stop request.
bool StopRequested() { return false; }
std::uint64_t GetSystemTimeAsFileTime() { return M().GetSystemTimeAsFileTime(); }
void PostQuit(int exitCode) { M().PostQuit(exitCode); }
std::intptr_t RunDialog(const char* templateName) { return M().RunDialog(templateName); }
std::intptr_t ShellOpen(const char* path) { return M().ShellOpen(path); }
Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                  std::uint32_t disposition, std::uint32_t flags) {
  return M().CreateFile(path, access, share, disposition, flags);
}
void CloseHandle(Handle handle) { M().CloseHandle(handle); }
bool GetFileSize(Handle handle, std::uint64_t& size) { return M().GetFileSize(handle, size); }
bool ReadAt(Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
            std::uint32_t& transferred) {
  return M().ReadAt(handle, offset, buffer, size, transferred);
}
bool WriteAt(Handle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
             std::uint32_t& transferred) {
  return M().WriteAt(handle, offset, buffer, size, transferred);
}
bool QueryDeviceNumber(Handle handle, StorageDeviceNumber& number) {
  return M().QueryDeviceNumber(handle, number);
}
bool QueryDriveGeometryEx(Handle handle, void* buffer, std::uint32_t size) {
  return M().QueryDriveGeometryEx(handle, buffer, size);
}
bool QueryDriveGeometry(Handle handle, void* buffer, std::uint32_t size) {
  return M().QueryDriveGeometry(handle, buffer, size);
}
bool QueryDriveLayoutEx(Handle handle, void* buffer, std::uint32_t size) {
  return M().QueryDriveLayoutEx(handle, buffer, size);
}
bool EjectMedia(Handle handle) { return M().EjectMedia(handle); }
bool QueryLength(Handle handle, std::uint64_t& length) { return M().QueryLength(handle, length); }
bool LockVolume(Handle volume) { return M().LockVolume(volume); }
bool DismountVolume(Handle volume) { return M().DismountVolume(volume); }
bool QueryMediaChangeCount(Handle drive, std::uint32_t& count) { return M().QueryMediaChangeCount(drive, count); }
bool QueryStorageSerialNumber(Handle drive, std::string& serial) { return M().QueryStorageSerialNumber(drive, serial); }
bool QueryStorageDeviceIds(Handle drive, std::string& vendor, std::string& product) {
  return M().QueryStorageDeviceIds(drive, vendor, product);
}
bool GetDiskFreeSpace(const char* root, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
  return M().GetDiskFreeSpace(root, totalBytes, freeBytes);
}
bool GetVolumeInformation(const char* root, std::string& label, std::string& fileSystem) {
  return M().GetVolumeInformation(root, label, fileSystem);
}
bool UpdateDiskProperties(Handle drive) { return M().UpdateDiskProperties(drive); }
bool AllowExtendedDasdIo(Handle volume) { return M().AllowExtendedDasdIo(volume); }
std::string GetComputerName() { return M().GetComputerName(); }
bool QueryPartitionInfo(Handle volume, PartitionInfo& info) {
  return M().QueryPartitionInfo(volume, info);
}
bool QueryVolumeDiskNumbers(Handle volume, std::vector<std::uint32_t>& diskNumbers) {
  return M().QueryVolumeDiskNumbers(volume, diskNumbers);
}
bool FlushFileBuffers(Handle handle) { return M().FlushFileBuffers(handle); }
unsigned GetDriveType(const char* root) { return M().GetDriveType(root); }
bool GetDiskTotalBytes(const char* root, std::uint64_t& totalBytes) {
  return M().GetDiskTotalBytes(root, totalBytes);
}
std::uint32_t GetFileAttributes(const char* path) { return M().GetFileAttributes(path); }
std::string GetSystemWindowsDirectory() { return M().GetSystemWindowsDirectory(); }
std::intptr_t RunDialog(const char* templateName, DialogProcedure procedure) {
  return M().RunDialog(templateName, procedure);
}
void EndDialog(DialogWindow dialog, std::intptr_t result) { M().EndDialog(dialog, result); }
void CheckRadioButton(DialogWindow dialog, int firstId, int lastId, int checkId) {
  M().CheckRadioButton(dialog, firstId, lastId, checkId);
}
unsigned IsDlgButtonChecked(DialogWindow dialog, int id) { return M().IsDlgButtonChecked(dialog, id); }
void CheckDlgButton(DialogWindow dialog, int id, unsigned check) {
  M().CheckDlgButton(dialog, id, check);
}
void SetDlgItemText(DialogWindow dialog, int id, const char* text) {
  M().SetDlgItemText(dialog, id, text);
}
std::string GetDlgItemText(DialogWindow dialog, int id, int bufferSize) {
  return M().GetDlgItemText(dialog, id, bufferSize);
}
std::string GetSystemDirectory() { return M().GetSystemDirectory(); }
void LimitDlgItemText(DialogWindow dialog, int id, int maximumCharacters) {
  M().LimitDlgItemText(dialog, id, maximumCharacters);
}
ItemList BrowseForFolder(DialogWindow owner, const char* title, unsigned flags, BrowseCallback callback) {
  return M().BrowseForFolder(owner, title, flags, callback);
}
bool PathFromItemList(ItemList list, std::string& path) { return M().PathFromItemList(list, path); }
void FreeItemList(ItemList list) { M().FreeItemList(list); }
void BrowserSetSelection(DialogWindow browser, const char* path) { M().BrowserSetSelection(browser, path); }
long RegCreateKey(const char* subkey, std::uint32_t access, RegistryKey& key) {
  return M().RegCreateKey(subkey, access, key);
}
long RegOpenKey(const char* subkey, std::uint32_t access, RegistryKey& key) {
  return M().RegOpenKey(subkey, access, key);
}
long RegSetValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                 std::uint32_t size) {
  return M().RegSetValue(key, name, type, data, size);
}
long RegQueryValue(RegistryKey key, const char* name, std::uint32_t& type, void* data,
                   std::uint32_t& size) {
  return M().RegQueryValue(key, name, type, data, size);
}
void RegCloseKey(RegistryKey key) { M().RegCloseKey(key); }
std::string ExpandEnvironmentStrings(const char* text) { return M().ExpandEnvironmentStrings(text); }
std::string GetTempPath() { return M().GetTempPath(); }
bool CreateDirectoryEx(const char* templateFolder, const char* newFolder) {
  return M().CreateDirectoryEx(templateFolder, newFolder);
}
bool CreateDirectory(const char* path) { return M().CreateDirectory(path); }
bool IsDBCSLeadByte(unsigned char byte) { return M().IsDBCSLeadByte(byte); }
bool RunProcessAndWait(const char* applicationName, const char* commandLine,
                       std::uint32_t& exitCode) {
  return M().RunProcessAndWait(applicationName, commandLine, exitCode);
}
int ShellFileOperation(FileOperation& operation) { return M().ShellFileOperation(operation); }
void SetDlgItemFocus(DialogWindow dialog, int id) { M().SetDlgItemFocus(dialog, id); }
int DialogMessageBox(DialogWindow owner, const char* text, const char* caption, unsigned flags) {
  return M().DialogMessageBox(owner, text, caption, flags);
}
bool BeginClosingDrivePrompts(const std::string& letters) { return M().BeginClosingDrivePrompts(letters); }
void EndClosingDrivePrompts() { M().EndClosingDrivePrompts(); }

}  // namespace host
