// shell32, shlwapi and ole32: all KnownDLLs, so linked directly.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "platform/com.h"
#include "platform/shell.h"

namespace platform {

HResult CoInitializeEx(uint32_t model) { return ::CoInitializeEx(nullptr, model); }

HResult CoInitialize() { return ::CoInitialize(nullptr); }

void CoUninitialize() { ::CoUninitialize(); }

HResult SHGetFolderPathW(int32_t csidl, uint32_t flags, std::wstring* path) {
  wchar_t buffer[MAX_PATH] = {};
  HRESULT hr = ::SHGetFolderPathW(nullptr, csidl, nullptr, flags, buffer);
  if (FAILED(hr)) {
    path->clear();
  } else {
    *path = buffer;
  }
  return hr;
}

bool PathRemoveFileSpecW(std::wstring* path) {
  // The call works in place on a buffer of at least MAX_PATH characters.
  std::vector<wchar_t> buffer(path->size() + 1 > MAX_PATH ? path->size() + 1 : MAX_PATH, L'\0');
  path->copy(buffer.data(), path->size());
  BOOL removed = ::PathRemoveFileSpecW(buffer.data());
  *path = buffer.data();
  return removed != FALSE;
}

uint32_t SHCreateDirectoryExW(const std::wstring& path) {
  return static_cast<uint32_t>(::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr));
}

HResult SaveShellLink(const ShellLinkProperties& link, const std::wstring& lnkPath) {
  IShellLinkW* shellLink = nullptr;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&shellLink));
  if (FAILED(hr)) return hr;
  shellLink->SetPath(link.path.c_str());
  shellLink->SetDescription(link.description.c_str());
  shellLink->SetIconLocation(link.iconPath.c_str(), link.iconIndex);
  shellLink->SetWorkingDirectory(link.workingDirectory.c_str());
  IPersistFile* file = nullptr;
  hr = shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(hr)) {
    hr = file->Save(lnkPath.c_str(), TRUE);
    file->Release();
  }
  shellLink->Release();
  return hr;
}

}  // namespace platform
