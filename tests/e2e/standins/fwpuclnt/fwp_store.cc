#include "tests/e2e/standins/fwpuclnt/fwp_store.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace fwp {

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool ParseGuid(const std::string& text, GUID* guid) {
  unsigned long data1 = 0;
  unsigned int data2 = 0, data3 = 0, b[8] = {};
  char close = 0;
  if (text.size() != 38 ||
      std::sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &data1, &data2, &data3,
                  &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &close) != 12 ||
      close != '}') {
    return false;
  }
  guid->Data1 = static_cast<uint32_t>(data1);
  guid->Data2 = static_cast<uint16_t>(data2);
  guid->Data3 = static_cast<uint16_t>(data3);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<unsigned char>(b[i]);
  return true;
}

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

bool IsZeroGuid(const GUID& guid) { return SameGuid(guid, GUID{}); }

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

namespace {

// A name must stay on its line.
std::string LineSafe(const std::wstring& name) {
  std::string text = Utf8(name);
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text.empty() ? "-" : text;
}

std::wstring NameFrom(std::istringstream& in) {
  std::string rest;
  std::getline(in >> std::ws, rest);
  return rest == "-" ? std::wstring() : FromUtf8(rest);
}

bool ReadOptionalGuid(std::istringstream& in, bool* present, GUID* guid) {
  std::string text;
  in >> text;
  *present = text != "-";
  *guid = GUID{};
  return !*present || ParseGuid(text, guid);
}

bool ReadGuid(std::istringstream& in, GUID* guid) {
  std::string text;
  in >> text;
  return ParseGuid(text, guid);
}

bool ParseLine(const std::string& line, Store* store) {
  std::istringstream in(line);
  std::string kind;
  in >> kind;
  if (kind.empty() || kind == "tsl-fwp-store") return true;
  if (kind == "next-filter-id") {
    in >> store->nextFilterId;
    return !in.fail();
  }
  if (kind == "provider") {
    Provider p{};
    if (!ReadGuid(in, &p.key)) return false;
    in >> p.flags;
    p.name = NameFrom(in);
    store->providers.push_back(p);
    return !in.bad();
  }
  if (kind == "sublayer") {
    Sublayer s{};
    if (!ReadGuid(in, &s.key) || !ReadOptionalGuid(in, &s.hasProvider, &s.provider)) return false;
    in >> s.weight >> s.flags;
    if (in.fail()) return false;
    s.name = NameFrom(in);
    store->sublayers.push_back(s);
    return true;
  }
  if (kind == "filter") {
    Filter f{};
    in >> f.id;
    if (in.fail() || !ReadGuid(in, &f.key) || !ReadOptionalGuid(in, &f.hasProvider, &f.provider) ||
        !ReadGuid(in, &f.layer) || !ReadGuid(in, &f.sublayer)) {
      return false;
    }
    in >> f.action >> f.flags;
    if (in.fail()) return false;
    f.name = NameFrom(in);
    store->filters.push_back(f);
    return true;
  }
  return false;
}

}  // namespace

bool LoadStore(const std::wstring& path, Store* store) {
  *store = Store();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;
  }
  std::string text;
  char buffer[16384];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!ParseLine(line, store)) return false;
  }
  return true;
}

bool SaveStore(const std::wstring& path, const Store& store) {
  std::ostringstream out;
  out << "tsl-fwp-store 1\n";
  out << "next-filter-id " << store.nextFilterId << "\n";
  for (const Provider& p : store.providers) {
    out << "provider " << GuidText(p.key) << " " << p.flags << " " << LineSafe(p.name) << "\n";
  }
  for (const Sublayer& s : store.sublayers) {
    out << "sublayer " << GuidText(s.key) << " " << (s.hasProvider ? GuidText(s.provider) : "-")
        << " " << s.weight << " " << s.flags << " " << LineSafe(s.name) << "\n";
  }
  for (const Filter& f : store.filters) {
    out << "filter " << f.id << " " << GuidText(f.key) << " "
        << (f.hasProvider ? GuidText(f.provider) : "-") << " " << GuidText(f.layer) << " "
        << GuidText(f.sublayer) << " " << f.action << " " << f.flags << " " << LineSafe(f.name)
        << "\n";
  }
  std::string text = out.str();
  std::wstring fresh = path + L".new";
  HANDLE file = CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  ok = FlushFileBuffers(file) && ok;
  CloseHandle(file);
  if (ok) ok = MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  if (!ok) DeleteFileW(fresh.c_str());
  return ok;
}

HANDLE AcquireLock(const std::wstring& lockPath, DWORD timeoutMs) {
  ULONGLONG start = GetTickCount64();
  for (;;) {
    HANDLE lock = CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (lock != INVALID_HANDLE_VALUE) return lock;
    if (GetLastError() != ERROR_SHARING_VIOLATION) return INVALID_HANDLE_VALUE;
    if (timeoutMs != INFINITE && GetTickCount64() - start >= timeoutMs) {
      return INVALID_HANDLE_VALUE;
    }
    Sleep(10);
  }
}

}  // namespace fwp
