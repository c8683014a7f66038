#pragma once
// The Windows build: a working folder under the server's packer folder filled with the payload
// of the chosen kind, packed into a self-extracting setup or inserted into a copy of the template
// MSI, and moved to the destination folder.

#include <string>
#include <vector>

#include "build/build_ui.h"
#include "build/create_plan.h"

// Builds the Windows installer of `plan` (kinds WinExeAv, WinExeAgent, WinMsi) in `folders`, the
// plan's Windows target. `programFolder` is the program's own folder, ending with a backslash
// (32-bit uistr.dll, the password file, 7-Zip's clPacker sub-folder). Every outcome is shown
// through `ui`; true when the installer lies at plan.installer.
bool CreateClientSetupExe(const CreatePlan& plan, const WindowsTarget& folders, IBuildUi& ui,
                          const wchar_t* programFolder);

// One group's installer in a run for many groups.
struct GroupInstaller {
  std::wstring guid;       // written into the group's settings file as its preset group
  std::wstring folder;     // below the destination folder, one name a tree level, joined by '\'
  std::wstring installer;  // set by the run: the destination folder, `folder` and the output name
};

// What a run for many groups tells its caller as it goes.
class IGroupRunReport {
 public:
  virtual ~IGroupRunReport() = default;
  // Asked before group `index` is begun: true stops the run there.
  virtual bool Stopped(size_t index) = 0;
  // Group `index` ended, after its last message: its installer lies in place when `built`.
  virtual void GroupDone(size_t index, bool built) = 0;
};

// One installer of `plan` (a Windows kind) for each of `groups`, as a single build makes it but
// with the group's settings file. The checks (destination, address, free space, the question)
// and the password question run once. For an EXE the payload and the server-info record are
// gathered and archived once, without the settings file, and each group's setup is packed from
// that archive and its own settings file; for an MSI the template is filled once without the
// settings file, and each group gets a copy with its own settings row inserted. Each installer is committed
// as a single build's (temporary name, checked, signed when the plan has a signer, one rename). A failure in
// one group is shown for it, and the run goes on with the next. False when the run ended before the first
// group (refused or failed, shown through `ui`).
bool CreateClientSetupsForGroups(const CreatePlan& plan, const WindowsTarget& folders,
                                 std::vector<GroupInstaller>& groups, IBuildUi& ui,
                                 const wchar_t* programFolder, IGroupRunReport& report);
