// The folder of the installer's executable, ending with a backslash.
#pragma once

#include <string>

namespace common {

extern std::string gModuleDirectory;

// Cuts a module file name back to its folder, keeping the last backslash
// (C:\A\B\prog.exe gives C:\A\B\). The first character is never examined, so
// a name without any backslash is cut to that character.
std::string CutToFolder(const std::string& moduleFileName);

}  // namespace common
