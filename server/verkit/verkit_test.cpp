// The version library as the program uses it: exports by ordinal only, false without a product
// version, the versioned names with one.

#include "contracts/verkit.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "handles/handles.h"
#include "support/temp_dir.h"

namespace {

using NameFn = decltype(&GetMutexNameByVersion);

class VerkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t source[MAX_PATH];
    GetModuleFileNameW(nullptr, source, MAX_PATH);
    *(wcsrchr(source, L'\\') + 1) = L'\0';
    wcscat_s(source, L"verkit.dll");
    ASSERT_TRUE(CopyFileW(source, (dir_ / L"verkit.dll").c_str(), FALSE));
  }
  void Load() {
    library_.reset(LoadLibraryW((dir_ / L"verkit.dll").c_str()));
    ASSERT_TRUE(library_);
    mutexName_ = fw::GetExport<NameFn>(library_.get(), MAKEINTRESOURCEA(4));
    keyPath_ = fw::GetExport<NameFn>(library_.get(), MAKEINTRESOURCEA(8));
    ASSERT_NE(nullptr, mutexName_);
    ASSERT_NE(nullptr, keyPath_);
  }

  testsupport::TempDir dir_;
  fw::UniqueModule library_;
  NameFn mutexName_ = nullptr;
  NameFn keyPath_ = nullptr;
};

TEST_F(VerkitTest, ExportsOnlyByOrdinal) {
  Load();
  EXPECT_EQ(nullptr, GetProcAddress(library_.get(), "GetMutexNameByVersion"));
  EXPECT_EQ(nullptr, GetProcAddress(library_.get(), "GetRegistryKeyByVersion"));
}

TEST_F(VerkitTest, WithoutProductVersionBothAnswerFalse) {
  Load();
  wchar_t out[kVerkitNameCapacity] = L"untouched";
  EXPECT_FALSE(mutexName_(L"ADMIN_CLIENT_PACKER", out, kVerkitNameCapacity));
  EXPECT_STREQ(L"untouched", out) << "a false answer leaves the buffer as it was";
  EXPECT_FALSE(keyPath_(L"SOFTWARE\\Key", out, kVerkitNameCapacity));
  EXPECT_STREQ(L"untouched", out);
}

TEST_F(VerkitTest, WithProductVersionBothAppendIt) {
  ASSERT_TRUE(WritePrivateProfileStringW(L"Version", L"Product", L"9", (dir_ / L"verkit.ini").c_str()));
  Load();
  wchar_t out[kVerkitNameCapacity];
  ASSERT_TRUE(mutexName_(L"ADMIN_CLIENT_PACKER", out, kVerkitNameCapacity));
  EXPECT_STREQ(L"ADMIN_CLIENT_PACKER_9", out);
  ASSERT_TRUE(keyPath_(L"SOFTWARE\\Key", out, kVerkitNameCapacity));
  EXPECT_STREQ(L"SOFTWARE\\Key_9", out);
  wchar_t small[8];
  EXPECT_FALSE(mutexName_(L"ADMIN_CLIENT_PACKER", small, 8)) << "a name that does not fit is refused";
}

}  // namespace
