// The entries of an `sfdisk -d` dump, as "start=249,size=3841799,type=6":
// an independent reader of a card's table, for the simulated PC's cards and
// the Linux program's alike.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace testing_cards {

inline std::vector<std::string> SfdiskEntriesOf(const std::string& dump) {
  std::vector<std::string> entries;
  std::istringstream lines(dump);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find(" : start=");
    if (at == std::string::npos) continue;
    std::string entry = line.substr(at + 3);
    entry.erase(std::remove(entry.begin(), entry.end(), ' '), entry.end());
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace testing_cards
