// The destination of the camera's image folders: the dialog that asks for
// it, the folder browser, and its one stored setting.
#pragma once

#include <cstdint>
#include <string>

#include "host/host.h"

namespace images {

constexpr char kDestinationTemplate[] = "TODIR";
constexpr char kSettingsKey[] = "Software\\Brenn\\quarlpix";
constexpr char kDestinationSetting[] = "ToDir";
// The longest folder the program takes (MAX_PATH less the NUL).
constexpr std::size_t kFolderMaximum = 259;

// The PC folder for the image folders, and whether they leave the card.
extern std::string gDestinationFolder;
extern bool gDeleteAfterCopy;

std::intptr_t DestinationFolderProc(host::DialogWindow dialog, unsigned message,
                                    std::uintptr_t wParam, std::intptr_t lParam);
int DestinationBrowseCallback(host::DialogWindow browser, unsigned message, std::intptr_t lParam,
                              std::intptr_t data);

// Shows the dialog; 1 when it was closed with OK, 0 otherwise.
int RunDestinationDialog();

// Removes one trailing backslash, unless it follows a colon ("D:\" stays)
// or is the second byte of a double-byte character.
void TrimFolderPath(std::string& path);

// The stored setting under the current user. A value that cannot be read
// whole, or is no text, reads as empty.
void WriteSetting(const char* name, const std::string& text);
void ReadSetting(const char* name, std::string& text);

// A lead byte of a double-byte character in the system's code page.
bool IsLeadByte(unsigned char byte);
// True when the byte at this index is the second byte of a double-byte
// character: the text is read from its start, so that a trail byte that
// looks like a lead byte is not taken for one.
bool IsTrailByte(const std::string& text, std::size_t index);

}  // namespace images
