// WinHTTP, loaded from System32 at run time so that no winhttp.dll planted
// beside the executable can be picked up.
#include <windows.h>
#include <winhttp.h>

#include "platform/http.h"

namespace platform {
namespace {

struct WinHttp {
  decltype(&::WinHttpOpen) open = nullptr;
  decltype(&::WinHttpSetOption) setOption = nullptr;
  decltype(&::WinHttpConnect) connect = nullptr;
  decltype(&::WinHttpOpenRequest) openRequest = nullptr;
  decltype(&::WinHttpSendRequest) sendRequest = nullptr;
  decltype(&::WinHttpReceiveResponse) receiveResponse = nullptr;
  decltype(&::WinHttpQueryHeaders) queryHeaders = nullptr;
  decltype(&::WinHttpReadData) readData = nullptr;
  decltype(&::WinHttpCloseHandle) closeHandle = nullptr;
  DWORD loadError = 0;
};

template <typename T>
void Bind(HMODULE module, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

WinHttp LoadWinHttp() {
  WinHttp api;
  HMODULE module = ::LoadLibraryExW(L"winhttp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) {
    api.loadError = ::GetLastError();
    return api;
  }
  Bind(module, "WinHttpOpen", &api.open);
  Bind(module, "WinHttpSetOption", &api.setOption);
  Bind(module, "WinHttpConnect", &api.connect);
  Bind(module, "WinHttpOpenRequest", &api.openRequest);
  Bind(module, "WinHttpSendRequest", &api.sendRequest);
  Bind(module, "WinHttpReceiveResponse", &api.receiveResponse);
  Bind(module, "WinHttpQueryHeaders", &api.queryHeaders);
  Bind(module, "WinHttpReadData", &api.readData);
  Bind(module, "WinHttpCloseHandle", &api.closeHandle);
  if (!api.open || !api.setOption || !api.connect || !api.openRequest || !api.sendRequest ||
      !api.receiveResponse || !api.queryHeaders || !api.readData || !api.closeHandle) {
    api = WinHttp{};
    api.loadError = ERROR_PROC_NOT_FOUND;
  }
  return api;
}

const WinHttp& Api() {
  static const WinHttp api = LoadWinHttp();
  return api;
}

}  // namespace

HttpHandle WinHttpOpen(const std::wstring& userAgent) {
  const WinHttp& api = Api();
  if (!api.open) {
    ::SetLastError(api.loadError);
    return nullptr;
  }
  return api.open(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                  WINHTTP_NO_PROXY_BYPASS, 0);
}

// Every handle below came from WinHttpOpen, so the API is loaded by then.

bool WinHttpSetOption(HttpHandle handle, uint32_t option, uint32_t value) {
  DWORD data = value;
  return Api().setOption(handle, option, &data, sizeof(data)) != FALSE;
}

HttpHandle WinHttpConnect(HttpHandle session, const std::wstring& host, uint16_t port) {
  return Api().connect(session, host.c_str(), port, 0);
}

HttpHandle WinHttpOpenRequest(HttpHandle connection, const std::wstring& verb,
                              const std::wstring& objectName, uint32_t flags) {
  return Api().openRequest(connection, verb.c_str(), objectName.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
}

bool WinHttpSendRequest(HttpHandle request) {
  return Api().sendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                           0, 0) != FALSE;
}

bool WinHttpReceiveResponse(HttpHandle request) {
  return Api().receiveResponse(request, nullptr) != FALSE;
}

bool WinHttpQueryHeaderNumber(HttpHandle request, uint32_t query, uint32_t* value) {
  DWORD number = 0;
  DWORD size = sizeof(number);
  if (!Api().queryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                          &number, &size, WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  *value = number;
  return true;
}

bool WinHttpQueryHeaderText(HttpHandle request, uint32_t query, std::wstring* value) {
  wchar_t text[64];
  DWORD size = sizeof(text);
  if (!Api().queryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                          WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  value->assign(text, size / sizeof(wchar_t));
  return true;
}

bool WinHttpReadData(HttpHandle request, void* buffer, uint32_t size, uint32_t* read) {
  DWORD n = 0;
  BOOL ok = Api().readData(request, buffer, size, &n);
  *read = ok ? n : 0;
  return ok != FALSE;
}

bool WinHttpCloseHandle(HttpHandle handle) { return Api().closeHandle(handle) != FALSE; }

}  // namespace platform
