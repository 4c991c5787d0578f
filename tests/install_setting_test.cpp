// The "Install Setting" dialogs: preselection from the options, the answers
// taken on OK only, and the results of every way out.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "install/install_setting.h"
#include "res/ids.h"
#include "sim/sim_host.h"

namespace {

using install::gInstallOptions;
using install::InstallOptions;

TEST(InstallSetting, PreselectsTheOptionsAndTakesTheAnswersOnOkOnly) {
  struct Case {
    const char* name;
    const char* dialog;
    InstallOptions before;
    std::function<void(sim::SimDialog&)> user;  // empty: the dialog cannot be shown
    int result;
    InstallOptions after;
  };
  const auto click = [](std::vector<int> ids) {
    return [ids](sim::SimDialog& dialog) {
      for (int id : ids) dialog.Click(id);
    };
  };
  const Case cases[] = {
      {"OK as preselected", "INSTSET", {1, 1}, click({1}), 1, {1, 1}},
      {"Right and two partitions", "INSTSET", {0, 0}, click({IDC_CAMERA_RIGHT, IDC_TWO_PARTITIONS, 1}),
       1, {1, 1}},
      {"Left and one partition", "INSTSET", {1, 1}, click({IDC_CAMERA_LEFT, IDC_ONE_PARTITION, 1}), 1,
       {0, 0}},
      {"CANCEL keeps the options", "INSTSET", {0, 1}, click({IDC_CAMERA_RIGHT, 2}), 0, {0, 1}},
      {"Esc keeps the options", "INSTSET", {1, 0},
       [](sim::SimDialog& dialog) {
         dialog.Click(IDC_TWO_PARTITIONS);
         dialog.Escape();
       },
       0, {1, 0}},
      {"cannot be shown", "INSTSET", {1, 1}, {}, 0, {1, 1}},
      {"camera only: Right", "INSTSET2", {0, 1}, click({IDC_CAMERA_RIGHT, 1}), 1, {1, 0}},
      {"camera only: CANCEL", "INSTSET2", {1, 1}, click({IDC_CAMERA_LEFT, 2}), 0, {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine machine;
    gInstallOptions = c.before;
    bool seen = false;
    std::function<void(sim::SimDialog&)> user;
    if (c.user) {
      user = [&](sim::SimDialog& dialog) {
        seen = true;
        const bool both = std::string(c.dialog) == "INSTSET";
        EXPECT_EQ(dialog.Checked(IDC_CAMERA_LEFT), c.before.cameraPosition == 0);
        EXPECT_EQ(dialog.Checked(IDC_CAMERA_RIGHT), c.before.cameraPosition == 1);
        EXPECT_EQ(dialog.Exists(IDC_ONE_PARTITION), both);
        if (both) {
          EXPECT_EQ(dialog.Checked(IDC_ONE_PARTITION), c.before.cardSizeChoice == 0);
          EXPECT_EQ(dialog.Checked(IDC_TWO_PARTITIONS), c.before.cardSizeChoice == 1);
        }
        // Clicks on the radio buttons do not end it.
        c.user(dialog);
        EXPECT_TRUE(dialog.Ended());
      };
    }
    machine.ExpectDialog(c.dialog, user);
    EXPECT_EQ(install::RunInstallSetting(c.dialog), c.result);
    EXPECT_EQ(seen, static_cast<bool>(c.user));
    EXPECT_EQ(gInstallOptions.cameraPosition, c.after.cameraPosition);
    EXPECT_EQ(gInstallOptions.cardSizeChoice, c.after.cardSizeChoice);
  }
}

}  // namespace
