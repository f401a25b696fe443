// Every fixed value of the product in one place. Nothing here is read from
// the environment or configurable at run time.
#ifndef INSTALL_PRODUCT_CONSTANTS_H_
#define INSTALL_PRODUCT_CONSTANTS_H_

#include <string>

#include "platform/types.h"

// ---- Product identity ----
inline constexpr wchar_t kProductName[] = L"Tessaline";
inline constexpr wchar_t kProductVersion[] = L"1.0.0";
inline constexpr wchar_t kPublisher[] = L"Maretto LTD";
inline constexpr wchar_t kUserAgent[] = L"TSL Installer/1.0";

// ---- Folders (absolute, fixed; no trailing backslash) ----
inline constexpr wchar_t kInstallFolder[] = L"C:\\Program Files\\Maretto\\TSL";
inline constexpr int kProductFolderCount = 5;
// In the order the uninstall removes them.
inline constexpr const wchar_t* kProductFolders[kProductFolderCount] = {
    kInstallFolder,
    L"C:\\Program Files\\Maretto",
    L"C:\\Program Files\\Sarvenna Platform",
    L"C:\\ProgramData\\Maretto",
    L"C:\\ProgramData\\Orlenda",
};

// ---- Download locations (host names only; HTTPS on port 443) ----
inline constexpr wchar_t kDeployHost[] = L"deploy.maretto.example";
inline constexpr wchar_t kAppDownloadPath[] = L"/executable/Velquist.exe";
inline constexpr wchar_t kLoaderDownloadPath[] = L"/executable/WebView2Loader.dll";
// The setup itself, which the installed updater replaces itself with.
inline constexpr wchar_t kSetupDownloadPath[] = L"/executable/TessalineSetup.exe";
inline constexpr wchar_t kVcRedistHost[] = L"aka.ms";
inline constexpr wchar_t kVcRedistPath[] = L"/vs/17/release/vc_redist.x64.exe";
inline constexpr wchar_t kWebView2Host[] = L"go.microsoft.com";
inline constexpr wchar_t kWebView2Path[] = L"/fwlink/p/?LinkId=2124703";

// ---- Local file names (inside kInstallFolder) ----
inline constexpr wchar_t kAppExeName[] = L"Velquist.exe";
inline constexpr wchar_t kLoaderDllName[] = L"WebView2Loader.dll";
inline constexpr wchar_t kUpdaterExeName[] = L"updater.exe";

// ---- One setup at a time ----
// Machine-wide, so the weekly run (SYSTEM) and an administrator's run see
// each other; both may open it, nobody else.
inline constexpr wchar_t kSetupMutexName[] = L"Global\\TessalineSetupMutex";
inline constexpr wchar_t kSetupMutexSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

// ---- Registry locations (key paths without the root) ----
inline constexpr wchar_t kUninstallKeyPath[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline";
inline constexpr wchar_t kVcRuntimeKey[] =
    L"SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
inline constexpr wchar_t kVcRuntimeKeyWow[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
inline constexpr wchar_t kVcRuntimeValue[] = L"Installed";
inline constexpr wchar_t kWebView2ClientKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kWebView2ClientKeyWow[] =
    L"SOFTWARE\\WOW6432Node\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr wchar_t kWebView2VersionValue[] = L"pv";

// ---- User interface ----
inline constexpr wchar_t kUiFontFace[] = L"Segoe UI";

// ---- Vendor web site (Add/Remove Programs links; host name only) ----
inline constexpr wchar_t kVendorWebHost[] = L"www.maretto.example";

// The install folder, one backslash (unless the folder already ends in
// one), and the file name as given.
std::wstring GetInstallPath(const std::wstring& fileName);

// Joins a folder and a file name the same way; GetInstallPath uses it with
// kInstallFolder.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& fileName);

// True when anything (file or folder) exists at GetInstallPath(kAppExeName).
bool IsApplicationInstalled();

// ---- Filtering platform objects (removed on uninstall) ----
// {8A7B6C5D-4E3F-2A1B-9C8D-7E6F5A4B3C2D}: the provider; its filters are the
// product's.
inline constexpr platform::Guid kFirewallProviderKey = {
    0x8A7B6C5D, 0x4E3F, 0x2A1B, {0x9C, 0x8D, 0x7E, 0x6F, 0x5A, 0x4B, 0x3C, 0x2D}};
// {9B8C7D6E-5F4A-3B2C-AD9E-8F7A6B5C4D3E}: the sublayer.
inline constexpr platform::Guid kFirewallSublayerKey = {
    0x9B8C7D6E, 0x5F4A, 0x3B2C, {0xAD, 0x9E, 0x8F, 0x7A, 0x6B, 0x5C, 0x4D, 0x3E}};

#endif  // INSTALL_PRODUCT_CONSTANTS_H_
