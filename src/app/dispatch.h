// The main window's message handling, free of any windowing system: the Win32
// window procedure and the simulated host both call these.
#pragma once

namespace app {

constexpr unsigned kRefreshTimerId = 1;
constexpr unsigned kRefreshPeriodMs = 500;

// WM_CREATE: no drive root, no drive slots, refresh timer started.
void OnCreate();
// WM_CLOSE: timer stopped, quit message posted.
void OnClose();
// WM_TIMER: one drive scan.
void OnTimer();
// WM_COMMAND. Returns false for an id that is not a command of the program:
// the caller then hands the message to the default window procedure (the
// refresh timer has already been restarted).
bool OnCommand(unsigned commandId, unsigned notifyCode);

}  // namespace app
