// Version resources through version.dll, loaded from System32 at run time:
// the setup runs from Downloads, where a planted version.dll would
// otherwise be found first.
#include <windows.h>

#include <cstring>

#include "platform/version.h"

namespace platform {
namespace {

using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VersionApi {
  SizeFn size = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;
};

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                : nullptr;
}

const VersionApi& Api() {
  static const VersionApi api = [] {
    VersionApi loaded;
    HMODULE module = ::LoadLibraryExW(L"version.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    loaded.size = Proc<SizeFn>(module, "GetFileVersionInfoSizeW");
    loaded.info = Proc<InfoFn>(module, "GetFileVersionInfoW");
    loaded.query = Proc<QueryFn>(module, "VerQueryValueW");
    if (!loaded.size || !loaded.info || !loaded.query) loaded = VersionApi();
    return loaded;
  }();
  return api;
}

}  // namespace

uint32_t GetFileVersionInfoSizeW(const std::wstring& path) {
  if (!Api().size) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  DWORD ignored = 0;
  return Api().size(path.c_str(), &ignored);
}

bool GetFileVersionInfoW(const std::wstring& path, uint32_t size, std::vector<uint8_t>* block) {
  block->assign(size, 0);
  if (!Api().info) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
  }
  return Api().info(path.c_str(), 0, size, block->data()) != FALSE;
}

bool VerQueryValueW(const std::vector<uint8_t>& block, const std::wstring& subBlock,
                    FixedFileInfo* info) {
  if (!Api().query || block.empty()) return false;
  void* value = nullptr;
  UINT length = 0;
  if (!Api().query(block.data(), subBlock.c_str(), &value, &length) || !value ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  VS_FIXEDFILEINFO fixed;
  std::memcpy(&fixed, value, sizeof(fixed));
  info->signature = fixed.dwSignature;
  info->fileVersionMS = fixed.dwFileVersionMS;
  info->fileVersionLS = fixed.dwFileVersionLS;
  return true;
}

}  // namespace platform
