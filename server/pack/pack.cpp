// Stand-in packer: turns a 7z archive into a self-extracting setup.
//
//   pack.exe ARCHIVE OUTPUT [/PWD=PASSWORD_FILE] [SIZE]
//
// ARCHIVE and OUTPUT are bare file names in the current directory; PASSWORD_FILE is the
// 40-byte scrambled password file (each byte's 4-bit halves exchanged); SIZE is the pack size
// parameter, decimal. The setup is the 7-Zip SFX module "7z.sfx" beside this program followed
// by the archive, so any 7z reader lists and extracts it.
//
// Every run that got past the argument check leaves "pack.log" in the current directory
// (UTF-8, one key=value a line): archive, output, size (empty without SIZE), password_fnv1a64
// and password_file (only with /PWD=), and exit (this run's exit code). The password itself is
// never written: password_fnv1a64 is the 64-bit FNV-1a hash of its UTF-8 bytes in 16 lowercase
// hexadecimal digits (empty when the file could not be read), for tests to compare.
//
// Exit codes: 0 done; 1 bad arguments; 2 archive missing or not a 7z archive; 3 password file
// unreadable or malformed; 4 SFX module missing or the setup could not be written; 5 failure
// asked for by the switch file. Every failure also prints one line on standard error.
//
// Switch files beside pack.exe, read on every run, for tests of its callers:
//   pack.delay  decimal milliseconds to wait before packing (a slow packer);
//   pack.fail   when present, the setup is written as usual and the run then ends with exit
//               code 5, so that a caller must read the exit code to notice the failure;
//   pack.none   when present, no setup is written and the run ends with exit code 0 (only the
//               record is written), so that a caller must check the setup itself;
//   pack.fail-after  decimal count of runs that pack as usual before one fails as pack.fail
//               asks: a run that finds it above 0 lowers it by one, the run that finds 0 deletes it
//               and fails, so that one setup of many fails;
//   pack.hold-after  the same count for a run that holds: it deletes the switch, creates
//               "pack.held" beside pack.exe and waits (at most two minutes) until that file is gone
//               before it packs, so that a test can act while a known setup is being packed;
//   pack.pfx    a PFX file (password "pack"): the setup is signed with its certificate before it
//               takes its name, as a vendor's packer may sign what it makes.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>

#include "common/standin_files.h"
#include "signing/signed_file.h"

namespace {

enum ExitCode {
  kDone = 0,
  kBadArguments = 1,
  kBadArchive = 2,
  kBadPassword = 3,
  kWriteFailed = 4,
  kFailureAskedFor = 5
};

constexpr size_t kPasswordFileBytes = 40;
constexpr char k7zSignature[] = "7z\xBC\xAF\x27\x1C";

struct Request {
  std::wstring archive;
  std::wstring output;
  std::optional<std::wstring> passwordFile;
  std::optional<unsigned long> size;
};

int Fail(int code, const std::wstring& message) {
  fwprintf(stderr, L"pack: %ls\n", message.c_str());
  return code;
}

bool IsBareName(const std::wstring& name) {
  return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos;
}

bool ParseSize(const std::wstring& text, unsigned long* size) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return false;
  }
  const unsigned long long value = wcstoull(text.c_str(), nullptr, 10);
  if (value > 0xFFFFFFFFull) {
    return false;
  }
  *size = static_cast<unsigned long>(value);
  return true;
}

bool ParseArguments(int argc, wchar_t** argv, Request* request) {
  if (argc < 3 || argc > 5 || !IsBareName(argv[1]) || !IsBareName(argv[2])) {
    return false;
  }
  request->archive = argv[1];
  request->output = argv[2];
  int next = 3;
  if (next < argc && _wcsnicmp(argv[next], L"/PWD=", 5) == 0) {
    if (argv[next][5] == L'\0') {
      return false;
    }
    request->passwordFile = std::wstring(argv[next] + 5);
    ++next;
  }
  if (next < argc) {
    unsigned long size = 0;
    if (!ParseSize(argv[next], &size)) {
      return false;
    }
    request->size = size;
    ++next;
  }
  return next == argc;
}

// Undoes the scrambling of the password file and returns the password as UTF-8.
bool ReadPassword(const std::wstring& path, std::string* password, std::wstring* problem) {
  std::string bytes;
  if (!standin::ReadWholeFile(path, &bytes)) {
    *problem =
        L"cannot read the password file " + path + L" (error " + std::to_wstring(::GetLastError()) + L")";
    return false;
  }
  if (bytes.size() != kPasswordFileBytes) {
    *problem = L"the password file " + path + L" does not hold 40 bytes";
    return false;
  }
  for (char& c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = static_cast<char>(((b >> 4) | (b << 4)) & 0xFF);
  }
  const size_t end = bytes.find('\0');
  if (end == std::string::npos || end == 0) {
    *problem = L"the password file " + path + L" holds no password";
    return false;
  }
  const std::string ansi = bytes.substr(0, end);
  const int length = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length <= 0 || ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(),
                                           length) != length) {
    *problem = L"the password in " + path + L" cannot be read";
    return false;
  }
  *password = standin::ToUtf8(wide);
  return true;
}

void WriteRecord(const Request& request, const std::string* password, int exitCode) {
  std::string text = "archive=" + standin::ToUtf8(request.archive) + "\r\n" +
                     "output=" + standin::ToUtf8(request.output) + "\r\n" +
                     "size=" + (request.size ? std::to_string(*request.size) : std::string()) + "\r\n";
  if (request.passwordFile) {
    text +=
        "password_fnv1a64=" + (password != nullptr ? standin::Fnv1a64Hex(*password) : std::string()) + "\r\n";
    text += "password_file=" + standin::ToUtf8(*request.passwordFile) + "\r\n";
  }
  text += "exit=" + std::to_string(exitCode) + "\r\n";
  standin::WriteWholeFile(L"pack.log", text);
}

// Signs the setup with the certificate of the switch file pack.pfx, when there is one.
int SignAsAsked(const std::wstring& setup) {
  const std::wstring pfx = standin::BesideModule(nullptr, L"pack.pfx");
  if (::GetFileAttributesW(pfx.c_str()) == INVALID_FILE_ATTRIBUTES) {
    return kDone;
  }
  std::unique_ptr<signing::SigningCertificate> signer;
  const signing::CertificateCheck check = signing::SelectFromPfx(pfx, L"pack", signer);
  if (check != signing::CertificateCheck::kOk) {
    return Fail(kWriteFailed, L"pack.pfx cannot sign: " + std::wstring(signing::CertificateCheckName(check)));
  }
  DWORD error = 0;
  if (signing::SignFile(setup, *signer, error) != signing::SignResult::kSigned) {
    return Fail(kWriteFailed, L"cannot sign " + setup + L" (error " + std::to_wstring(error) + L")");
  }
  return kDone;
}

int Pack(const Request& request, const std::string** passwordOut, std::string* password) {
  if (request.passwordFile) {
    std::wstring problem;
    if (!ReadPassword(*request.passwordFile, password, &problem)) {
      return Fail(kBadPassword, problem);
    }
    *passwordOut = password;
  }
  std::string archive;
  if (!standin::ReadWholeFile(request.archive, &archive)) {
    return Fail(kBadArchive, L"cannot read the archive " + request.archive + L" (error " +
                                 std::to_wstring(::GetLastError()) + L")");
  }
  if (archive.compare(0, sizeof k7zSignature - 1, k7zSignature) != 0) {
    return Fail(kBadArchive, request.archive + L" is not a 7z archive");
  }
  std::wstring folder;
  std::string module;
  if (!standin::ModuleFolder(nullptr, &folder) || !standin::ReadWholeFile(folder + L"7z.sfx", &module)) {
    return Fail(kWriteFailed, L"cannot read the SFX module 7z.sfx beside pack.exe");
  }
  // Written under a temporary name first, so a failed run leaves no half setup behind.
  const std::wstring partial = request.output + L".part";
  if (!standin::WriteWholeFile(partial, module + archive)) {
    ::DeleteFileW(partial.c_str());
    return Fail(kWriteFailed, L"cannot write " + partial);
  }
  if (const int signedCode = SignAsAsked(partial); signedCode != kDone) {
    ::DeleteFileW(partial.c_str());
    return signedCode;
  }
  if (!::MoveFileExW(partial.c_str(), request.output.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(partial.c_str());
    return Fail(kWriteFailed,
                L"cannot write " + request.output + L" (error " + std::to_wstring(error) + L")");
  }
  return kDone;
}

// Waits as long as the switch file pack.delay asks (nothing when it is missing or unreadable).
void DelayAsAsked() {
  std::string text;
  if (!standin::ReadWholeFile(standin::BesideModule(nullptr, L"pack.delay"), &text)) {
    return;
  }
  const unsigned long milliseconds = strtoul(text.c_str(), nullptr, 10);
  if (milliseconds > 0) {
    ::Sleep(milliseconds);
  }
}

// True for the run that the count in switch file `name` picks (see above); lowers the count
// otherwise.
bool PickedByCount(const wchar_t* name) {
  const std::wstring path = standin::BesideModule(nullptr, name);
  std::string text;
  if (!standin::ReadWholeFile(path, &text)) {
    return false;
  }
  const unsigned long runs = strtoul(text.c_str(), nullptr, 10);
  if (runs == 0) {
    ::DeleteFileW(path.c_str());
    return true;
  }
  standin::WriteWholeFile(path, std::to_string(runs - 1));
  return false;
}

// Holds the run that pack.hold-after picks until its "pack.held" file is deleted.
void HoldAsAsked() {
  if (!PickedByCount(L"pack.hold-after")) {
    return;
  }
  const std::wstring held = standin::BesideModule(nullptr, L"pack.held");
  standin::WriteWholeFile(held, "");
  for (int wait = 0; wait < 2400 && ::GetFileAttributesW(held.c_str()) != INVALID_FILE_ATTRIBUTES; ++wait) {
    ::Sleep(50);
  }
}

bool SwitchPresent(const wchar_t* name) {
  return ::GetFileAttributesW(standin::BesideModule(nullptr, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  try {
    Request request;
    if (!ParseArguments(argc, argv, &request)) {
      return Fail(kBadArguments, L"usage: pack.exe ARCHIVE OUTPUT [/PWD=PASSWORD_FILE] [SIZE]");
    }
    DelayAsAsked();
    HoldAsAsked();
    std::string password;
    const std::string* received = nullptr;
    int code = SwitchPresent(L"pack.none") ? kDone : Pack(request, &received, &password);
    if (code == kDone && (PickedByCount(L"pack.fail-after") || SwitchPresent(L"pack.fail"))) {
      code = Fail(kFailureAskedFor, L"failing as pack.fail asks");
    }
    WriteRecord(request, received, code);
    return code;
  } catch (...) {
    fputws(L"pack: out of memory\n", stderr);
    return kWriteFailed;
  }
}
