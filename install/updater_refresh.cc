#include "install/updater_refresh.h"

#include <string>

#include "install/download.h"
#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/trace.h"
#include "registration/own_image.h"
#include "registration/update_task.h"

namespace {

constexpr wchar_t kStagedSuffix[] = L".setup-new";

void Trace(const std::string& line) { platform::OutputDebugStringA("[Install] " + line + "\n"); }

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Deletes the staged setup, closing the hold on it first.
void Discard(const std::wstring& staged, platform::Handle held) {
  if (held != platform::kInvalidHandleValue) platform::CloseHandle(held);
  platform::DeleteFileW(staged);
}

}  // namespace

bool RefreshUpdater(const Publisher& publisher) {
  const std::wstring updater = GetInstallPath(kUpdaterExeName);
  if (!IsOwnImageAt(updater)) return true;
  if (!publisher.isSigned) {
    Trace("Updater is not signed: it does not replace itself");
    return true;
  }
  const std::wstring staged = updater + kStagedSuffix;
  std::wstring reason;
  platform::Handle held = platform::kInvalidHandleValue;
  if (!DownloadStagedFile(kDeployHost, kSetupDownloadPath, staged, &held, &reason)) {
    Trace(reason == L"HTTP error 404" ? "No setup published: the updater stays as it is"
                                      : "Setup not fetched, the updater stays as it is: " +
                                            Narrow(reason));
    return true;
  }
  uint32_t result = CheckHeldSignedBy(publisher, held, staged, false);
  if (result != 0) {
    Discard(staged, held);
    Trace("Published setup refused: " + Narrow(SignatureCheckError(result)));
    return false;
  }
  // updater.exe is the running program's held file (checked above).
  uint64_t running = 0;
  uint64_t offered = 0;
  if (!ReadFileVersion(staged, &offered) || !ReadFileVersion(updater, &running) ||
      offered <= running) {
    Discard(staged, held);
    Trace("Published setup is not newer than the updater (" +
          Narrow(offered ? VersionText(offered) : L"no version") + "): left as it is");
    return true;
  }
  // Our own hold keeps anyone from renaming updater.exe, the swap included.
  LetOwnImageMove(updater);
  // Held through the swap, so no one can keep it from being renamed in.
  uint32_t error = SwapInUpdater(staged);
  platform::CloseHandle(held);
  if (error != 0) {
    Trace("Failed to replace the updater: " + std::to_string(error));
    return false;
  }
  Trace("Updater replaced by the published setup " + Narrow(VersionText(offered)));
  return true;
}
