// The constants of platform/*.h that are pointers on Windows, against
// <windows.h> (the numbers are compared at compile time in
// platform/win32/constants_check.cc). Built into the Windows contract tests.
#include <windows.h>

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/types.h"
#include "platform/ui.h"

namespace platform {
namespace {

struct PointerRow {
  std::string name;
  uintptr_t ours;
  uintptr_t windows;
};

template <typename T>
uintptr_t Bits(T value) {
  return reinterpret_cast<uintptr_t>(value);
}

TEST(ConstantsTest, PointerValuedConstantsAreWindowsOwn) {
  const PointerRow rows[] = {
      {"HKEY_CURRENT_USER", Bits(kHkeyCurrentUser), Bits(HKEY_CURRENT_USER)},
      {"HKEY_LOCAL_MACHINE", Bits(kHkeyLocalMachine), Bits(HKEY_LOCAL_MACHINE)},
      {"INVALID_HANDLE_VALUE", Bits(kInvalidHandleValue), Bits(INVALID_HANDLE_VALUE)},
      {"DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2",
       static_cast<uintptr_t>(kDpiAwarenessContextPerMonitorAwareV2),
       Bits(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)},
      {"IDC_ARROW", static_cast<uintptr_t>(kIdcArrow), Bits(IDC_ARROW)},
  };
  for (const PointerRow& row : rows) {
    EXPECT_EQ(row.windows, row.ours) << row.name;
  }
}

}  // namespace
}  // namespace platform
