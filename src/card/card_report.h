// The card inspection: fills CardState and the window's status and report.
#pragma once

#include <cstdint>
#include <string>

namespace card {

// The handler of command 111.
void InspectCard();

// A byte count in MB for the user: whole MB, or two decimals below 10 MB,
// never rounded up. The formats are catalogue ids.
std::string FormatSize(std::uint64_t bytes, unsigned wholeFormatId, unsigned decimalFormatId);

}  // namespace card
