// Windows Filtering Platform management, mirrors of the fwpuclnt.dll calls of
// the same name. Every call returns its status: 0 on success, else an FWP_E_*
// value, an RPC status or a system error code (see platform/types.h).
#ifndef PLATFORM_FIREWALL_H_
#define PLATFORM_FIREWALL_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/types.h"

namespace platform {

using FwpmHandle = void*;       // engine session or filter enumeration
using FwpmFilterArray = void*;  // the FWPM_FILTER0** that FwpmFilterEnum0 gives

// RPC_C_AUTHN_DEFAULT.
constexpr uint32_t kRpcCAuthnDefault = 0xFFFFFFFF;
// FWP_FILTER_ENUM_FULLY_CONTAINED.
constexpr uint32_t kFwpFilterEnumFullyContained = 0;

// FWPM_SESSION0 with every field zero or null except displayData.name: no
// session key, no description, flags 0 (not dynamic), txnWaitTimeoutInMSec 0
// (the engine's default), no process, SID, user name or kernel-mode mark.
struct FwpmSession0 {
  std::wstring displayName;
};

// FWPM_FILTER_ENUM_TEMPLATE0. providerKey is the pointer (nullopt: NULL);
// providerContextTemplate, filterCondition and calloutKey are always NULL and
// numFilterConditions 0.
struct FwpmFilterEnumTemplate0 {
  std::optional<Guid> providerKey;
  Guid layerKey = {};
  uint32_t enumType = kFwpFilterEnumFullyContained;
  uint32_t flags = 0;
  uint32_t actionMask = 0;
};

// FwpmEngineOpen0(NULL (the local engine), authnService, NULL (no
// identity), &session, engine). *engine is written only on success. When
// fwpuclnt.dll cannot be loaded from System32 the status is the loader's
// error (126), as for an engine that cannot be reached.
uint32_t FwpmEngineOpen0(uint32_t authnService, const FwpmSession0& session,
                         FwpmHandle* engine);

// FwpmEngineClose0: ends the session; a transaction still open is aborted.
uint32_t FwpmEngineClose0(FwpmHandle engine);

// FwpmTransactionBegin0(engine, flags); flags 0 is read-write. Fails with
// FWP_E_TXN_IN_PROGRESS when the session already has one. Without a
// transaction every change takes effect on its own.
uint32_t FwpmTransactionBegin0(FwpmHandle engine, uint32_t flags);

// FwpmTransactionCommit0 / FwpmTransactionAbort0: FWP_E_NO_TXN_IN_PROGRESS
// without a transaction. A failed call inside a transaction does not end it.
uint32_t FwpmTransactionCommit0(FwpmHandle engine);
uint32_t FwpmTransactionAbort0(FwpmHandle engine);

// FwpmFilterCreateEnumHandle0(engine, &template, enumHandle). *enumHandle is
// written only on success.
uint32_t FwpmFilterCreateEnumHandle0(FwpmHandle engine,
                                     const FwpmFilterEnumTemplate0& enumTemplate,
                                     FwpmHandle* enumHandle);

// FwpmFilterEnum0(engine, enumHandle, requested, entries, returned): the
// next page of at most `requested` filters. At the end it succeeds with
// *returned 0 (and *entries null). A non-null *entries must be released
// with FwpmFreeMemory0. The outputs are written only on success.
uint32_t FwpmFilterEnum0(FwpmHandle engine, FwpmHandle enumHandle, uint32_t requested,
                         FwpmFilterArray* entries, uint32_t* returned);

// entries[index]->filterId of a page from FwpmFilterEnum0; index below the
// number returned.
uint64_t FwpmFilterIdAt(FwpmFilterArray entries, uint32_t index);

// FwpmFreeMemory0(entries): releases a page and sets *entries to null.
void FwpmFreeMemory0(FwpmFilterArray* entries);

// FwpmFilterDestroyEnumHandle0(engine, enumHandle).
uint32_t FwpmFilterDestroyEnumHandle0(FwpmHandle engine, FwpmHandle enumHandle);

// FwpmFilterDeleteById0(engine, id): FWP_E_FILTER_NOT_FOUND when no filter
// has the id.
uint32_t FwpmFilterDeleteById0(FwpmHandle engine, uint64_t id);

// FwpmSubLayerDeleteByKey0(engine, &key): FWP_E_SUBLAYER_NOT_FOUND when
// absent, FWP_E_IN_USE while a filter is in the sublayer.
uint32_t FwpmSubLayerDeleteByKey0(FwpmHandle engine, const Guid& key);

// FwpmProviderDeleteByKey0(engine, &key): FWP_E_PROVIDER_NOT_FOUND when
// absent, FWP_E_IN_USE while a filter or sublayer names the provider.
uint32_t FwpmProviderDeleteByKey0(FwpmHandle engine, const Guid& key);

}  // namespace platform

#endif  // PLATFORM_FIREWALL_H_
