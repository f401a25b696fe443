// Authenticode through wintrust.dll and certificate names through
// crypt32.dll. Neither is a KnownDLL: both are loaded from System32 at run
// time, so that no copy planted beside the program or in the current folder
// can answer for them.
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>

#include "platform/trust.h"

namespace platform {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID), "Guid must have GUID's layout");

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using ProvCertFn = CRYPT_PROVIDER_CERT*(WINAPI*)(CRYPT_PROVIDER_SGNR*, DWORD);
using NameStringFn = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

// HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), ...(ERROR_PROC_NOT_FOUND).
constexpr uint32_t kModuleMissing = 0x8007007E;
constexpr uint32_t kProcMissing = 0x8007007F;

struct TrustApi {
  WinVerifyTrustFn verify = nullptr;
  ProvDataFn provData = nullptr;
  ProvSignerFn provSigner = nullptr;
  ProvCertFn provCert = nullptr;
  NameStringFn nameString = nullptr;
  uint32_t loadStatus = 0;
};

template <typename Fn>
Fn Proc(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                : nullptr;
}

TrustApi LoadTrustApi() {
  TrustApi api;
  HMODULE wintrust = ::LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  HMODULE crypt32 = ::LoadLibraryExW(L"crypt32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!wintrust || !crypt32) {
    api.loadStatus = kModuleMissing;
    return api;
  }
  api.verify = Proc<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
  api.provData = Proc<ProvDataFn>(wintrust, "WTHelperProvDataFromStateData");
  api.provSigner = Proc<ProvSignerFn>(wintrust, "WTHelperGetProvSignerFromChain");
  api.provCert = Proc<ProvCertFn>(wintrust, "WTHelperGetProvCertFromChain");
  api.nameString = Proc<NameStringFn>(crypt32, "CertGetNameStringW");
  if (!api.verify || !api.provData || !api.provSigner || !api.provCert || !api.nameString) {
    api.verify = nullptr;
    api.loadStatus = kProcMissing;
  }
  return api;
}

const TrustApi& Api() {
  static const TrustApi api = LoadTrustApi();
  return api;
}

}  // namespace

uint32_t WinVerifyTrust(WindowHandle window, const Guid& action, WinTrustData* data) {
  const TrustApi& api = Api();
  if (!api.verify) return api.loadStatus;
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = data->filePath.c_str();
  file.hFile = data->file;
  WINTRUST_DATA native = {};
  native.cbStruct = sizeof(native);
  native.dwUIChoice = data->uiChoice;
  native.fdwRevocationChecks = data->revocationChecks;
  native.dwUnionChoice = data->unionChoice;
  native.pFile = &file;
  native.dwStateAction = data->stateAction;
  native.hWVTStateData = data->stateData;
  native.dwProvFlags = data->provFlags;
  GUID guid;
  static_assert(sizeof(guid) == sizeof(action), "GUID size");
  std::memcpy(&guid, &action, sizeof(guid));
  LONG result = api.verify(static_cast<HWND>(window), &guid, &native);
  data->stateData = native.hWVTStateData;
  return static_cast<uint32_t>(result);
}

ProviderData WTHelperProvDataFromStateData(TrustState state) {
  const TrustApi& api = Api();
  return api.verify ? api.provData(state) : nullptr;
}

ProviderSigner WTHelperGetProvSignerFromChain(ProviderData data, uint32_t signerIndex,
                                              bool counterSigner, uint32_t counterSignerIndex) {
  const TrustApi& api = Api();
  if (!api.verify) return nullptr;
  return api.provSigner(static_cast<CRYPT_PROVIDER_DATA*>(data), signerIndex,
                        counterSigner ? TRUE : FALSE, counterSignerIndex);
}

CertContext WTHelperGetProvCertFromChain(ProviderSigner signer, uint32_t certIndex) {
  const TrustApi& api = Api();
  if (!api.verify) return nullptr;
  CRYPT_PROVIDER_CERT* cert =
      api.provCert(static_cast<CRYPT_PROVIDER_SGNR*>(signer), certIndex);
  return cert ? cert->pCert : nullptr;
}

uint32_t CertGetNameStringW(CertContext cert, uint32_t type, uint32_t flags, const char* oid,
                            std::wstring* name) {
  name->clear();
  const TrustApi& api = Api();
  if (!api.verify) return 1;
  auto context = static_cast<PCCERT_CONTEXT>(cert);
  void* para = const_cast<char*>(oid);
  DWORD size = api.nameString(context, type, flags, para, nullptr, 0);
  if (size <= 1) return size;
  std::wstring buffer(size, L'\0');
  DWORD written = api.nameString(context, type, flags, para, &buffer[0], size);
  if (written > 0) buffer.resize(written - 1);
  *name = buffer;
  return written;
}

}  // namespace platform
