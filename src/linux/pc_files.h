// What the program writes on the PC side (the boot sector dump, its
// settings, folders it makes, image files copied from a card) is the
// user's: under sudo it is written with the rights of the user who ran sudo,
// so that it is theirs and reaches only what they may write, and never
// through a symlink in the last component of its path.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "linux/descriptor.h"

namespace linuxhost {

// From now on PC files are written as this user (under sudo); without it,
// as the program runs.
void WritePcFilesAs(uid_t uid, gid_t gid);

// While it lives, files are reached with the rights of that user (the
// file system's identity and groups only); Ok() is false when the switch
// was refused, and then nothing may be written.
class AsPcUser {
 public:
  AsPcUser();
  ~AsPcUser();
  AsPcUser(const AsPcUser&) = delete;
  AsPcUser& operator=(const AsPcUser&) = delete;
  bool Ok() const { return ok_; }

 private:
  bool switched_ = false;
  bool ok_ = true;
  std::vector<gid_t> groups_;  // the program's own, back at the end
};

// open(2) of a PC file for writing, as the user, from its folder and never
// through a symlink as its name; -1 with errno set otherwise.
int OpenPcFileForWriting(const std::string& path, int flags, mode_t mode);
// A folder made as the user (the umask applies); false when it cannot be,
// or something of that name is there already.
bool MakePcFolder(const std::string& path);
// The folder and every missing one above it, as the user; true when it is
// a folder now.
bool MakePcFolders(const std::string& path);
// rename(2) of a file within one folder, as the user.
bool RenamePcFile(const std::string& from, const std::string& to);

}  // namespace linuxhost
