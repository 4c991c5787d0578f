// Formatting the card's volume with the system's format.com.
#pragma once

#include <string>

namespace install {

enum class FileSystem { Fat, Fat32 };

// "format.com E: /q /fs:fat32" for the card root "E:\".
std::string FormatCommandLine(const std::string& cardRoot, bool quick, FileSystem fileSystem);

// Runs the system folder's format.com on the card root and waits for it.
// 0 when it started and ended with exit code 0, 1 otherwise.
int RunFormat(const std::string& cardRoot, bool quick, FileSystem fileSystem);

// The handler of command 202.
void FormatCard();

}  // namespace install
