// The "Install Setting" dialogs: camera position and card size, kept for
// the run.
#pragma once

#include <cstdint>

#include "host/host.h"

namespace install {

constexpr char kInstallSettingTemplate[] = "INSTSET";   // New Install: both questions
constexpr char kVersionUpSettingTemplate[] = "INSTSET2";  // Version Up: camera only

constexpr std::int32_t kCameraLeft = 0;
constexpr std::int32_t kCameraRight = 1;
constexpr std::int32_t kOnePartition = 0;
constexpr std::int32_t kTwoPartitions = 1;

struct InstallOptions {
  std::int32_t cameraPosition = kCameraLeft;
  std::int32_t cardSizeChoice = kOnePartition;
};

extern InstallOptions gInstallOptions;

std::intptr_t InstallSettingProc(host::DialogWindow dialog, unsigned message,
                                 std::uintptr_t wParam, std::intptr_t lParam);

// Shows the named dialog; 1 when the user closed it with OK (the answers are
// then in gInstallOptions), 0 for anything else.
int RunInstallSetting(const char* templateName);

}  // namespace install
