// The main window as text: its title, the drives of the combo box, the
// status line and the report, and the buttons the logic shows, numbered.
#pragma once

#include <string>
#include <vector>

#include "linux/linux_host.h"

namespace linuxhost {

// One drive: its letter, device (and partition) or image, size, vendor and
// model.
std::string DriveLine(const Drive& drive);

// What the card that shows this letter holds, before a command erases or
// rewrites it: "/dev/sdb  SanDisk SD 7.4 GiB: partition 1 FAT32 "PHOTOS",
// 2.1 GiB used". Only the letter's own partition when onlyShown; empty when
// no card shows the letter.
std::string ContentsLine(char letter, bool onlyShown);

// Before a button that erases or rewrites the card that shows this letter
// (New Install, Create partition, Format, Swap Partitions): "New Install
// works on " and what ContentsLine says (a format, of the letter's own
// partition only). Empty for other buttons, or when no card shows it.
std::string StakeLine(int button, char letter);

// The combo box entry of a drive letter; -1 when none shows it.
int ComboIndex(char letter);
// The whole disk or image of the card that shows this letter; empty when
// none does.
std::string DiskOf(char letter);
// After a command, the card as the window shows it when the user picks it
// again, inspected afresh (an image or a loop device is never taken out,
// so no scan would): the drive the user had selected while the card still
// shows it, else the card's first. Its letter; 0 when it shows none.
char Reinspect(const std::string& disk, char selected);

// Each line of a text, indented.
std::string IndentedLines(const std::string& text, const std::string& indent);

// The window's buttons in the order a reader meets them (EXIT aside): the
// menu's numbers are their places in this list, counted from 1.
std::vector<int> MenuButtons();

// A button the window offers now: shown, in a window that takes input.
bool Offered(int button);

// The window as it stands. In lines as wide as the terminal, or one thing a
// line when width is 0 (no terminal) or narrow.
std::string MainWindowText(int width);

// What the user types at the window's prompt, and the prompt.
std::string MainWindowPrompt();

// When the program cannot see the removable disks for want of root, a
// line that says so; empty otherwise.
std::string RootNote();

}  // namespace linuxhost
