// The finished card read back, past every cache, before the sequence calls
// it done: a caching reader, a failing card or a counterfeit one can leave a
// card that the calls said was written and that does not start.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "disk/card_disk.h"

namespace install {

struct CardProof {
  std::vector<disk::TableEntry> table;       // what the table must begin with
  std::optional<disk::TableEntry> marked;    // the partition with the boot mark
  std::optional<disk::TableEntry> unmarked;  // one without it
  std::string configRoot;                    // where LYRE\LYRE.CFG lies
};

// DISKBOOT.BIN in the root is byte for byte the one beside the program,
// once the card holds what was written to it. False after the message.
bool ProveBootFile(const std::string& cardRoot);

// The table, the marks and the configuration, likewise.
bool ProveInstall(const CardProof& proof);

}  // namespace install
