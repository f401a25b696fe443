// Shared by the tests of the window, the thread procedures and the entry:
// the process-wide state put back between tests, a new machine with the
// program's icon, and the screens read back from the fake's painted frames.
#ifndef TESTS_UNIT_APP_TEST_SUPPORT_H_
#define TESTS_UNIT_APP_TEST_SUPPORT_H_

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "app/main_window.h"
#include "app/render.h"
#include "app/thread_procs.h"
#include "app/ui_state.h"
#include "app/unattended.h"
#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/registry.h"
#include "platform/ui.h"

namespace app_test {

// A new machine (96 DPI, 1920 x 1080) whose program carries icon group 101,
// and every variable of the program as at process start.
inline void NewProcess() {
  fake::Reset();
  fake::AddIconResource(kAppIconId);
  g_progressPercent = 0;
  g_operationInProgress = false;
  g_cancelRequested = false;
  g_uninstallMode = false;
  g_silentMode = false;
  g_unattended = false;
  g_mainWindow = g_statusLabel = g_detailLabel = nullptr;
  g_workerRunning = false;
  g_closePending = false;
  g_exitCode = 0;
  g_hoverButton = 0;
  g_appIcon = nullptr;
  g_instance = nullptr;
  g_titleFont = g_statusFont = g_smallFont = g_buttonFont = nullptr;
  UpdateDpiMetrics(96);
}

// Both runtimes present and the deployment host serving both files: an
// install that runs to "Installation complete!".
inline void ServeInstall() {
  fake::SetRegistryValue(platform::kHkeyLocalMachine, kVcRuntimeKey, L"Installed",
                         platform::kRegDword, fake::RegDword(1));
  fake::SetRegistryValue(platform::kHkeyLocalMachine, kWebView2ClientKey, L"pv",
                         platform::kRegSz, fake::RegSz(L"120.0.2210.91"));
  for (const wchar_t* path : {kLoaderDownloadPath, kAppDownloadPath}) {
    fake::HttpResponse ok;
    ok.chunks = {"MZ", "payload"};
    ok.contentLength = 9;
    fake::SetHttpResponse(std::wstring(L"https://") + kDeployHost + path, ok);
  }
}

// A new process as the entry starts it, up to its main window: the
// instance, per-monitor DPI awareness, then CreateMainWindow's result.
inline bool StartWithMainWindow() {
  NewProcess();
  g_instance = fake::MainInstance();
  platform::SetProcessDpiAwarenessContext(platform::kDpiAwarenessContextPerMonitorAwareV2);
  return CreateMainWindow();
}

// Undoes StartWithMainWindow: no more paints recorded, the window's
// resources freed, the process variables as at start.
inline void EndWithMainWindow() {
  fake::OnPaint(nullptr);
  FreeWindowResources();
  NewProcess();
}

// The application as an install leaves it.
inline void InstallApplication() { fake::AddFile(GetInstallPath(kAppExeName), "MZ"); }

// Runs the UI thread's message loop until it has nothing left to do: every
// queued message, paint and pending thread handled.
inline void RunUntilIdle() {
  fake::WhenIdle([] { platform::PostQuitMessage(0); });
  RunMessageLoop();
}

// Client points at 96 DPI, where the window's client area is 504 x 281: the
// button row spans y 224..256, the left slot x 267..367, the right slot
// x 379..479 (both edges count).
constexpr int kRowY = 240;
constexpr int kLeftX = 317;
constexpr int kRightX = 429;

// What one paint of the main window showed. Button labels are joined with
// " | "; a label drawn in the hover colour carries a "*".
struct Screen {
  std::string status;
  std::string detail;
  std::string percent;
  std::string buttons;
  bool operator==(const Screen& o) const {
    return status == o.status && detail == o.detail && percent == o.percent &&
           buttons == o.buttons;
  }
};

inline std::ostream& operator<<(std::ostream& os, const Screen& s) {
  return os << "{\"" << s.status << "\", \"" << s.detail << "\", " << s.percent << ", ["
            << s.buttons << "]}";
}

// Reads a frame of PaintMainWindow: the texts come in the order title,
// subtitle, status, detail, percentage, then one label per button, each
// after its filled and its outlined rounded rectangle.
inline Screen ScreenOf(const fake::Frame& frame) {
  Screen screen;
  if (frame.ops.size() != 1) return screen;
  const std::vector<fake::DrawOp>& ops = frame.ops[0].source;
  int text = 0;
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].kind != fake::DrawKind::kDrawText) continue;
    std::string line = fake::ToUtf8(ops[i].text);
    switch (text++) {
      case 0:
      case 1:
        break;
      case 2:
        screen.status = line;
        break;
      case 3:
        screen.detail = line;
        break;
      case 4:
        screen.percent = line;
        break;
      default: {
        uint32_t fill = i >= 2 ? ops[i - 2].brush.color : 0;
        bool hovered = fill == platform::Rgb(80, 80, 80) || fill == platform::Rgb(200, 70, 70);
        if (!screen.buttons.empty()) screen.buttons += " | ";
        screen.buttons += line + (hovered ? "*" : "");
      }
    }
  }
  return screen;
}

// Every paint of the main window from now on, as screens; `then` sees each
// one as it is painted (on the thread that asked for the paint).
inline void RecordScreens(std::vector<Screen>* screens,
                          std::function<void(const Screen&)> then = nullptr) {
  fake::OnPaint([screens, then](platform::WindowHandle window) {
    if (window == g_mainWindow && !fake::Frames().empty()) {
      screens->push_back(ScreenOf(fake::Frames().back()));
      if (then) then(screens->back());
    }
  });
}

}  // namespace app_test

#endif  // TESTS_UNIT_APP_TEST_SUPPORT_H_
