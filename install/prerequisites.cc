#include "install/prerequisites.h"

#include "app/ui_state.h"
#include "install/download.h"
#include "install/installer_job.h"
#include "install/installer_signature.h"
#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/trace.h"

namespace {

constexpr uint32_t kInstallerTimeoutMs = 300000;
constexpr uint32_t kPvBufferBytes = 128;
constexpr uint32_t kRandomNameBytes = 16;
// Owned by Administrators; full control for Administrators and SYSTEM,
// inherited by the files inside, and nothing taken over from the folder
// around it.
constexpr wchar_t kAdminOnlySddl[] = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
constexpr wchar_t kSystemSid[] = L"S-1-5-18";

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

// The system's temporary folder: users may create entries there but not
// rename or delete those of others. Empty when the Windows folder is not
// known.
std::wstring SystemTempFolder() {
  std::wstring windows = platform::GetSystemWindowsDirectoryW();
  return windows.empty() ? std::wstring() : JoinPath(windows, L"Temp");
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

constexpr uint32_t kFolderOpenFlags =
    platform::kFileFlagBackupSemantics | platform::kFileFlagOpenReparsePoint;

// The object at the folder's name itself (a link is not followed), held
// without FILE_SHARE_DELETE so that it cannot be renamed or replaced while
// the installer is fetched and run. It holds no DELETE access: the
// installer's working folder is opened without delete sharing.
platform::Handle PinFolder(const std::wstring& folder) {
  return platform::CreateFileW(folder, platform::kGenericRead,
                               platform::kFileShareRead | platform::kFileShareWrite,
                               platform::kOpenExisting, kFolderOpenFlags);
}

// The owner of the folder at `path` (a link not followed), or empty.
std::wstring OwnerOf(const std::wstring& path) {
  platform::Handle folder = platform::CreateFileW(
      path, platform::kReadControl, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting, kFolderOpenFlags);
  if (folder == platform::kInvalidHandleValue) return std::wstring();
  std::wstring owner;
  if (platform::GetSecurityInfo(folder, &owner) != platform::kErrorSuccess) owner.clear();
  platform::CloseHandle(folder);
  return owner;
}

// Deletes the folder through a handle that is checked to be the held one
// (same volume and file index), so a look-alike is never removed. The hold
// is given up first: it does not share the DELETE access this needs.
uint32_t RemoveHeldFolder(const std::wstring& folder, platform::Handle pin,
                          const platform::ByHandleFileInformation& identity) {
  platform::CloseHandle(pin);
  platform::Handle folderHandle = platform::CreateFileW(
      folder, platform::kDelete | platform::kFileReadAttributes,
      platform::kFileShareRead | platform::kFileShareWrite | platform::kFileShareDelete,
      platform::kOpenExisting, kFolderOpenFlags);
  if (folderHandle == platform::kInvalidHandleValue) return platform::GetLastError();
  platform::ByHandleFileInformation now;
  uint32_t error = platform::kErrorSuccess;
  if (!platform::GetFileInformationByHandle(folderHandle, &now)) {
    error = platform::GetLastError();
  } else if (now.volumeSerialNumber != identity.volumeSerialNumber ||
             now.fileIndex != identity.fileIndex) {
    error = platform::kErrorFileInvalid;
  } else if (!platform::SetFileInformationByHandle(folderHandle,
                                                   platform::FileDispositionInfo{true})) {
    error = platform::GetLastError();
  }
  platform::CloseHandle(folderHandle);
  return error;
}

// Everything this call put into the private folder while it is still held,
// then the folder.
void RemovePrivateFolder(const std::wstring& folder, platform::Handle pin,
                         const platform::ByHandleFileInformation& identity,
                         const std::wstring& placeholder, const std::wstring& installer) {
  if (!installer.empty()) platform::DeleteFileW(installer);
  if (!placeholder.empty()) platform::DeleteFileW(placeholder);
  uint32_t error = RemoveHeldFolder(folder, pin, identity);
  if (error != platform::kErrorSuccess) {
    platform::OutputDebugStringA("[Install] Failed to remove temporary folder (error " +
                                 std::to_string(error) + ")\n");
  }
}

}  // namespace

// On Windows the temp folder's owner is SYSTEM; on a system that keeps no
// owners every file has the same one. Anything a user made or swapped in
// fails.
uint32_t CheckPinnedFolder(platform::Handle pin, const std::wstring& tempFolder,
                           platform::ByHandleFileInformation* identity) {
  if (!platform::GetFileInformationByHandle(pin, identity)) return platform::GetLastError();
  if (identity->fileAttributes & platform::kFileAttributeReparsePoint) {
    return platform::kErrorCantResolveFilename;
  }
  if (!(identity->fileAttributes & platform::kFileAttributeDirectory)) {
    return platform::kErrorDirectory;
  }
  std::wstring owner;
  uint32_t status = platform::GetSecurityInfo(pin, &owner);
  if (status != platform::kErrorSuccess) return status;
  if (owner != kAdministratorsSid && owner != kSystemSid && owner != OwnerOf(tempFolder)) {
    return platform::kErrorInvalidOwner;
  }
  return platform::kErrorSuccess;
}

bool IsVcRuntimeInstalled() {
  return VcRuntimeInstalledAt(kVcRuntimeKey) || VcRuntimeInstalledAt(kVcRuntimeKeyWow);
}

bool IsWebView2RuntimeInstalled() {
  return WebView2InstalledAt(platform::kHkeyLocalMachine, kWebView2ClientKey) ||
         WebView2InstalledAt(platform::kHkeyLocalMachine, kWebView2ClientKeyWow) ||
         WebView2InstalledAt(platform::kHkeyCurrentUser, kWebView2ClientKey);
}

bool CreatePrivateTempFolder(std::wstring* folder, uint32_t* error) {
  std::wstring temp = SystemTempFolder();
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
    Report(errorText, L"Failed to create temporary file (error " + std::to_wstring(error) + L")");
    return false;
  }
  platform::ByHandleFileInformation identity;
  error = CheckPinnedFolder(pin, SystemTempFolder(), &identity);
  if (error != platform::kErrorSuccess) {
    // Not ours: nothing is written into it, and it is not removed.
    platform::CloseHandle(pin);
    Report(errorText, L"Failed to create temporary file (error " + std::to_wstring(error) + L")");
    return false;
  }
  std::wstring placeholder;
  if (platform::GetTempFileNameW(folder, L"TSL", 0, &placeholder) == 0) {
    error = platform::GetLastError();
    RemovePrivateFolder(folder, pin, identity, L"", L"");
    Report(errorText, L"Failed to create temporary file (error " + std::to_wstring(error) + L")");
    return false;
  }
  std::wstring installer = ExeNameFor(placeholder);

  SetDetailText(L"Downloading " + displayName + L"...");
  std::wstring downloadError;
  if (!DownloadFile(host, urlPath, installer, &downloadError)) {
    RemovePrivateFolder(folder, pin, identity, placeholder, installer);
    Report(errorText, L"Download failed: " + downloadError);
    return false;
  }

  SetDetailText(L"Installing " + displayName + L"...");
  // Held from the check until the installer has run, so that what runs is
  // what was checked.
  platform::Handle checked = platform::kInvalidHandleValue;
  uint32_t trust = CheckInstallerSignature(installer, &checked);
  if (trust != 0) {
    RemovePrivateFolder(folder, pin, identity, placeholder, installer);
    Report(errorText, InstallerSignatureError(trust));
    return false;
  }
  // The installer's working folder is the private one: nothing a user
  // could have put in the current folder is beside it.
  uint32_t code = 0;
  InstallerEnd end =
      RunInstallerInJob(installer, arguments, folder, kInstallerTimeoutMs, &code);
  platform::CloseHandle(checked);
  RemovePrivateFolder(folder, pin, identity, placeholder, installer);
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
