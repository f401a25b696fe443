#include <windows.h>

#include "platform/trace.h"

namespace platform {

void OutputDebugStringA(const std::string& text) { ::OutputDebugStringA(text.c_str()); }

void OutputDebugStringW(const std::wstring& text) { ::OutputDebugStringW(text.c_str()); }

}  // namespace platform
