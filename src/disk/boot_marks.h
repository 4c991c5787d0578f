// The marks in the card's volume boot sector and the commands that set them.
#pragma once

#include <cstddef>
#include <string>

#include "disk/device.h"

namespace disk {

constexpr std::size_t kBootMarkOffset = 64;
constexpr char kBootMark[] = "BOOTDISK";
constexpr std::size_t kScriptFlagOffset = 496;
constexpr char kScriptFlag[] = "SCRIPT";

constexpr char kDumpFilePath[] = "C:\\DUMP.BIN";
constexpr char kDumpDoneText[] = "Write to C:\\DUMP.BIN ";
constexpr char kDumpDoneCaption[] = "Finish";
constexpr char kExtendMarkerFile[] = "extend.m";
constexpr char kScriptMarkerFile[] = "script.req";

// "BOOTDISK" at 64, exactly.
inline bool HasBootMark(const Sector& sector) { return SectorHolds(sector, kBootMarkOffset, kBootMark); }

// Copies a mark (without its terminating NUL) into the sector.
template <std::size_t N>
void PutMark(Sector& sector, std::size_t offset, const char (&mark)[N]) {
  static_assert(N > 1, "a mark has text");
  for (std::size_t i = 0; i + 1 < N; ++i) sector[offset + i] = static_cast<std::uint8_t>(mark[i]);
}

// The boot mark written, as a step of an installation, into the volume of
// this root: a write that fails is reported and the installation goes on
// (true); a volume that cannot be opened or read is reported too, and ends it
// (false).
bool WriteInstallBootMark(const std::string& root);

// Command 201: "BOOTDISK" into the volume boot sector.
void MakeBootableCommand();
// Command 223: "SCRIPT" into the volume boot sector, and the marker files.
void SetScriptFlagCommand();
// Command 222: the volume boot sector saved to C:\DUMP.BIN.
void DumpBootSectorCommand();

}  // namespace disk
