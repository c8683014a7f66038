#include "build/tar_client_dispatch.h"

#include <string>

#include "build/file_utils.h"
#include "build/linux_build.h"
#include "build/mac_build.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

bool CreateTarClientBuild(const BuildOptions& options, fw::IUserPrompt& prompt, std::wstring* archive) {
  static const wchar_t kTag[] = L"CreateClientSetupExe";
  const BuildKind kind = options.build.kind;
  const bool mac = kind == BuildKind::MacAv || kind == BuildKind::MacAgent;
  if (mac ? !CreateMacClientBuildFile(options, prompt) : !CreateLinuxClientBuildFile(options, prompt)) {
    TraceLog(tracelog::kLevelError, kTag,
             mac ? L"CreateMacClientBuildFile failed" : L"CreateLinuxClientBuildFile failed");
    return false;
  }
  const wchar_t* folder = mac ? L"\\cnmac" : kind == BuildKind::Linux32 ? L"\\heslin32" : L"\\heslin64";
  const std::wstring buildPath = options.webBuildFolder + folder;
  wchar_t message[1024];
  LoadUiText(uitext::kTarCreatedAt, message);
  size_t length = 0;
  if (!ReplaceToken(message, 1024, L"<__BUILD_NAME__>", BuildOutputName(options.build), &length) ||
      !ReplaceToken(message, 1024, L"<__BUILD_PATH__>", buildPath.c_str(), &length)) {
    TraceLog(tracelog::kLevelError, kTag, L"The success message does not fit for %s", buildPath.c_str());
  }
  prompt.Show(message, MB_OK | MB_ICONINFORMATION);
  if (archive != nullptr) {
    *archive = buildPath + L"\\" + BuildOutputName(options.build);
  }
  return true;
}
