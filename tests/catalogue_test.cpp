// The message catalogue: the texts as the program shows them, the two
// alternating buffers, and how boxes are put up.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/catalogue.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

TEST(Catalogue, TextsAreExactToTheSpaceAndNewline) {
  sim::Machine machine;
  const std::vector<std::pair<unsigned, std::string>> texts = {
      {2000, "Cannot write boot sector! Maybe write protected."},
      {2006, "Total capacity : %d MB\n"},
      {2007, "Partition%d  ---  "},
      {2013, "  Capacity : %d MB\n"},
      {2014, "  Capacity : %d.%02d MB\n"},
      {2015, "If you use Vista, [Run as Administrator] from the right click menu."},
      {2023, " (Card is probably not bootable!)"},
      {2026, "Version Up finished!\nLock the card, insert into the camera and VORN will auto-boot."},
      {2031, "Need to re-create one partition.\nContinue to install VORN ? "},
      {2033, "Need to format this card.\nContinue to install VORN ? "},
      {2036, "Need to re-create two partitions.\nContinue to install VORN ? "},
      {2040, "Remove and re-insert SD Card!"},
      {2041, "Re-insert"},
      {2043, "Select Distination Folder"},
      {2051, "Card size is not supported for this partition layout!"},
      // Kept in the table although nothing loads them.
      {103, "VORNINST"},
      {110, "VORNINST"},
      {2028, "Is card 4GB or less ?"},
      {2030, "Continue to install VORN ? "},
      {2044, "Select Distination Folder"},
      // Not in the table: an empty text, no error.
      {2045, ""},
      {2050, ""},
  };
  for (const auto& [id, text] : texts) EXPECT_EQ(common::LoadMessageText(id), text) << id;
  // The same sentence under two captions.
  EXPECT_STREQ(common::LoadMessageText(2035), common::LoadMessageText(2037));
}

TEST(Catalogue, TwoBuffersAreUsedInTurn) {
  sim::Machine machine;
  const char* first = common::LoadMessageText(MSG_CAPTION_ERROR);
  const char* second = common::LoadMessageText(MSG_CAPTION_CONFIRM);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, "Error");
  const char* third = common::LoadMessageText(MSG_CAPTION_FINISH);
  EXPECT_EQ(third, first);            // the first buffer again...
  EXPECT_STREQ(first, "Finish");      // ...so the first text is gone
  EXPECT_STREQ(second, "Confirm");    // while the second still stands
  EXPECT_EQ(common::LoadMessageText(MSG_CAPTION_REMOVE), second);
}

TEST(Catalogue, BoxesLoadTheCaptionFirstAndUseTheSetsFlags) {
  sim::Machine machine;
  struct Case {
    unsigned caption, text;
    common::ButtonSet set;
    unsigned flags;
    int answer;
  };
  const Case cases[] = {
      {MSG_CAPTION_ERROR, MSG_CANNOT_WRITE_BOOT_SECTOR, common::ButtonSet::Notice, 0x30, host::kIdOk},
      {MSG_CAPTION_CONFIRM, MSG_SURE, common::ButtonSet::Question, 0x4, host::kIdNo},
      {MSG_CAPTION_CONFIRM, MSG_ONE_OR_TWO_PARTITIONS, common::ButtonSet::Choice, 0x3, host::kIdCancel},
      {MSG_CAPTION_REINSERT_CARD, MSG_REMOVE_AND_REINSERT, common::ButtonSet::Notice, 0x30, host::kIdOk},
  };
  for (const Case& c : cases) {
    const std::string caption = common::LoadMessageText(c.caption);
    const std::string text = common::LoadMessageText(c.text);
    machine.ExpectBox(caption, text, c.answer);
    machine.ClearRecords();
    EXPECT_EQ(common::CatalogueMessageBox(c.caption, c.text, c.set), c.answer);
    ASSERT_EQ(machine.Boxes().size(), 1u);
    EXPECT_EQ(machine.Boxes()[0].flags, c.flags);
    EXPECT_EQ(machine.LogMatching("load"),
              (std::vector<std::string>{"load " + std::to_string(c.caption),
                                        "load " + std::to_string(c.text)}));
  }
}

}  // namespace
