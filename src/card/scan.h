// The removable drive scan that follows cards being inserted and removed.
#pragma once

namespace card {

// Button visibility states kept between scans.
constexpr int kButtonsHidden = 0;     // the last scan found no drive
constexpr int kButtonsShown = 5;      // shown again by the scan (or at start)
constexpr int kButtonsUntouched = 123;  // drives found twice running: left alone

// The add-on's boot file, looked for beside the program.
constexpr char kBootFileName[] = "DISKBOOT.BIN";

// The handler of command 205.
void ScanDrives();

// The drive root becomes the combo box's selected entry (empty when none).
void TakeSelectedDriveRoot();

// The visibility state, for the tests; starts at kButtonsShown.
int ButtonVisibilityState();
void ResetButtonVisibilityState();

}  // namespace card
