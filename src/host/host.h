// The one seam between the program's logic and the operating system.
//
// Every primitive is shaped after the Win32 call it stands for and is kept as
// thin as that call, so that all of the program's behaviour lives in the
// portable logic above it. There is one main window; the primitives that act
// on a window act on it.
//
// Three implementations exist: src/win32 (the product on Windows),
// src/linux (the program on Linux's block devices and image files) and
// tests/sim (a simulated PC with card readers, used by the logic tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// ---- Constants with the values of their Win32 namesakes ----------------

// Message box flags and results.
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbYesNoCancel = 0x3;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconWarning = 0x30;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// ShowWindow commands.
constexpr int kSwHide = 0;
constexpr int kSwShow = 5;
constexpr int kSwShowNormal = 1;

// Combo box notification and error result.
constexpr unsigned kCbnSelChange = 1;
constexpr int kCbErr = -1;

// CreateFile access, sharing and dispositions.
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
// Enough for the queries that must not touch the medium.
constexpr std::uint32_t kFileReadAttributes = 0x80;
constexpr std::uint32_t kFileShareRead = 0x1;
constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kCreateNew = 1;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
// CreateFile flags: past the system's cache, for reading back what was written.
constexpr std::uint32_t kFileFlagNoBuffering = 0x20000000u;
constexpr std::uint32_t kFileFlagWriteThrough = 0x80000000u;

// GetDriveTypeA results.
constexpr unsigned kDriveUnknown = 0;
constexpr unsigned kDriveNoRootDir = 1;
constexpr unsigned kDriveRemovable = 2;
constexpr unsigned kDriveFixed = 3;

// File attributes.
constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr std::uint32_t kFileAttributeDirectory = 0x10;
constexpr std::uint32_t kFileAttributeArchive = 0x20;

// STORAGE_DEVICE_NUMBER.DeviceType of a disk.
constexpr std::uint32_t kFileDeviceDisk = 0x7;

// Shell file operations (SHFILEOPSTRUCTA.wFunc and fFlags).
constexpr unsigned kFoMove = 0x1;
constexpr unsigned kFoCopy = 0x2;
constexpr unsigned kFofNoConfirmation = 0x10;
constexpr unsigned kFofNoErrorUi = 0x400;

// Registry value types, access rights and results.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyWrite = 0x20006;
constexpr long kErrorSuccess = 0;

// The folder browser.
constexpr unsigned kBifReturnOnlyFsDirs = 0x1;
constexpr unsigned kBffmInitialized = 1;

// Dialog messages, button states and ids.
constexpr unsigned kWmInitDialog = 0x110;
constexpr unsigned kWmCommand = 0x111;
constexpr unsigned kBstUnchecked = 0;
constexpr unsigned kBstChecked = 1;
constexpr int kIdDialogOk = 1;
constexpr int kIdDialogCancel = 2;

// ---- Handles ------------------------------------------------------------

// A file or device handle; kInvalidHandle is INVALID_HANDLE_VALUE.
using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// ---- Window, controls, timer, commands ----------------------------------

// MessageBoxA on the main window; returns the button that closed it.
int MessageBox(const char* text, const char* caption, unsigned flags);

// LoadStringA from the program's own module; stores an empty text and
// returns 0 for an id without an entry.
int LoadString(unsigned id, char* buffer, int bufferSize);

// ShowWindow(GetDlgItem(main window, id), command).
void ShowControl(int controlId, int showCommand);
// SetDlgItemTextA on the main window.
void SetControlText(int controlId, const char* text);

// The drive combo box (CB_RESETCONTENT, CB_ADDSTRING, CB_SETCURSEL,
// CB_GETCURSEL, CB_GETLBTEXT through SendDlgItemMessageA).
void ComboReset(int controlId);
void ComboAddString(int controlId, const char* text);
void ComboSetCurSel(int controlId, int index);
int ComboGetCurSel(int controlId);                    // kCbErr when none
bool ComboGetText(int controlId, int index, std::string& text);

// SetTimer / KillTimer on the main window, no timer procedure.
void SetTimer(unsigned timerId, unsigned milliseconds);
void KillTimer(unsigned timerId);

// SendMessageA / PostMessageA of WM_COMMAND to the main window, the first
// parameter made of the command id and the notification code.
void SendCommand(unsigned commandId, unsigned notifyCode = 0);
void PostCommand(unsigned commandId, unsigned notifyCode = 0);

// SetForegroundWindow(main window).
void BringMainWindowToFront();
// EnableWindow(main window, enable): disabled, it repaints but takes no
// input. True when it was disabled before.
bool EnableMainWindow(bool enable);
// PeekMessageA with PM_REMOVE, TranslateMessage and DispatchMessageA until the
// queue is empty, so that the window stays alive during a long write.
void DispatchPendingMessages();
// True once the program has been asked to stop the command in hand: the step
// in hand ends, and no later step writes anything to a card. On Linux:
// Ctrl-C, SIGTERM or SIGHUP. The window on Windows takes no input while a
// command runs and knows no such request: always false there.
bool StopRequested();

// SendMessageA(main window, WM_CLOSE, 0, 0).
void SendClose();
// PostQuitMessage.
void PostQuit(int exitCode);

// DialogBoxParamA with the program's instance and the named template, owned
// by the main window; returns the dialog's result, -1 when it could not run.
std::intptr_t RunDialog(const char* templateName);

// ---- Dialogs whose procedure is the program's logic ----------------------

// A dialog window (HWND).
using DialogWindow = std::intptr_t;
// Shaped like DLGPROC: nonzero when the message was handled.
using DialogProcedure = std::intptr_t (*)(DialogWindow dialog, unsigned message,
                                          std::uintptr_t wParam, std::intptr_t lParam);

// DialogBoxParamA as above, with this procedure; -1 when it could not run.
std::intptr_t RunDialog(const char* templateName, DialogProcedure procedure);
void EndDialog(DialogWindow dialog, std::intptr_t result);
void CheckRadioButton(DialogWindow dialog, int firstId, int lastId, int checkId);
unsigned IsDlgButtonChecked(DialogWindow dialog, int id);
void CheckDlgButton(DialogWindow dialog, int id, unsigned check);
void SetDlgItemText(DialogWindow dialog, int id, const char* text);
// GetDlgItemTextA into a buffer of bufferSize bytes.
std::string GetDlgItemText(DialogWindow dialog, int id, int bufferSize);
// EM_LIMITTEXT to an edit box of a dialog.
void LimitDlgItemText(DialogWindow dialog, int id, int maximumCharacters);

// ---- The folder browser --------------------------------------------------

// An item list (PCIDLIST_ABSOLUTE); 0 for none.
using ItemList = std::intptr_t;
// Shaped like BFFCALLBACK: the browser window, the message, its parameter
// and the caller's data.
using BrowseCallback = int (*)(DialogWindow browser, unsigned message, std::intptr_t lParam,
                               std::intptr_t data);

// SHBrowseForFolderA with a BROWSEINFOA of this owner, title, flags and
// callback, the desktop as root and no display name; 0 when cancelled.
ItemList BrowseForFolder(DialogWindow owner, const char* title, unsigned flags,
                         BrowseCallback callback);
// SHGetPathFromIDListA; false when the list names no file system folder.
bool PathFromItemList(ItemList list, std::string& path);
// CoTaskMemFree.
void FreeItemList(ItemList list);
// SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, path).
void BrowserSetSelection(DialogWindow browser, const char* path);

// ---- The registry under HKEY_CURRENT_USER ----------------------------------

using RegistryKey = std::intptr_t;

// RegCreateKeyExA(HKEY_CURRENT_USER, subkey, 0, no class, options 0, access,
// no security); a Win32 error code, 0 on success.
long RegCreateKey(const char* subkey, std::uint32_t access, RegistryKey& key);
// RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, access).
long RegOpenKey(const char* subkey, std::uint32_t access, RegistryKey& key);
// RegSetValueExA.
long RegSetValue(RegistryKey key, const char* name, std::uint32_t type, const void* data,
                 std::uint32_t size);
// RegQueryValueExA: size holds the buffer's size and receives the data's.
long RegQueryValue(RegistryKey key, const char* name, std::uint32_t& type, void* data,
                   std::uint32_t& size);
void RegCloseKey(RegistryKey key);
// ExpandEnvironmentStringsA; empty on failure.
std::string ExpandEnvironmentStrings(const char* text);

// ShellExecuteA(no window, "open", path, no parameters, no directory,
// SW_SHOWNORMAL); returns its result as an integer.
std::intptr_t ShellOpen(const char* path);

// ---- Files and devices ---------------------------------------------------

// CreateFileA(path, access, share, no security, disposition, flags, no
// template).
Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                  std::uint32_t disposition, std::uint32_t flags = 0);
void CloseHandle(Handle handle);
// GetFileSizeEx.
bool GetFileSize(Handle handle, std::uint64_t& size);

// SetFilePointerEx(handle, offset, FILE_BEGIN), then ReadFile or WriteFile of
// size bytes, not overlapped. Returns the result of ReadFile or WriteFile;
// transferred receives the byte count it reported. On a device the offset,
// the size and the buffer's address are whole sectors.
bool ReadAt(Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
            std::uint32_t& transferred);
bool WriteAt(Handle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
             std::uint32_t& transferred);

// STORAGE_DEVICE_NUMBER.
struct StorageDeviceNumber {
  std::uint32_t deviceType = 0;
  std::uint32_t deviceNumber = 0;
  std::uint32_t partitionNumber = 0;
};

// DeviceIoControl queries, no input, not overlapped. The geometry and
// layout answers are written into the caller's buffer in the byte layout of
// DISK_GEOMETRY, DISK_GEOMETRY_EX and DRIVE_LAYOUT_INFORMATION.
bool QueryDeviceNumber(Handle handle, StorageDeviceNumber& number);
bool QueryDriveGeometryEx(Handle handle, void* buffer, std::uint32_t size);
bool QueryDriveGeometry(Handle handle, void* buffer, std::uint32_t size);
// IOCTL_DISK_GET_DRIVE_LAYOUT_EX, in the byte layout of
// DRIVE_LAYOUT_INFORMATION_EX.
bool QueryDriveLayoutEx(Handle handle, void* buffer, std::uint32_t size);
bool EjectMedia(Handle handle);
// IOCTL_DISK_GET_LENGTH_INFO: the length in bytes of a disk or a volume.
bool QueryLength(Handle handle, std::uint64_t& length);

// FSCTL_LOCK_VOLUME and FSCTL_DISMOUNT_VOLUME on a volume handle: both last
// until the handle is closed. A dismount without the lock lasts only until
// anyone touches the volume again.
bool LockVolume(Handle volume);
bool DismountVolume(Handle volume);

// ---- What tells a card apart, and what the system must be told ----------

// IOCTL_STORAGE_CHECK_VERIFY2 on a disk opened with FILE_READ_ATTRIBUTES:
// how many times its medium has changed since its driver started. False
// when the reader gives no count.
bool QueryMediaChangeCount(Handle drive, std::uint32_t& count);
// IOCTL_STORAGE_QUERY_PROPERTY (StorageDeviceProperty, standard query) on a
// disk opened with FILE_READ_ATTRIBUTES: the device's serial number. An SD
// host tells the card's own; a USB reader its own, or none. False when the
// device tells none.
bool QueryStorageSerialNumber(Handle drive, std::string& serial);
// IOCTL_STORAGE_QUERY_PROPERTY as above: the vendor and product ids the
// device tells (a USB reader its own, an SD host the card's), padded as it
// gives them; an id it does not tell is empty. False when the query fails.
bool QueryStorageDeviceIds(Handle drive, std::string& vendor, std::string& product);
// IOCTL_DISK_UPDATE_PROPERTIES on a disk: the system reads its table again.
bool UpdateDiskProperties(Handle drive);
// FSCTL_ALLOW_EXTENDED_DASD_IO on a volume handle: it may reach the
// volume's last sectors too, which the file system keeps out of reach.
bool AllowExtendedDasdIo(Handle volume);

// PARTITION_INFORMATION_EX of a volume: where it starts on its disk.
struct PartitionInfo {
  std::int64_t startingOffset = 0;
  std::int64_t partitionLength = 0;
};
// IOCTL_DISK_GET_PARTITION_INFO_EX.
bool QueryPartitionInfo(Handle volume, PartitionInfo& info);
// IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: the disk of every extent of a volume.
bool QueryVolumeDiskNumbers(Handle volume, std::vector<std::uint32_t>& diskNumbers);
// FlushFileBuffers.
bool FlushFileBuffers(Handle handle);

// GetDriveTypeA of a root such as "E:\".
unsigned GetDriveType(const char* root);
// GetDiskFreeSpaceExA: the total number of bytes of the volume.
bool GetDiskTotalBytes(const char* root, std::uint64_t& totalBytes);
// GetDiskFreeSpaceExA: the bytes of the volume's clusters, and of those
// free.
bool GetDiskFreeSpace(const char* root, std::uint64_t& totalBytes, std::uint64_t& freeBytes);
// GetVolumeInformationA of a root such as "E:\": the volume's label and its
// file system's name ("FAT", "FAT32", "NTFS", "exFAT"). False for a volume
// without a file system the system reads.
bool GetVolumeInformation(const char* root, std::string& label, std::string& fileSystem);
// GetFileAttributesA.
std::uint32_t GetFileAttributes(const char* path);
// GetSystemWindowsDirectoryA, right under Remote Desktop too; empty on failure.
std::string GetSystemWindowsDirectory();
// GetSystemDirectoryA; empty on failure.
std::string GetSystemDirectory();
// GetTempPathA; empty on failure.
std::string GetTempPath();
// CreateDirectoryExA(templateFolder, newFolder, no security).
bool CreateDirectoryEx(const char* templateFolder, const char* newFolder);
// CreateDirectoryA(path, no security).
bool CreateDirectory(const char* path);
// IsDBCSLeadByte: a lead byte of the system's ANSI code page.
bool IsDBCSLeadByte(unsigned char byte);
// GetComputerNameA: this PC's NetBIOS name; empty on failure.
std::string GetComputerName();
// GetSystemTimeAsFileTime, as one number of 100 ns ticks.
std::uint64_t GetSystemTimeAsFileTime();

// ---- Processes -----------------------------------------------------------

// CreateProcessA(applicationName, a copy of commandLine, no security, no
// inheritance, no flags, own environment and folder, a STARTUPINFOA with
// STARTF_USESHOWWINDOW and SW_SHOWNORMAL), then MsgWaitForMultipleObjects
// while taking the thread's messages, with the main window disabled meanwhile
// (enabled again only if it was enabled before), GetExitCodeProcess and both
// handles closed. False when it did not start.
bool RunProcessAndWait(const char* applicationName, const char* commandLine,
                       std::uint32_t& exitCode);

// ---- Shell file operations -----------------------------------------------

// The fields of SHFILEOPSTRUCTA that the program sets; the owner is the main
// window, the name mappings and the progress title are left zero.
struct FileOperation {
  unsigned function = 0;
  const char* from = nullptr;  // a list of paths ended by two NULs
  const char* to = nullptr;    // likewise
  unsigned flags = 0;
  bool anyOperationsAborted = false;  // set by the call
};

// SHFileOperationA; 0 on success.
int ShellFileOperation(FileOperation& operation);

// ---- A dialog's focus, and a box over a dialog ------------------------------

// SetFocus(GetDlgItem(dialog, id)), the way a dialog takes it: WM_NEXTDLGCTL,
// posted, so that it follows a box that is closing, keeps the default
// button right and selects an edit box's text.
void SetDlgItemFocus(DialogWindow dialog, int id);
// MessageBoxA owned by the dialog, which takes no input while the box is up.
int DialogMessageBox(DialogWindow owner, const char* text, const char* caption, unsigned flags);

// ---- The system's own prompts on the card's drives --------------------------

// After a new table Windows offers to format every new raw partition ("You
// need to format the disk in drive F: before you can use it"), and AutoPlay
// may open a window on the card: one click there formats or opens behind the
// program's back. From Begin to End the program closes such a dialog of the
// system (posted WM_CLOSE, its Cancel) when its text names one of these drive
// letters, seen through SetWinEventHook (out of context, windows shown), and
// its own windows answer the registered "QueryCancelAutoPlay" message with
// TRUE. False when the hook could not be set. A system without such prompts
// does nothing.
bool BeginClosingDrivePrompts(const std::string& letters);
// UnhookWinEvent; AutoPlay is no longer refused.
void EndClosingDrivePrompts();

}  // namespace host
