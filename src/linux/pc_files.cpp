#include "linux/pc_files.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

namespace linuxhost {
namespace fs = std::filesystem;

namespace {

constexpr mode_t kFolderMode = 0777;  // less the umask
constexpr int kMostGroups = 256;

struct Identity {
  bool set = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

Identity& Who() {
  static Identity who;
  return who;
}

// setfsuid and setfsgid tell no failure: they answer the identity before
// the call, so a second call tells whether the first took.
bool SetFsIds(uid_t uid, gid_t gid) {
  ::setfsgid(gid);
  ::setfsuid(uid);
  return static_cast<uid_t>(::setfsuid(uid)) == uid && static_cast<gid_t>(::setfsgid(gid)) == gid;
}

std::vector<gid_t> GroupsNow() {
  std::vector<gid_t> groups(kMostGroups);
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  groups.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
  return groups;
}


// The folder of a path, opened, and the path's last name; -1 for a path
// whose last name is none ("/", "..").
int OpenFolderOf(const std::string& path, std::string& name) {
  const fs::path full(path);
  name = full.filename().string();
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  const std::string folder = full.has_parent_path() ? full.parent_path().string() : ".";
  return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace

void WritePcFilesAs(uid_t uid, gid_t gid) {
  Identity& who = Who();
  who.set = true;
  who.uid = uid;
  who.gid = gid;
  who.groups.assign(kMostGroups, 0);
  int count = kMostGroups;
  const passwd* entry = ::getpwuid(uid);
  if (entry == nullptr || ::getgrouplist(entry->pw_name, gid, who.groups.data(), &count) < 0) count = 0;
  who.groups.resize(static_cast<std::size_t>(count));
  if (who.groups.empty()) who.groups.push_back(gid);
}

AsPcUser::AsPcUser() {
  const Identity& who = Who();
  if (!who.set || who.uid == ::geteuid()) return;
  switched_ = true;
  groups_ = GroupsNow();
  ok_ = ::setgroups(who.groups.size(), who.groups.data()) == 0 && SetFsIds(who.uid, who.gid);
}

AsPcUser::~AsPcUser() {
  if (!switched_) return;
  SetFsIds(::geteuid(), ::getegid());
  if (::setgroups(groups_.size(), groups_.data()) != 0) {
    // The groups stay the user's: only file access uses them, and the
    // identity that decides it is root's again.
  }
}

int OpenPcFileForWriting(const std::string& path, int flags, mode_t mode) {
  const AsPcUser user;
  if (!user.Ok()) {
    errno = EPERM;
    return -1;
  }
  std::string name;
  const Fd folder(OpenFolderOf(path, name));
  if (folder.Get() < 0) return -1;
  return ::openat(folder.Get(), name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

bool MakePcFolder(const std::string& path) {
  const AsPcUser user;
  std::string name;
  const Fd folder(user.Ok() ? OpenFolderOf(path, name) : -1);
  return folder.Get() >= 0 && ::mkdirat(folder.Get(), name.c_str(), kFolderMode) == 0;
}

bool MakePcFolders(const std::string& path) {
  const AsPcUser user;
  std::error_code error;
  if (!user.Ok()) return false;
  fs::create_directories(path, error);
  return fs::is_directory(path, error);
}

bool RenamePcFile(const std::string& from, const std::string& to) {
  const AsPcUser user;
  std::string fromName;
  std::string toName;
  const Fd fromFolder(user.Ok() ? OpenFolderOf(from, fromName) : -1);
  const Fd toFolder(user.Ok() ? OpenFolderOf(to, toName) : -1);
  return fromFolder.Get() >= 0 && toFolder.Get() >= 0 &&
         ::renameat(fromFolder.Get(), fromName.c_str(), toFolder.Get(), toName.c_str()) == 0;
}

}  // namespace linuxhost
