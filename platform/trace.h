// The debugger output, the program's only log.
#ifndef PLATFORM_TRACE_H_
#define PLATFORM_TRACE_H_

#include <string>

namespace platform {

// OutputDebugStringA: the line as narrow text, passed through unchanged.
void OutputDebugStringA(const std::string& text);

// OutputDebugStringW: the line as wide text.
void OutputDebugStringW(const std::wstring& text);

}  // namespace platform

#endif  // PLATFORM_TRACE_H_
