#include "uninstall/firewall_cleanup.h"

#include <string>
#include <vector>

#include "install/product_constants.h"
#include "platform/firewall.h"
#include "platform/trace.h"
#include "platform/types.h"

namespace {

constexpr wchar_t kSessionName[] = L"TSL Uninstaller";
constexpr uint32_t kPageSize = 100;

void Trace(const std::string& text) {
  platform::OutputDebugStringA("[NWX Cleanup] " + text + "\n");
}

std::string Status(uint32_t status) { return std::to_string(status); }

// Every filter id the enumeration returns, page by page, until a page comes
// back empty or a call fails; what came before a failure is kept, and
// *complete tells whether the end was reached.
std::vector<uint64_t> CollectFilterIds(platform::FwpmHandle engine,
                                       platform::FwpmHandle enumHandle, bool* complete) {
  std::vector<uint64_t> ids;
  for (;;) {
    platform::FwpmFilterArray page = nullptr;
    uint32_t returned = 0;
    uint32_t status = platform::FwpmFilterEnum0(engine, enumHandle, kPageSize, &page, &returned);
    if (status != 0) {
      Trace("FwpmFilterEnum failed: " + Status(status));
      *complete = false;
      return ids;
    }
    if (returned == 0) return ids;
    for (uint32_t i = 0; i < returned; ++i) ids.push_back(platform::FwpmFilterIdAt(page, i));
    platform::FwpmFreeMemory0(&page);
  }
}

}  // namespace

int32_t RemoveFirewallRules(bool* allRemoved) {
  bool complete = true;
  platform::FwpmSession0 session;
  session.displayName = kSessionName;
  platform::FwpmHandle engine = nullptr;
  uint32_t status = platform::FwpmEngineOpen0(platform::kRpcCAuthnDefault, session, &engine);
  if (status != 0) {
    Trace("FwpmEngineOpen failed: " + Status(status));
    if (allRemoved) *allRemoved = false;
    return -1;
  }

  // Without a transaction each deletion still takes effect on its own.
  status = platform::FwpmTransactionBegin0(engine, 0);
  bool inTransaction = status == 0;
  if (!inTransaction) Trace("FwpmTransactionBegin failed: " + Status(status));

  int32_t deleted = 0;
  int32_t failed = 0;
  platform::FwpmFilterEnumTemplate0 query;
  query.providerKey = kFirewallProviderKey;
  // The engine lists only filters whose action type shares a bit with the
  // mask: 0 would list none and leave every filter of the product behind.
  query.actionMask = 0xFFFFFFFF;
  platform::FwpmHandle enumHandle = nullptr;
  status = platform::FwpmFilterCreateEnumHandle0(engine, query, &enumHandle);
  if (status != 0) {
    Trace("FwpmFilterCreateEnumHandle failed: " + Status(status));
    complete = false;
  } else {
    // All ids are collected before the first deletion, so deleting cannot
    // disturb the enumeration.
    std::vector<uint64_t> ids = CollectFilterIds(engine, enumHandle, &complete);
    platform::FwpmFilterDestroyEnumHandle0(engine, enumHandle);
    Trace("Found " + std::to_string(static_cast<uint64_t>(ids.size())) + " filters to delete");
    for (uint64_t id : ids) {
      status = platform::FwpmFilterDeleteById0(engine, id);
      if (status == 0) {
        ++deleted;
      } else {
        ++failed;
        Trace("Failed to delete filter " + std::to_string(id) + ": " + Status(status));
        // One that vanished since the enumeration is gone all the same.
        if (status != platform::kFwpEFilterNotFound) complete = false;
      }
    }
  }

  status = platform::FwpmSubLayerDeleteByKey0(engine, kFirewallSublayerKey);
  if (status != 0 && status != platform::kFwpESublayerNotFound) {
    Trace("FwpmSubLayerDeleteByKey failed: " + Status(status));
    complete = false;
  }
  status = platform::FwpmProviderDeleteByKey0(engine, kFirewallProviderKey);
  if (status != 0 && status != platform::kFwpEProviderNotFound) {
    Trace("FwpmProviderDeleteByKey failed: " + Status(status));
    complete = false;
  }

  // What succeeded stays: there is nothing to roll back to. A failed commit
  // undoes every deletion of the transaction, so none of them counts.
  if (inTransaction) {
    status = platform::FwpmTransactionCommit0(engine);
    if (status != 0) {
      Trace("FwpmTransactionCommit failed: " + Status(status));
      failed += deleted;
      deleted = 0;
      complete = false;
    }
  }
  platform::FwpmEngineClose0(engine);
  Trace("Deleted " + std::to_string(deleted) + " filters, " + std::to_string(failed) + " failed");
  if (allRemoved) *allRemoved = complete;
  return deleted;
}
