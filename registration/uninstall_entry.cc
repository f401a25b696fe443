#include "registration/uninstall_entry.h"

#include <cstdint>
#include <string>

#include "install/product_constants.h"
#include "platform/registry.h"
#include "platform/time.h"
#include "platform/trace.h"

namespace {

constexpr uint32_t kEstimatedSizeKb = 50000;

void SetString(platform::RegKey key, const wchar_t* name, const std::wstring& text) {
  std::string bytes = platform::RegSzData(text);
  platform::RegSetValueExW(key, name, platform::kRegSz, bytes.data(),
                           static_cast<uint32_t>(bytes.size()));
}

void SetNumber(platform::RegKey key, const wchar_t* name, uint32_t value) {
  unsigned char bytes[4] = {static_cast<unsigned char>(value & 0xFF),
                            static_cast<unsigned char>((value >> 8) & 0xFF),
                            static_cast<unsigned char>((value >> 16) & 0xFF),
                            static_cast<unsigned char>((value >> 24) & 0xFF)};
  platform::RegSetValueExW(key, name, platform::kRegDword, bytes, sizeof(bytes));
}

// The number in decimal, zero-padded to at least `width` digits.
std::wstring Padded(uint32_t value, size_t width) {
  std::wstring digits = std::to_wstring(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), L'0');
  return digits;
}

// YYYYMMDD of the local date.
std::wstring LocalDate() {
  platform::SystemTime now = {};
  platform::GetLocalTime(&now);
  return Padded(now.year, 4) + Padded(now.month, 2) + Padded(now.day, 2);
}

}  // namespace

bool RegisterUninstallEntry() {
  platform::RegKey key = nullptr;
  uint32_t status =
      platform::RegCreateKeyExW(platform::kHkeyLocalMachine, kUninstallKeyPath,
                                platform::kRegOptionNonVolatile, platform::kKeyWrite, &key, nullptr);
  if (status != platform::kErrorSuccess) {
    platform::OutputDebugStringA("[Install] Failed to create uninstall registry key: " +
                                 std::to_string(status) + "\n");
    return false;
  }
  std::wstring uninstallCommand = L"\"" + GetInstallPath(kUpdaterExeName) + L"\" /uninstall";
  std::wstring icon = GetInstallPath(kAppExeName) + L",0";
  std::wstring webSite = std::wstring(L"https://") + kVendorWebHost;

  SetString(key, L"DisplayName", kProductName);
  SetString(key, L"DisplayVersion", kProductVersion);
  SetString(key, L"Publisher", kPublisher);
  SetString(key, L"InstallLocation", kInstallFolder);
  SetString(key, L"UninstallString", uninstallCommand);
  SetString(key, L"DisplayIcon", icon);
  SetString(key, L"URLInfoAbout", webSite);
  SetString(key, L"HelpLink", webSite + L"/support");
  SetNumber(key, L"EstimatedSize", kEstimatedSizeKb);
  SetNumber(key, L"NoModify", 1);
  SetNumber(key, L"NoRepair", 1);
  SetString(key, L"InstallDate", LocalDate());

  platform::RegCloseKey(key);
  platform::OutputDebugStringA("[Install] Registered in Add/Remove Programs\n");
  return true;
}

bool RemoveUninstallEntry() {
  uint32_t status = platform::RegDeleteKeyW(platform::kHkeyLocalMachine, kUninstallKeyPath);
  if (status == platform::kErrorSuccess) {
    platform::OutputDebugStringA("[Uninstall] Removed from Add/Remove Programs\n");
    return true;
  }
  if (status == platform::kErrorFileNotFound) return true;
  platform::OutputDebugStringA("[Uninstall] Failed to remove registry key: " +
                               std::to_string(status) + "\n");
  return false;
}
