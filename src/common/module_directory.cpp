#include "common/module_directory.h"

namespace common {

std::string gModuleDirectory;

std::string CutToFolder(const std::string& moduleFileName) {
  const std::size_t slash = moduleFileName.find_last_of('\\');
  if (slash != std::string::npos && slash >= 1) {
    return moduleFileName.substr(0, slash + 1);
  }
  return moduleFileName.substr(0, 1);
}

}  // namespace common
