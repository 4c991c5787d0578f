// The box that names the card before a command erases or rewrites it: what
// it says of the card and its partitions, that it comes before the
// command's first question, and that No there leaves the card as it was.
#include <gtest/gtest.h>

#include <string>

#include "card_fixture.h"
#include "host/host.h"
#include "linux/card_files.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

constexpr std::uint32_t kLargeFirst = 4097;
constexpr std::uint32_t kSectors = 131072;  // 64 MB

// A small FAT12 partition labelled BOOT, a FAT16 one labelled PHOTOS with a
// photo (its two folders and 489 clusters of 2 KiB: 982 KB), in a reader
// that pads its ids.
std::shared_ptr<sim::Card> PhotoCard(sim::Machine& machine) {
  auto card = machine.NewCard(kSectors * 512ull, 2);
  card->vendor = "Generic ";
  card->product = "STORAGE DEVICE  ";
  testing_cards::WriteTable(*card, {{1, 1, 4096}, {6, kLargeFirst, kSectors - kLargeFirst}});
  sim::Machine::Format(*card, 1, 4096, 12);
  sim::Machine::Format(*card, kLargeFirst, kSectors - kLargeFirst, 16);
  testing_cards::PutFilesAt(*card, kLargeFirst, {{"DCIM/100CANON/IMG_0001.JPG", std::string(1000000, 'p')}});
  for (const auto& [first, label] : {std::pair{1u, "BOOT"}, std::pair{kLargeFirst, "PHOTOS"}}) {
    EXPECT_TRUE(linuxhost::RunMtools("mlabel", {card->imagePath, first * 512ull}, {"::" + std::string(label)})
                    .Succeeded());
  }
  return card;
}

TEST(CardAtStake, TheBoxNamesTheCardAndItsPartitionsAndNoThereWritesNothing) {
  constexpr char kCard[] = "SD Card E:  64 MB  Generic STORAGE DEVICE\n  Partition 1 (E:): FAT \"BOOT\", 0 KB used\n";
  // Under Windows 10 both partitions have a letter; under Windows 7 only the first.
  const std::string both = std::string(kCard) + "  Partition 2 (F:): FAT \"PHOTOS\", 982 KB used\n";
  const std::string firstOnly = std::string(kCard) + "  Partition 2: no drive letter (type 06h)\n";
  const std::string erase = "Everything on this SD Card will be erased.\nContinue?";
  struct Case {
    unsigned command;
    sim::Windows windows;
    std::string text;
    const char* question;  // the command's first, answered so that nothing is written; none: the dialog
    int answer;
  };
  const Case cases[] = {
      {IDC_NEW_INSTALL, sim::Windows::Win10, both + erase, nullptr, 0},
      {IDC_CREATE_PARTITION, sim::Windows::Win7, firstOnly + erase,
       "Create One Partition(YES) or Two Partitions(NO) ?", host::kIdCancel},
      {IDC_FORMAT, sim::Windows::Win10, kCard + std::string("Everything on E: will be erased.\nContinue?"),
       "Quick Format ?", host::kIdCancel},
      {IDC_SWAP_PARTITIONS, sim::Windows::Win10,
       both + "Its first two partitions will change places in its partition table.\nContinue?", "Sure?",
       host::kIdNo},
  };
  for (const Case& c : cases) {
    for (const int named : {host::kIdNo, host::kIdYes}) {
      SCOPED_TRACE(std::to_string(c.command) + (named == host::kIdYes ? ", Yes" : ", No"));
      sim::Machine machine;
      machine.windows = c.windows;
      testing_cards::SetUpPc(machine);
      testing_cards::PutFileSet(machine);
      const auto card = PhotoCard(machine);
      machine.Insert('E', card);
      machine.Tick();
      machine.ClearRecords();
      const std::size_t before = testing_cards::Fingerprint(*card);
      machine.ExpectBox("Confirm SD Card", c.text, named);
      if (named == host::kIdYes && c.question != nullptr) machine.ExpectBox("Confirm", c.question, c.answer);
      if (named == host::kIdYes && c.question == nullptr) {
        machine.ExpectDialog("INSTSET", [](sim::SimDialog& dialog) { dialog.Escape(); });
      }
      host::SendCommand(c.command);
      ASSERT_FALSE(machine.Boxes().empty());
      EXPECT_EQ(machine.Boxes().front().flags, host::kMbYesNo | host::kMbIconWarning);
      EXPECT_EQ(machine.Boxes().size(), named == host::kIdYes && c.question != nullptr ? 2u : 1u);
      EXPECT_EQ(testing_cards::Fingerprint(*card), before);
    }
  }
}

}  // namespace
