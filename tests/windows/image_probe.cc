// The running-image case's probe: holds its own file as the setup does
// (HoldOwnImage) when the test says go, writes what it got to the file
// named on its command line (the error code on the first line, then the
// bytes read through the hold), and keeps the hold until the test is done.
//   image_probe.exe EVENT-BASE OUTPUT
#include <windows.h>

#include <string>

#include "platform/file.h"
#include "registration/own_image.h"
#include "tests/windows/kit_support.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  std::wstring base = argv[1];
  HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (base + L"-go").c_str());
  HANDLE held = OpenEventW(EVENT_MODIFY_STATE, FALSE, (base + L"-held").c_str());
  HANDLE end = OpenEventW(SYNCHRONIZE, FALSE, (base + L"-end").c_str());
  if (!go || !held || !end) return 3;
  if (WaitForSingleObject(go, kKitWaitMs) != WAIT_OBJECT_0) return 4;
  HoldOwnImage("[Kit] ");
  std::string report = std::to_string(g_ownImageError) + "\n";
  if (g_ownImage != platform::kInvalidHandleValue) {
    char buffer[65536];
    uint32_t done = 0;
    while (platform::ReadFile(g_ownImage, buffer, sizeof buffer, &done) && done > 0) {
      report.append(buffer, done);
    }
  }
  if (!WriteKitFile(argv[2], report)) return 5;
  SetEvent(held);
  WaitForSingleObject(end, kKitWaitMs);
  ReleaseOwnImage();
  return 0;
}
