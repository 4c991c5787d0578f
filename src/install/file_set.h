// The add-on's file set beside the program, the shell file steps that put it
// on the card, and command 207.
#pragma once

#include <string>

#include "card/scan.h"

namespace install {

inline constexpr auto& kBootFile = card::kBootFileName;  // the one the scan looks for
constexpr char kFirmwareFile[] = "PS.FIR";
constexpr char kAddOnFolder[] = "LYRE";
constexpr char kImageFolder[] = "DCIM";
constexpr char kLeftConfig[] = "LYRE.CFG.L";
constexpr char kRightConfig[] = "LYRE.CFG.R";
constexpr char kCardConfig[] = "LYRE\\LYRE.CFG";
constexpr char kCardConfigBackup[] = "LYRE\\LYRE.CFG.OLD";

// The steps, each one shell file operation onto the card root given (the
// root of the partition they belong on). Required steps report failure (a
// non-zero result or an operation the user cancelled) with false; the
// best-effort steps hide the shell's error window and report nothing.
bool CopyBootFile(const std::string& cardRoot);
void CopyFirmwareFile(const std::string& cardRoot);
bool CopyAddOnFolder(const std::string& cardRoot);
bool CopyImageFolder(const std::string& cardRoot);
void BackUpConfig(const std::string& cardRoot);
void InstallConfig(const std::string& cardRoot);

// The configuration file beside the program for the camera position chosen.
const char* ChosenConfig();

// Opens the card's root folder in the shell.
void OpenCardFolder();

// The handler of command 207.
void CopyFileSet();

}  // namespace install
