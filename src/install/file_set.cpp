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

// One SHFileOperationA; true when it succeeded and nothing was cancelled.
bool Step(unsigned function, const std::string& from, const std::string& to, unsigned flags) {
  if (host::StopRequested()) return false;  // no file after a stop
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

bool CopyToCardRoot(const std::string& cardRoot, const char* name, unsigned flags) {
  return Step(host::kFoCopy, Beside(name), cardRoot, flags);
}

}  // namespace

bool CopyBootFile(const std::string& cardRoot) { return CopyToCardRoot(cardRoot, kBootFile, kRequiredFlags); }
void CopyFirmwareFile(const std::string& cardRoot) {
  CopyToCardRoot(cardRoot, kFirmwareFile, kBestEffortFlags);
}
bool CopyAddOnFolder(const std::string& cardRoot) {
  return CopyToCardRoot(cardRoot, kAddOnFolder, kRequiredFlags);
}
bool CopyImageFolder(const std::string& cardRoot) {
  return CopyToCardRoot(cardRoot, kImageFolder, kRequiredFlags);
}

void BackUpConfig(const std::string& cardRoot) {
  Step(host::kFoMove, cardRoot + kCardConfig, cardRoot + kCardConfigBackup, kBestEffortFlags);
}

const char* ChosenConfig() {
  return gInstallOptions.cameraPosition == kCameraRight ? kRightConfig : kLeftConfig;
}

void InstallConfig(const std::string& cardRoot) {
  Step(host::kFoCopy, Beside(ChosenConfig()), cardRoot + kCardConfig, kBestEffortFlags);
}

void OpenCardFolder() { host::ShellOpen(common::gCardState.driveRoot.c_str()); }

void CopyFileSet() {
  const std::string& root = common::gCardState.driveRoot;
  if (!common::CardIdentified() || !CopyBootFile(root)) return;
  if (common::gCardState.bootMarkSeen == 0) CopyFirmwareFile(root);
  if (!CopyAddOnFolder(root) || !CopyImageFolder(root)) return;
  OpenCardFolder();
}

}  // namespace install
