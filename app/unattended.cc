#include "app/unattended.h"

#include "app/ui_state.h"
#include "install/install_sequence.h"
#include "platform/dialog.h"
#include "platform/security.h"
#include "platform/session.h"
#include "platform/trace.h"
#include "uninstall/uninstall_sequence.h"

using namespace platform;

bool g_unattended = false;

namespace {

constexpr int32_t kExitCompleted = 0;
constexpr int32_t kExitNotCompleted = 1;

const wchar_t* Tag() { return g_uninstallMode ? L"[Uninstall] " : L"[Install] "; }

// One trace line per box, so that a reader of the trace can grep for it.
std::wstring OnOneLine(const std::wstring& text) {
  std::wstring line;
  bool inBreak = false;
  for (wchar_t c : text) {
    if (c == L'\n' || c == L'\r') {
      inBreak = true;
      continue;
    }
    if (inBreak && !line.empty()) line += L" | ";
    inBreak = false;
    line += c;
  }
  return line;
}

int32_t UnansweredBox(uint32_t type) {
  switch (type & 0xF) {
    case kMbYesNo:
      return kIdNo;
    case kMbOkCancel:
    case kMbYesNoCancel:
      return kIdCancel;
    default:
      return kIdOk;
  }
}

}  // namespace

bool IsUnattendedRun() {
  uint32_t session = 0;
  if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return true;
  UserObjectFlags flags{};
  uint32_t needed = 0;
  if (GetUserObjectInformationW(GetProcessWindowStation(), kUoiFlags, &flags, sizeof(flags),
                                &needed)) {
    return (flags.flags & kWsfVisible) == 0;
  }
  return false;
}

bool IsLocalSystem() {
  const uint32_t subAuthorities[8] = {kSecurityLocalSystemRid};
  Sid system = nullptr;
  if (!AllocateAndInitializeSid(kSecurityNtAuthority, 1, subAuthorities, &system)) return false;
  bool member = false;
  if (!CheckTokenMembership(nullptr, system, &member)) member = false;
  FreeSid(system);
  return member;
}

int32_t ShowMessageBox(WindowHandle owner, const std::wstring& text, const std::wstring& caption,
                       uint32_t type) {
  if (!g_unattended) return MessageBoxW(owner, text, caption, type);
  // Wide: the texts carry paths and bullets.
  OutputDebugStringW(Tag() + caption + L": " + OnOneLine(text) + L"\n");
  return UnansweredBox(type);
}

int32_t RunUnattended() {
  OutputDebugStringW(Tag() + std::wstring(L"Running unattended: no window, no questions\n"));
  // Nobody can press Cancel here, but the flag is read all the same.
  g_cancelRequested.store(false);
  bool completed = g_uninstallMode ? RunUninstall() : RunInstall();
  return completed && !CancelRequested() ? kExitCompleted : kExitNotCompleted;
}
