// Stand-in for fwpuclnt.dll, the filtering platform's management interface,
// for Wine, whose own FwpmEngineOpen0 answers RPC_S_CANNOT_SUPPORT (1764):
// with it the setup program's firewall clean-up runs for real under Wine.
// Installed in the prefix's system32 and chosen with
// WINEDLLOVERRIDES="fwpuclnt=n", it keeps providers, sublayers and filters in
// a text file beside itself (fwp_store.h) and answers the calls the clean-up
// and our seeding tool make, with Windows' statuses:
//
//  - one engine-wide transaction at a time, waited for up to the session's
//    txnWaitTimeoutInMSec (0: kDefaultWaitMs; FWP_E_TIMEOUT after it);
//    outside a transaction every change is saved at once;
//  - FWP_E_FILTER_NOT_FOUND, FWP_E_SUBLAYER_NOT_FOUND, FWP_E_PROVIDER_NOT_FOUND
//    for what is not there; FWP_E_IN_USE for a sublayer that a filter still
//    uses and for a provider that a sublayer or filter still names;
//  - filter enumeration by the template's providerKey and layerKey, as a
//    snapshot taken when the handle is made, in pages of up to the number
//    asked for; every page and object returned is one block to release with
//    FwpmFreeMemory0.
//
// Not modelled, and refused with ERROR_NOT_SUPPORTED rather than answered
// wrongly: remote engines, dynamic sessions, enumeration by conditions,
// provider contexts, callouts or template flags. The template's actionMask
// is applied as documented: only filters whose action type shares a bit with
// it are listed, so a mask of 0 lists none.
//
// tsl-fwp-faults.txt, read at every call; lines:
//   fail <function> <status>   that function returns status and does nothing
//
// tsl-fwp-calls.log gets one line per call:
//   <function> <arguments that matter> -> <status> [results] pid=<pid>
// and FwpmEngineClose0 reports unfreed=<n>: blocks this session was given
// that were not released by then.
#include <windows.h>
#include <fwpmu.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/standins/fwpuclnt/fwp_store.h"

namespace {

using fwp::Filter;
using fwp::GuidText;
using fwp::Provider;
using fwp::SameGuid;
using fwp::Store;
using fwp::Sublayer;

constexpr DWORD kDefaultWaitMs = 10000;
constexpr UINT32 kTxnReadOnly = 0x1;          // FWPM_TXN_READ_ONLY
constexpr UINT32 kSessionFlagDynamic = 0x1;   // FWPM_SESSION_FLAG_DYNAMIC

struct Session {
  DWORD waitMs = kDefaultWaitMs;
  std::wstring name;
  bool inTxn = false;
  bool readOnly = false;
  HANDLE lock = INVALID_HANDLE_VALUE;
  Store work;  // the transaction's copy
};

struct Enumeration {
  Session* session;
  std::vector<Filter> items;
  size_t next = 0;
};

// In-process bookkeeping; the store file is guarded by its lock file.
SRWLOCK g_bookLock = SRWLOCK_INIT;
std::set<Session*> g_sessions;
std::set<Enumeration*> g_enumerations;
std::map<void*, Session*> g_blocks;  // handed-out memory and the session it went to

class Book {
 public:
  Book() { AcquireSRWLockExclusive(&g_bookLock); }
  ~Book() { ReleaseSRWLockExclusive(&g_bookLock); }
};

std::wstring Beside(const wchar_t* name) {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&Beside), &self);
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  while (n > 0 && path[n - 1] != L'\\') --n;
  return std::wstring(path, n) + name;
}

std::wstring StorePath() { return Beside(L"tsl-fwp-store.txt"); }

std::string ReadText(const std::wstring& path) {
  std::string text;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// The status a "fail" line of the faults file sets for this function.
bool FaultFor(const char* function, DWORD* status) {
  std::string text = ReadText(Beside(L"tsl-fwp-faults.txt"));
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    char name[64] = {}, value[32] = {};
    if (std::sscanf(line.c_str(), "fail %63s %31s", name, value) == 2 &&
        std::string(name) == function) {
      *status = static_cast<DWORD>(std::strtoul(value, nullptr, 0));
      return true;
    }
  }
  return false;
}

void LogCall(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(line, sizeof(line) - 32, format, args);
  va_end(args);
  if (n < 0) return;
  if (n > static_cast<int>(sizeof(line)) - 32) n = sizeof(line) - 32;
  n += std::snprintf(line + n, 32, " pid=%lu\n", GetCurrentProcessId());
  std::wstring path = Beside(L"tsl-fwp-calls.log");
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, line, static_cast<DWORD>(n), &written, nullptr);
      CloseHandle(file);
      return;
    }
    if (GetLastError() != ERROR_SHARING_VIOLATION) return;
    Sleep(10);
  }
}

std::string KeyText(const GUID* key) { return key ? GuidText(*key) : std::string("null"); }

Session* FindSession(HANDLE handle) {
  Book book;
  auto it = g_sessions.find(static_cast<Session*>(handle));
  return it == g_sessions.end() ? nullptr : *it;
}

Enumeration* FindEnumeration(Session* session, HANDLE handle) {
  Book book;
  auto it = g_enumerations.find(static_cast<Enumeration*>(handle));
  return it == g_enumerations.end() || (*it)->session != session ? nullptr : *it;
}

// ERROR_SUCCESS with *lock held, FWP_E_TIMEOUT, or why the lock file failed.
DWORD Lock(const Session* session, HANDLE* lock) {
  *lock = fwp::AcquireLock(Beside(L"tsl-fwp-store.lock"), session->waitMs);
  if (*lock != INVALID_HANDLE_VALUE) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  return error == ERROR_SHARING_VIOLATION ? static_cast<DWORD>(FWP_E_TIMEOUT) : error;
}

// Runs look on the objects as this session sees them.
template <typename Look>
DWORD Read(Session* session, Look look) {
  if (session->inTxn) return look(session->work);
  HANDLE lock;
  DWORD status = Lock(session, &lock);
  if (status != ERROR_SUCCESS) return status;
  Store store;
  status = fwp::LoadStore(StorePath(), &store) ? look(store) : ERROR_FILE_CORRUPT;
  CloseHandle(lock);
  return status;
}

// Runs change on the transaction's copy, or, outside a transaction, on the
// stored objects, which are saved at once when change succeeds.
template <typename Change>
DWORD Write(Session* session, Change change) {
  if (session->inTxn) {
    if (session->readOnly) return FWP_E_INCOMPATIBLE_TXN;
    return change(session->work);
  }
  HANDLE lock;
  DWORD status = Lock(session, &lock);
  if (status != ERROR_SUCCESS) return status;
  Store store;
  if (!fwp::LoadStore(StorePath(), &store)) {
    status = ERROR_FILE_CORRUPT;
  } else {
    status = change(store);
    if (status == ERROR_SUCCESS && !fwp::SaveStore(StorePath(), store)) status = ERROR_WRITE_FAULT;
  }
  CloseHandle(lock);
  return status;
}

// The common shape of a changing call: a planned fault, then the engine
// handle, then the arguments, then the change itself.
template <typename Change>
DWORD CheckedWrite(const char* function, HANDLE engineHandle, bool argumentsValid,
                   Change change) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  if (FaultFor(function, &status)) return status;
  if (!session) return ERROR_INVALID_HANDLE;
  if (!argumentsValid) return ERROR_INVALID_PARAMETER;
  return Write(session, change);
}

void EndTransaction(Session* session) {
  session->inTxn = false;
  session->readOnly = false;
  session->work = Store();
  if (session->lock != INVALID_HANDLE_VALUE) CloseHandle(session->lock);
  session->lock = INVALID_HANDLE_VALUE;
}

// One zeroed block of size bytes from the process heap, recorded as given
// to session until FwpmFreeMemory0 releases it.
void* GiveBlock(Session* session, size_t size) {
  void* block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (block) {
    Book book;
    g_blocks[block] = session;
  }
  return block;
}

size_t AlignUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

size_t NameBytes(const std::wstring& name) { return (name.size() + 1) * sizeof(wchar_t); }

wchar_t* PlaceName(char* at, const std::wstring& name) {
  wchar_t* text = reinterpret_cast<wchar_t*>(at);
  std::copy(name.begin(), name.end(), text);
  text[name.size()] = 0;
  return text;
}

bool Matches(const Filter& filter, const FWPM_FILTER_ENUM_TEMPLATE0* pattern) {
  if (!pattern) return true;
  if (pattern->providerKey &&
      !(filter.hasProvider && SameGuid(filter.provider, *pattern->providerKey))) {
    return false;
  }
  if (!fwp::IsZeroGuid(pattern->layerKey) && !SameGuid(filter.layer, pattern->layerKey)) {
    return false;
  }
  return (filter.action & pattern->actionMask) != 0;
}

}  // namespace

extern "C" {

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService,
                             SEC_WINNT_AUTH_IDENTITY_W* authIdentity, const FWPM_SESSION0* session,
                             HANDLE* engineHandle) {
  std::wstring name = session && session->displayData.name ? session->displayData.name : L"";
  DWORD status = ERROR_SUCCESS;
  if (FaultFor("FwpmEngineOpen0", &status)) {
  } else if (!engineHandle) {
    status = ERROR_INVALID_PARAMETER;
  } else if (serverName) {
    status = ERROR_NOT_SUPPORTED;
  } else if (authnService != RPC_C_AUTHN_WINNT &&
             authnService != static_cast<UINT32>(RPC_C_AUTHN_DEFAULT)) {
    status = ERROR_INVALID_PARAMETER;
  } else if (session && (session->flags & kSessionFlagDynamic)) {
    status = ERROR_NOT_SUPPORTED;
  } else {
    Session* s = new Session();
    s->name = name;
    if (session && session->txnWaitTimeoutInMSec) s->waitMs = session->txnWaitTimeoutInMSec;
    {
      Book book;
      g_sessions.insert(s);
    }
    *engineHandle = s;
  }
  LogCall("FwpmEngineOpen0 server=%s authn=%u identity=%s session.name=\"%s\" session.flags=%u "
          "session.wait=%u -> %lu",
          serverName ? fwp::Utf8(serverName).c_str() : "null", authnService,
          authIdentity ? "set" : "null", fwp::Utf8(name).c_str(), session ? session->flags : 0u,
          session ? session->txnWaitTimeoutInMSec : 0u, status);
  return status;
}

DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle) {
  DWORD status = ERROR_SUCCESS;
  size_t unfreed = 0;
  Session* session = FindSession(engineHandle);
  if (FaultFor("FwpmEngineClose0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else {
    // Closing with a transaction open aborts it, as the engine does.
    if (session->inTxn) EndTransaction(session);
    {
      Book book;
      for (auto it = g_enumerations.begin(); it != g_enumerations.end();) {
        if ((*it)->session == session) {
          delete *it;
          it = g_enumerations.erase(it);
        } else {
          ++it;
        }
      }
      for (auto& block : g_blocks) {
        if (block.second == session) {
          ++unfreed;
          block.second = nullptr;  // still valid memory; the session is gone
        }
      }
      g_sessions.erase(session);
    }
    delete session;
  }
  LogCall("FwpmEngineClose0 -> %lu unfreed=%zu", status, unfreed);
  return status;
}

DWORD WINAPI FwpmTransactionBegin0(HANDLE engineHandle, UINT32 flags) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  if (FaultFor("FwpmTransactionBegin0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (session->inTxn) {
    status = FWP_E_TXN_IN_PROGRESS;
  } else if (flags & ~kTxnReadOnly) {
    status = ERROR_INVALID_PARAMETER;
  } else if ((status = Lock(session, &session->lock)) == ERROR_SUCCESS) {
    if (fwp::LoadStore(StorePath(), &session->work)) {
      session->inTxn = true;
      session->readOnly = (flags & kTxnReadOnly) != 0;
    } else {
      EndTransaction(session);
      status = ERROR_FILE_CORRUPT;
    }
  }
  LogCall("FwpmTransactionBegin0 flags=%u -> %lu", flags, status);
  return status;
}

DWORD WINAPI FwpmTransactionCommit0(HANDLE engineHandle) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  if (FaultFor("FwpmTransactionCommit0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (!session->inTxn) {
    status = FWP_E_NO_TXN_IN_PROGRESS;
  } else {
    if (!session->readOnly && !fwp::SaveStore(StorePath(), session->work)) {
      status = ERROR_WRITE_FAULT;
    }
    EndTransaction(session);
  }
  LogCall("FwpmTransactionCommit0 -> %lu", status);
  return status;
}

DWORD WINAPI FwpmTransactionAbort0(HANDLE engineHandle) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  if (FaultFor("FwpmTransactionAbort0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (!session->inTxn) {
    status = FWP_E_NO_TXN_IN_PROGRESS;
  } else {
    EndTransaction(session);
  }
  LogCall("FwpmTransactionAbort0 -> %lu", status);
  return status;
}

DWORD WINAPI FwpmFilterCreateEnumHandle0(HANDLE engineHandle,
                                         const FWPM_FILTER_ENUM_TEMPLATE0* enumTemplate,
                                         HANDLE* enumHandle) {
  DWORD status = ERROR_SUCCESS;
  size_t matches = 0;
  Session* session = FindSession(engineHandle);
  const FWPM_FILTER_ENUM_TEMPLATE0* t = enumTemplate;
  if (FaultFor("FwpmFilterCreateEnumHandle0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (!enumHandle) {
    status = ERROR_INVALID_PARAMETER;
  } else if (t && (t->enumType > FWP_FILTER_ENUM_OVERLAPPING || t->flags != 0 ||
                   t->providerContextTemplate || t->numFilterConditions != 0 ||
                   t->filterCondition || t->calloutKey)) {
    status = ERROR_NOT_SUPPORTED;
  } else {
    Enumeration* e = new Enumeration();
    e->session = session;
    status = Read(session, [&](const Store& store) {
      for (const Filter& f : store.filters) {
        if (Matches(f, t)) e->items.push_back(f);
      }
      return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (status == ERROR_SUCCESS) {
      matches = e->items.size();
      Book book;
      g_enumerations.insert(e);
      *enumHandle = e;
    } else {
      delete e;
    }
  }
  if (t) {
    LogCall("FwpmFilterCreateEnumHandle0 template.provider=%s template.layer=%s "
            "template.enumType=%d template.flags=%u template.providerContextTemplate=%s "
            "template.conditions=%u template.actionMask=%u template.callout=%s -> %lu matches=%zu",
            KeyText(t->providerKey).c_str(), GuidText(t->layerKey).c_str(),
            static_cast<int>(t->enumType), t->flags, t->providerContextTemplate ? "set" : "null",
            t->numFilterConditions, t->actionMask, KeyText(t->calloutKey).c_str(), status, matches);
  } else {
    LogCall("FwpmFilterCreateEnumHandle0 template=null -> %lu matches=%zu", status, matches);
  }
  return status;
}

DWORD WINAPI FwpmFilterEnum0(HANDLE engineHandle, HANDLE enumHandle, UINT32 numEntriesRequested,
                             FWPM_FILTER0*** entries, UINT32* numEntriesReturned) {
  DWORD status = ERROR_SUCCESS;
  UINT32 count = 0;
  Session* session = FindSession(engineHandle);
  Enumeration* e = session ? FindEnumeration(session, enumHandle) : nullptr;
  if (entries) *entries = nullptr;
  if (numEntriesReturned) *numEntriesReturned = 0;
  if (FaultFor("FwpmFilterEnum0", &status)) {
  } else if (!session || !e) {
    status = ERROR_INVALID_HANDLE;
  } else if (!entries || !numEntriesReturned) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    count = static_cast<UINT32>(
        std::min<size_t>(numEntriesRequested, e->items.size() - e->next));
    if (count > 0) {
      // One block: the pointer array, the filters, their provider keys, names.
      size_t pointers = sizeof(FWPM_FILTER0*) * count;
      size_t filters = AlignUp(pointers, 8);
      size_t keys = AlignUp(filters + sizeof(FWPM_FILTER0) * count, 8);
      size_t names = keys + sizeof(GUID) * count;
      size_t size = names;
      for (UINT32 i = 0; i < count; ++i) size += NameBytes(e->items[e->next + i].name);
      char* block = static_cast<char*>(GiveBlock(session, size));
      if (!block) {
        status = ERROR_NOT_ENOUGH_MEMORY;
        count = 0;
      } else {
        FWPM_FILTER0** array = reinterpret_cast<FWPM_FILTER0**>(block);
        char* name = block + names;
        for (UINT32 i = 0; i < count; ++i) {
          const Filter& from = e->items[e->next + i];
          FWPM_FILTER0* to = reinterpret_cast<FWPM_FILTER0*>(block + filters) + i;
          GUID* provider = reinterpret_cast<GUID*>(block + keys) + i;
          array[i] = to;
          to->filterKey = from.key;
          to->displayData.name = PlaceName(name, from.name);
          name += NameBytes(from.name);
          to->flags = from.flags;
          if (from.hasProvider) {
            *provider = from.provider;
            to->providerKey = provider;
          }
          to->layerKey = from.layer;
          to->subLayerKey = from.sublayer;
          to->action.type = from.action;
          to->filterId = from.id;
        }
        e->next += count;
        *entries = array;
        *numEntriesReturned = count;
      }
    }
  }
  LogCall("FwpmFilterEnum0 requested=%u -> %lu returned=%u", numEntriesRequested, status, count);
  return status;
}

void WINAPI FwpmFreeMemory0(void** p) {
  const char* what = "null";
  if (p && *p) {
    bool known;
    {
      Book book;
      known = g_blocks.erase(*p) == 1;
    }
    // Memory this DLL never gave out is left alone rather than corrupt the heap.
    if (known) HeapFree(GetProcessHeap(), 0, *p);
    what = known ? "freed" : "unknown-pointer";
    *p = nullptr;
  }
  LogCall("FwpmFreeMemory0 -> %s", what);
}

DWORD WINAPI FwpmFilterDestroyEnumHandle0(HANDLE engineHandle, HANDLE enumHandle) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  Enumeration* e = session ? FindEnumeration(session, enumHandle) : nullptr;
  if (FaultFor("FwpmFilterDestroyEnumHandle0", &status)) {
  } else if (!session || !e) {
    status = ERROR_INVALID_HANDLE;
  } else {
    {
      Book book;
      g_enumerations.erase(e);
    }
    delete e;
  }
  LogCall("FwpmFilterDestroyEnumHandle0 -> %lu", status);
  return status;
}

DWORD WINAPI FwpmFilterDeleteById0(HANDLE engineHandle, UINT64 id) {
  DWORD status = CheckedWrite("FwpmFilterDeleteById0", engineHandle, true, [&](Store& store) {
    auto it = std::find_if(store.filters.begin(), store.filters.end(),
                           [&](const Filter& f) { return f.id == id; });
    if (it == store.filters.end()) return static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND);
    store.filters.erase(it);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  LogCall("FwpmFilterDeleteById0 id=%llu -> %lu", static_cast<unsigned long long>(id), status);
  return status;
}

DWORD WINAPI FwpmSubLayerDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  DWORD status = CheckedWrite("FwpmSubLayerDeleteByKey0", engineHandle, key != nullptr,
                              [&](Store& store) {
    auto it = std::find_if(store.sublayers.begin(), store.sublayers.end(),
                           [&](const Sublayer& s) { return SameGuid(s.key, *key); });
    if (it == store.sublayers.end()) return static_cast<DWORD>(FWP_E_SUBLAYER_NOT_FOUND);
    for (const Filter& f : store.filters) {
      if (SameGuid(f.sublayer, *key)) return static_cast<DWORD>(FWP_E_IN_USE);
    }
    store.sublayers.erase(it);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  LogCall("FwpmSubLayerDeleteByKey0 key=%s -> %lu", KeyText(key).c_str(), status);
  return status;
}

DWORD WINAPI FwpmProviderDeleteByKey0(HANDLE engineHandle, const GUID* key) {
  DWORD status = CheckedWrite("FwpmProviderDeleteByKey0", engineHandle, key != nullptr,
                              [&](Store& store) {
    auto it = std::find_if(store.providers.begin(), store.providers.end(),
                           [&](const Provider& p) { return SameGuid(p.key, *key); });
    if (it == store.providers.end()) return static_cast<DWORD>(FWP_E_PROVIDER_NOT_FOUND);
    for (const Sublayer& s : store.sublayers) {
      if (s.hasProvider && SameGuid(s.provider, *key)) return static_cast<DWORD>(FWP_E_IN_USE);
    }
    for (const Filter& f : store.filters) {
      if (f.hasProvider && SameGuid(f.provider, *key)) return static_cast<DWORD>(FWP_E_IN_USE);
    }
    store.providers.erase(it);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  LogCall("FwpmProviderDeleteByKey0 key=%s -> %lu", KeyText(key).c_str(), status);
  return status;
}

DWORD WINAPI FwpmProviderAdd0(HANDLE engineHandle, const FWPM_PROVIDER0* provider,
                              PSECURITY_DESCRIPTOR sd) {
  DWORD status = CheckedWrite("FwpmProviderAdd0", engineHandle, provider && !sd, [&](Store& store) {
    for (const Provider& p : store.providers) {
      if (SameGuid(p.key, provider->providerKey)) return static_cast<DWORD>(FWP_E_ALREADY_EXISTS);
    }
    Provider p{provider->providerKey, provider->flags,
               provider->displayData.name ? provider->displayData.name : L""};
    store.providers.push_back(p);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  LogCall("FwpmProviderAdd0 key=%s -> %lu", provider ? GuidText(provider->providerKey).c_str() : "null",
          status);
  return status;
}

DWORD WINAPI FwpmSubLayerAdd0(HANDLE engineHandle, const FWPM_SUBLAYER0* subLayer,
                              PSECURITY_DESCRIPTOR sd) {
  DWORD status = CheckedWrite("FwpmSubLayerAdd0", engineHandle, subLayer && !sd, [&](Store& store) {
    for (const Sublayer& s : store.sublayers) {
      if (SameGuid(s.key, subLayer->subLayerKey)) return static_cast<DWORD>(FWP_E_ALREADY_EXISTS);
    }
    Sublayer s{subLayer->subLayerKey, subLayer->providerKey != nullptr, GUID{},
               subLayer->weight, subLayer->flags,
               subLayer->displayData.name ? subLayer->displayData.name : L""};
    if (s.hasProvider) {
      s.provider = *subLayer->providerKey;
      bool known = std::any_of(store.providers.begin(), store.providers.end(),
                               [&](const Provider& p) { return SameGuid(p.key, s.provider); });
      if (!known) return static_cast<DWORD>(FWP_E_PROVIDER_NOT_FOUND);
    }
    store.sublayers.push_back(s);
    return static_cast<DWORD>(ERROR_SUCCESS);
  });
  LogCall("FwpmSubLayerAdd0 key=%s -> %lu", subLayer ? GuidText(subLayer->subLayerKey).c_str() : "null",
          status);
  return status;
}

DWORD WINAPI FwpmFilterAdd0(HANDLE engineHandle, const FWPM_FILTER0* filter,
                            PSECURITY_DESCRIPTOR sd, UINT64* id) {
  DWORD status = ERROR_SUCCESS;
  UINT64 newId = 0;
  Session* session = FindSession(engineHandle);
  if (FaultFor("FwpmFilterAdd0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (!filter || sd) {
    status = ERROR_INVALID_PARAMETER;
  } else if (filter->numFilterConditions != 0 || filter->providerData.size != 0) {
    status = ERROR_NOT_SUPPORTED;
  } else if (fwp::IsZeroGuid(filter->layerKey)) {
    status = FWP_E_LAYER_NOT_FOUND;
  } else {
    status = Write(session, [&](Store& store) {
      Filter f{};
      f.id = store.nextFilterId;
      f.key = filter->filterKey;
      if (fwp::IsZeroGuid(f.key)) {
        // The engine makes a key when none is given; ours derives it from the id.
        f.key.Data1 = 0xF117E700;
        for (int i = 0; i < 8; ++i) f.key.Data4[i] = static_cast<unsigned char>(f.id >> (56 - 8 * i));
      }
      f.hasProvider = filter->providerKey != nullptr;
      if (f.hasProvider) f.provider = *filter->providerKey;
      f.layer = filter->layerKey;
      f.sublayer = filter->subLayerKey;
      f.action = filter->action.type;
      f.flags = filter->flags;
      f.name = filter->displayData.name ? filter->displayData.name : L"";
      for (const Filter& other : store.filters) {
        if (SameGuid(other.key, f.key)) return static_cast<DWORD>(FWP_E_ALREADY_EXISTS);
      }
      if (f.hasProvider &&
          !std::any_of(store.providers.begin(), store.providers.end(),
                       [&](const Provider& p) { return SameGuid(p.key, f.provider); })) {
        return static_cast<DWORD>(FWP_E_PROVIDER_NOT_FOUND);
      }
      // The zero key stands for the engine's default sublayer, always there.
      if (!fwp::IsZeroGuid(f.sublayer) &&
          !std::any_of(store.sublayers.begin(), store.sublayers.end(),
                       [&](const Sublayer& s) { return SameGuid(s.key, f.sublayer); })) {
        return static_cast<DWORD>(FWP_E_SUBLAYER_NOT_FOUND);
      }
      store.filters.push_back(f);
      ++store.nextFilterId;
      newId = f.id;
      return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (status == ERROR_SUCCESS && id) *id = newId;
  }
  LogCall("FwpmFilterAdd0 provider=%s sublayer=%s -> %lu id=%llu",
          filter ? KeyText(filter->providerKey).c_str() : "null",
          filter ? GuidText(filter->subLayerKey).c_str() : "null", status,
          static_cast<unsigned long long>(newId));
  return status;
}

DWORD WINAPI FwpmProviderGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_PROVIDER0** provider) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  if (provider) *provider = nullptr;
  if (FaultFor("FwpmProviderGetByKey0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (!key || !provider) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    status = Read(session, [&](const Store& store) {
      for (const Provider& p : store.providers) {
        if (!SameGuid(p.key, *key)) continue;
        size_t head = AlignUp(sizeof(FWPM_PROVIDER0), 8);
        char* block = static_cast<char*>(GiveBlock(session, head + NameBytes(p.name)));
        if (!block) return static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
        FWPM_PROVIDER0* to = reinterpret_cast<FWPM_PROVIDER0*>(block);
        to->providerKey = p.key;
        to->flags = p.flags;
        to->displayData.name = PlaceName(block + head, p.name);
        *provider = to;
        return static_cast<DWORD>(ERROR_SUCCESS);
      }
      return static_cast<DWORD>(FWP_E_PROVIDER_NOT_FOUND);
    });
  }
  LogCall("FwpmProviderGetByKey0 key=%s -> %lu", KeyText(key).c_str(), status);
  return status;
}

DWORD WINAPI FwpmSubLayerGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_SUBLAYER0** subLayer) {
  DWORD status = ERROR_SUCCESS;
  Session* session = FindSession(engineHandle);
  if (subLayer) *subLayer = nullptr;
  if (FaultFor("FwpmSubLayerGetByKey0", &status)) {
  } else if (!session) {
    status = ERROR_INVALID_HANDLE;
  } else if (!key || !subLayer) {
    status = ERROR_INVALID_PARAMETER;
  } else {
    status = Read(session, [&](const Store& store) {
      for (const Sublayer& s : store.sublayers) {
        if (!SameGuid(s.key, *key)) continue;
        size_t head = AlignUp(sizeof(FWPM_SUBLAYER0) + sizeof(GUID), 8);
        char* block = static_cast<char*>(GiveBlock(session, head + NameBytes(s.name)));
        if (!block) return static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
        FWPM_SUBLAYER0* to = reinterpret_cast<FWPM_SUBLAYER0*>(block);
        to->subLayerKey = s.key;
        to->flags = static_cast<UINT16>(s.flags);
        to->weight = s.weight;
        if (s.hasProvider) {
          GUID* provider = reinterpret_cast<GUID*>(block + sizeof(FWPM_SUBLAYER0));
          *provider = s.provider;
          to->providerKey = provider;
        }
        to->displayData.name = PlaceName(block + head, s.name);
        *subLayer = to;
        return static_cast<DWORD>(ERROR_SUCCESS);
      }
      return static_cast<DWORD>(FWP_E_SUBLAYER_NOT_FOUND);
    });
  }
  LogCall("FwpmSubLayerGetByKey0 key=%s -> %lu", KeyText(key).c_str(), status);
  return status;
}

}  // extern "C"
