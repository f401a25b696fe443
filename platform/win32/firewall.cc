// Filtering platform management, loaded from System32 at run time so that
// no fwpuclnt.dll planted beside the executable can be picked up. A machine
// without it behaves as one whose engine cannot be opened.
#include <windows.h>
#include <fwpmu.h>

#include <cstddef>
#include <cstring>

#include "platform/firewall.h"

namespace platform {
namespace {

static_assert(sizeof(Guid) == sizeof(GUID), "Guid must have GUID's layout");
static_assert(offsetof(Guid, data4) == offsetof(GUID, Data4), "Guid must have GUID's layout");

struct Fwpuclnt {
  decltype(&::FwpmEngineOpen0) engineOpen = nullptr;
  decltype(&::FwpmEngineClose0) engineClose = nullptr;
  decltype(&::FwpmTransactionBegin0) transactionBegin = nullptr;
  decltype(&::FwpmTransactionCommit0) transactionCommit = nullptr;
  decltype(&::FwpmTransactionAbort0) transactionAbort = nullptr;
  decltype(&::FwpmFilterCreateEnumHandle0) filterCreateEnumHandle = nullptr;
  decltype(&::FwpmFilterEnum0) filterEnum = nullptr;
  decltype(&::FwpmFreeMemory0) freeMemory = nullptr;
  decltype(&::FwpmFilterDestroyEnumHandle0) filterDestroyEnumHandle = nullptr;
  decltype(&::FwpmFilterDeleteById0) filterDeleteById = nullptr;
  decltype(&::FwpmSubLayerDeleteByKey0) subLayerDeleteByKey = nullptr;
  decltype(&::FwpmProviderDeleteByKey0) providerDeleteByKey = nullptr;
  DWORD loadError = 0;
};

template <typename T>
bool Bind(HMODULE module, const char* name, T* slot) {
  *slot = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return *slot != nullptr;
}

Fwpuclnt LoadFwpuclnt() {
  Fwpuclnt api;
  HMODULE module = ::LoadLibraryExW(L"fwpuclnt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) {
    api.loadError = ::GetLastError();
    return api;
  }
  bool complete = Bind(module, "FwpmEngineOpen0", &api.engineOpen) &
                  Bind(module, "FwpmEngineClose0", &api.engineClose) &
                  Bind(module, "FwpmTransactionBegin0", &api.transactionBegin) &
                  Bind(module, "FwpmTransactionCommit0", &api.transactionCommit) &
                  Bind(module, "FwpmTransactionAbort0", &api.transactionAbort) &
                  Bind(module, "FwpmFilterCreateEnumHandle0", &api.filterCreateEnumHandle) &
                  Bind(module, "FwpmFilterEnum0", &api.filterEnum) &
                  Bind(module, "FwpmFreeMemory0", &api.freeMemory) &
                  Bind(module, "FwpmFilterDestroyEnumHandle0", &api.filterDestroyEnumHandle) &
                  Bind(module, "FwpmFilterDeleteById0", &api.filterDeleteById) &
                  Bind(module, "FwpmSubLayerDeleteByKey0", &api.subLayerDeleteByKey) &
                  Bind(module, "FwpmProviderDeleteByKey0", &api.providerDeleteByKey);
  if (!complete) {
    api = Fwpuclnt{};
    api.loadError = ERROR_PROC_NOT_FOUND;
  }
  return api;
}

const Fwpuclnt& Api() {
  static const Fwpuclnt api = LoadFwpuclnt();
  return api;
}

GUID ToGuid(const Guid& from) {
  GUID to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

}  // namespace

uint32_t FwpmEngineOpen0(uint32_t authnService, const FwpmSession0& session,
                         FwpmHandle* engine) {
  const Fwpuclnt& api = Api();
  if (!api.engineOpen) return api.loadError;
  FWPM_SESSION0 description = {};
  description.displayData.name = const_cast<wchar_t*>(session.displayName.c_str());
  HANDLE opened = nullptr;
  DWORD status = api.engineOpen(nullptr, authnService, nullptr, &description, &opened);
  if (status == ERROR_SUCCESS) *engine = opened;
  return status;
}

// Every call below takes the handle that FwpmEngineOpen0 gave, so the DLL
// is loaded by then.

uint32_t FwpmEngineClose0(FwpmHandle engine) { return Api().engineClose(engine); }

uint32_t FwpmTransactionBegin0(FwpmHandle engine, uint32_t flags) {
  return Api().transactionBegin(engine, flags);
}

uint32_t FwpmTransactionCommit0(FwpmHandle engine) { return Api().transactionCommit(engine); }

uint32_t FwpmTransactionAbort0(FwpmHandle engine) { return Api().transactionAbort(engine); }

uint32_t FwpmFilterCreateEnumHandle0(FwpmHandle engine, const FwpmFilterEnumTemplate0& enumTemplate,
                                     FwpmHandle* enumHandle) {
  GUID providerKey = {};
  FWPM_FILTER_ENUM_TEMPLATE0 query = {};
  if (enumTemplate.providerKey) {
    providerKey = ToGuid(*enumTemplate.providerKey);
    query.providerKey = &providerKey;
  }
  query.layerKey = ToGuid(enumTemplate.layerKey);
  query.enumType = static_cast<FWP_FILTER_ENUM_TYPE>(enumTemplate.enumType);
  query.flags = enumTemplate.flags;
  query.actionMask = enumTemplate.actionMask;
  HANDLE opened = nullptr;
  DWORD status = Api().filterCreateEnumHandle(engine, &query, &opened);
  if (status == ERROR_SUCCESS) *enumHandle = opened;
  return status;
}

uint32_t FwpmFilterEnum0(FwpmHandle engine, FwpmHandle enumHandle, uint32_t requested,
                         FwpmFilterArray* entries, uint32_t* returned) {
  FWPM_FILTER0** page = nullptr;
  UINT32 count = 0;
  DWORD status = Api().filterEnum(engine, enumHandle, requested, &page, &count);
  if (status == ERROR_SUCCESS) {
    *entries = page;
    *returned = count;
  }
  return status;
}

uint64_t FwpmFilterIdAt(FwpmFilterArray entries, uint32_t index) {
  return static_cast<FWPM_FILTER0**>(entries)[index]->filterId;
}

void FwpmFreeMemory0(FwpmFilterArray* entries) { Api().freeMemory(entries); }

uint32_t FwpmFilterDestroyEnumHandle0(FwpmHandle engine, FwpmHandle enumHandle) {
  return Api().filterDestroyEnumHandle(engine, enumHandle);
}

uint32_t FwpmFilterDeleteById0(FwpmHandle engine, uint64_t id) {
  return Api().filterDeleteById(engine, id);
}

uint32_t FwpmSubLayerDeleteByKey0(FwpmHandle engine, const Guid& key) {
  GUID k = ToGuid(key);
  return Api().subLayerDeleteByKey(engine, &k);
}

uint32_t FwpmProviderDeleteByKey0(FwpmHandle engine, const Guid& key) {
  GUID k = ToGuid(key);
  return Api().providerDeleteByKey(engine, &k);
}

}  // namespace platform
