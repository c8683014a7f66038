#include "build/create.h"

#include "build/installer_hash.h"
#include "build/tar_client_dispatch.h"
#include "build/windows_build.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

CreateResult RunCreate(const BuildOptions& chosen, IBuildUi& ui, const wchar_t* programFolder,
                       const wchar_t* tag) {
  BuildOptions options = chosen;
  PrepareCreate(options);
  CreateResult result;
  result.kind = options.build.kind;
  result.alternateAddress = options.alternateAddress;
  switch (options.build.kind) {
    case BuildKind::WinExeAv:
    case BuildKind::WinExeAgent:
    case BuildKind::WinMsi:
      if (programFolder != nullptr) {
        result.built = CreateClientSetupExe(options, ui, programFolder, &result.installer);
      } else {
        TraceLog(tracelog::kLevelError, tag, L"GetProgramFolder failed");
        wchar_t text[1024];
        LoadUiText(uitext::kErrCreateSetup, text);
        ui.Show(text, MB_OK | MB_ICONERROR);
      }
      break;
    case BuildKind::MacAv:
    case BuildKind::MacAgent:
    case BuildKind::Linux32:
    case BuildKind::Linux64:
      // An invalid alternate address stops here, before anything is touched.
      if (options.alternateAddressError != nullptr) {
        wchar_t text[1024];
        LoadUiText(*options.alternateAddressError, text);
        ui.Show(text, MB_OK | MB_ICONERROR);
      } else {
        result.built = CreateTarClientBuild(options, ui, &result.installer);
      }
      break;
  }
  return result;
}

void TraceInstallerSha256(const CreateResult& result, const wchar_t* tag) {
  if (!result.built) {
    return;
  }
  std::wstring hash;
  if (HashFileSha256(result.installer.c_str(), hash)) {
    TraceLog(tracelog::kLevelError, tag, L"SHA-256 of %s: %s", result.installer.c_str(), hash.c_str());
  } else {
    TraceLog(tracelog::kLevelError, tag, L"SHA-256 of %s not computed (Err -> %u)", result.installer.c_str(),
             ::GetLastError());
  }
}
