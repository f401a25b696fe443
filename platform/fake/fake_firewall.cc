// The fake's base filtering engine: providers, sublayers and filters, the
// reference rules the real engine enforces on deletion, one transaction per
// session, and enumeration in pages.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/firewall.h"

namespace fake {
namespace {

using namespace platform;

struct Filter {
  uint64_t id;
  std::optional<Guid> providerKey;
  Guid sublayerKey;
  uint32_t actionType;
};

struct Sublayer {
  Guid key;
  std::optional<Guid> providerKey;
};

// Everything the engine holds; a transaction keeps a copy to roll back to.
struct Objects {
  std::vector<Guid> providers;
  std::vector<Sublayer> sublayers;
  std::vector<Filter> filters;  // in the order added
};

struct Session {
  std::optional<Objects> rollback;  // set while a transaction is open
};

struct Enumeration {
  uintptr_t engine;
  std::vector<uint64_t> ids;  // the matching filters at creation
  size_t next = 0;
};

struct PlannedFailure {
  FwpmCall call;
  int remaining;  // calls of that kind still to pass before it fails
  uint32_t status;
};

Objects g_objects;
std::map<uintptr_t, Session> g_sessions;
std::map<uintptr_t, Enumeration> g_enumerations;
std::set<std::vector<uint64_t>*> g_pages;
uintptr_t g_nextHandle = 0x5f000000;  // apart from kernel and search handles
uint32_t g_pageLimit = UINT32_MAX;
std::vector<PlannedFailure> g_failures;
std::function<void(FwpmCall)> g_onCall;
std::vector<std::string> g_log;
std::optional<FwpmSessionRecord> g_lastSession;
std::optional<FwpmFilterEnumTemplate0> g_lastTemplate;

void ResetEngine() {
  g_objects = Objects{};
  g_sessions.clear();
  g_enumerations.clear();
  for (auto* page : g_pages) delete page;
  g_pages.clear();
  g_pageLimit = UINT32_MAX;
  g_failures.clear();
  g_onCall = nullptr;
  g_log.clear();
  g_lastSession.reset();
  g_lastTemplate.reset();
}

ResetHook g_resetEngine(ResetEngine);

uintptr_t NewEngineHandle() {
  uintptr_t value = g_nextHandle;
  g_nextHandle += 8;
  return value;
}

// Runs the hook, then answers whether this call is one planned to fail.
uint32_t Begin(FwpmCall call) {
  if (g_onCall) g_onCall(call);
  uint32_t status = 0;
  for (auto it = g_failures.begin(); it != g_failures.end();) {
    if (it->call == call && it->remaining == 0 && status == 0) {
      status = it->status;
      it = g_failures.erase(it);
      continue;
    }
    if (it->call == call && it->remaining > 0) --it->remaining;
    ++it;
  }
  return status;
}

uint32_t Log(const std::string& call, uint32_t status, const std::string& more = "") {
  g_log.push_back(call + " -> " + std::to_string(status) + more);
  return status;
}

Session* FindSession(FwpmHandle engine) {
  auto it = g_sessions.find(reinterpret_cast<uintptr_t>(engine));
  return it == g_sessions.end() ? nullptr : &it->second;
}

bool HasProvider(const Guid& key) {
  return std::find(g_objects.providers.begin(), g_objects.providers.end(), key) !=
         g_objects.providers.end();
}

[[noreturn]] void Crash(const char* what) {
  std::fprintf(stderr, "fake filtering engine: %s\n", what);
  std::abort();
}

}  // namespace

void AddFwpmProvider(const Guid& key) {
  if (!HasProvider(key)) g_objects.providers.push_back(key);
}

void AddFwpmSublayer(const Guid& key, std::optional<Guid> providerKey) {
  g_objects.sublayers.push_back({key, providerKey});
}

void AddFwpmFilter(uint64_t id, std::optional<Guid> providerKey, const Guid& sublayerKey,
                   uint32_t actionType) {
  g_objects.filters.push_back({id, providerKey, sublayerKey, actionType});
}

void RemoveFwpmFilter(uint64_t id) {
  auto& filters = g_objects.filters;
  filters.erase(std::remove_if(filters.begin(), filters.end(),
                               [id](const Filter& f) { return f.id == id; }),
                filters.end());
}

std::vector<uint64_t> FwpmFilterIds() {
  std::vector<uint64_t> ids;
  for (const Filter& f : g_objects.filters) ids.push_back(f.id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

bool FwpmProviderExists(const Guid& key) { return HasProvider(key); }

bool FwpmSublayerExists(const Guid& key) {
  for (const Sublayer& s : g_objects.sublayers) {
    if (s.key == key) return true;
  }
  return false;
}

void SetFwpmPageLimit(uint32_t limit) { g_pageLimit = limit; }

void FailFwpmCall(FwpmCall call, uint32_t status, int nth) {
  g_failures.push_back({call, nth, status});
}

void OnFwpmCall(std::function<void(FwpmCall)> hook) { g_onCall = std::move(hook); }

const std::vector<std::string>& FwpmCallLog() { return g_log; }

std::optional<FwpmSessionRecord> LastFwpmSession() { return g_lastSession; }

std::optional<FwpmFilterEnumTemplate0> LastFwpmEnumTemplate() { return g_lastTemplate; }

int OpenFwpmHandleCount() {
  return static_cast<int>(g_sessions.size() + g_enumerations.size());
}

int UnfreedFwpmPageCount() { return static_cast<int>(g_pages.size()); }

}  // namespace fake

namespace platform {

using fake::FwpmCall;

uint32_t FwpmEngineOpen0(uint32_t authnService, const FwpmSession0& session,
                         FwpmHandle* engine) {
  uint32_t status = fake::Begin(FwpmCall::kEngineOpen);
  fake::g_lastSession = fake::FwpmSessionRecord{authnService, session.displayName};
  if (status == 0) {
    uintptr_t value = fake::NewEngineHandle();
    fake::g_sessions[value] = fake::Session{};
    *engine = reinterpret_cast<FwpmHandle>(value);
  }
  return fake::Log("FwpmEngineOpen0", status);
}

uint32_t FwpmEngineClose0(FwpmHandle engine) {
  uint32_t status = fake::Begin(FwpmCall::kEngineClose);
  fake::Session* session = fake::FindSession(engine);
  if (status == 0 && !session) status = kErrorInvalidHandle;
  if (status == 0) {
    if (session->rollback) fake::g_objects = *session->rollback;
    for (auto it = fake::g_enumerations.begin(); it != fake::g_enumerations.end();) {
      it = it->second.engine == reinterpret_cast<uintptr_t>(engine) ? fake::g_enumerations.erase(it)
                                                                      : std::next(it);
    }
    fake::g_sessions.erase(reinterpret_cast<uintptr_t>(engine));
  }
  return fake::Log("FwpmEngineClose0", status);
}

uint32_t FwpmTransactionBegin0(FwpmHandle engine, uint32_t flags) {
  uint32_t status = fake::Begin(FwpmCall::kTransactionBegin);
  fake::Session* session = fake::FindSession(engine);
  if (status == 0 && !session) status = kErrorInvalidHandle;
  if (status == 0 && session->rollback) status = kFwpETxnInProgress;
  if (status == 0) session->rollback = fake::g_objects;
  return fake::Log("FwpmTransactionBegin0(" + std::to_string(flags) + ")", status);
}

uint32_t FwpmTransactionCommit0(FwpmHandle engine) {
  uint32_t status = fake::Begin(FwpmCall::kTransactionCommit);
  fake::Session* session = fake::FindSession(engine);
  if (status == 0 && !session) status = kErrorInvalidHandle;
  if (status == 0 && !session->rollback) status = kFwpENoTxnInProgress;
  if (status == 0) session->rollback.reset();
  return fake::Log("FwpmTransactionCommit0", status);
}

uint32_t FwpmTransactionAbort0(FwpmHandle engine) {
  uint32_t status = fake::Begin(FwpmCall::kTransactionAbort);
  fake::Session* session = fake::FindSession(engine);
  if (status == 0 && !session) status = kErrorInvalidHandle;
  if (status == 0 && !session->rollback) status = kFwpENoTxnInProgress;
  if (status == 0) {
    fake::g_objects = *session->rollback;
    session->rollback.reset();
  }
  return fake::Log("FwpmTransactionAbort0", status);
}

uint32_t FwpmFilterCreateEnumHandle0(FwpmHandle engine, const FwpmFilterEnumTemplate0& enumTemplate,
                                     FwpmHandle* enumHandle) {
  uint32_t status = fake::Begin(FwpmCall::kCreateEnumHandle);
  fake::g_lastTemplate = enumTemplate;
  if (status == 0 && !fake::FindSession(engine)) status = kErrorInvalidHandle;
  if (status == 0) {
    fake::Enumeration enumeration{reinterpret_cast<uintptr_t>(engine), {}, 0};
    for (const fake::Filter& f : fake::g_objects.filters) {
      bool provider = !enumTemplate.providerKey || f.providerKey == enumTemplate.providerKey;
      if (provider && (f.actionType & enumTemplate.actionMask) != 0) {
        enumeration.ids.push_back(f.id);
      }
    }
    uintptr_t value = fake::NewEngineHandle();
    fake::g_enumerations[value] = std::move(enumeration);
    *enumHandle = reinterpret_cast<FwpmHandle>(value);
  }
  return fake::Log("FwpmFilterCreateEnumHandle0", status);
}

uint32_t FwpmFilterEnum0(FwpmHandle engine, FwpmHandle enumHandle, uint32_t requested,
                         FwpmFilterArray* entries, uint32_t* returned) {
  uint32_t status = fake::Begin(FwpmCall::kEnum);
  auto it = fake::g_enumerations.find(reinterpret_cast<uintptr_t>(enumHandle));
  if (status == 0 && (it == fake::g_enumerations.end() ||
                      it->second.engine != reinterpret_cast<uintptr_t>(engine))) {
    status = kErrorInvalidHandle;
  }
  uint32_t count = 0;
  if (status == 0) {
    fake::Enumeration& enumeration = it->second;
    size_t left = enumeration.ids.size() - enumeration.next;
    count = static_cast<uint32_t>(std::min<size_t>({left, requested, fake::g_pageLimit}));
    if (count == 0) {
      *entries = nullptr;
    } else {
      auto* page = new std::vector<uint64_t>(enumeration.ids.begin() + enumeration.next,
                                             enumeration.ids.begin() + enumeration.next + count);
      enumeration.next += count;
      fake::g_pages.insert(page);
      *entries = page;
    }
    *returned = count;
  }
  return fake::Log("FwpmFilterEnum0(" + std::to_string(requested) + ")", status,
                   status == 0 ? ", " + std::to_string(count) + " returned" : "");
}

uint64_t FwpmFilterIdAt(FwpmFilterArray entries, uint32_t index) {
  auto* page = static_cast<std::vector<uint64_t>*>(entries);
  if (!fake::g_pages.count(page)) fake::Crash("read of a page that is not allocated");
  if (index >= page->size()) fake::Crash("read past the end of a page");
  return (*page)[index];
}

void FwpmFreeMemory0(FwpmFilterArray* entries) {
  auto* page = static_cast<std::vector<uint64_t>*>(*entries);
  if (page) {
    if (!fake::g_pages.erase(page)) fake::Crash("free of memory the engine did not give");
    delete page;
  }
  *entries = nullptr;
  fake::g_log.push_back("FwpmFreeMemory0");
}

uint32_t FwpmFilterDestroyEnumHandle0(FwpmHandle engine, FwpmHandle enumHandle) {
  uint32_t status = fake::Begin(FwpmCall::kDestroyEnumHandle);
  auto it = fake::g_enumerations.find(reinterpret_cast<uintptr_t>(enumHandle));
  if (status == 0 && (it == fake::g_enumerations.end() ||
                      it->second.engine != reinterpret_cast<uintptr_t>(engine))) {
    status = kErrorInvalidHandle;
  }
  if (status == 0) fake::g_enumerations.erase(it);
  return fake::Log("FwpmFilterDestroyEnumHandle0", status);
}

uint32_t FwpmFilterDeleteById0(FwpmHandle engine, uint64_t id) {
  uint32_t status = fake::Begin(FwpmCall::kDeleteFilter);
  if (status == 0 && !fake::FindSession(engine)) status = kErrorInvalidHandle;
  if (status == 0) {
    auto& filters = fake::g_objects.filters;
    auto it = std::find_if(filters.begin(), filters.end(),
                           [id](const fake::Filter& f) { return f.id == id; });
    if (it == filters.end()) {
      status = kFwpEFilterNotFound;
    } else {
      filters.erase(it);
    }
  }
  return fake::Log("FwpmFilterDeleteById0(" + std::to_string(id) + ")", status);
}

uint32_t FwpmSubLayerDeleteByKey0(FwpmHandle engine, const Guid& key) {
  uint32_t status = fake::Begin(FwpmCall::kDeleteSublayer);
  if (status == 0 && !fake::FindSession(engine)) status = kErrorInvalidHandle;
  if (status == 0) {
    auto& sublayers = fake::g_objects.sublayers;
    auto it = std::find_if(sublayers.begin(), sublayers.end(),
                           [&key](const fake::Sublayer& s) { return s.key == key; });
    bool used = std::any_of(fake::g_objects.filters.begin(), fake::g_objects.filters.end(),
                            [&key](const fake::Filter& f) { return f.sublayerKey == key; });
    if (it == sublayers.end()) {
      status = kFwpESublayerNotFound;
    } else if (used) {
      status = kFwpEInUse;
    } else {
      sublayers.erase(it);
    }
  }
  return fake::Log("FwpmSubLayerDeleteByKey0", status);
}

uint32_t FwpmProviderDeleteByKey0(FwpmHandle engine, const Guid& key) {
  uint32_t status = fake::Begin(FwpmCall::kDeleteProvider);
  if (status == 0 && !fake::FindSession(engine)) status = kErrorInvalidHandle;
  if (status == 0) {
    bool used =
        std::any_of(fake::g_objects.filters.begin(), fake::g_objects.filters.end(),
                    [&key](const fake::Filter& f) { return f.providerKey == key; }) ||
        std::any_of(fake::g_objects.sublayers.begin(), fake::g_objects.sublayers.end(),
                    [&key](const fake::Sublayer& s) { return s.providerKey == key; });
    auto& providers = fake::g_objects.providers;
    auto it = std::find(providers.begin(), providers.end(), key);
    if (it == providers.end()) {
      status = kFwpEProviderNotFound;
    } else if (used) {
      status = kFwpEInUse;
    } else {
      providers.erase(it);
    }
  }
  return fake::Log("FwpmProviderDeleteByKey0", status);
}

}  // namespace platform
