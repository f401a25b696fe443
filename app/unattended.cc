#include "app/unattended.h"

#include "app/ui_state.h"
#include "install/install_sequence.h"
#include "platform/trace.h"
#include "uninstall/uninstall_sequence.h"

using namespace platform;

namespace {

constexpr int32_t kExitCompleted = 0;
constexpr int32_t kExitNotCompleted = 1;

}  // namespace

int32_t RunUnattended() {
  OutputDebugStringW(RunTag() + std::wstring(L"Running unattended: no window, no questions\n"));
  // Nobody can press Cancel here, but the flag is read all the same.
  g_cancelRequested.store(false);
  bool completed = g_uninstallMode ? RunUninstall() : RunInstall();
  return completed && !CancelRequested() ? kExitCompleted : kExitNotCompleted;
}
