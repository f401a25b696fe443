// The registration steps and the prerequisite checks against a real Windows
// (Wine): the logic linked with platform/win32, checked here with the raw
// Win32 calls and afterwards by scripts/wine-registration.sh with Wine's own
// reg.exe, cmp and the debug trace.
//
// Two phases, run as separate processes by the script:
//   Register.*  writes the entry, copies the updater, schedules the task;
//   Remove.*    deletes the task and the entry.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "install/prerequisites.h"
#include "registration/own_image.h"
#include "registration/uninstall_entry.h"
#include "registration/update_task.h"

namespace {

const wchar_t kEntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tessaline";
const wchar_t kInstallFolder[] = L"C:\\Program Files\\Maretto\\TSL";
const wchar_t kUpdater[] = L"C:\\Program Files\\Maretto\\TSL\\updater.exe";
const wchar_t kVcKey[] = L"SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64";
const wchar_t kWebView2Key[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr DWORD kSentinel = 0xDEADBEEF;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

struct RawValue {
  DWORD type = kSentinel;
  std::string bytes;
  LSTATUS status = static_cast<LSTATUS>(kSentinel);
};

RawValue ReadRaw(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view = 0) {
  RawValue value;
  HKEY opened = nullptr;
  value.status = RegOpenKeyExW(root, key, 0, KEY_READ | view, &opened);
  if (value.status != ERROR_SUCCESS) return value;
  BYTE data[512];
  DWORD size = sizeof(data);
  value.status = RegQueryValueExW(opened, name, nullptr, &value.type, data, &size);
  if (value.status == ERROR_SUCCESS) value.bytes.assign(reinterpret_cast<char*>(data), size);
  RegCloseKey(opened);
  return value;
}

std::string Sz(const std::wstring& text) {
  std::string out(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
  return out;
}

std::string Dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), 4); }

std::wstring Today() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t text[16];
  swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
  return text;
}

std::string DaclOf(const std::wstring& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD status = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, nullptr, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) return "<GetNamedSecurityInfoW " + std::to_string(status) + ">";
  LPWSTR text = nullptr;
  std::string out = "<conversion failed>";
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text,
                                                           nullptr)) {
    out = Narrow(text);
    LocalFree(text);
  }
  LocalFree(descriptor);
  return out;
}

// The system's temp folder, where the runtime installers' folders go.
std::set<std::wstring> TempFolderEntries() {
  wchar_t windows[MAX_PATH + 1];
  GetSystemWindowsDirectoryW(windows, MAX_PATH + 1);
  std::wstring temp = std::wstring(windows) + L"\\Temp\\";
  std::set<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((std::wstring(temp) + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.insert(found.cFileName);
  while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::string FileBytes(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<cannot open: " + std::to_string(GetLastError()) + ">";
  std::string out;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) out.append(buffer, read);
  CloseHandle(file);
  return out;
}

bool OnWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring Self() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

// ---- Phase 1 ----

TEST(Register, WritesTheEntryWithItsTypesAndBytes) {
  ASSERT_TRUE(RegisterUninstallEntry());
  struct Row {
    const wchar_t* name;
    DWORD type;
    std::string bytes;
  };
  const std::vector<Row> rows = {
      {L"DisplayName", REG_SZ, Sz(L"Tessaline")},
      {L"DisplayVersion", REG_SZ, Sz(L"1.0.0")},
      {L"Publisher", REG_SZ, Sz(L"Maretto LTD")},
      {L"InstallLocation", REG_SZ, Sz(L"C:\\Program Files\\Maretto\\TSL")},
      {L"UninstallString", REG_SZ, Sz(L"\"C:\\Program Files\\Maretto\\TSL\\updater.exe\" /uninstall")},
      {L"DisplayIcon", REG_SZ, Sz(L"C:\\Program Files\\Maretto\\TSL\\Velquist.exe,0")},
      {L"URLInfoAbout", REG_SZ, Sz(L"https://www.maretto.example")},
      {L"HelpLink", REG_SZ, Sz(L"https://www.maretto.example/support")},
      {L"EstimatedSize", REG_DWORD, Dword(50000)},
      {L"NoModify", REG_DWORD, Dword(1)},
      {L"NoRepair", REG_DWORD, Dword(1)},
      {L"InstallDate", REG_SZ, Sz(Today())},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.name));
    RawValue got = ReadRaw(HKEY_LOCAL_MACHINE, kEntryKey, row.name);
    EXPECT_EQ(ERROR_SUCCESS, got.status) << "got " << got.status;
    EXPECT_EQ(row.type, got.type) << "got " << got.type;
    EXPECT_EQ(row.bytes.size(), got.bytes.size());
    EXPECT_EQ(row.bytes, got.bytes);
  }
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ, &key));
  DWORD count = kSentinel, subkeys = kSentinel;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &count, nullptr,
                   nullptr, nullptr, nullptr);
  RegCloseKey(key);
  EXPECT_EQ(12u, count) << "no other values, got " << count;
  EXPECT_EQ(0u, subkeys) << "got " << subkeys;
}

TEST(Register, EntryWithASubkeyIsNotRemoved) {
  HKEY child = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                           (std::wstring(kEntryKey) + L"\\Extra").c_str(), 0,
                                           nullptr, 0, KEY_WRITE, nullptr, &child, nullptr));
  RegCloseKey(child);
  EXPECT_FALSE(RemoveUninstallEntry()) << "traced as \"Failed to remove registry key: 5\"";
  EXPECT_EQ(ERROR_SUCCESS,
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(kEntryKey) + L"\\Extra").c_str()));
  EXPECT_EQ(ERROR_SUCCESS, ReadRaw(HKEY_LOCAL_MACHINE, kEntryKey, L"DisplayName").status);
}

TEST(Register, CopiesTheRunningProgramAsTheUpdater) {
  CreateDirectoryW(L"C:\\Program Files\\Maretto", nullptr);
  CreateDirectoryW(kInstallFolder, nullptr);
  // As the entry does at the start of every run.
  HoldOwnImage("[Install] ");
  InstallUpdaterCopy();
  ReleaseOwnImage();
  std::string copy = FileBytes(kUpdater);
  std::string self = FileBytes(Self().c_str());
  EXPECT_EQ(self.size(), copy.size());
  EXPECT_TRUE(self == copy) << "updater differs from " << Narrow(Self());
}

TEST(Register, SchedulesTheTaskWithinTheWait) {
  ULONGLONG start = GetTickCount64();
  ScheduleUpdateTask();
  ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_LT(elapsed, 11000u) << "waits at most 10 seconds, took " << elapsed << " ms";
}

// ---- Runtime checks and the private folder (left nothing behind) ----

TEST(Register, VcRuntimeFoundThroughTheWow6432NodePath) {
  // Written in the 32-bit view by the view flag; read by the checks through
  // the plain WOW6432Node path of the 64-bit view.
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVcKey, 0, nullptr, 0,
                                           KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr));
  DWORD one = 1, zero = 0;
  RegSetValueExW(key, L"Installed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
  EXPECT_TRUE(IsVcRuntimeInstalled());
  RegSetValueExW(key, L"Installed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4);
  EXPECT_FALSE(IsVcRuntimeInstalled());
  RegCloseKey(key);
  RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kVcKey, KEY_WOW64_32KEY, 0);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(HKEY_LOCAL_MACHINE, kVcKey, L"Installed", KEY_WOW64_32KEY).status);
}

TEST(Register, WebView2FoundForTheCurrentUser) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kWebView2Key, 0, nullptr, 0,
                                           KEY_WRITE, nullptr, &key, nullptr));
  std::string version = Sz(L"120.0.2210.91");
  RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                 static_cast<DWORD>(version.size()));
  EXPECT_TRUE(IsWebView2RuntimeInstalled());
  std::string zeros = Sz(L"0.0.0.0");
  RegSetValueExW(key, L"pv", 0, REG_SZ, reinterpret_cast<const BYTE*>(zeros.data()),
                 static_cast<DWORD>(zeros.size()));
  EXPECT_FALSE(IsWebView2RuntimeInstalled());
  RegCloseKey(key);
  RegDeleteKeyW(HKEY_CURRENT_USER, kWebView2Key);
}

TEST(Register, PrivateFolderGrantsOnlyAdministratorsAndSystem) {
  std::wstring folder;
  uint32_t error = kSentinel;
  ASSERT_TRUE(CreatePrivateTempFolder(&folder, &error)) << "error " << error;
  EXPECT_EQ(kSentinel, error);
  std::string dacl = DaclOf(folder);
  std::wstring file = folder + L"\\inside.exe";
  HANDLE made = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, made) << "error " << GetLastError();
  CloseHandle(made);
  std::string inherited = DaclOf(file);

  if (OnWine()) {
    // Wine 8 keeps no Windows access list on files: it turns the list into
    // unix mode bits and reads back one made from them (SYSTEM and the
    // unix user, full control, inheritable). What still shows is that
    // Everyone lost all access to the folder; the file inside gets the
    // default mode, not the inherited entries.
    EXPECT_EQ(0u, dacl.rfind("D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-", 0)) << "got " << dacl;
    EXPECT_EQ(std::string::npos, dacl.find(";WD)")) << "got " << dacl;
    EXPECT_EQ(0u, inherited.rfind("D:", 0)) << "got " << inherited;
  } else {
    EXPECT_EQ("D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", dacl) << Narrow(folder);
    EXPECT_EQ("D:AI(A;ID;FA;;;BA)(A;ID;FA;;;SY)", inherited);
  }
  EXPECT_TRUE(DeleteFileW(file.c_str()));
  EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "error " << GetLastError();
}

TEST(Register, FailedInstallerDownloadLeavesTheTempFolderAsItWas) {
  std::set<std::wstring> before = TempFolderEntries();
  std::wstring error = L"sentinel";
  EXPECT_FALSE(DownloadAndRunInstaller(L"tsl-test.invalid", L"/vc_redist.x64.exe",
                                       L"/install /quiet /norestart",
                                       L"Visual C++ Redistributable", &error));
  EXPECT_EQ("Download failed: Failed to send HTTP request (error 12007)", Narrow(error));
  EXPECT_EQ(before, TempFolderEntries());
}

// ---- Phase 2 ----

TEST(Remove, DeletesTheTask) { DeleteUpdateTask(); }

TEST(Remove, RemovesTheEntryAndThenFindsItGone) {
  EXPECT_TRUE(RemoveUninstallEntry());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(HKEY_LOCAL_MACHINE, kEntryKey, L"DisplayName").status);
  EXPECT_TRUE(RemoveUninstallEntry()) << "a missing entry counts as removed";
}

}  // namespace
