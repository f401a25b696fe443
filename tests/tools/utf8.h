// UTF-8 of a wide string, for the Windows test programs' output and files.
#ifndef TESTS_TOOLS_UTF8_H_
#define TESTS_TOOLS_UTF8_H_

#include <windows.h>

#include <string>

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr,
                      nullptr);
  return out;
}

#endif  // TESTS_TOOLS_UTF8_H_
