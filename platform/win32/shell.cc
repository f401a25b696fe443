// shell32, shlwapi and ole32: all KnownDLLs, so linked directly; oleaut32
// (BSTRs for the desktop shell) is loaded from System32 when first needed,
// so the import table stays as it is.
#include <windows.h>
#include <exdisp.h>
#include <objbase.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

#include "platform/com.h"
#include "platform/shell.h"

namespace platform {
namespace {

using SysAllocStringFn = BSTR(WINAPI*)(const OLECHAR*);
using SysFreeStringFn = void(WINAPI*)(BSTR);

struct OleAut {
  SysAllocStringFn alloc = nullptr;
  SysFreeStringFn free = nullptr;
};

const OleAut& OleAutApi() {
  static const OleAut api = [] {
    OleAut loaded;
    HMODULE module = ::LoadLibraryExW(L"oleaut32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) return loaded;
    loaded.alloc = reinterpret_cast<SysAllocStringFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "SysAllocString")));
    loaded.free = reinterpret_cast<SysFreeStringFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, "SysFreeString")));
    if (!loaded.alloc || !loaded.free) loaded = OleAut{};
    return loaded;
  }();
  return api;
}

// Releases the interface it holds when it goes out of scope.
template <typename T>
struct ComRef {
  T* p = nullptr;
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() {
    if (p) p->Release();
  }
  void** Out() { return reinterpret_cast<void**>(&p); }
};

// VariantInit without oleaut32: all zero is VT_EMPTY.
VARIANT EmptyVariant() {
  VARIANT v;
  ZeroMemory(&v, sizeof(v));
  return v;
}

// A BSTR VARIANT of the text, or an empty VARIANT for an empty text when
// `emptyIsMissing`; the string is freed with the VARIANT.
struct BstrVariant {
  VARIANT v = EmptyVariant();
  BstrVariant(const std::wstring& text, bool emptyIsMissing) {
    if (emptyIsMissing && text.empty()) return;
    v.vt = VT_BSTR;
    v.bstrVal = OleAutApi().alloc(text.c_str());
  }
  BstrVariant(const BstrVariant&) = delete;
  BstrVariant& operator=(const BstrVariant&) = delete;
  ~BstrVariant() {
    if (v.vt == VT_BSTR && v.bstrVal) OleAutApi().free(v.bstrVal);
  }
};

// The desktop's IShellDispatch2, through the shell's desktop browser.
HRESULT DesktopShellDispatch(IShellDispatch2** dispatch) {
  ComRef<IShellWindows> windows;
  HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IShellWindows, windows.Out());
  if (FAILED(hr)) return hr;
  VARIANT location = EmptyVariant();
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT root = EmptyVariant();
  LONG window = 0;
  ComRef<IDispatch> desktop;
  hr = windows.p->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                               reinterpret_cast<IDispatch**>(desktop.Out()));
  if (hr != S_OK) return FAILED(hr) ? hr : S_FALSE;
  if (!desktop.p) return S_FALSE;
  ComRef<IServiceProvider> services;
  hr = desktop.p->QueryInterface(IID_IServiceProvider, services.Out());
  if (FAILED(hr)) return hr;
  ComRef<IShellBrowser> browser;
  hr = services.p->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out());
  if (FAILED(hr)) return hr;
  ComRef<IShellView> view;
  hr = browser.p->QueryActiveShellView(&view.p);
  if (FAILED(hr)) return hr;
  if (!view.p) return E_FAIL;
  ComRef<IDispatch> background;
  hr = view.p->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out());
  if (FAILED(hr)) return hr;
  ComRef<IShellFolderViewDual> folderView;
  hr = background.p->QueryInterface(IID_IShellFolderViewDual, folderView.Out());
  if (FAILED(hr)) return hr;
  ComRef<IDispatch> application;
  hr = folderView.p->get_Application(&application.p);
  if (FAILED(hr)) return hr;
  if (!application.p) return E_FAIL;
  return application.p->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(dispatch));
}

}  // namespace

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

HResult ShellExecuteFromDesktop(const std::wstring& verb, const std::wstring& file,
                                const std::wstring& parameters, const std::wstring& directory,
                                int32_t show, bool* shellReached) {
  *shellReached = false;
  if (!OleAutApi().alloc) return HResultFromWin32(ERROR_MOD_NOT_FOUND);
  ComRef<IShellDispatch2> shell;
  HRESULT hr = DesktopShellDispatch(&shell.p);
  if (hr != S_OK) return hr;
  BstrVariant args(parameters, true);
  BstrVariant folder(directory, true);
  BstrVariant operation(verb, false);
  VARIANT showCommand = EmptyVariant();
  showCommand.vt = VT_I4;
  showCommand.lVal = show;
  BstrVariant target(file, false);
  *shellReached = true;
  return shell.p->ShellExecute(target.v.bstrVal, args.v, folder.v, operation.v, showCommand);
}

}  // namespace platform
