#include "password/password_file.h"

#include <strsafe.h>

#include "framework/ansi.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace passwordfile {

namespace {

// The password in the system's ANSI code page with its terminating zero, zero-filled. False,
// with the bytes wiped, when a character has no exact counterpart there or the result does not
// fit.
bool ConvertForFile(const wchar_t* password, unsigned char (&bytes)[kBytes]) {
  SecureZeroMemory(bytes, sizeof bytes);
  if (fw::ToAnsiExactly(password, reinterpret_cast<char*>(bytes), static_cast<int>(sizeof bytes)) == 0) {
    SecureZeroMemory(bytes, sizeof bytes);
    return false;
  }
  return true;
}

// A security descriptor granting Administrators and SYSTEM full access and nobody else any,
// protected from what the folder would pass on. Absolute: it points into its own members, so it
// is neither copied nor moved.
class AdministratorsOnly {
 public:
  AdministratorsOnly() {
    DWORD administratorsSize = sizeof administrators_;
    DWORD systemSize = sizeof system_;
    valid_ =
        ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &administratorsSize) &&
        ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize) &&
        ::InitializeAcl(acl(), sizeof acl_, ACL_REVISION) &&
        ::AddAccessAllowedAce(acl(), ACL_REVISION, FILE_ALL_ACCESS, administrators_) &&
        ::AddAccessAllowedAce(acl(), ACL_REVISION, FILE_ALL_ACCESS, system_) &&
        ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
        ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl(), FALSE) &&
        ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  }
  AdministratorsOnly(const AdministratorsOnly&) = delete;
  AdministratorsOnly& operator=(const AdministratorsOnly&) = delete;

  bool valid() const { return valid_; }
  SECURITY_DESCRIPTOR* get() { return &descriptor_; }

 private:
  PACL acl() { return reinterpret_cast<PACL>(acl_); }

  alignas(DWORD) BYTE administrators_[SECURITY_MAX_SID_SIZE];
  alignas(DWORD) BYTE system_[SECURITY_MAX_SID_SIZE];
  alignas(DWORD) BYTE acl_[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
  SECURITY_DESCRIPTOR descriptor_{};
  bool valid_ = false;
};

}  // namespace

bool Password::Assign(const wchar_t* text) {
  Clear();
  unsigned char bytes[kBytes];
  // A storable text has fewer characters than the file has bytes, so the copy fits.
  const bool storable = text != nullptr && ConvertForFile(text, bytes) &&
                        SUCCEEDED(::StringCchCopyW(text_, ARRAYSIZE(text_), text));
  SecureZeroMemory(bytes, sizeof bytes);
  if (!storable) {
    Clear();
  }
  return storable;
}

// The trace tags are the ones these steps had while the dialog class carried them.
void EncryptPassword(std::span<unsigned char> bytes) {
  static const wchar_t kTag[] = L"CSetPwdDialog::EncryptPassword";
  TraceLog(tracelog::kLevelProgress, kTag, L"called.");
  for (unsigned char& b : bytes) {
    b = static_cast<unsigned char>((b >> 4) | (b << 4));
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
}

bool SaveEncryptedPasswordToFile(const wchar_t* path, const Password& password) {
  static const wchar_t kTag[] = L"CSetPwdDialog::SaveEncryptedPasswordToFile";
  TraceLog(tracelog::kLevelProgress, kTag, L"called.");
  unsigned char bytes[kBytes];
  if (path == nullptr || password.empty() || !ConvertForFile(password.c_str(), bytes)) {
    TraceLog(tracelog::kLevelProgress, kTag, L"ConvertToMultiByte() failed.");
    return false;
  }
  EncryptPassword(bytes);

  // Created new, never opened as it stood: an existing file or link keeps its own access list,
  // and another handle may still be open on it.
  AdministratorsOnly descriptor;
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  fw::UniqueKernelHandle file;
  if (descriptor.valid() && (::DeleteFileW(path) || ::GetLastError() == ERROR_FILE_NOT_FOUND)) {
    file.reset(::CreateFileW(path, GENERIC_WRITE, 0, &security, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  if (!file) {
    TraceLog(tracelog::kLevelProgress, kTag, L"_wopen() failed.(Err -> %u)", ::GetLastError());
    SecureZeroMemory(bytes, sizeof bytes);
    return false;
  }
  DWORD written = 0;
  const bool complete =
      ::WriteFile(file.get(), bytes, sizeof bytes, &written, nullptr) && written == sizeof bytes;
  SecureZeroMemory(bytes, sizeof bytes);
  const DWORD error = ::GetLastError();
  file.reset();
  if (!complete) {
    TraceLog(tracelog::kLevelProgress, kTag, L"write failed.(Err -> %u)", error);
    // A short file would hand the packer a different password.
    ::DeleteFileW(path);
    return false;
  }
  TraceLog(tracelog::kLevelProgress, kTag, L"Exit.");
  return true;
}

bool RemoveLeftover(const wchar_t* programFolder) {
  static const wchar_t kTag[] = L"RemoveLeftoverPasswordFile";
  wchar_t path[MAX_PATH];
  if (programFolder == nullptr || FAILED(::StringCchPrintfW(path, MAX_PATH, L"%s%s", programFolder, kName))) {
    return false;
  }
  if (::DeleteFileW(path)) {
    TraceLog(tracelog::kLevelProgress, kTag, L"Removed the leftover %s", path);
    return true;
  }
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return true;
  }
  TraceLog(tracelog::kLevelError, kTag, L"Cannot remove the leftover %s (Err -> %u)", path, error);
  return false;
}

}  // namespace passwordfile
