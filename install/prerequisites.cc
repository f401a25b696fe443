#include "install/prerequisites.h"

#include "app/ui_state.h"
#include "install/download.h"
#include "install/installer_job.h"
#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/trace.h"

namespace {

constexpr uint32_t kInstallerTimeoutMs = 300000;
constexpr uint32_t kPvBufferBytes = 128;
constexpr uint32_t kRandomNameBytes = 16;
// Full control for Administrators and SYSTEM, inherited by the files inside,
// and nothing taken over from the user's temporary folder.
constexpr wchar_t kAdminOnlySddl[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";

void Report(std::wstring* errorText, const std::wstring& reason) {
  if (errorText) *errorText = reason;
}

// Whether the 4-byte "Installed" value under HKLM\keyPath reads as 1.
bool VcRuntimeInstalledAt(const wchar_t* keyPath) {
  platform::RegKey key = nullptr;
  if (platform::RegOpenKeyExW(platform::kHkeyLocalMachine, keyPath, 0, platform::kKeyRead,
                              &key) != platform::kErrorSuccess) {
    return false;
  }
  unsigned char data[4] = {0, 0, 0, 0};
  uint32_t size = sizeof(data);
  uint32_t status = platform::RegQueryValueExW(key, kVcRuntimeValue, nullptr, data, &size);
  platform::RegCloseKey(key);
  uint32_t value = data[0] | (data[1] << 8) | (data[2] << 16) | (uint32_t{data[3]} << 24);
  return status == platform::kErrorSuccess && value == 1;
}

// Whether "pv" under root\keyPath is a version text that does not start
// with "0" (the all-zero version marks a runtime that is not there).
bool WebView2InstalledAt(platform::RegKey root, const wchar_t* keyPath) {
  platform::RegKey key = nullptr;
  if (platform::RegOpenKeyExW(root, keyPath, 0, platform::kKeyRead, &key) !=
      platform::kErrorSuccess) {
    return false;
  }
  unsigned char version[kPvBufferBytes] = {};
  uint32_t size = kPvBufferBytes;
  uint32_t status =
      platform::RegQueryValueExW(key, kWebView2VersionValue, nullptr, version, &size);
  platform::RegCloseKey(key);
  uint32_t first = version[0] | (version[1] << 8);
  return status == platform::kErrorSuccess && first != 0 && first != u'0';
}

std::wstring Hex(const unsigned char* bytes, uint32_t count) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out;
  for (uint32_t i = 0; i < count; ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 0xF];
  }
  return out;
}

// The reserved name with its extension (if the file name has one) replaced
// by ".exe"; a dot in a folder name is left alone.
std::wstring ExeNameFor(const std::wstring& tempName) {
  size_t slash = tempName.rfind(L'\\');
  size_t dot = tempName.rfind(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) {
    return tempName + L".exe";
  }
  return tempName.substr(0, dot) + L".exe";
}

// The user owns the temporary folder around ours and may rename what is in
// it; a handle without FILE_SHARE_DELETE keeps our folder in place, so no
// look-alike can take its name between the download and the start.
platform::Handle PinFolder(const std::wstring& folder) {
  return platform::CreateFileW(folder, platform::kGenericRead,
                               platform::kFileShareRead | platform::kFileShareWrite,
                               platform::kOpenExisting, platform::kFileFlagBackupSemantics);
}

// Everything this call put into the private folder, then the folder.
void RemovePrivateFolder(const std::wstring& folder, platform::Handle pin,
                         const std::wstring& placeholder, const std::wstring& installer) {
  if (pin != platform::kInvalidHandleValue) platform::CloseHandle(pin);
  if (!installer.empty()) platform::DeleteFileW(installer);
  if (!placeholder.empty()) platform::DeleteFileW(placeholder);
  if (!platform::RemoveDirectoryW(folder)) {
    platform::OutputDebugStringA("[Install] Failed to remove temporary folder (error " +
                                 std::to_string(platform::GetLastError()) + ")\n");
  }
}

}  // namespace

bool IsVcRuntimeInstalled() {
  return VcRuntimeInstalledAt(kVcRuntimeKey) || VcRuntimeInstalledAt(kVcRuntimeKeyWow);
}

bool IsWebView2RuntimeInstalled() {
  return WebView2InstalledAt(platform::kHkeyLocalMachine, kWebView2ClientKey) ||
         WebView2InstalledAt(platform::kHkeyLocalMachine, kWebView2ClientKeyWow) ||
         WebView2InstalledAt(platform::kHkeyCurrentUser, kWebView2ClientKey);
}

bool CreatePrivateTempFolder(std::wstring* folder, uint32_t* error) {
  std::wstring temp = platform::GetTempPathW();
  if (temp.empty()) {
    *error = platform::GetLastError();
    return false;
  }
  // Unpredictable, so that no one can prepare the folder before it exists.
  unsigned char random[kRandomNameBytes];
  uint32_t status = platform::BCryptGenRandom(random, sizeof(random));
  if (status != 0) {
    *error = status;
    return false;
  }
  std::wstring path = JoinPath(temp, L"TSL-" + Hex(random, sizeof(random)));

  platform::SecurityDescriptor descriptor = nullptr;
  if (!platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminOnlySddl,
                                                                      &descriptor)) {
    *error = platform::GetLastError();
    return false;
  }
  bool created = platform::CreateDirectoryW(path, descriptor);
  uint32_t code = platform::GetLastError();
  platform::LocalFree(descriptor);
  if (!created) {
    *error = code;
    return false;
  }
  *folder = path;
  return true;
}

bool DownloadAndRunInstaller(const std::wstring& host, const std::wstring& urlPath,
                             const std::wstring& arguments, const std::wstring& displayName,
                             std::wstring* errorText) {
  // The installer runs with administrator rights: it must come from a folder
  // that programs without them cannot write to, where it has no other DLLs
  // beside it.
  std::wstring folder;
  uint32_t error = 0;
  if (!CreatePrivateTempFolder(&folder, &error)) {
    Report(errorText, L"Failed to create temporary file (error " + std::to_wstring(error) + L")");
    return false;
  }
  platform::Handle pin = PinFolder(folder);
  if (pin == platform::kInvalidHandleValue) {
    error = platform::GetLastError();
    RemovePrivateFolder(folder, pin, L"", L"");
    Report(errorText, L"Failed to create temporary file (error " + std::to_wstring(error) + L")");
    return false;
  }
  std::wstring placeholder;
  if (platform::GetTempFileNameW(folder, L"TSL", 0, &placeholder) == 0) {
    error = platform::GetLastError();
    RemovePrivateFolder(folder, pin, L"", L"");
    Report(errorText, L"Failed to create temporary file (error " + std::to_wstring(error) + L")");
    return false;
  }
  std::wstring installer = ExeNameFor(placeholder);

  SetDetailText(L"Downloading " + displayName + L"...");
  std::wstring downloadError;
  if (!DownloadFile(host, urlPath, installer, &downloadError)) {
    RemovePrivateFolder(folder, pin, placeholder, installer);
    Report(errorText, L"Download failed: " + downloadError);
    return false;
  }

  SetDetailText(L"Installing " + displayName + L"...");
  uint32_t code = 0;
  InstallerEnd end = RunInstallerInJob(installer, arguments, kInstallerTimeoutMs, &code);
  RemovePrivateFolder(folder, pin, placeholder, installer);
  if (end == InstallerEnd::kNotStarted) {
    Report(errorText, L"Failed to run installer (error " + std::to_wstring(code) + L")");
    return false;
  }
  if (end == InstallerEnd::kTimedOut) {
    Report(errorText, L"Installer timed out");
    return false;
  }
  if (code == platform::kErrorSuccess || code == platform::kErrorSuccessRebootRequired ||
      code == platform::kErrorProductVersion) {
    return true;
  }
  Report(errorText, L"Installer returned error code " + std::to_wstring(code));
  return false;
}
