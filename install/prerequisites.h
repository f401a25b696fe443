// The two Microsoft runtimes the application needs: whether each is on the
// machine, and the silent run of its installer when it is not.
#ifndef INSTALL_PREREQUISITES_H_
#define INSTALL_PREREQUISITES_H_

#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "platform/types.h"

// What the install sequence passes to DownloadAndRunInstaller for each
// runtime, besides the host and path of product_constants.h.
inline constexpr wchar_t kVcRedistArguments[] = L"/install /quiet /norestart";
inline constexpr wchar_t kVcRedistDisplayName[] = L"Visual C++ Redistributable";
inline constexpr wchar_t kWebView2Arguments[] = L"/silent /install";
inline constexpr wchar_t kWebView2DisplayName[] = L"WebView2 Runtime";

// True when HKLM\kVcRuntimeKey, or else HKLM\kVcRuntimeKeyWow, holds an
// "Installed" value whose first 4 bytes read as the number 1. Reads only.
bool IsVcRuntimeInstalled();

// True when one of HKLM\kWebView2ClientKey, HKLM\kWebView2ClientKeyWow and
// HKCU\kWebView2ClientKey (tried in that order) holds a "pv" value that fits
// 128 bytes and starts with a character other than "0". Reads only.
bool IsWebView2RuntimeInstalled();

// Creates a new folder with a random name in the user's temporary folder,
// with an access list that grants only Administrators and SYSTEM (protected
// from inheritance), so that programs the user runs without administrator
// rights can neither put files into it nor change the ones there. On
// failure *error is the code of the failing call (an NTSTATUS when the
// random generator failed).
bool CreatePrivateTempFolder(std::wstring* folder, uint32_t* error);

// The check of the private folder once it is held (`pin`, opened without
// following a link): 0 when it is a folder, no link, owned by
// Administrators, SYSTEM or the owner of `tempFolder` around it; else
// ERROR_CANT_RESOLVE_FILENAME (1921) for a link, ERROR_DIRECTORY (267) for
// a file, ERROR_INVALID_OWNER (1307) for another owner, or the failing
// call's code. *identity is the held object's.
uint32_t CheckPinnedFolder(platform::Handle pin, const std::wstring& tempFolder,
                           platform::ByHandleFileInformation* identity);

// Downloads https://host + urlPath into a private temporary folder
// (CreatePrivateTempFolder, held open and checked to be ours) as the name
// GetTempFileNameW reserves there with ".exe", checks its signature through
// a handle held until it has run (CheckInstallerSignature; a file that fails
// is deleted, never started), runs it hidden with `arguments` in that folder
// and in a job object (RunInstallerInJob), waits up to five minutes and
// judges its exit code: 0, 3010 and 1638 are success. An installer that
// cannot be started, or is still running after five minutes (it and every
// process it started are ended), is a failure. The detail line shows
// "Downloading <displayName>..." and then "Installing <displayName>...". The
// folder and its files are removed on every way out. On failure, when
// errorText is given, its content is replaced by the reason.
bool DownloadAndRunInstaller(const std::wstring& host, const std::wstring& urlPath,
                             const std::wstring& arguments, const std::wstring& displayName,
                             std::wstring* errorText);

#endif  // INSTALL_PREREQUISITES_H_
