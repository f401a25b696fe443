#include <map>
#include <vector>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/types.h"

namespace fake {
namespace {

std::vector<void (*)()>& Hooks() {
  static std::vector<void (*)()> hooks;
  return hooks;
}

thread_local uint32_t t_lastError = 0;

std::map<uintptr_t, void (*)(platform::Handle)> g_handles;
uintptr_t g_nextHandle = 0x1000;

}  // namespace

ResetHook::ResetHook(void (*reset)()) { Hooks().push_back(reset); }

platform::Handle NewHandle(void (*onClose)(platform::Handle)) {
  uintptr_t value = g_nextHandle;
  g_nextHandle += 4;
  g_handles[value] = onClose;
  return reinterpret_cast<platform::Handle>(value);
}

void Reset() {
  for (auto* hook : Hooks()) hook();
  g_handles.clear();
  t_lastError = 0;
}

void CloseAllHandles() {
  while (!g_handles.empty()) {
    auto it = g_handles.begin();
    platform::Handle handle = reinterpret_cast<platform::Handle>(it->first);
    auto onClose = it->second;
    g_handles.erase(it);
    onClose(handle);
  }
}

void SimulateKill() {
  CloseAllHandles();
  CloseAllHttpHandles();
  AbandonOwnedMutexes();
}

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace fake

namespace platform {

uint32_t GetLastError() { return fake::t_lastError; }
void SetLastError(uint32_t code) { fake::t_lastError = code; }

bool CloseHandle(Handle handle) {
  auto it = fake::g_handles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == fake::g_handles.end()) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  auto onClose = it->second;
  fake::g_handles.erase(it);
  onClose(handle);
  return true;
}

}  // namespace platform
