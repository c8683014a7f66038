#include "framework/handles.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> g_closed;

struct FakeTraits {
  using Type = int;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type v) noexcept { return v != 0; }
  static void Close(Type v) noexcept { g_closed.push_back(v); }
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

TEST(UniqueHandle, KernelHandlesTreatBothInvalidValuesAsNone) {
  fw::UniqueKernelHandle none(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none.valid());
  fw::UniqueKernelHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(event.valid());
  HANDLE raw = event.get();
  event.reset();
  EXPECT_FALSE(SetEvent(raw)) << "the handle must be closed by reset";
}

TEST(UniqueHandle, FindHandleIsClosedAndCrtFileToo) {
  WIN32_FIND_DATAW data;
  fw::UniqueFind find(FindFirstFileW(L"C:\\windows\\*", &data));
  EXPECT_TRUE(find.valid());
  fw::UniqueCrtFile file;
  EXPECT_FALSE(file.valid());
}

}  // namespace
