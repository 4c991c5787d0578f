// host.h on Linux: what a front end (and the tests) set up and ask of it.
// The cards are the disks the system calls removable (SD/MMC, USB) and the
// loop devices, block devices and image files the user names; each mountable
// partition shows under a drive letter from D: upward, as Windows 10 and 11
// give them. PC paths map as Wine maps them: Z:\ is "/", C:\ the user's home.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "linux/frontend.h"

namespace linuxhost {

// The front end that answers boxes and dialogs; null ends every box with no
// answer (a box that could not be shown).
void SetFrontend(Frontend* frontend);

// ---- Cards ----------------------------------------------------------------

// Adds a disk or image the user names: a loop or other block device, or an
// image file. False, with the reason for the user, for a path that does not
// exist, a folder, a partition (the reason names its disk), a system disk,
// an image too small for any layout, or one the user may not open; denied,
// when asked for, tells a refusal for want of a right (root for a block
// device, the right to write an image file) from one of a path that is no
// card. One that is only looked at (lookOnly) may be an image the user may
// read but not write: the program then finds it locked, as a card whose
// lock switch is set.
bool NameCard(const std::string& path, std::string& refusal, bool* denied = nullptr, bool lookOnly = false);
// Follows the removable disks and their media: new ones are taken in, gone
// ones dropped, a changed medium read again.
void Refresh();
// Lets every card go: none is listed until named or found again.
void ForgetCards();

// A drive letter as the front end shows it.
struct Drive {
  char letter = 0;
  std::string device;     // "/dev/sdb1", "/dev/loop3" or "card.img @ 2097152"
  std::string disk;       // the card's whole disk or image: "/dev/sdb", "/home/me/card.img"
  std::uint64_t bytes = 0;  // the partition's
  std::string vendor;
  std::string model;
};
std::vector<Drive> Drives();

// What a card holds, told to the user before a command erases or rewrites
// it: each partition of its table (or the whole card, without one) with the
// file system it holds, its label and the bytes its files take.
struct PartitionContents {
  std::uint32_t number = 0;   // its place in the table; 0: a card without a table
  std::uint64_t offset = 0;
  std::uint8_t type = 0;      // the table's type byte; 0 without a table or for GPT
  std::string fileSystem;     // "FAT16", "FAT32", "NTFS", "exFAT"; empty: none known
  std::string label;          // a FAT volume's; empty: none
  bool usedKnown = false;     // a FAT volume whose free space was read
  std::uint64_t usedBytes = 0;
  bool shownAs = false;       // the letter asked about shows it
};
struct CardContents {
  std::string disk;  // as Drive::disk
  std::uint64_t bytes = 0;
  std::string vendor;
  std::string model;
  bool table = false;  // an MBR or GUID table
  bool gpt = false;
  std::vector<PartitionContents> partitions;
};
// The card that shows this letter; false when none does.
bool ContentsOfCard(char letter, CardContents& contents);

// ---- Paths ----------------------------------------------------------------

// The logic's form of a Linux path (absolute); false, with the reason, for
// one it cannot carry whole (a backslash in a name, an encoding the system
// does not have).
bool ToWindowsPath(const std::string& linuxPath, std::string& windowsPath, std::string& refusal);
// The Linux path of a PC path of the logic's; empty for one that is none.
std::string ToLinuxPath(const std::string& windowsPath);
// The add-on's folder (the program's own folder unless the user names
// another): becomes ModuleDirectory. False, with the reason, as above.
bool SetAddOnFolder(const std::string& linuxFolder, std::string& refusal);

// ---- The user ---------------------------------------------------------------

// The user the program works for: under sudo the one who ran sudo, under
// pkexec the one who asked (PKEXEC_UID), whose home, settings and files on
// the PC these are.
struct User {
  unsigned uid = 0;
  unsigned gid = 0;
  std::string home;
  std::string settingsFolder;  // $XDG_CONFIG_HOME/vorninst
  bool viaSudo = false;  // or via pkexec
};
const User& TheUser();

// ---- The main window ----------------------------------------------------------

struct WindowState {
  std::map<int, bool> visible;
  std::map<int, std::string> texts;
  std::vector<std::string> comboEntries;
  int comboSelection = -1;
  bool timerRunning = false;
  bool quitPosted = false;
  bool enabled = true;
  bool Visible(int id) const;
  std::string Text(int id) const;
};
const WindowState& Window();
// WM_CREATE.
void CreateMainWindow();
// One turn of the message loop: the posted commands, then, while the timer
// runs, a refresh of the cards and a timer tick (the drive scan).
void Tick();
// A button, the menu or the accelerator: WM_COMMAND with this id.
void Command(unsigned commandId);
// The first read or write a card refused during the last Command, with the
// system's reason; empty when none was.
std::string CardFault();
// The user picks a combo box entry: CBN_SELCHANGE follows.
void SelectDrive(int index);
// The commands posted and not yet run (the next Tick runs them).
std::vector<unsigned> PostedCommands();

}  // namespace linuxhost
