// Puts filtering-platform objects in place for an uninstall scenario and
// shows what is left afterwards, through whichever fwpuclnt.dll System32
// holds (under Wine: our stand-in, with WINEDLLOVERRIDES="fwpuclnt=n").
//
//   fwp_seed.exe probe
//       opens and closes the engine; prints "FwpmEngineOpen0 -> <status>";
//       exit 0 when it opened.
//   fwp_seed.exe seed [--product N] [--other N] [--foreign N]
//       in one transaction: the product's provider and sublayer (when
//       missing) and N filters of the product's provider in its sublayer;
//       with --other or --foreign, a second provider and its sublayer, N
//       filters of it in its own sublayer (--other), and N filters of it in
//       the product's sublayer (--foreign), which keep that sublayer in use.
//       Prints "seeded product=N other=N foreign=N".
//   fwp_seed.exe dump
//       prints, for the four keys, "provider|sublayer <key> <owner>
//       present|absent", then "filter <id> provider=<key> sublayer=<key>
//       layer=<key>" for every filter, then "filters total=T product=P
//       other=O".
// Every failing call prints "<function> failed: <status>" and ends the run
// with exit 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "tests/e2e/standins/fwpuclnt/fwp_api.h"

namespace {

// Layers the filters are spread over: ALE connect and receive/accept, v4/v6.
constexpr GUID kLayers[] = {
    {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}},
    {0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}},
    {0xe1cd9fe7, 0xf4b5, 0x4273, {0x96, 0xc0, 0x59, 0x2e, 0x48, 0x7b, 0x86, 0x50}},
    {0xa3b42c97, 0x9f04, 0x4672, {0xb8, 0x7e, 0xce, 0xe9, 0xc4, 0x83, 0x25, 0x7f}},
};

constexpr UINT32 kPersistent = 0x1;  // FWPM_*_FLAG_PERSISTENT

FwpApi g_api;
HANDLE g_engine = nullptr;

std::string Text(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool Same(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

[[noreturn]] void Fail(const char* function, DWORD status) {
  std::printf("%s failed: %lu\n", function, status);
  if (g_engine) g_api.engineClose(g_engine);
  std::exit(1);
}

void Check(const char* function, DWORD status) {
  if (status != ERROR_SUCCESS) Fail(function, status);
}

void OpenEngine() {
  DWORD error = 0;
  if (!LoadFwpApi(&g_api, &error)) Fail("loading fwpuclnt.dll", error);
  FWPM_SESSION0 session = {};
  session.displayData.name = const_cast<wchar_t*>(L"TSL world seed");
  Check("FwpmEngineOpen0",
        g_api.engineOpen(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, &session, &g_engine));
}

bool ProviderExists(const GUID& key) {
  FWPM_PROVIDER0* provider = nullptr;
  DWORD status = g_api.providerGetByKey(g_engine, &key, &provider);
  if (status == ERROR_SUCCESS) g_api.freeMemory(reinterpret_cast<void**>(&provider));
  if (status != ERROR_SUCCESS && status != static_cast<DWORD>(FWP_E_PROVIDER_NOT_FOUND)) {
    Fail("FwpmProviderGetByKey0", status);
  }
  return status == ERROR_SUCCESS;
}

bool SublayerExists(const GUID& key) {
  FWPM_SUBLAYER0* sublayer = nullptr;
  DWORD status = g_api.subLayerGetByKey(g_engine, &key, &sublayer);
  if (status == ERROR_SUCCESS) g_api.freeMemory(reinterpret_cast<void**>(&sublayer));
  if (status != ERROR_SUCCESS && status != static_cast<DWORD>(FWP_E_SUBLAYER_NOT_FOUND)) {
    Fail("FwpmSubLayerGetByKey0", status);
  }
  return status == ERROR_SUCCESS;
}

void EnsureProviderAndSublayer(const GUID& provider, const GUID& sublayer, const wchar_t* name) {
  if (!ProviderExists(provider)) {
    FWPM_PROVIDER0 p = {};
    p.providerKey = provider;
    p.displayData.name = const_cast<wchar_t*>(name);
    p.flags = kPersistent;
    Check("FwpmProviderAdd0", g_api.providerAdd(g_engine, &p, nullptr));
  }
  if (!SublayerExists(sublayer)) {
    FWPM_SUBLAYER0 s = {};
    s.subLayerKey = sublayer;
    s.displayData.name = const_cast<wchar_t*>(name);
    s.flags = kPersistent;
    s.providerKey = const_cast<GUID*>(&provider);
    s.weight = 0x100;
    Check("FwpmSubLayerAdd0", g_api.subLayerAdd(g_engine, &s, nullptr));
  }
}

void AddFilters(int count, const GUID& provider, const GUID& sublayer, const wchar_t* name) {
  for (int i = 0; i < count; ++i) {
    FWPM_FILTER0 f = {};
    f.displayData.name = const_cast<wchar_t*>(name);
    f.flags = kPersistent;
    f.providerKey = const_cast<GUID*>(&provider);
    f.layerKey = kLayers[i % 4];
    f.subLayerKey = sublayer;
    f.weight.type = FWP_EMPTY;
    f.action.type = FWP_ACTION_BLOCK;
    UINT64 id = 0;
    Check("FwpmFilterAdd0", g_api.filterAdd(g_engine, &f, nullptr, &id));
  }
}

int Seed(int argc, wchar_t** argv) {
  int product = 0, other = 0, foreign = 0;
  for (int i = 2; i + 1 < argc; i += 2) {
    int n = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
    if (std::wcscmp(argv[i], L"--product") == 0) {
      product = n;
    } else if (std::wcscmp(argv[i], L"--other") == 0) {
      other = n;
    } else if (std::wcscmp(argv[i], L"--foreign") == 0) {
      foreign = n;
    } else {
      std::fprintf(stderr, "fwp_seed: unknown option %ls\n", argv[i]);
      return 64;
    }
  }
  OpenEngine();
  Check("FwpmTransactionBegin0", g_api.transactionBegin(g_engine, 0));
  EnsureProviderAndSublayer(kProductProviderKey, kProductSublayerKey, L"Tessaline (world seed)");
  AddFilters(product, kProductProviderKey, kProductSublayerKey, L"Tessaline filter");
  if (other > 0 || foreign > 0) {
    EnsureProviderAndSublayer(kOtherProviderKey, kOtherSublayerKey, L"Another vendor");
    AddFilters(other, kOtherProviderKey, kOtherSublayerKey, L"Another vendor's filter");
    AddFilters(foreign, kOtherProviderKey, kProductSublayerKey, L"Another vendor's filter");
  }
  Check("FwpmTransactionCommit0", g_api.transactionCommit(g_engine));
  Check("FwpmEngineClose0", g_api.engineClose(g_engine));
  std::printf("seeded product=%d other=%d foreign=%d\n", product, other, foreign);
  return 0;
}

int Dump() {
  OpenEngine();
  std::printf("provider %s product %s\n", Text(kProductProviderKey).c_str(),
              ProviderExists(kProductProviderKey) ? "present" : "absent");
  std::printf("sublayer %s product %s\n", Text(kProductSublayerKey).c_str(),
              SublayerExists(kProductSublayerKey) ? "present" : "absent");
  std::printf("provider %s other %s\n", Text(kOtherProviderKey).c_str(),
              ProviderExists(kOtherProviderKey) ? "present" : "absent");
  std::printf("sublayer %s other %s\n", Text(kOtherSublayerKey).c_str(),
              SublayerExists(kOtherSublayerKey) ? "present" : "absent");

  HANDLE enumeration = nullptr;
  Check("FwpmFilterCreateEnumHandle0", g_api.filterCreateEnumHandle(g_engine, nullptr, &enumeration));
  int total = 0, product = 0, other = 0;
  for (;;) {
    FWPM_FILTER0** page = nullptr;
    UINT32 count = 0;
    Check("FwpmFilterEnum0", g_api.filterEnum(g_engine, enumeration, 100, &page, &count));
    if (count == 0) break;
    for (UINT32 i = 0; i < count; ++i) {
      const FWPM_FILTER0* f = page[i];
      std::printf("filter %llu provider=%s sublayer=%s layer=%s\n",
                  static_cast<unsigned long long>(f->filterId),
                  f->providerKey ? Text(*f->providerKey).c_str() : "-",
                  Text(f->subLayerKey).c_str(), Text(f->layerKey).c_str());
      ++total;
      if (f->providerKey && Same(*f->providerKey, kProductProviderKey)) ++product;
      if (f->providerKey && Same(*f->providerKey, kOtherProviderKey)) ++other;
    }
    g_api.freeMemory(reinterpret_cast<void**>(&page));
  }
  g_api.filterDestroyEnumHandle(g_engine, enumeration);
  Check("FwpmEngineClose0", g_api.engineClose(g_engine));
  std::printf("filters total=%d product=%d other=%d\n", total, product, other);
  return 0;
}

// Only the open and close: Wine's own DLL has not every export the others use.
int Probe() {
  HMODULE module = LoadLibraryExW(L"fwpuclnt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module) Fail("loading fwpuclnt.dll", GetLastError());
  decltype(&::FwpmEngineOpen0) open = nullptr;
  decltype(&::FwpmEngineClose0) close = nullptr;
  if (!BindFwp(module, "FwpmEngineOpen0", &open) || !BindFwp(module, "FwpmEngineClose0", &close)) {
    Fail("GetProcAddress", ERROR_PROC_NOT_FOUND);
  }
  FWPM_SESSION0 session = {};
  session.displayData.name = const_cast<wchar_t*>(L"TSL world probe");
  HANDLE engine = nullptr;
  DWORD status = open(nullptr, RPC_C_AUTHN_DEFAULT, nullptr, &session, &engine);
  std::printf("FwpmEngineOpen0 -> %lu\n", status);
  if (status == ERROR_SUCCESS) close(engine);
  return status == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc >= 2 && std::wcscmp(argv[1], L"probe") == 0) return Probe();
  if (argc >= 2 && std::wcscmp(argv[1], L"seed") == 0) return Seed(argc, argv);
  if (argc >= 2 && std::wcscmp(argv[1], L"dump") == 0) return Dump();
  std::fprintf(stderr,
               "usage: fwp_seed probe | seed [--product N] [--other N] [--foreign N] | dump\n");
  return 64;
}
