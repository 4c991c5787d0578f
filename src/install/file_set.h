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

// The steps, each one shell file operation. Required steps report failure
// (a non-zero result or an operation the user cancelled) with false; the
// best-effort steps hide the shell's error window and report nothing.
bool CopyBootFile();
void CopyFirmwareFile();
bool CopyAddOnFolder();
bool CopyImageFolder();
void BackUpConfig();
void InstallConfig();

// Opens the card's root folder in the shell.
void OpenCardFolder();

// The handler of command 207.
void CopyFileSet();

}  // namespace install
