#include "mail/send_mail.h"

#include <mapi.h>
#include <strsafe.h>

#include <cwchar>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "options/build_options.h"
#include "uitext/ui_text.h"

namespace {

constexpr wchar_t kSendTag[] = L"OnBnClickedBtnSend";
constexpr wchar_t kMailTag[] = L"SendMailToTamsel";
constexpr wchar_t kCheckTag[] = L"CheckMailClient";
constexpr wchar_t kMailtoCommandKey[] = L"mailto\\shell\\open\\command";

constexpr size_t kMessageCapacity = 1024;
constexpr size_t kErrorCapacity = 500;
constexpr DWORD kCommandBytes = 520;

// Results of MAPISendMail that count as success: sent, cancelled by the user, and a logon the
// administrator cancelled.
constexpr ULONG kAcceptedResults[] = {SUCCESS_SUCCESS, MAPI_USER_ABORT, MAPI_E_LOGIN_FAILURE};

void ShowSetupMissing(fw::IUserPrompt& prompt, const wchar_t* fileName) {
  TraceLog(tracelog::kLevelError, kSendTag, L"Setup does not exist at the specified path");
  wchar_t message[kMessageCapacity];
  FormatUiText(uitext::kSetupNotFound, message, kMessageCapacity, fileName);
  prompt.Show(message, MB_OK | MB_ICONWARNING);
}

// Only a file counts: a folder of the setup's name is no setup to attach.
bool IsFile(const wchar_t* path) {
  const DWORD attributes = ::GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The narrow (ANSI code page) form of `text`, cut at the end of the buffer when it does not fit
// there whole, never inside a character. Always terminated.
void ToAnsiCut(const wchar_t* text, char* buffer, size_t capacity) {
  buffer[0] = '\0';
  int length = static_cast<int>(std::wcslen(text));
  while (length > 0) {
    const int written = ::WideCharToMultiByte(CP_ACP, 0, text, length, buffer, static_cast<int>(capacity - 1),
                                              nullptr, nullptr);
    if (written > 0) {
      buffer[written] = '\0';
      return;
    }
    --length;
    if (length > 0 && IS_HIGH_SURROGATE(text[length - 1])) {
      --length;
    }
  }
}

// The narrow form of `text` when it names exactly the same characters: a character without an
// ANSI form would come out as '?' or as a look-alike and name another file.
bool ToExactAnsi(const wchar_t* text, char* buffer, size_t capacity) {
  const int written =
      ::WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, static_cast<int>(capacity), nullptr, nullptr);
  if (written == 0) {
    return false;
  }
  wchar_t back[mail::kPathCapacity];
  const int read = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, buffer, -1, back, mail::kPathCapacity);
  return read != 0 && std::wcscmp(back, text) == 0;
}

// The attachment's path and bare file name in narrow text: the path as it stands when it has an
// exact ANSI form, otherwise its short (8.3) form when that has one.
bool AttachmentNames(const wchar_t* setupPath, mail::ShortPathLookup shortPathOf, char* path, char* name) {
  const wchar_t* chosen = setupPath;
  wchar_t shortPath[mail::kPathCapacity];
  if (!ToExactAnsi(chosen, path, mail::kPathCapacity)) {
    const DWORD length = shortPathOf(setupPath, shortPath, mail::kPathCapacity);
    if (length == 0 || length >= mail::kPathCapacity) {
      TraceLog(tracelog::kLevelError, kMailTag, L"GetShortPathNameW failed (Err -> %lu)", ::GetLastError());
      return false;
    }
    chosen = shortPath;
    if (!ToExactAnsi(chosen, path, mail::kPathCapacity)) {
      TraceLog(tracelog::kLevelError, kMailTag, L"The setup path has no ANSI form: %s", setupPath);
      return false;
    }
  }
  // The name part is taken from the wide path: in a double-byte code page a backslash byte may
  // be the second half of another character.
  const wchar_t* slash = std::wcsrchr(chosen, L'\\');
  return ToExactAnsi(slash != nullptr ? slash + 1 : chosen, name, mail::kPathCapacity);
}

}  // namespace

namespace mail {

MailRequest RequestFor(const BuildOptions& options) {
  MailRequest request;
  request.packageIndex = options.packageIndex;
  request.platformIndex = options.platformIndex;
  request.setupTypeIndex = options.setupTypeIndex;
  request.antivirusIndex = options.antivirusIndex;
  request.destination = options.destination;
  request.installFolder = options.installFolder;
  return request;
}

SetupChoice ChooseSetupFile(int packageIndex, int platformIndex, int setupTypeIndex, int antivirusIndex) {
  const bool antivirus = antivirusIndex == kAntivirusYes;
  if (packageIndex == kPackageMinimal) {
    return {L"rmtsetup.exe", SetupFolder::kDestination, BuildKind::WinExeAgent};
  }
  if (platformIndex == kPlatformMac) {
    return antivirus ? SetupChoice{L"MCWSNOAV.TAR", SetupFolder::kMacBuild, BuildKind::MacAv}
                     : SetupChoice{L"MCWSNODE.TAR", SetupFolder::kMacBuild, BuildKind::MacAgent};
  }
  if (setupTypeIndex == kSetupMsi32) {
    return {L"wsnode32.msi", SetupFolder::kDestination, BuildKind::WinMsi};
  }
  if (setupTypeIndex == kSetupMsi64) {
    return {L"wsnode64.msi", SetupFolder::kDestination, BuildKind::WinMsi};
  }
  const bool exe32 = setupTypeIndex == kSetupExe32;
  if (antivirus) {
    return {exe32 ? L"wsnoav32.exe" : L"wsnoav64.exe", SetupFolder::kDestination, BuildKind::WinExeAv};
  }
  return {exe32 ? L"wsnode32.exe" : L"wsnode64.exe", SetupFolder::kDestination, BuildKind::WinExeAgent};
}

BuildKind SendSetupByMail(const MailRequest& request, fw::IUserPrompt& prompt) {
  TraceLog(tracelog::kLevelProgress, kSendTag, L"called");
  const SetupChoice choice = ChooseSetupFile(request.packageIndex, request.platformIndex,
                                             request.setupTypeIndex, request.antivirusIndex);

  // A folder that is not known (an empty destination box, or no installation folder for the
  // Mac build folder) holds no setup; a relative path would be looked up wherever the program
  // happens to run.
  const std::wstring& base =
      choice.folder == SetupFolder::kDestination ? request.destination : request.installFolder;
  if (base.empty()) {
    ShowSetupMissing(prompt, choice.fileName);
    return choice.kind;
  }
  wchar_t path[kPathCapacity];
  bool formed = SUCCEEDED(::StringCchCopyW(path, kPathCapacity, base.c_str()));
  if (choice.folder == SetupFolder::kDestination) {
    if (formed && base.back() != L'\\') {
      formed = SUCCEEDED(::StringCchCatW(path, kPathCapacity, L"\\"));
    }
  } else {
    formed = formed && SUCCEEDED(::StringCchCatW(path, kPathCapacity, kMacBuildFolder));
  }
  formed = formed && SUCCEEDED(::StringCchCatW(path, kPathCapacity, choice.fileName));

  if (!formed) {
    // No file can lie at a path longer than the buffer.
    TraceLog(tracelog::kLevelError, kSendTag, L"Setup path too long: %s", base.c_str());
    ShowSetupMissing(prompt, choice.fileName);
  } else {
    TraceLog(tracelog::kLevelProgress, kSendTag, L"Setup file: %s", path);
    if (!IsFile(path)) {
      ShowSetupMissing(prompt, choice.fileName);
    } else {
      uint32_t status = kMailFailed;
      if (!SendMailToTamsel(path, &status, request.platformIndex, request.shortPathOf)) {
        TraceLog(tracelog::kLevelError, kSendTag, L"SendMailToTamsel failed");
        wchar_t message[kErrorCapacity];
        LoadUiText(status == kNoMailClient ? uitext::kErrMailNotConfigured : uitext::kErrSendMail, message);
        prompt.Show(message, MB_OK | MB_ICONERROR);
      }
    }
  }
  TraceLog(tracelog::kLevelProgress, kSendTag, L"success");
  return choice.kind;
}

}  // namespace mail

bool SendMailToTamsel(const wchar_t* setupPath, uint32_t* status, int platformIndex,
                      mail::ShortPathLookup shortPathOf) {
  TraceLog(tracelog::kLevelProgress, kMailTag, L"SendMailToTamsel called");
  *status = mail::kMailFailed;
  if (CheckMailClient() == 0) {
    TraceLog(tracelog::kLevelError, kMailTag, L"CheckMailClient failed");
    *status = mail::kNoMailClient;
    return false;
  }

  // The texts are formatted wide, then turned into the ANSI code page the mail program takes,
  // which is what loading them narrow from the string library would give.
  wchar_t product[mail::kPathCapacity];
  LoadUiText(uitext::kAppTitleProduct, product);
  const UiText& bodyFormat = platformIndex == kPlatformMac ? uitext::kMailBodyMac : uitext::kMailBodyWindows;
  wchar_t wideBody[mail::kBodyCapacity];
  if (!FormatUiText(bodyFormat, wideBody, mail::kBodyCapacity, product, product)) {
    TraceLog(tracelog::kLevelProgress, kMailTag, L"Mail text cut to fit its buffer");
  }
  char body[mail::kBodyCapacity];
  ToAnsiCut(wideBody, body, mail::kBodyCapacity);

  // The mail stub of the system folder (SysWOW64 for a 32-bit program on 64-bit Windows), never
  // a copy in the program's or the current folder.
  fw::UniqueModule mapi(::LoadLibraryExW(L"MAPI32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!mapi) {
    TraceLog(tracelog::kLevelError, kMailTag, L"Failed to load MAPI32.dll...");
    return false;
  }
  const auto sendMail = fw::GetExport<LPMAPISENDMAIL>(mapi.get(), "MAPISendMail");
  if (sendMail == nullptr) {
    TraceLog(tracelog::kLevelError, kMailTag, L"Failed to get MAPISendMail()...");
    return false;
  }

  char attachmentPath[mail::kPathCapacity];
  char attachmentName[mail::kPathCapacity];
  if (!AttachmentNames(setupPath, shortPathOf, attachmentPath, attachmentName)) {
    return false;
  }
  MapiFileDesc attachment{};
  attachment.flFlags = MAPI_OLE_STATIC;
  attachment.nPosition = static_cast<ULONG>(-1);
  attachment.lpszPathName = attachmentPath;
  attachment.lpszFileName = attachmentName;

  // A recipient entry is prepared but not counted: the administrator fills in the recipients.
  char noName[] = "";
  MapiRecipDesc recipient{};
  recipient.ulRecipClass = MAPI_TO;
  recipient.lpszName = noName;

  wchar_t wideSubject[mail::kSubjectCapacity];
  if (!FormatUiText(uitext::kMailSubject, wideSubject, mail::kSubjectCapacity, product)) {
    TraceLog(tracelog::kLevelProgress, kMailTag, L"Mail subject cut to fit its buffer");
  }
  char subject[mail::kSubjectCapacity];
  ToAnsiCut(wideSubject, subject, mail::kSubjectCapacity);

  MapiMessage message{};
  message.lpszSubject = subject;
  message.lpszNoteText = body;
  message.nRecipCount = 0;
  message.lpRecips = &recipient;
  message.nFileCount = 1;
  message.lpFiles = &attachment;

  TraceLog(tracelog::kLevelProgress, kMailTag, L"Calling pfnSendMail");
  const ULONG result = sendMail(0, 0, &message, MAPI_LOGON_UI | MAPI_DIALOG, 0);
  mapi.reset();
  for (const ULONG accepted : kAcceptedResults) {
    if (result == accepted) {
      *status = mail::kMailSent;
      TraceLog(tracelog::kLevelProgress, kMailTag, L"SendMailToTamsel success");
      return true;
    }
  }
  TraceLog(tracelog::kLevelError, kMailTag, L"lpfnSendMail failed");
  return false;
}

int CheckMailClient() {
  TraceLog(tracelog::kLevelProgress, kCheckTag, L"CheckMailClient called");
  fw::UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, kMailtoCommandKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kCheckTag, L"regopenkeyex failed for %s", kMailtoCommandKey);
    return 0;
  }
  // One character more than the value may fill, so that the command is always terminated.
  wchar_t command[kCommandBytes / sizeof(wchar_t) + 1] = {};
  DWORD bytes = kCommandBytes;
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(command), &bytes) !=
      ERROR_SUCCESS) {
    TraceLog(tracelog::kLevelError, kCheckTag, L"regqueryvalueex failed for %s", kMailtoCommandKey);
    return 0;
  }
  key.reset();
  command[bytes / sizeof(wchar_t)] = L'\0';
  TraceLog(tracelog::kLevelProgress, kCheckTag, L"default value: %s", command);
  if (std::wcsstr(command, L"rundll32.exe") != nullptr) {
    TraceLog(tracelog::kLevelProgress, kCheckTag, L"mailto runs through rundll32.exe");
    return 1;
  }
  TraceLog(tracelog::kLevelProgress, kCheckTag, L"success");
  return 2;
}
