// The filtering platform's management calls, bound at run time from the
// fwpuclnt.dll in System32, the way the setup program binds them. Under Wine
// that is our stand-in when WINEDLLOVERRIDES has fwpuclnt=n, else Wine's own.
#ifndef TESTS_E2E_STANDINS_FWPUCLNT_FWP_API_H_
#define TESTS_E2E_STANDINS_FWPUCLNT_FWP_API_H_

#include <windows.h>
#include <fwpmu.h>

// The product's keys, and a second provider whose objects must survive the
// product's clean-up.
inline constexpr GUID kProductProviderKey = {
    0x8A7B6C5D, 0x4E3F, 0x2A1B, {0x9C, 0x8D, 0x7E, 0x6F, 0x5A, 0x4B, 0x3C, 0x2D}};
inline constexpr GUID kProductSublayerKey = {
    0x9B8C7D6E, 0x5F4A, 0x3B2C, {0xAD, 0x9E, 0x8F, 0x7A, 0x6B, 0x5C, 0x4D, 0x3E}};
inline constexpr GUID kOtherProviderKey = {
    0x0E1F2A3B, 0x4C5D, 0x6E7F, {0x80, 0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7}};
inline constexpr GUID kOtherSublayerKey = {
    0x1F2A3B4C, 0x5D6E, 0x7F80, {0x91, 0xA2, 0xB3, 0xC4, 0xD5, 0xE6, 0xF7, 0x08}};

struct FwpApi {
  HMODULE module = nullptr;
  decltype(&::FwpmEngineOpen0) engineOpen = nullptr;
  decltype(&::FwpmEngineClose0) engineClose = nullptr;
  decltype(&::FwpmTransactionBegin0) transactionBegin = nullptr;
  decltype(&::FwpmTransactionCommit0) transactionCommit = nullptr;
  decltype(&::FwpmTransactionAbort0) transactionAbort = nullptr;
  decltype(&::FwpmFilterCreateEnumHandle0) filterCreateEnumHandle = nullptr;
  decltype(&::FwpmFilterEnum0) filterEnum = nullptr;
  decltype(&::FwpmFilterDestroyEnumHandle0) filterDestroyEnumHandle = nullptr;
  decltype(&::FwpmFilterDeleteById0) filterDeleteById = nullptr;
  decltype(&::FwpmFilterAdd0) filterAdd = nullptr;
  decltype(&::FwpmFreeMemory0) freeMemory = nullptr;
  decltype(&::FwpmSubLayerDeleteByKey0) subLayerDeleteByKey = nullptr;
  decltype(&::FwpmSubLayerAdd0) subLayerAdd = nullptr;
  decltype(&::FwpmSubLayerGetByKey0) subLayerGetByKey = nullptr;
  decltype(&::FwpmProviderDeleteByKey0) providerDeleteByKey = nullptr;
  decltype(&::FwpmProviderAdd0) providerAdd = nullptr;
  decltype(&::FwpmProviderGetByKey0) providerGetByKey = nullptr;
};

template <typename T>
bool BindFwp(HMODULE module, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return *slot != nullptr;
}

// True when the DLL loaded and every call was found; otherwise *error holds
// the load error, or ERROR_PROC_NOT_FOUND for a missing export.
inline bool LoadFwpApi(FwpApi* api, DWORD* error) {
  api->module = LoadLibraryExW(L"fwpuclnt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!api->module) {
    *error = GetLastError();
    return false;
  }
  HMODULE m = api->module;
  bool all = BindFwp(m, "FwpmEngineOpen0", &api->engineOpen) &
             BindFwp(m, "FwpmEngineClose0", &api->engineClose) &
             BindFwp(m, "FwpmTransactionBegin0", &api->transactionBegin) &
             BindFwp(m, "FwpmTransactionCommit0", &api->transactionCommit) &
             BindFwp(m, "FwpmTransactionAbort0", &api->transactionAbort) &
             BindFwp(m, "FwpmFilterCreateEnumHandle0", &api->filterCreateEnumHandle) &
             BindFwp(m, "FwpmFilterEnum0", &api->filterEnum) &
             BindFwp(m, "FwpmFilterDestroyEnumHandle0", &api->filterDestroyEnumHandle) &
             BindFwp(m, "FwpmFilterDeleteById0", &api->filterDeleteById) &
             BindFwp(m, "FwpmFilterAdd0", &api->filterAdd) &
             BindFwp(m, "FwpmFreeMemory0", &api->freeMemory) &
             BindFwp(m, "FwpmSubLayerDeleteByKey0", &api->subLayerDeleteByKey) &
             BindFwp(m, "FwpmSubLayerAdd0", &api->subLayerAdd) &
             BindFwp(m, "FwpmSubLayerGetByKey0", &api->subLayerGetByKey) &
             BindFwp(m, "FwpmProviderDeleteByKey0", &api->providerDeleteByKey) &
             BindFwp(m, "FwpmProviderAdd0", &api->providerAdd) &
             BindFwp(m, "FwpmProviderGetByKey0", &api->providerGetByKey);
  if (!all) *error = ERROR_PROC_NOT_FOUND;
  return all;
}

#endif  // TESTS_E2E_STANDINS_FWPUCLNT_FWP_API_H_
