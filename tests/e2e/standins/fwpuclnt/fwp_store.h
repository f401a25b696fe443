// The stand-in filtering engine's objects and the text file that keeps them
// between processes, like the base filtering engine keeps persistent objects.
// Files, all beside the DLL (the prefix's system32 when installed there):
//
//   tsl-fwp-store.txt   the objects, rewritten whole on every change
//   tsl-fwp-store.lock  held (opened without sharing) by whoever changes them
//   tsl-fwp-faults.txt  what the test wants to go wrong (see fwpuclnt.cc)
//   tsl-fwp-calls.log   one line per call, for the tests to read
//
// Store lines (UTF-8; a name is the rest of its line):
//   tsl-fwp-store 1
//   next-filter-id <n>
//   provider <key> <flags> <name>
//   sublayer <key> <provider key or -> <weight> <flags> <name>
//   filter <id> <key> <provider key or -> <layer> <sublayer> <action> <flags> <name>
#ifndef TESTS_E2E_STANDINS_FWPUCLNT_FWP_STORE_H_
#define TESTS_E2E_STANDINS_FWPUCLNT_FWP_STORE_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fwp {

// Filter identifiers start here; real ones are just as arbitrary.
constexpr uint64_t kFirstFilterId = 68000;

struct Provider {
  GUID key;
  uint32_t flags;
  std::wstring name;
};

struct Sublayer {
  GUID key;
  bool hasProvider;
  GUID provider;
  uint16_t weight;
  uint32_t flags;
  std::wstring name;
};

struct Filter {
  uint64_t id;
  GUID key;
  bool hasProvider;
  GUID provider;
  GUID layer;
  GUID sublayer;
  uint32_t action;
  uint32_t flags;
  std::wstring name;
};

struct Store {
  uint64_t nextFilterId = kFirstFilterId;
  std::vector<Provider> providers;
  std::vector<Sublayer> sublayers;
  std::vector<Filter> filters;
};

// "{8A7B6C5D-4E3F-2A1B-9C8D-7E6F5A4B3C2D}" form, upper case.
std::string GuidText(const GUID& guid);
bool ParseGuid(const std::string& text, GUID* guid);
bool SameGuid(const GUID& a, const GUID& b);
bool IsZeroGuid(const GUID& guid);

std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// A missing file is an empty store. False when the file exists but cannot
// be read or is not a store.
bool LoadStore(const std::wstring& path, Store* store);

// Writes a new file and renames it over the old one, so a reader never sees
// half a store.
bool SaveStore(const std::wstring& path, const Store& store);

// Opens lockPath without sharing, retrying until timeoutMs has passed
// (INFINITE waits for ever). The lock ends when the handle is closed, also
// when its process dies. INVALID_HANDLE_VALUE after the time-out.
HANDLE AcquireLock(const std::wstring& lockPath, DWORD timeoutMs);

}  // namespace fwp

#endif  // TESTS_E2E_STANDINS_FWPUCLNT_FWP_STORE_H_
