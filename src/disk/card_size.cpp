#include "disk/card_size.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <optional>

#include "common/card_state.h"
#include "common/catalogue.h"
#include "disk/card_disk.h"
#include "disk/card_guards.h"
#include "disk/device.h"
#include "res/ids.h"

namespace disk {
namespace {

constexpr std::uint64_t kSpreadSamples = 24;
// Fakes are sold with a flash of whole MiB: a wrap there is caught wherever
// it lies.
constexpr std::uint64_t kWrapUnit = 2048;  // sectors
constexpr char kMarker[] = "VORNSIZE";
constexpr std::size_t kMarkerSize = sizeof kMarker - 1;
// A record: the marker, the sector's number, the run id; repeated.
constexpr std::size_t kRecordSize = kMarkerSize + 16;
constexpr std::uint64_t kSectorsPerMb = 2048;

std::uint64_t Le64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

void PutLe64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Sector Pattern(std::uint64_t sectorNumber, std::uint64_t runId) {
  Sector sector{};
  for (std::size_t at = 0; at + kRecordSize <= sector.size(); at += kRecordSize) {
    std::copy(kMarker, kMarker + kMarkerSize, sector.begin() + static_cast<long>(at));
    PutLe64(sector.data() + at + kMarkerSize, sectorNumber);
    PutLe64(sector.data() + at + kMarkerSize + 8, runId);
  }
  return sector;
}

// The sample whose pattern of this run a sector holds, if any.
std::optional<std::uint64_t> PatternSource(const Sector& sector, std::uint64_t runId) {
  if (!SectorHolds(sector, 0, kMarker) ||
      Le64(sector.data() + kMarkerSize + 8) != runId) {
    return std::nullopt;
  }
  const std::uint64_t source = Le64(sector.data() + kMarkerSize);
  return Pattern(source, runId) == sector ? std::optional<std::uint64_t>(source) : std::nullopt;
}

// What the read-back tells of the real size, in sectors: a sample that shows
// another's pattern aliases it, so the flash's size divides their distance;
// with no such sign, it ends before the first sample that failed. 0 when it
// cannot be told.
std::uint64_t RealSize(const std::vector<std::uint64_t>& samples, const std::vector<Sector>& readBack,
                       const Sector& first, std::uint64_t runId) {
  std::uint64_t aliasing = 0;
  std::uint64_t firstFailure = 0;
  const auto consider = [&](std::uint64_t at, const Sector& sector) {
    const std::optional<std::uint64_t> source = PatternSource(sector, runId);
    if (source && *source != at) aliasing = std::gcd(aliasing, *source > at ? *source - at : at - *source);
  };
  for (std::size_t i = 0; i < samples.size(); ++i) {
    consider(samples[i], readBack[i]);
    if (firstFailure == 0 && readBack[i] != Pattern(samples[i], runId)) firstFailure = samples[i];
  }
  consider(0, first);
  return aliasing != 0 ? aliasing : firstFailure;
}

void ShowCounterfeit(std::uint64_t realSectors) {
  if (realSectors < kSectorsPerMb) {
    common::ShowErrorMessage(MSG_COUNTERFEIT);
    return;
  }
  std::array<char, common::kMessageBufferSize> text{};
  std::snprintf(text.data(), text.size(), common::LoadMessageText(MSG_FMT_COUNTERFEIT_SIZE),
                static_cast<int>(realSectors / kSectorsPerMb));
  host::MessageBox(text.data(), common::LoadMessageText(MSG_CAPTION_ERROR), host::kMbIconWarning);
}

bool Read(host::Handle drive, std::uint64_t at, Sector& sector) { return ReadSectorAt(drive, at, sector); }

// Not read back at once: the test reads every sample back after all writes.
bool Write(host::Handle drive, std::uint64_t at, const Sector& sector) {
  SectorBuffer buffer(1);
  std::copy(sector.begin(), sector.end(), buffer.Data());
  return WriteSectors(drive, at, buffer);
}

// A card whose flash holds F whole MiB and wraps beyond shows the same
// sector at two samples F MiB apart, or at a multiple of that distance. So
// every whole MiB from half the card to its end is made a distance between
// two samples (sector 0, read only, counts as one): a few MiB after sector 0,
// one step of MiB apart, and samples that many steps apart down from the
// end. Every smaller F has a multiple in that half.
void AddWrapSamples(std::uint64_t totalSectors, std::vector<std::uint64_t>& samples) {
  const std::uint64_t last = (totalSectors - 1) / kWrapUnit;  // the last whole MiB that starts below the end
  const std::uint64_t span = last - (last + 1) / 2 + 1;       // distances from half of it to all of it
  std::uint64_t step = 1;
  while (step * step < span) ++step;
  for (std::uint64_t near = 1; near < step; ++near) samples.push_back(near * kWrapUnit);
  for (std::uint64_t far = 0; far * step < span; ++far) samples.push_back((last - far * step) * kWrapUnit);
}

}  // namespace

std::vector<std::uint64_t> CardSizeSamples(std::uint64_t totalSectors) {
  std::vector<std::uint64_t> samples;
  if (totalSectors < 2) return samples;
  AddWrapSamples(totalSectors, samples);
  for (std::uint64_t i = 0; i < kSpreadSamples; ++i) {
    samples.push_back(1 + i * (totalSectors - 2) / (kSpreadSamples - 1));
  }
  std::sort(samples.begin(), samples.end());
  samples.erase(std::unique(samples.begin(), samples.end()), samples.end());
  return samples;
}

bool ProveCardSize() {
  VolumeLocks locks;
  if (!ConfirmSameCard() || !locks.Acquire()) return false;
  const std::vector<std::uint64_t> samples = CardSizeSamples(common::gCardState.totalSectors);
  const std::uint64_t now = host::GetSystemTimeAsFileTime();
  const std::uint64_t runId = now * 0x9E3779B97F4A7C15u ^ common::gCardState.totalSectors;
  // Written past the system's cache but not through the reader's one sector
  // at a time: a flush after all the writes puts them on the card before
  // they are read back (a write through each costs a flush of its own).
  UniqueHandle drive = OpenDevice(common::gCardState.physicalDrivePath, Access::ReadWrite, host::kFileFlagNoBuffering);
  Sector first{};
  std::vector<Sector> originals(samples.size());
  std::vector<Sector> readBack(samples.size());
  std::size_t written = 0;
  Sector firstNow{};
  bool transferred = drive.Valid() && Read(drive.Get(), 0, first);
  bool restored = true;
  bool writesFailed = false;  // else a read failed, or the card did not open
  {
    // Thousands of single sectors on a large card take seconds: told as they
    // go, the window repainting and taking no input, as during a format.
    const bool wasDisabled = host::EnableMainWindow(false);
    const std::size_t steps = 4 * samples.size();
    std::size_t step = 0;
    int shown = -1;
    const auto tell = [&step, steps, &shown] {
      common::ShowProgress(MSG_FMT_SIZE_TEST_PROGRESS, static_cast<int>(++step * 100 / steps), shown);
    };
    // A stop ends the test at the next sample; what was written is put back.
    const auto going = [&tell](bool done) {
      tell();
      return done && !host::StopRequested();
    };
    for (std::size_t i = 0; i < samples.size() && transferred; ++i) {
      transferred = going(Read(drive.Get(), samples[i], originals[i]));
    }
    for (; written < samples.size() && transferred; ++written) {
      const bool wrote = Write(drive.Get(), samples[written], Pattern(samples[written], runId));
      writesFailed = !wrote;
      transferred = going(wrote);
    }
    transferred = transferred && host::FlushFileBuffers(drive.Get());
    for (std::size_t i = 0; i < samples.size() && transferred; ++i) {
      transferred = going(Read(drive.Get(), samples[i], readBack[i]));
    }
    transferred = transferred && Read(drive.Get(), 0, firstNow);
    // Back as it was, the latest write undone first: on a card that wraps,
    // each sector ends with what it held before the test (a write that
    // failed or was followed by a stop is counted in written).
    for (std::size_t i = written; i-- > 0;) {
      tell();
      restored = PutBackSector(drive.Get(), samples[i], originals[i]) && restored;
    }
    if (drive.Valid() && written > 0) restored = PutBackSector(drive.Get(), 0, first) && restored;
    if (drive.Valid() && written > 0) restored = host::FlushFileBuffers(drive.Get()) && restored;
    if (!wasDisabled) host::EnableMainWindow(true);
  }
  if (restored && host::StopRequested()) return false;  // the user's own end: nothing to tell
  if (!transferred || !restored) {
    // Patterns the restore did not reach are still on the card.
    // A card that could not be read is not said to refuse writes.
    const bool readFailed = drive.Valid() && !writesFailed;
    common::ShowErrorMessage(!restored ? MSG_SIZE_TEST_INTERRUPTED
                             : readFailed ? MSG_SIZE_TEST_READ_FAILED : MSG_CANNOT_WRITE_BOOT_SECTOR);
    return false;
  }
  bool kept = firstNow == first;
  for (std::size_t i = 0; i < samples.size(); ++i) kept = kept && readBack[i] == Pattern(samples[i], runId);
  if (!kept) ShowCounterfeit(RealSize(samples, readBack, firstNow, runId));
  return kept;
}

}  // namespace disk
