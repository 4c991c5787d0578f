#include "app/dispatch.h"

#include "common/card_state.h"
#include "card/card_report.h"
#include "card/scan.h"
#include "disk/boot_marks.h"
#include "disk/card_guards.h"
#include "disk/partition_commands.h"
#include "host/host.h"
#include "images/transfer.h"
#include "install/file_set.h"
#include "install/format.h"
#include "install/new_install.h"
#include "install/version_up.h"
#include "res/ids.h"

namespace app {
namespace {

using Handler = void (*)(unsigned notifyCode);

struct CommandEntry {
  unsigned id;
  Handler handler;
  // It writes a table or formats: the system's prompts on the card are
  // closed while it runs.
  bool closesDrivePrompts = false;
};

void CloseProgram(unsigned) { host::SendClose(); }

void ShowAbout(unsigned) { host::RunDialog("ABOUT"); }

// Nothing in the program issues it; there is no "HELP" template, so the
// request fails and nothing is shown.
void ShowHelp(unsigned) { host::RunDialog("HELP"); }

void SelectDrive(unsigned notifyCode) {
  if (notifyCode != host::kCbnSelChange) return;
  card::TakeSelectedDriveRoot();
  host::SendCommand(IDC_INSPECT);
}

void OpenCardFolder(unsigned) {
  if (common::CardIdentified()) install::OpenCardFolder();
}

void Inspect(unsigned) { card::InspectCard(); }
void Scan(unsigned) { card::ScanDrives(); }
void MakeBootable(unsigned) { disk::MakeBootableCommand(); }
void SetScriptFlag(unsigned) { disk::SetScriptFlagCommand(); }
void DumpBootSector(unsigned) { disk::DumpBootSectorCommand(); }
void SwapPartitions(unsigned) { disk::SwapPartitionsCommand(); }
void CreatePartitions(unsigned) { disk::CreatePartitionCommand(); }
void WriteDual(unsigned) { disk::WriteDualPartitionCommand(); }
void Format(unsigned) { install::FormatCard(); }
void CopyFileSet(unsigned) { install::CopyFileSet(); }
void NewInstall(unsigned) { install::NewInstall(); }
void VersionUp(unsigned) { install::VersionUp(); }
void TransferImages(unsigned) { images::TransferImageFolders(); }

constexpr CommandEntry kCommands[] = {
    {IDC_EXIT, CloseProgram},
    {IDC_CANCEL_KEY, CloseProgram},
    {IDM_ABOUT, ShowAbout},
    {IDM_HELP, ShowHelp},
    {IDC_INSPECT, Inspect},
    {IDC_DRIVE_COMBO, SelectDrive},
    {IDC_MAKE_BOOTABLE, MakeBootable},
    {IDC_FORMAT, Format, true},
    {IDC_SCAN, Scan},
    {IDC_FOLDER_OPEN, OpenCardFolder},
    {IDC_COPY_VORN, CopyFileSet},
    {IDC_SWAP_PARTITIONS, SwapPartitions, true},
    {IDC_WRITE_DUAL, WriteDual, true},
    {IDC_NEW_INSTALL, NewInstall, true},
    {IDC_CREATE_PARTITION, CreatePartitions, true},
    {IDC_VERSION_UP, VersionUp, true},
    {IDC_COPY_IMAGES, TransferImages},
    {IDC_DUMP_BOOT_SECTOR, DumpBootSector},
    {IDC_SCRIPT_FLAG, SetScriptFlag},
};

const CommandEntry* FindCommand(unsigned commandId) {
  for (const CommandEntry& entry : kCommands) {
    if (entry.id == commandId) return &entry;
  }
  return nullptr;
}

void RunCommand(const CommandEntry& command, unsigned notifyCode) {
  if (!command.closesDrivePrompts || !common::CardIdentified()) {
    command.handler(notifyCode);
    return;
  }
  const disk::DrivePromptGuard guard;
  command.handler(notifyCode);
}

void StartRefreshTimer() { host::SetTimer(kRefreshTimerId, kRefreshPeriodMs); }

}  // namespace

void OnCreate() {
  common::gCardState.driveRoot.clear();
  common::gDriveSlots.fill(0);
  StartRefreshTimer();
}

void OnClose() {
  host::KillTimer(kRefreshTimerId);
  host::PostQuit(0);
}

void OnTimer() { host::SendCommand(IDC_SCAN); }

bool OnCommand(unsigned commandId, unsigned notifyCode) {
  host::KillTimer(kRefreshTimerId);
  const CommandEntry* command = FindCommand(commandId);
  if (command != nullptr) RunCommand(*command, notifyCode);
  StartRefreshTimer();
  return command != nullptr;
}

}  // namespace app
