#include "install/file_set.h"

#include "common/card_state.h"
#include "common/module_directory.h"
#include "common/paths.h"
#include "host/host.h"
#include "install/install_setting.h"

namespace install {
namespace {

constexpr unsigned kRequiredFlags = host::kFofNoConfirmation;
constexpr unsigned kBestEffortFlags = host::kFofNoConfirmation | host::kFofNoErrorUi;

std::string Beside(const char* name) { return common::gModuleDirectory + name; }
std::string OnCard(const char* path) { return common::gCardState.driveRoot + path; }

// One SHFileOperationA; true when it succeeded and nothing was cancelled.
bool Step(unsigned function, const std::string& from, const std::string& to, unsigned flags) {
  const std::string fromList = common::ShellPathList(from);
  const std::string toList = common::ShellPathList(to);
  host::FileOperation operation;
  operation.function = function;
  operation.from = fromList.c_str();
  operation.to = toList.c_str();
  operation.flags = flags;
  operation.anyOperationsAborted = false;
  const int result = host::ShellFileOperation(operation);
  return result == 0 && !operation.anyOperationsAborted;
}

bool CopyToCardRoot(const char* name, unsigned flags) {
  return Step(host::kFoCopy, Beside(name), common::gCardState.driveRoot, flags);
}

}  // namespace

bool CopyBootFile() { return CopyToCardRoot(kBootFile, kRequiredFlags); }
void CopyFirmwareFile() { CopyToCardRoot(kFirmwareFile, kBestEffortFlags); }
bool CopyAddOnFolder() { return CopyToCardRoot(kAddOnFolder, kRequiredFlags); }
bool CopyImageFolder() { return CopyToCardRoot(kImageFolder, kRequiredFlags); }

void BackUpConfig() {
  Step(host::kFoMove, OnCard(kCardConfig), OnCard(kCardConfigBackup), kBestEffortFlags);
}

void InstallConfig() {
  const char* source = gInstallOptions.cameraPosition == kCameraRight ? kRightConfig : kLeftConfig;
  Step(host::kFoCopy, Beside(source), OnCard(kCardConfig), kBestEffortFlags);
}

void OpenCardFolder() { host::ShellOpen(common::gCardState.driveRoot.c_str()); }

void CopyFileSet() {
  if (!common::CardIdentified() || !CopyBootFile()) return;
  if (common::gCardState.bootMarkSeen == 0) CopyFirmwareFile();
  if (!CopyAddOnFolder() || !CopyImageFolder()) return;
  OpenCardFolder();
}

}  // namespace install
