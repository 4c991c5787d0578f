// Paths: what one names, by its attributes, and a path as a shell list.
#pragma once

#include <string>

namespace common {

// A plain file: the attributes read and show neither a folder nor any bit
// above the usual sixteen (a missing path reads with all bits set).
bool IsFile(const std::string& path);
// A folder, by the same reading.
bool IsFolder(const std::string& path);

// A path as a shell list of one: the path and two NULs of its own.
std::string ShellPathList(const std::string& path);

}  // namespace common
