#include "common/paths.h"

#include <cstdint>

#include "host/host.h"

namespace common {
namespace {

constexpr std::uint32_t kNotAnEntryMask = 0xFFFF0000u;

std::uint32_t Attributes(const std::string& path) { return host::GetFileAttributes(path.c_str()); }

}  // namespace

bool IsFile(const std::string& path) {
  return (Attributes(path) & (kNotAnEntryMask | host::kFileAttributeDirectory)) == 0;
}

bool IsFolder(const std::string& path) {
  const std::uint32_t attributes = Attributes(path);
  return (attributes & kNotAnEntryMask) == 0 && (attributes & host::kFileAttributeDirectory) != 0;
}

std::string ShellPathList(const std::string& path) {
  std::string list = path;
  list.push_back('\0');
  list.push_back('\0');
  return list;
}

}  // namespace common
