// Cards for the tests of the program on Linux: sparse images attached to
// free loop devices (image files themselves where losetup is refused), a
// scripted user, and what sfdisk, fsck.fat and mtools say of a card.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "linux/frontend.h"

namespace linux_cards {

constexpr std::uint64_t kMb = 1048576;

// Runs a tool; fails the test when it fails.
std::string Run(const std::vector<std::string>& arguments);
bool Succeeds(const std::vector<std::string>& arguments);

// A sparse image of this size, attached to a free loop device (read-only
// when asked) and detached however the test ends.
class LoopCard {
 public:
  LoopCard(std::uint64_t bytes, bool readOnly = false);
  ~LoopCard();
  LoopCard(const LoopCard&) = delete;
  LoopCard& operator=(const LoopCard&) = delete;
  // What the program is given: the loop device, or the image itself.
  const std::string& Device() const { return device_; }
  const std::string& Image() const { return image_; }
  bool Loop() const { return device_ != image_; }
  void Detach();
  // A table of (type, first sector, sectors) entries, and FAT on them.
  void Partition(const std::vector<std::vector<std::uint64_t>>& entries) const;
  void Format(std::uint64_t firstSector, std::uint64_t sectors, int fatBits) const;
  void Put(std::uint64_t firstSector, const std::string& path, const std::string& content) const;
  // What sfdisk, fsck.fat and mtools say.
  std::vector<std::string> Entries() const;
  void ExpectClean(std::uint64_t firstSector, std::uint64_t sectors) const;
  std::string File(std::uint64_t firstSector, const std::string& path) const;
  bool Exists(std::uint64_t firstSector, const std::string& path) const;
  std::string Bytes(std::uint64_t offset, std::size_t size) const;
  // A hash of every sector that holds anything but zeros, with its place.
  std::size_t Fingerprint() const;
  // With VORN_KEEP_CARDS set: the image kept there as "<test>.linux.img".
  void Keep() const;

 private:
  std::string image_;
  std::string device_;
};

// The user, from a script: every box and dialog expected in turn, and the
// test fails on any other; the box that names the card before a command
// erases it is answered Yes where the script does not expect it.
class Script : public linuxhost::Frontend {
 public:
  ~Script() override;
  void Box(const std::string& caption, const std::string& text, int answer, std::function<void()> before = {});
  void Dialog(const std::string& name, std::function<void(linuxhost::Dialog&)> user);
  std::vector<std::string> opened;  // folders the shell opened

  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void RunDialog(linuxhost::Dialog& dialog) override;
  std::string BrowseForFolder(const std::string&, const std::string&) override;
  void About() override {}
  void OpenFolder(const std::string& folder) override { opened.push_back(folder); }
  void Progress(const std::string& line) override { if (progress) progress(line); }
  bool Interrupted() override { return interrupted; }
  bool interrupted = false;  // Ctrl-C
  std::function<void(const std::string& line)> progress;  // sees every progress line

 private:
  struct Expected {
    std::string caption;
    std::string text;
    int answer;
    std::function<void()> before;
  };
  std::deque<Expected> boxes_;
  std::deque<std::pair<std::string, std::function<void(linuxhost::Dialog&)>>> dialogs_;
};

// The user's home folder in the tests, and a new folder holding the
// add-on's file set.
std::string TestHome();
std::string MakeAddOnFolder();

// A fresh program: the add-on's file set in a folder of its own, the window
// created, no card known, the script as the user. Returns the folder.
std::string StartProgram(Script& script);
// Names the card, lets the scan take it, and selects it.
void InsertCard(const std::string& device);

}  // namespace linux_cards
