// What a path names, by its attributes.
#pragma once

#include <string>

namespace common {

// A plain file: the attributes read and show neither a folder nor any bit
// above the usual sixteen (a missing path reads with all bits set).
bool IsFile(const std::string& path);
// A folder, by the same reading.
bool IsFolder(const std::string& path);

}  // namespace common
