#include "tests/windows/kit_support.h"

#include <windows.h>

#include <random>
#include <vector>

std::wstring KitFolder() {
  std::vector<wchar_t> buffer(32768);
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  std::wstring self(buffer.data(), length);
  return self.substr(0, self.rfind(L'\\'));
}

KitTempFolder::KitTempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  DWORD length = GetTempPathW(MAX_PATH + 1, temp);
  std::random_device random;
  std::wstring base(temp, length);
  if (!base.empty() && base.back() == L'\\') base.pop_back();
  path_ = base + L"\\tsl-kit-" + std::to_wstring(random()) + std::to_wstring(random() % 10000);
  CreateDirectoryW(path_.c_str(), nullptr);
}

KitTempFolder::~KitTempFolder() { RemoveKitTree(path_); }

void RemoveKitTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") RemoveKitTree(path + L"\\" + name);
      } while (FindNextFileW(search, &entry));
      FindClose(search);
    }
  }
  RemoveDirectoryW(path.c_str());
}

bool WriteKitFile(const std::wstring& path, const std::string& content) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == content.size();
}

std::optional<std::string> ReadKitFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string content;
  char buffer[65536];
  DWORD done = 0;
  while (ReadFile(file, buffer, sizeof buffer, &done, nullptr) && done > 0) {
    content.append(buffer, done);
  }
  CloseHandle(file);
  return content;
}

bool KitPathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WaitUntil(const std::function<bool()>& done) {
  ULONGLONG end = GetTickCount64() + kKitWaitMs;
  while (!done()) {
    if (GetTickCount64() >= end) return done();
    Sleep(50);
  }
  return true;
}

std::optional<uint32_t> RunToEnd(const std::wstring& commandLine, const std::wstring& directory) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::wstring line = commandLine;
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    return std::nullopt;
  }
  CloseHandle(process.hThread);
  std::optional<uint32_t> result;
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, kKitWaitMs) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &code)) {
    result = code;
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, kKitWaitMs);
  }
  CloseHandle(process.hProcess);
  return result;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::string LastErrorText() { return "last error " + std::to_string(GetLastError()); }
