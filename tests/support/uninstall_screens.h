// What the window shows during an uninstall, one screen per reporting call:
// shared by the uninstall sequence's unit test (the fake's window) and its
// Wine test (user32's), so both hold the same expectation.
#ifndef TESTS_SUPPORT_UNINSTALL_SCREENS_H_
#define TESTS_SUPPORT_UNINSTALL_SCREENS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace screens {

// The state one repaint shows (each layer prints it in its own way).
struct Screen {
  int32_t percent;
  std::wstring status;
  std::wstring detail;
  bool operator==(const Screen& o) const {
    return percent == o.percent && status == o.status && detail == o.detail;
  }
};

// The screens of an uninstall that visits the folders `visited`, up to the
// end of the step that starts at `lastPercent` (100: the whole run).
inline std::vector<Screen> UninstallScreens(const std::vector<std::wstring>& visited,
                                            bool withWarnings, int32_t lastPercent = 100) {
  std::vector<Screen> out;
  Screen now{0, L"Ready", L""};
  auto progress = [&](int32_t p) { now.percent = p; out.push_back(now); };
  auto status = [&](const std::wstring& s) { now.status = s; out.push_back(now); };
  auto detail = [&](const std::wstring& d) { now.detail = d; out.push_back(now); };
  progress(5);
  status(L"Uninstalling...");
  detail(L"Removing firewall rules");
  progress(25);
  detail(L"Removing scheduled task");
  progress(35);
  detail(L"Removing desktop shortcut");
  progress(45);
  detail(L"Removing registry entries");
  progress(55);
  detail(L"Removing application files");
  for (const auto& folder : visited) detail(L"Removing: " + folder);
  progress(100);
  status(withWarnings ? L"Uninstallation completed with warnings" : L"Uninstallation complete!");
  detail(withWarnings ? L"Some items could not be removed" : L"All components removed");
  while (out.back().percent > lastPercent) out.pop_back();
  return out;
}

}  // namespace screens

#endif  // TESTS_SUPPORT_UNINSTALL_SCREENS_H_
