// A simulated Windows PC for the logic tests: a fixed drive C: (a folder),
// card readers at chosen letters, cards as disk image files, the main window's
// controls, its timer and message queue, and scripted answers for every
// message box and dialog. Every call the logic makes is recorded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"
#include "linux/volume_facts.h"
#include "linux/card_files.h"
#include "linux/dialog.h"
#include "linux/disk_layout.h"

namespace sim {

using linuxhost::LayoutEntry;

// The Windows the simulated PC runs. Since Windows 10 version 1703 every
// partition of a removable card has a letter of its own; before, only the
// first one showed, under the reader's letter.
enum class Windows { Win10, Win7 };

struct CardFaults {
  bool locked = false;             // write-protect switch: reads work, writes fail
  bool readFails = false;          // every sector read fails
  bool writeFails = false;         // every sector write fails
  bool shortTransfer = false;      // reads and writes succeed but move 511 bytes
  bool shortWrites = false;        // the same, writes only
  bool deviceNumberFails = false;  // IOCTL_STORAGE_GET_DEVICE_NUMBER
  bool geometryExFails = false;
  bool geometryFails = false;
  bool layoutFails = false;
  bool physicalRefused = false;    // no administrator rights
  // The first read-only open of the physical drive after the card's volume
  // was flushed fails (the eject's).
  bool refusesOpenAfterFlush = false;
  bool volumeRefused = false;      // the volume device does not open
  bool volumeReadsFail = false;    // reads through the volume device fail
  bool totalBytesFails = false;    // GetDiskFreeSpaceExA
  bool dropsWrites = false;        // writes report success and change nothing
  bool zeroBytesPerSector = false;  // both geometry answers say 0 bytes a sector
  bool uncountedMedia = false;      // the reader's count of media changes never moves
  bool firstSectorGuarded = false;  // security software refuses writes to the disk's sector 0
  int writesBeforePull = 0;        // the card leaves its reader after so many more writes
  int writesBeforeReadsFail = 0;   // every read fails after so many more writes
  bool losesAtFlush = false;       // the reader answers writes from its memory, lost at a flush
  bool flushFails = false;         // FlushFileBuffers fails (the card refuses what was cached)
  // A reader that loses a file's data ("LYRE/LYRE.CFG"): its copy onto the
  // card leaves zeros, or, corrupted, a byte changed, or, lengthened, the
  // bytes of an older, longer file behind it.
  std::string damagedFile;
  bool corrupts = false;
  bool lengthens = false;
};

// A card: a sparse disk image file.
struct Card {
  std::string imagePath;
  std::uint64_t sizeBytes = 0;
  std::uint32_t deviceNumber = 1;
  std::uint32_t deviceType = host::kFileDeviceDisk;
  std::uint32_t bytesPerSector = 512;  // what the geometry answers say
  // A counterfeit card's real flash: what lies beyond it wraps onto it, or
  // a write there is lost or lands on the first sector (a read finds what
  // is there).
  std::uint64_t flashBytes = 0;
  enum class Beyond { Wraps, Lost, OnFirstSector } beyond = Beyond::Wraps;
  CardFaults faults;
  // GetDiskFreeSpaceExA's total; when 0 it comes from the volume's BPB.
  std::uint64_t volumeTotalBytes = 0;
  mutable std::uint64_t writes = 0;  // through Write
  std::string serial;  // the card's own, as an SD host tells it; none in a USB reader
  std::string vendor;   // the ids the storage property query tells
  std::string product;

  // Byte access to the image, for tests.
  std::vector<std::uint8_t> Read(std::uint64_t offset, std::size_t size) const;
  void Write(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) const;
  std::vector<std::uint8_t> Sector(std::uint64_t lba) const { return Read(lba * 512, 512); }
  void WriteSector(std::uint64_t lba, const std::vector<std::uint8_t>& bytes) const {
    Write(lba * 512, bytes);
  }
};

// A dialog the program runs with its own procedure, as the user sees it.
using SimDialog = linuxhost::Dialog;
class Machine;

// Faults of one shell file operation, by its number in the run (1, 2, ...).
enum class ShellFault {
  Fails,      // the shell reports an error (a full card, say)
  Aborted,    // the user cancels: result 0, fAnyOperationsAborted set
  CardPulled  // the card leaves its reader during the operation
};

struct ShellCall {
  unsigned function = 0;
  std::string from;
  std::string to;
  unsigned flags = 0;
  int result = 0;
};

struct RegistryValue {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct MessageBoxCall {
  std::string text;
  std::string caption;
  unsigned flags = 0;
};

struct ScriptedBox {
  std::string caption;
  std::string text;
  int answer = host::kIdOk;
  std::function<void()> beforeAnswer;  // what the user does while the box is up
};

class Machine {
 public:
  Machine();
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  static Machine& Current();

  // ---- The PC ----
  // The host path of a Windows path on C: (C:\DUMP.BIN -> <tmp>/C/DUMP.BIN).
  std::string PcPath(const std::string& windowsPath) const;
  void WritePcFile(const std::string& windowsPath, const std::string& content) const;
  void MakePcFolder(const std::string& windowsPath) const;
  std::map<std::string, std::string> PcFiles() const;  // host path -> content, of every PC drive
  bool systemDiskUnknown = false;  // the system volume answers neither query below
  // IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS of the system volume; when empty it
  // fails and the device number (disk 0) is what tells the system disk.
  std::vector<std::uint32_t> systemDiskExtents = {0};
  // format.com in the system folder: missing (does not start), or failing.
  bool formatMissing = false;
  std::uint32_t formatExitCode = 0;  // used when not 0, without formatting
  int formatRunsBeforeExitCode = 0;   // so many runs format before it applies
  std::function<void()> afterFormat;  // what the user does as format.com ends
  bool formatTakesLargeFat32 = false;  // the newer builds' 2 TiB, not 32 GiB
  std::map<int, ShellFault> shellFaults;
  std::function<void(const ShellCall&)> duringShell;  // what else happens while the shell works
  // The shell's own question before it replaces a file (fFlags without
  // FOF_NOCONFIRMATION): IDYES, IDNO or IDCANCEL, in turn.
  std::deque<int> replaceAnswers;
  // The current user's registry: key path -> value name -> value.
  std::map<std::string, std::map<std::string, RegistryValue>> registry;
  bool registryFails = false;  // keys can be neither created nor opened
  unsigned codePage = 1252;    // the system's ANSI code page: 1252 or 932
  bool browsePathFails = false;  // SHGetPathFromIDListA fails
  const std::vector<ShellCall>& ShellCalls() const { return shellCalls_; }
  int systemDiskWrites = 0;        // attempts to write the system disk: must stay 0
  bool pcWritesFail = false;       // writes to files on the PC fail (a full disk)

  // ---- Readers and cards ----
  Windows windows = Windows::Win10;
  // Where Windows keeps the letters it gave: (disk signature, first sector)
  // of a partition -> its letter. A test may change it.
  std::map<std::pair<std::uint32_t, std::uint64_t>, char> mountedDevices;
  // Letters with a file or a window open on them: they cannot be locked.
  std::set<char> busyVolumes;
  // Bytes moved through the card's devices.
  std::uint64_t deviceBytesRead = 0;
  std::uint64_t deviceBytesWritten = 0;
  int requestsBeyondEnd = 0;  // past the end of the card or volume asked: failed, and never wanted
  void AddReader(char letter);
  std::shared_ptr<Card> NewCard(std::uint64_t sizeBytes, std::uint32_t deviceNumber);
  // The volume and the layout are taken from the table as it stands now.
  void Insert(char letter, std::shared_ptr<Card> card);
  void Remove(char letter);
  void Reinsert(char letter);  // remove, then insert the same card again
  bool Ejected(char letter) const;
  std::shared_ptr<Card> CardIn(char letter) const;
  // The volume a letter shows: where on its card it starts, and its length.
  std::uint64_t VolumeOffset(char letter) const;
  std::uint64_t VolumeLength(char letter) const;
  // Puts a FAT file system on a byte range of a card with mkfs.fat.
  static void Format(const Card& card, std::uint64_t firstSector, std::uint64_t sectorCount,
                     int fatBits);
  // Files in the root of the FAT volume of the card at this letter (mtools).
  bool CardFileExists(char letter, const std::string& name) const;
  // With succeeded given, a file system mtools cannot read fails no test.
  std::string CardFileContent(char letter, const std::string& name, bool* succeeded = nullptr) const;
  void PutCardFile(char letter, const std::string& name, const std::string& content,
                   bool* succeeded = nullptr) const;

  // ---- The main window ----
  // WM_CREATE, as the window's creation delivers it.
  void Create();
  // One turn of the message loop: the posted commands first, then a timer tick
  // when the timer runs.
  void Tick();
  void RunPosted();
  bool Visible(int controlId) const;
  std::string Text(int controlId) const;
  const std::vector<std::string>& ComboEntries() const { return comboEntries_; }
  int ComboSelection() const { return comboSelection_; }
  void SelectComboEntry(int index);  // the user picks an entry: CBN_SELCHANGE follows
  bool TimerRunning() const { return timerRunning_; }
  bool QuitPosted() const { return quitPosted_; }

  // ---- Scripts and records ----
  // What no script expects is given to these, when set, rather than failing.
  std::function<int(const MessageBoxCall&)> answerAnyBox;
  // The box that names the card before a command erases it: the user
  // answers Yes where no script expects it (logged, not among Boxes()).
  bool cardAtStakeConfirmed = true;
  std::function<void(SimDialog&)> answerAnyDialog;
  void ExpectBox(const std::string& caption, const std::string& text, int answer,
                 std::function<void()> beforeAnswer = {});
  void ExpectDialog(const std::string& name, std::intptr_t result);
  // The folder browser: user sees the folder the program preselected and
  // answers with the folder chosen, or "" to cancel.
  void ExpectBrowse(std::function<std::string(const std::string& selected)> user);
  // A dialog with the program's procedure: user acts on it once it is up;
  // without a user the dialog cannot be shown (DialogBoxParamA gives -1).
  void ExpectDialog(const std::string& name, std::function<void(SimDialog&)> user);
  const std::vector<MessageBoxCall>& Boxes() const { return boxes_; }
  // Every call in order, one line each ("send 205", "timer start", ...).
  const std::vector<std::string>& Log() const { return log_; }
  std::vector<std::string> LogMatching(const std::string& prefix) const;
  void ClearRecords();
  int Calls(const std::string& primitive) const;
  std::size_t OpenHandles() const { return handles_.size(); }

  // ---- The host primitives (called through host.h) ----
  int MessageBox(const char* text, const char* caption, unsigned flags);
  int LoadString(unsigned id, char* buffer, int bufferSize);
  void ShowControl(int controlId, int showCommand);
  void SetControlText(int controlId, const char* text);
  void ComboReset(int controlId);
  void ComboAddString(int controlId, const char* text);
  void ComboSetCurSel(int controlId, int index);
  int ComboGetCurSel(int controlId);
  bool ComboGetText(int controlId, int index, std::string& text);
  void SetTimer(unsigned timerId, unsigned milliseconds);
  void KillTimer(unsigned timerId);
  void SendCommand(unsigned commandId, unsigned notifyCode);
  void PostCommand(unsigned commandId, unsigned notifyCode);
  void SendClose();
  void BringMainWindowToFront();
  bool EnableMainWindow(bool enable);
  void DispatchPendingMessages();
  std::uint64_t GetSystemTimeAsFileTime();
  void PostQuit(int exitCode);
  std::intptr_t RunDialog(const char* templateName);
  std::intptr_t RunDialog(const char* templateName, host::DialogProcedure procedure);
  void EndDialog(host::DialogWindow dialog, std::intptr_t result);
  void CheckRadioButton(host::DialogWindow dialog, int firstId, int lastId, int checkId);
  unsigned IsDlgButtonChecked(host::DialogWindow dialog, int id);
  void CheckDlgButton(host::DialogWindow dialog, int id, unsigned check);
  void SetDlgItemText(host::DialogWindow dialog, int id, const char* text);
  std::string GetDlgItemText(host::DialogWindow dialog, int id, int bufferSize);
  std::string GetSystemDirectory();
  void LimitDlgItemText(host::DialogWindow dialog, int id, int maximumCharacters);
  host::ItemList BrowseForFolder(host::DialogWindow owner, const char* title, unsigned flags,
                                 host::BrowseCallback callback);
  bool PathFromItemList(host::ItemList list, std::string& path);
  void FreeItemList(host::ItemList list);
  void BrowserSetSelection(host::DialogWindow browser, const char* path);
  long RegCreateKey(const char* subkey, std::uint32_t access, host::RegistryKey& key);
  long RegOpenKey(const char* subkey, std::uint32_t access, host::RegistryKey& key);
  long RegSetValue(host::RegistryKey key, const char* name, std::uint32_t type, const void* data,
                   std::uint32_t size);
  long RegQueryValue(host::RegistryKey key, const char* name, std::uint32_t& type, void* data,
                     std::uint32_t& size);
  void RegCloseKey(host::RegistryKey key);
  std::string ExpandEnvironmentStrings(const char* text);
  std::string GetTempPath();
  bool CreateDirectoryEx(const char* templateFolder, const char* newFolder);
  bool CreateDirectory(const char* path);
  bool IsDBCSLeadByte(unsigned char byte);
  bool RunProcessAndWait(const char* applicationName, const char* commandLine,
                         std::uint32_t& exitCode);
  int ShellFileOperation(host::FileOperation& operation);
  std::intptr_t ShellOpen(const char* path);
  host::Handle CreateFile(const char* path, std::uint32_t access, std::uint32_t share,
                          std::uint32_t disposition, std::uint32_t flags);
  void CloseHandle(host::Handle handle);
  bool GetFileSize(host::Handle handle, std::uint64_t& size);
  bool ReadAt(host::Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
              std::uint32_t& transferred);
  bool WriteAt(host::Handle handle, std::uint64_t offset, const void* buffer, std::uint32_t size,
               std::uint32_t& transferred);
  bool QueryDeviceNumber(host::Handle handle, host::StorageDeviceNumber& number);
  bool QueryDriveGeometryEx(host::Handle handle, void* buffer, std::uint32_t size);
  bool QueryDriveGeometry(host::Handle handle, void* buffer, std::uint32_t size);
  bool QueryDriveLayoutEx(host::Handle handle, void* buffer, std::uint32_t size);
  bool EjectMedia(host::Handle handle);
  bool QueryLength(host::Handle handle, std::uint64_t& length);
  bool LockVolume(host::Handle volume);
  bool DismountVolume(host::Handle volume);
  bool QueryMediaChangeCount(host::Handle drive, std::uint32_t& count);
  bool QueryStorageSerialNumber(host::Handle drive, std::string& serial);
  bool QueryStorageDeviceIds(host::Handle drive, std::string& vendor, std::string& product);
  bool UpdateDiskProperties(host::Handle drive);
  bool AllowExtendedDasdIo(host::Handle volume);
  std::string GetComputerName();
  bool QueryPartitionInfo(host::Handle volume, host::PartitionInfo& info);
  bool QueryVolumeDiskNumbers(host::Handle volume, std::vector<std::uint32_t>& diskNumbers);
  bool FlushFileBuffers(host::Handle handle);
  unsigned GetDriveType(const char* root);
  bool GetDiskTotalBytes(const char* root, std::uint64_t& totalBytes);
  bool GetDiskFreeSpace(const char* root, std::uint64_t& totalBytes, std::uint64_t& freeBytes);
  bool GetVolumeInformation(const char* root, std::string& label, std::string& fileSystem);
  std::uint32_t GetFileAttributes(const char* path);
  std::string GetSystemWindowsDirectory();
  void SetDlgItemFocus(host::DialogWindow dialog, int id);
  int DialogMessageBox(host::DialogWindow owner, const char* text, const char* caption, unsigned flags);
  bool BeginClosingDrivePrompts(const std::string& letters);  // recorded, never nested
  void EndClosingDrivePrompts();

 private:
  struct Volume {
    char letter = 0;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    std::uint32_t partitionNumber = 0;
    // The handle that locked it; dismounted without a lock, it is mounted again at once.
    mutable host::Handle lockedBy = 0;
    // Under the lock: dismounted by it, and the boot sector the file system
    // mounted. Written under a lock that never dismounted it, the volume
    // keeps that sector as its file system's own once the lock ends.
    mutable bool dismounted = false;
    mutable std::vector<std::uint8_t> mountedBoot{};
    mutable std::optional<std::vector<std::uint8_t>> staleBoot{};
    bool Free() const { return lockedBy == 0; }
  };
  // The system's cache of a card, a model: what a buffered handle wrote or
  // read (by byte offset; forgotten when a test writes the image), the
  // writes that wait for a flush or their handle's close, the files the
  // shell wrote where the card lost them, and what a reader that loses
  // writes at a flush puts back then.
  struct Pending {
    host::Handle handle = 0;
    std::uint64_t at = 0;
    std::vector<std::uint8_t> bytes;
  };
  struct Cache {
    std::map<std::uint64_t, std::vector<std::uint8_t>> sectors;
    std::vector<Pending> pending;
    std::map<std::string, std::string> files;
    std::vector<Pending> overwritten;
    std::uint64_t cardWrites = 0;  // the card's, when the system last wrote it
  };
  struct Insertion {
    std::shared_ptr<Card> card;
    mutable Cache cache;
    std::uint64_t generation = 0;
    std::vector<Volume> volumes;
    std::vector<LayoutEntry> layout;
    bool gpt = false;
    bool ejected = false;
    mutable bool changeReported = false;  // the media change count's first query reports the change alone
  };
  struct Reader {
    Insertion insertion;  // card is null when the slot is empty
    std::uint32_t mediaChanges = 0;  // as its driver counts them: one at every insertion
  };
  enum class Device { Volume, Physical, SystemVolume, SystemDisk, PcFile, CardFile };
  struct OpenHandle {
    Device device = Device::PcFile;
    char letter = 0;
    std::uint64_t generation = 0;
    std::size_t volume = 0;  // which of the insertion's volumes
    std::string name;        // a card file's path in its volume ("LYRE/LYRE.CFG")
    std::shared_ptr<Card> card;
    bool write = false;
    bool extendedDasd = false;  // a volume handle that may reach the volume's last sectors
    std::uint32_t flags = 0;  // CreateFile's
    int fd = -1;
  };

  void Record(const std::string& line);
  void Count(const std::string& primitive) { ++calls_[primitive]; }
  const Insertion* LiveInsertion(const OpenHandle& open) const;
  // The insertion whose volume a letter shows, and that volume.
  const Insertion* InsertionAt(char letter) const;
  const Volume* VolumeAt(char letter) const;
  const Volume* VolumeOf(const OpenHandle& open) const;
  bool IsCardLetter(char letter) const;
  void Mount(char readerLetter, Insertion& insertion);
  bool LetterFree(char letter, char readerLetter, const Insertion& mounting) const;
  bool WriteAllowed(const Insertion& insertion, const OpenHandle& open, std::uint64_t offset,
                    std::uint64_t size) const;
  const Insertion* InsertionOfDevice(std::uint32_t deviceNumber) const;
  OpenHandle* Find(host::Handle handle);
  host::Handle Add(OpenHandle open);
  host::Handle OpenDevicePath(const std::string& path, std::uint32_t access);
  host::Handle OpenFilePath(const std::string& path, bool write, std::uint32_t disposition);
  host::Handle OpenCardFile(char letter, std::string name, std::uint32_t disposition);
  bool Transfer(host::Handle handle, std::uint64_t offset, void* buffer, std::uint32_t size,
                std::uint32_t& transferred, bool write);
  // The FAT volume a letter shows, for mtools; none for an empty letter.
  std::optional<linuxhost::CardVolume> FilesAt(char letter) const;
  // A card volume's facts, as the Linux host reads them; none for a letter without one.
  std::optional<linuxhost::VolumeFacts> VolumeFactsAt(const char* root);
  // Windows' FAT driver marks a volume in use in its boot sector while files
  // are copied or moved there, and clean once they are flushed to the card.
  void MarkInUse(char letter, bool inUse) const;
  static void Flash(const Insertion& insertion, std::uint64_t at, std::uint8_t* bytes, std::uint64_t size,
                    bool write);
  static void WriteBack(const Insertion& insertion, host::Handle only, bool flush);
  static Cache& CacheOf(const Insertion& insertion);
  std::uint32_t RunFormatCommand(const std::string& commandLine);
  SimDialog* OpenDialog(host::DialogWindow dialog);
  int ShellOperation(const ShellCall& call, bool& aborted);
  // A reader that loses or corrupts a file written through it.
  void Damage(char letter, const std::string& written);
  bool MakeFolder(const std::string& path);

  std::string root_;
  std::uint64_t nextGeneration_ = 1;
  std::map<char, Reader> readers_;
  std::map<host::Handle, OpenHandle> handles_;
  host::Handle nextHandle_ = 0x100;
  std::uint32_t openFlags_ = 0;  // CreateFile's, for the handle it adds
  int cardCount_ = 0;
  bool flushed_ = false;  // a card volume was flushed
  std::uint64_t clock_ = 0;
  bool mainWindowDisabled_ = false;
  bool closingDrivePrompts_ = false;

  std::map<int, bool> visible_;
  std::map<int, std::string> texts_;
  std::vector<std::string> comboEntries_;
  int comboSelection_ = host::kCbErr;
  bool timerRunning_ = false;
  bool quitPosted_ = false;
  std::deque<std::pair<unsigned, unsigned>> posted_;

  std::deque<ScriptedBox> boxScript_;
  std::deque<std::pair<std::string, std::intptr_t>> dialogScript_;
  std::deque<std::pair<std::string, std::function<void(SimDialog&)>>> procedureDialogs_;
  std::vector<std::unique_ptr<SimDialog>> openDialogs_;
  std::vector<ShellCall> shellCalls_;
  std::deque<std::function<std::string(const std::string&)>> browseScript_;
  std::string browserSelection_;
  std::map<host::ItemList, std::string> itemLists_;
  std::map<host::RegistryKey, std::string> registryKeys_;
  std::vector<MessageBoxCall> boxes_;
  std::vector<std::string> log_;
  std::map<std::string, int> calls_;
};

// Runs a shell command; fails the test when it exits non-zero, unless
// succeeded is given to say so.
std::string Run(const std::string& command, bool* succeeded = nullptr);

}  // namespace sim
