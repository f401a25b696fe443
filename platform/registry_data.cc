// Registry data built the same way on every build: the real layer and the
// fake both store what this gives.
#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace platform {

std::string RegSzData(const std::wstring& text) {
  std::string bytes;
  auto put = [&bytes](uint32_t unit) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>((unit >> 8) & 0xFF);
  };
  for (wchar_t c : text) {
    uint32_t code = static_cast<uint32_t>(c);
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
  }
  put(0);
  return bytes;
}

}  // namespace platform
