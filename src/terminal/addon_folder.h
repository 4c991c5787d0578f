// Where the program on Linux takes the add-on's files from. An installed
// program lies in a folder of programs (/usr/bin), which is never the
// add-on's: there the user names the folder, and it is remembered.
#pragma once

#include <optional>
#include <string>

namespace linuxhost {

enum class AddOnSource { Named, BesideProgram, Remembered, None };

struct AddOnFolder {
  AddOnSource source = AddOnSource::None;
  std::string folder;  // a full Linux path; empty for None
  std::string gone;    // the folder remembered, when it is no folder any more
};

// The folder named with --addon (full path) when given; else the program's
// own folder when the add-on's boot file lies there and it is no folder of
// programs (named bin or sbin); else the folder last named with --addon.
AddOnFolder FindAddOnFolder(const std::optional<std::string>& named, const std::string& programFolder);

// Keeps the folder named with --addon in the settings file for the next run;
// false when the file cannot be written.
bool RememberAddOnFolder(const std::string& folder);

// What the user is told when the add-on's files are nowhere; empty when
// there is a folder.
std::string NoAddOnFolderNote(const AddOnFolder& found);

}  // namespace linuxhost
