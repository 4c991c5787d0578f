// Files on a card's FAT volume through mtools, on the volume's byte range of
// its disk or image ("device@@offset"): no mount needed. Here too the
// shell's file operations with the rules the program relies on: an existing
// folder merged, files replaced, a question before a file on the PC is
// replaced unless told not to ask, the aborted flag, a failed step.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linux/process.h"

namespace linuxhost {

// A FAT volume: the disk or image that holds it, and where it starts.
struct CardVolume {
  std::string device;
  std::uint64_t offset = 0;
};

// Runs an mtools program on the volume ("-i device@@offset" is added after
// the program's name), in the system's encoding, watched as RunTool says.
ToolResult RunMtools(const std::string& program, const CardVolume& volume, std::vector<std::string> arguments,
                     const ToolWatch& watch = {});

// Paths inside the volume are written with '/' and no leading "::/".
bool CardEntryExists(const CardVolume& volume, const std::string& path);
bool CardFolderExists(const CardVolume& volume, const std::string& path);
std::optional<std::string> CardFileContent(const CardVolume& volume, const std::string& path);
// Writes a file (replacing one there) from a scratch file in this folder.
bool PutCardFile(const CardVolume& volume, const std::string& path, const std::string& content,
                 const std::string& scratchFolder);

// What a name must be to go onto a card or the PC unchanged: valid in the
// system's encoding, and (onto a card) free of the characters FAT forbids.
// Empty when it may; otherwise the reason, for the user.
std::string RefuseCardName(const std::string& name);
std::string RefusePcName(const std::string& name);
// Empty when a file, or a folder's whole tree, holds only files and
// folders; otherwise the reason, for the user, naming what does not.
std::string RefuseAddOnTree(const std::string& top);
// True when the system's encoding (LC_CTYPE) is UTF-8.
bool SystemEncodingIsUtf8();

// Results of a shell file operation (winerror.h values the shell passes on).
constexpr int kShellFileNotFound = 2;
constexpr int kShellPathNotFound = 3;
constexpr int kShellWriteProtect = 19;
constexpr int kShellDiskFull = 112;
constexpr int kShellInvalidName = 123;
constexpr int kShellCancelled = 1223;

// Where the paths of a shell operation lead.
struct ShellPlaces {
  // The card volume a drive letter shows; none for a letter that is no card's.
  std::function<std::optional<CardVolume>(char letter)> cardVolume;
  // The local path of a PC path ("C:\..."); empty for one that is not.
  std::function<std::string(const std::string& windowsPath)> pcPath;
  // The shell's question before it replaces a PC file: IDYES, IDNO or IDCANCEL.
  std::function<int(const std::string& file)> askReplace;
  // The shell's own error window (not shown with FOF_NOERRORUI).
  std::function<void(const std::string& message)> report;
  // A folder of the program's own for staging.
  std::string scratchFolder;
  // Asked between files and while a copy runs: false stops the operation
  // (ended as at the shell's Cancel), the file in hand left out. None: on.
  std::function<bool()> keepGoing;
  // A long copy told as it goes: files and bytes done of the total.
  std::function<void(const std::string& line)> progress;
  // Asked when a copy onto the card failed: true when the card has left its
  // reader (or another is in it). None: never.
  std::function<bool()> cardRemoved;
};

struct ShellOutcome {
  int result = 0;
  bool aborted = false;
  std::string cardTarget;  // what a copy onto a card wrote ("LYRE/LYRE.CFG")
};

// One SHFileOperationA of one source and one target path: a copy of a PC
// file or folder onto a card, a move on one card, or a copy or move of the
// entries of "X:\DCIM\*." from a card into a PC folder.
ShellOutcome ShellOperation(const ShellPlaces& places, unsigned function, const std::string& from,
                            const std::string& to, unsigned flags);

}  // namespace linuxhost
