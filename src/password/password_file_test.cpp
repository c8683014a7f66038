// The password held in memory and the password file written from it.

#include "password/password_file.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "handles/handles.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

// The password file's bytes for an ANSI password: zero-filled to 40 bytes, halves exchanged.
std::string Scrambled(std::string bytes) {
  bytes.resize(40, '\0');
  for (char& c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    c = static_cast<char>(((b >> 4) | (b << 4)) & 0xFF);
  }
  return bytes;
}

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type) {
  BYTE known[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof known;
  return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

// Who the file's access list lets in, as far as these tests care.
struct Access {
  bool read = false;  // the DACL could be read
  bool system = false, everyone = false, users = false, authenticatedUsers = false;
};

Access AccessOf(const std::wstring& path) {
  Access access;
  alignas(DWORD) BYTE buffer[4096];
  DWORD needed = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL acl = nullptr;
  if (!GetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed) ||
      !GetSecurityDescriptorDacl(buffer, &present, &acl, &defaulted) || !present || acl == nullptr) {
    return access;
  }
  access.read = true;
  for (DWORD i = 0; i < acl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(acl, i, reinterpret_cast<void**>(&header)) || header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      continue;
    }
    PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(header)->SidStart;
    access.system |= IsSid(sid, WinLocalSystemSid);
    access.everyone |= IsSid(sid, WinWorldSid);
    access.users |= IsSid(sid, WinBuiltinUsersSid);
    access.authenticatedUsers |= IsSid(sid, WinAuthenticatedUserSid);
  }
  return access;
}

TEST(PasswordTest, HoldsOnlyWhatTheFileCanStoreExactly) {
  const struct {
    const char* name;
    const wchar_t* text;
    bool taken;
  } rows[] = {
      {"letters", L"abcdef", true},
      {"39 characters, the most the file holds", L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", true},
      {"40 characters", L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
      {"unpaired surrogate", L"abc\xD800", false},
      {"missing", nullptr, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    passwordfile::Password password;
    ASSERT_TRUE(password.Assign(L"earlier7"));
    EXPECT_EQ(row.taken, password.Assign(row.text));
    EXPECT_EQ(row.taken ? std::wstring(row.text) : L"", password.c_str()) << "a refused text leaves it empty";
  }
}

TEST(PasswordFileTest, IsFortyBytesForAdministratorsAndSystemOnlyOrNotThere) {
  testsupport::TempDir dir;
  const std::wstring file = dir / L"pwd.dat";
  // Stands where the file goes: a plain new file, which under Wine lets Everyone read it.
  const auto plain = [](const std::wstring& path) { ASSERT_TRUE(WriteBytes(path, "plain")); };
  const auto longer = [](const std::wstring& path) { ASSERT_TRUE(WriteBytes(path, std::string(64, 'z'))); };
  const struct {
    const char* name;
    const wchar_t* password;
    std::function<void(const std::wstring&)> before;  // may be empty
    std::string stored;                               // empty: no file
  } rows[] = {
      {"three letters", L"abc", {}, std::string("\x16\x26\x36", 3) + std::string(37, '\0')},
      {"a longer stale file replaced as a whole", L"qqqqqqqqqqqqqqqqqq", longer,
       Scrambled(std::string(18, 'q'))},
      {"a plain stale file: its access list is not kept", L"abcdef", plain, Scrambled("abcdef")},
      {"an empty password", L"", {}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    if (row.before) {
      row.before(file);
    }
    passwordfile::Password password;
    ASSERT_TRUE(password.Assign(row.password));
    EXPECT_EQ(!row.stored.empty(), passwordfile::SaveEncryptedPasswordToFile(file.c_str(), password));
    if (row.stored.empty()) {
      EXPECT_FALSE(FileExists(file));
    } else {
      EXPECT_EQ(row.stored, ReadBytes(file));
      const Access access = AccessOf(file);
      EXPECT_TRUE(access.read && access.system) << "SYSTEM must keep access";
      EXPECT_FALSE(access.everyone || access.users || access.authenticatedUsers) << "readable by others";
    }
    DeleteFileW(file.c_str());
  }

  // A stale file another holds open, with every sharing allowed: never written into, so the
  // holder never reads the password.
  ASSERT_TRUE(WriteBytes(file, "stale"));
  const fw::UniqueKernelHandle holder(CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.valid());
  {
    passwordfile::Password password;
    ASSERT_TRUE(password.Assign(L"abcdef"));
    EXPECT_FALSE(passwordfile::SaveEncryptedPasswordToFile(file.c_str(), password));
  }
  char seen[64] = "";
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(holder.get(), seen, sizeof seen, &read, nullptr));
  EXPECT_EQ("stale", std::string(seen, read));

  // A missing folder leaves nothing.
  passwordfile::Password password;
  ASSERT_TRUE(password.Assign(L"abcdef"));
  const std::wstring missing = dir / L"absent\\pwd.dat";
  EXPECT_FALSE(passwordfile::SaveEncryptedPasswordToFile(missing.c_str(), password));
  EXPECT_FALSE(FileExists(missing));
}

}  // namespace
