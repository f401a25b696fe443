// The unattended case's probe, run by a one-shot scheduled task as SYSTEM:
// the product's own detection decides, a box goes through the product's
// ShowMessageBox, and what came of it is written to the file named on the
// command line (first to a side name, then renamed, so that a reader never
// sees half of it).
//   unattended_probe.exe OUTPUT
#include <windows.h>

#include <string>

#include "app/ui_state.h"
#include "platform/session.h"
#include "tests/windows/kit_support.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  g_unattended = IsUnattendedRun();
  uint32_t session = 0xdeadbeef;
  platform::ProcessIdToSessionId(platform::GetCurrentProcessId(), &session);
  // Attended, this would wait for a click nobody can give.
  int32_t answer = ShowMessageBox(nullptr, L"Tessaline kit probe", L"Tessaline kit", MB_YESNO);
  std::string report = "session=" + std::to_string(session) +
                       " unattended=" + std::to_string(g_unattended) +
                       " system=" + std::to_string(IsLocalSystem()) +
                       " answer=" + std::to_string(answer);
  std::wstring output = argv[1];
  if (!WriteKitFile(output + L".part", report)) return 3;
  return MoveFileExW((output + L".part").c_str(), output.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0
                                                                                             : 4;
}
