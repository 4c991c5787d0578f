// The box that names the card before a command erases or rewrites it: what
// it says of the card and its partitions, that it comes before the
// command's first question, and that No there leaves the card as it was.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "card_fixture.h"
#include "host/host.h"
#include "linux/card_files.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using testing_cards::kMb;

constexpr char kCaption[] = "Confirm SD Card";
constexpr std::uint32_t kLargeFirst = 4097;
// A photo on the large partition: with its two folders, 489 + 2 clusters of
// 2 KiB, 982 KB.
constexpr std::size_t kPhotoBytes = 1000000;

struct Case {
  const char* name;
  unsigned command;
  sim::Windows windows;
  const char* text;
  const char* ending;  // what will happen to the card
  // The command's first step after a Yes, answered so that nothing is written.
  std::function<void(sim::Machine&)> firstStep;
};

// A 64 MB card: a small FAT12 partition labelled BOOT, an FAT16 one
// labelled PHOTOS holding a photo; told by its reader as Generic STORAGE
// DEVICE, padded as readers pad it.
std::shared_ptr<sim::Card> PhotoCard(sim::Machine& machine) {
  auto card = machine.NewCard(64 * kMb, 2);
  card->vendor = "Generic ";
  card->product = "STORAGE DEVICE  ";
  const auto sectors = static_cast<std::uint32_t>(64 * kMb / 512);
  testing_cards::WriteTable(*card, {{1, 1, 4096}, {6, kLargeFirst, sectors - kLargeFirst}});
  sim::Machine::Format(*card, 1, 4096, 12);
  sim::Machine::Format(*card, kLargeFirst, sectors - kLargeFirst, 16);
  testing_cards::PutFilesAt(*card, kLargeFirst, {{"DCIM/100CANON/IMG_0001.JPG", std::string(kPhotoBytes, 'p')}});
  for (const auto& [first, label] : {std::pair{1u, "BOOT"}, std::pair{kLargeFirst, "PHOTOS"}}) {
    EXPECT_TRUE(linuxhost::RunMtools("mlabel", {card->imagePath, first * 512ull}, {"::" + std::string(label)})
                    .Succeeded());
  }
  return card;
}

TEST(CardAtStake, TheBoxNamesTheCardAndItsPartitionsAndNoThereWritesNothing) {
  const auto question = [](const char* text, int answer) {
    return [text, answer](sim::Machine& machine) { machine.ExpectBox("Confirm", text, answer); };
  };
  // Both partitions have a letter under Windows 10; under Windows 7 only the first.
  constexpr char kBoth[] =
      "SD Card E:  64 MB  Generic STORAGE DEVICE\n"
      "  Partition 1 (E:): FAT \"BOOT\", 0 KB used\n"
      "  Partition 2 (F:): FAT \"PHOTOS\", 982 KB used\n";
  constexpr char kFirstOnly[] =
      "SD Card E:  64 MB  Generic STORAGE DEVICE\n"
      "  Partition 1 (E:): FAT \"BOOT\", 0 KB used\n"
      "  Partition 2: no drive letter (type 06h)\n";
  constexpr char kEraseCard[] = "Everything on this SD Card will be erased.\nContinue?";
  const Case cases[] = {
      {"New Install", IDC_NEW_INSTALL, sim::Windows::Win10, kBoth, kEraseCard,
       [](sim::Machine& machine) { machine.ExpectDialog("INSTSET", [](sim::SimDialog& d) { d.Escape(); }); }},
      {"Create partition", IDC_CREATE_PARTITION, sim::Windows::Win7, kFirstOnly, kEraseCard,
       question("Create One Partition(YES) or Two Partitions(NO) ?", host::kIdCancel)},
      {"Format", IDC_FORMAT, sim::Windows::Win10,
       "SD Card E:  64 MB  Generic STORAGE DEVICE\n  Partition 1 (E:): FAT \"BOOT\", 0 KB used\n",
       "Everything on E: will be erased.\nContinue?",
       question("Quick Format ?", host::kIdCancel)},
      {"Swap Partitions", IDC_SWAP_PARTITIONS, sim::Windows::Win10, kBoth,
       "Its first two partitions will change places in its partition table.\nContinue?",
       question("Sure?", host::kIdNo)},
  };
  for (const Case& c : cases) {
    for (const int answer : {host::kIdNo, host::kIdYes}) {
      SCOPED_TRACE(std::string(c.name) + (answer == host::kIdYes ? ", Yes" : ", No"));
      sim::Machine machine;
      machine.windows = c.windows;
      testing_cards::SetUpPc(machine);
      testing_cards::PutFileSet(machine);
      const auto card = PhotoCard(machine);
      machine.Insert('E', card);
      machine.Tick();
      machine.ClearRecords();
      const std::size_t before = testing_cards::Fingerprint(*card);
      machine.ExpectBox(kCaption, std::string(c.text) + c.ending, answer);
      if (answer == host::kIdYes) c.firstStep(machine);
      host::SendCommand(c.command);
      ASSERT_FALSE(machine.Boxes().empty());
      EXPECT_EQ(machine.Boxes().front().flags, host::kMbYesNo | host::kMbIconWarning);
      EXPECT_EQ(machine.Boxes().size(), answer == host::kIdYes && c.command != IDC_NEW_INSTALL ? 2u : 1u);
      EXPECT_EQ(testing_cards::Fingerprint(*card), before);
      EXPECT_TRUE(machine.LogMatching("process").empty());
    }
  }
}

}  // namespace
