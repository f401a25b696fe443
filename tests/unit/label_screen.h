// Shared by the tests of the reporting calls and of the install and
// uninstall sequences: the window and its two labels as the entry makes
// them, and what one repaint of that window shows (percentage, status
// label, detail label).
#ifndef TESTS_UNIT_LABEL_SCREEN_H_
#define TESTS_UNIT_LABEL_SCREEN_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "app/ui_state.h"
#include "platform/fake/fake.h"
#include "platform/window.h"
#include "tests/support/uninstall_screens.h"

namespace screens {

inline std::ostream& operator<<(std::ostream& os, const Screen& s) {
  return os << "{" << s.percent << "%, \"" << fake::ToUtf8(s.status) << "\", \""
            << fake::ToUtf8(s.detail) << "\"}";
}

}  // namespace screens

namespace label_screen {

using screens::Screen;

// The main window and its status and detail labels, with the texts the
// entry gives them.
inline void CreateWindows() {
  g_mainWindow = fake::CreateWindowForTesting(L"Tessaline Setup");
  g_statusLabel = fake::CreateWindowForTesting(L"Ready");
  g_detailLabel = fake::CreateWindowForTesting(L"");
}

// What a repaint now shows: the percentage and both labels read back
// through the window API (at most 255 characters each).
inline Screen Current() {
  return {g_progressPercent.load(), platform::GetWindowTextW(g_statusLabel, 256),
          platform::GetWindowTextW(g_detailLabel, 256)};
}

}  // namespace label_screen

#endif  // TESTS_UNIT_LABEL_SCREEN_H_
