// "Copy Image Folder to PC": the camera's image folders from the card's
// DCIM folder to the destination folder on the PC.
#pragma once

#include <string>

namespace images {

// A full path off the card, on a drive the program sees: where the images
// may go.
bool AcceptableDestination(const std::string& path);

// Creates the folder and every missing folder above it.
void CreateFolderPath(const std::string& path);

// The handler of command 213.
void TransferImageFolders();

}  // namespace images
