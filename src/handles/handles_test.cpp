#include "handles/handles.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <string>
#include <vector>

namespace {

std::vector<int> g_closed;

struct FakeTraits {
  using Type = int;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type v) noexcept { return v != 0; }
  static bool Close(Type v) noexcept {
    g_closed.push_back(v);
    return v > 0;  // a negative value stands for a handle whose close fails
  }
};
using Fake = fw::UniqueHandle<FakeTraits>;

TEST(UniqueHandle, ClosesExactlyOnceAcrossMovesResetsAndRelease) {
  g_closed.clear();
  {
    Fake a(1);
    Fake b(std::move(a));
    EXPECT_FALSE(a.valid());
    Fake c(2);
    c = std::move(b);  // closes 2, takes 1
    EXPECT_EQ(std::vector<int>{2}, g_closed);
    c.reset(3);  // closes 1
    Fake d(4);
    EXPECT_EQ(4, d.release());
    *d.put() = 5;  // filled through the out-parameter
  }
  EXPECT_EQ((std::vector<int>{2, 1, 5, 3}), g_closed);
}

TEST(UniqueHandle, CloseReportsWhetherTheCloseWorkedAndLeavesNothingHeld) {
  const struct {
    const char* name;
    int value;
    bool closed;
    std::vector<int> calls;
  } rows[] = {
      {"closes", 6, true, {6}},
      {"close fails", -6, false, {-6}},
      {"nothing held", 0, false, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    g_closed.clear();
    Fake handle(row.value);
    EXPECT_EQ(row.closed, handle.Close());
    EXPECT_FALSE(handle.valid());
    handle.reset();
    EXPECT_EQ(row.calls, g_closed) << "closed once, and not again by the owner";
  }
}

// Null and INVALID_HANDLE_VALUE both hold nothing: neither counts as valid, and neither is handed
// to CloseHandle, which takes INVALID_HANDLE_VALUE for the current process and reports success.
TEST(UniqueHandle, KernelHandlesTreatBothInvalidValuesAsNone) {
  for (const HANDLE value : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    SCOPED_TRACE(value == nullptr ? "null" : "INVALID_HANDLE_VALUE");
    fw::UniqueKernelHandle none(value);
    EXPECT_FALSE(none.valid());
    EXPECT_FALSE(static_cast<bool>(none));
    EXPECT_FALSE(none.Close()) << "nothing was held, so nothing was closed";
  }
  fw::UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  HANDLE raw = event.get();
  event.reset();
  EXPECT_FALSE(SetEvent(raw)) << "the handle must be closed by reset";
}

// What each owner holds open blocks something else until it lets go: a file opened without
// sharing cannot be opened again, and a directory being listed keeps a handle on it.
TEST(UniqueHandle, FindHandleAndCrtFileAreClosedByReset) {
  wchar_t base[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, base), 0u);
  const std::wstring folder = std::wstring(base) + L"handles_test_" + std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring path = folder + L"\\file.bin";
  const auto openedElsewhere = [&] {
    fw::UniqueKernelHandle other(
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return other.valid();
  };

  fw::UniqueCrtFile none;
  EXPECT_FALSE(none.valid());
  fw::UniqueCrtFile file;
  ASSERT_EQ(0, _wsopen_s(file.put(), path.c_str(), _O_CREAT | _O_WRONLY | _O_BINARY, _SH_DENYRW, _S_IWRITE));
  EXPECT_FALSE(openedElsewhere()) << "held without sharing";
  const int fd = file.get();
  file.reset();
  EXPECT_TRUE(openedElsewhere()) << "reset closed the file";
  EXPECT_EQ(-1, _close(fd)) << "the descriptor is no longer open";
  ASSERT_EQ(0, _wsopen_s(file.put(), path.c_str(), _O_WRONLY | _O_BINARY, _SH_DENYRW, _S_IWRITE));
  EXPECT_TRUE(file.Close()) << "a file written to the end closes";
  EXPECT_TRUE(openedElsewhere()) << "Close closed the file";

  WIN32_FIND_DATAW data;
  fw::UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  ASSERT_TRUE(find.valid());
  const HANDLE raw = find.get();
  EXPECT_TRUE(FindNextFileW(raw, &data)) << "the listing goes on while it is held";
  find.reset();
  EXPECT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "a listing left open holds the folder: " << GetLastError();
}

// A COM reference is given back once, by Release, across a move; a certificate store is closed
// through its owner.
TEST(UniqueHandle, ComReferencesAndCertificateStoresAreGivenBackOnce) {
  struct Counted {
    int released = 0;
    void Release() { ++released; }
  } object;
  {
    fw::UniqueCom<Counted> first(&object);
    fw::UniqueCom<Counted> second(std::move(first));
    EXPECT_EQ(0, object.released);
  }
  EXPECT_EQ(1, object.released);

  fw::UniqueCertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  ASSERT_TRUE(store.valid());
  // A store with no certificate context left open closes cleanly.
  EXPECT_TRUE(store.Close());
  EXPECT_FALSE(store.valid());
}

}  // namespace
