// Send Mail against the test MAPI32.dll, which records the message it is handed.

#include "mail/send_mail.h"

#include <gtest/gtest.h>

#include <string>

#include "options/build_options.h"
#include "handles/handles.h"
#include "support/mapi_record.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/trace_capture.h"
#include "uitext/ui_text.h"

namespace {

using testsupport::MapiRecord;
using testsupport::ScriptedPrompt;
using testsupport::TempDir;

constexpr wchar_t kWindowsBody[] =
    L"\r\nThis mail contains Halvane Endpoint Security Client Installer.\r\nRun the attached installer to "
    L"install "
    L"Halvane Endpoint Security Client on your system.";
constexpr wchar_t kMacBody[] =
    L"\r\nThis mail contains Halvane Endpoint Security Client Installer.\r\n\r\nTo install Halvane Endpoint "
    L"Security Client, extract all the components of the MCWSNODE.TAR file at any location of your system "
    L"and "
    L"then run the MWSNODE.DMG file from the extracted folder.";

// A path lookup that finds no short form, as on volumes without 8.3 names.
DWORD WINAPI NoShortPath(LPCWSTR, LPWSTR, DWORD) {
  SetLastError(ERROR_INVALID_PARAMETER);
  return 0;
}

class SendMailTest : public ::testing::Test {
 protected:
  SendMailTest() { UseFolders(dir_.path()); }

  // A destination folder and a server folder with its Mac build folder, below `base`.
  void UseFolders(const std::wstring& base) {
    destination_ = base + L"\\Setups";
    server_ = base + L"\\Server";
    for (const std::wstring& folder : {base, destination_, server_, server_ + L"\\web",
                                       server_ + L"\\web\\build", server_ + L"\\web\\build\\cnmac"}) {
      CreateDirectoryW(folder.c_str(), nullptr);
    }
  }
  ~SendMailTest() override { SetUiTextLibrary(nullptr); }

  mail::MailRequest Request(int package, int platform, int setupType, int antivirus) const {
    mail::MailRequest request;
    request.packageIndex = package;
    request.platformIndex = platform;
    request.setupTypeIndex = setupType;
    request.antivirusIndex = antivirus;
    request.destination = destination_;
    request.installFolder = server_ + L"\\";
    return request;
  }
  // A Windows EXE/32 bit agent choice with its setup in the destination folder.
  mail::MailRequest AgentWithSetup() {
    EXPECT_TRUE(testsupport::WriteBytes(destination_ + L"\\wsnode32.exe", "setup"));
    return Request(kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusNo);
  }

  // The message boxes shown, one per line, each as "<style>:<text>".
  std::wstring Shown() const {
    std::wstring text;
    for (const auto& shown : prompt_.shown) {
      text += std::to_wstring(shown.style) + L":" + shown.text + L"\n";
    }
    return text;
  }

  TempDir dir_;
  std::wstring destination_;
  std::wstring server_;
  MapiRecord record_;
  testsupport::TraceCapture trace_;
  ScriptedPrompt prompt_;
};

// Every row of the choice table: the file looked for, where, the kind recorded, and the mail the
// mail program is handed for it.
TEST_F(SendMailTest, EachChoiceMailsItsOwnSetup) {
  struct Row {
    int package, platform, setupType, antivirus;
    const wchar_t* file;
    bool inMacFolder;
    BuildKind kind;
    bool trailingBackslash;
  };
  const Row rows[] = {
      {kPackageMinimal, kPlatformMac, kSetupMsi64, kAntivirusYes, L"rmtsetup.exe", false,
       BuildKind::WinExeAgent, false},
      {kPackageCustom, kPlatformMac, 0, kAntivirusYes, L"MCWSNOAV.TAR", true, BuildKind::MacAv, false},
      {kPackageCustom, kPlatformMac, 0, kAntivirusNo, L"MCWSNODE.TAR", true, BuildKind::MacAgent, false},
      {kPackageCustom, kPlatformWindows, kSetupMsi32, kAntivirusYes, L"wsnode32.msi", false,
       BuildKind::WinMsi, true},
      {kPackageCustom, kPlatformWindows, kSetupMsi64, kAntivirusNo, L"wsnode64.msi", false, BuildKind::WinMsi,
       false},
      {kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusYes, L"wsnoav32.exe", false,
       BuildKind::WinExeAv, false},
      {kPackageCustom, kPlatformWindows, kSetupExe64, kAntivirusYes, L"wsnoav64.exe", false,
       BuildKind::WinExeAv, true},
      {kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusNo, L"wsnode32.exe", false,
       BuildKind::WinExeAgent, true},
      {kPackageCustom, kPlatformWindows, kSetupExe64, kAntivirusNo, L"wsnode64.exe", false,
       BuildKind::WinExeAgent, false},
      // Linux has no rows of its own: the Windows names are looked for.
      {kPackageCustom, kPlatformLinux, kSetupLinux64, kAntivirusNo, L"wsnode64.exe", false,
       BuildKind::WinExeAgent, false},
      {kPackageCustom, kPlatformLinux, kSetupLinux32, kAntivirusNo, L"wsnode32.exe", false,
       BuildKind::WinExeAgent, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.file)) + " platform " +
                 std::to_string(row.platform));
    // Each row gets folders holding nothing but its own file, so a wrong choice finds nothing.
    UseFolders(dir_ / std::to_wstring(&row - rows));
    const std::wstring path =
        (row.inMacFolder ? server_ + L"\\web\\build\\cnmac" : destination_) + L"\\" + row.file;
    ASSERT_TRUE(testsupport::WriteBytes(path, "setup"));
    record_.Clear();
    mail::MailRequest request = Request(row.package, row.platform, row.setupType, row.antivirus);
    if (row.trailingBackslash) {
      request.destination += L"\\";
    }

    EXPECT_EQ(row.kind, mail::SendSetupByMail(request, prompt_));
    EXPECT_EQ(L"", Shown());
    EXPECT_EQ(MapiRecord::SentMail(L"Halvane Endpoint Security Client Installer",
                                   row.platform == kPlatformMac ? kMacBody : kWindowsBody, path, row.file),
              record_.Lines());
    EXPECT_TRUE(trace_.Contains(L"OnBnClickedBtnSend Setup file: " + path));
  }
}

// 0 (sent), 1 (cancelled) and 3 (logon cancelled) pass quietly; any other result is an error.
// MAPI32 is unloaded after the call either way.
TEST_F(SendMailTest, MapiResultsDecideBetweenSuccessAndUnableToSend) {
  const struct {
    unsigned long result;
    bool success;
  } cases[] = {{0, true}, {1, true}, {3, true}, {2, false}, {4, false}, {11, false}, {26, false}};
  const mail::MailRequest request = AgentWithSetup();
  for (const auto& c : cases) {
    SCOPED_TRACE("result " + std::to_string(c.result));
    record_.Clear();
    trace_.Clear();
    prompt_.shown.clear();
    ASSERT_TRUE(record_.SetResult(c.result));
    mail::SendSetupByMail(request, prompt_);
    EXPECT_EQ(MapiRecord::SentMail(L"Halvane Endpoint Security Client Installer", kWindowsBody,
                                   destination_ + L"\\wsnode32.exe", L"wsnode32.exe", c.result),
              record_.Lines());
    EXPECT_EQ(c.success ? L"" : std::to_wstring(MB_ICONERROR) + L":Unable to send mail\n", Shown());
    EXPECT_EQ(c.success, trace_.Contains(L"SendMailToTamsel SendMailToTamsel success"));
    EXPECT_EQ(!c.success, trace_.Contains(L"SendMailToTamsel lpfnSendMail failed"));
    EXPECT_TRUE(trace_.Contains(L"OnBnClickedBtnSend success"));
  }
}

// No setup to mail: the warning names the file looked for and the mail program is not touched.
TEST_F(SendMailTest, MissingSetupWarnsWithTheFileName) {
  const std::wstring warning = std::to_wstring(MB_ICONWARNING);
  ASSERT_TRUE(CreateDirectoryW((destination_ + L"\\wsnode64.msi").c_str(), nullptr));
  const struct {
    const char* what;
    mail::MailRequest request;
    std::wstring shown;
  } cases[] = {
      {"empty destination",
       [&] {
         mail::MailRequest r = Request(kPackageCustom, kPlatformWindows, kSetupExe32, kAntivirusNo);
         r.destination.clear();
         return r;
       }(),
       warning + L":wsnode32.exe does not exist at the specified path\n"},
      {"no file", Request(kPackageMinimal, kPlatformWindows, kSetupExe32, kAntivirusNo),
       warning + L":rmtsetup.exe does not exist at the specified path\n"},
      {"a folder in its place", Request(kPackageCustom, kPlatformWindows, kSetupMsi64, kAntivirusNo),
       warning + L":wsnode64.msi does not exist at the specified path\n"},
      {"no Mac archive", Request(kPackageCustom, kPlatformMac, 0, kAntivirusNo),
       warning + L":MCWSNODE.TAR does not exist at the specified path\n"},
      {"path too long",
       [&] {
         mail::MailRequest r = Request(kPackageCustom, kPlatformWindows, kSetupExe64, kAntivirusYes);
         r.destination = L"C:\\" + std::wstring(250, L'x');
         return r;
       }(),
       warning + L":wsnoav64.exe does not exist at the specified path\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    trace_.Clear();
    prompt_.shown.clear();
    mail::SendSetupByMail(c.request, prompt_);
    EXPECT_EQ(c.shown, Shown());
    EXPECT_TRUE(trace_.Contains(L"OnBnClickedBtnSend Setup does not exist at the specified path"));
    EXPECT_TRUE(record_.Lines().empty()) << "MAPI32 was loaded";
  }
}

// The mailto command decides whether a mail program is there; MAPI32 is not loaded without one.
TEST_F(SendMailTest, MailtoCommandIsRequired) {
  testsupport::MailtoCommandBackup mailto;
  ASSERT_TRUE(mailto.had()) << "the test prefix registers a mailto command";
  const mail::MailRequest request = AgentWithSetup();

  ASSERT_TRUE(mailto.Remove());
  mail::SendSetupByMail(request, prompt_);
  EXPECT_EQ(std::to_wstring(MB_ICONERROR) + L":Mail account is not configured on the HES server.\n", Shown());
  EXPECT_TRUE(trace_.Contains(L"CheckMailClient regopenkeyex failed for mailto\\shell\\open\\command"));
  EXPECT_TRUE(record_.Lines().empty());

  // A command through rundll32.exe serves as well as a mail program of its own.
  prompt_.shown.clear();
  ASSERT_TRUE(mailto.Set(L"rundll32.exe url.dll,MailToProtocolHandler %1"));
  EXPECT_NE(0, CheckMailClient());
  mail::SendSetupByMail(request, prompt_);
  EXPECT_EQ(L"", Shown());
  EXPECT_EQ(18u, record_.Lines().size()) << "one mail sent";
}

// A path that the ANSI code page cannot spell goes over in its short form, never with '?' in
// it; with no short form there is nothing safe to hand over.
TEST_F(SendMailTest, PathWithoutAnsiFormUsesItsShortFormOrFails) {
  if (GetACP() == CP_UTF8) {
    GTEST_SKIP() << "every path has an exact form in a UTF-8 code page";
  }
  destination_ = dir_ / L"\u0D05\u0D06 setups";
  ASSERT_TRUE(CreateDirectoryW(destination_.c_str(), nullptr));
  mail::MailRequest request = AgentWithSetup();
  const std::wstring path = destination_ + L"\\wsnode32.exe";
  wchar_t shortPath[MAX_PATH] = L"";
  ASSERT_NE(0u, GetShortPathNameW(path.c_str(), shortPath, MAX_PATH));

  mail::SendSetupByMail(request, prompt_);
  EXPECT_EQ(L"", Shown());
  const std::vector<std::string> lines = record_.Lines();
  ASSERT_EQ(18u, lines.size());
  EXPECT_EQ("file_path=" + MapiRecord::Escape(shortPath), lines[13]);
  EXPECT_EQ(std::string::npos, lines[13].find('?'));
  EXPECT_EQ("file_name=wsnode32.exe", lines[14]);

  record_.Clear();
  request.shortPathOf = &NoShortPath;
  mail::SendSetupByMail(request, prompt_);
  EXPECT_EQ(std::to_wstring(MB_ICONERROR) + L":Unable to send mail\n", Shown());
  EXPECT_EQ((std::vector<std::string>{"load", "unload"}), record_.Lines());
}

// Library texts: a product name outside ASCII goes over in the ANSI code page, a subject too
// long for its buffer is cut at its end, and a body format with foreign conversions gives way
// to the built-in one.
TEST_F(SendMailTest, LibraryTextsAreCutOrReplacedSafely) {
  fw::UniqueModule library(LoadLibraryW(L"uistr_mail.dll"));
  ASSERT_TRUE(library);
  SetUiTextLibrary(library.get());
  mail::SendSetupByMail(AgentWithSetup(), prompt_);
  ASSERT_EQ(L"", Shown());

  wchar_t format[1024];
  LoadUiText(uitext::kMailSubject, format);
  std::wstring subject = std::wstring(L"\u00D6dland Security") + (format + 2);
  subject.resize(mail::kSubjectCapacity - 1);
  EXPECT_EQ(MapiRecord::SentMail(
                subject,
                L"\r\nThis mail contains \u00D6dland Security Client Installer.\r\nRun the attached "
                L"installer to install \u00D6dland Security Client on your system.",
                destination_ + L"\\wsnode32.exe", L"wsnode32.exe"),
            record_.Lines());
}

}  // namespace
