#include <windows.h>

#include <cstdlib>

#include "platform/types.h"

// The C++ runtime's default terminate handler prints the demangled name of
// an uncaught exception, and the demangler adds some 55 KB to the executable.
// The program throws nothing of its own; ending at once is all it needs.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace platform {

uint32_t GetLastError() { return ::GetLastError(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }

bool CloseHandle(Handle handle) { return ::CloseHandle(handle) != FALSE; }

}  // namespace platform
