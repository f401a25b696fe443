// trace_collector.exe OUTPUT PROGRAM [ARGUMENTS...]
//
// Starts PROGRAM as its debugger (DEBUG_ONLY_THIS_PROCESS) and writes every
// OutputDebugStringA/W line it emits to the file OUTPUT, one record per
// line:
//
//   A<TAB>text      a narrow string (converted from the ANSI code page)
//   W<TAB>text      a wide string
//
// text is UTF-8 with '%', control characters and DEL written as %XX, so a
// record never spans lines and the line feed that ends a trace line shows as
// %0A. Each record is written before the debuggee is let go on, so a program
// that reads OUTPUT right after its own OutputDebugString call finds the
// line there. Exits with PROGRAM's exit code, or 255 when it cannot start.
//
// WaitForDebugEventEx (Windows 10) delivers wide strings as wide; Wine 8 has
// only WaitForDebugEvent, which gives every string narrow, so there a W line
// arrives as an A record.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/tools/utf8.h"

namespace {

using WaitForDebugEventExFn = BOOL(WINAPI*)(LPDEBUG_EVENT, DWORD);

// Quotes one argument so that CommandLineToArgvW and the C runtime give it
// back unchanged.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The debuggee's string, without its terminating null.
std::wstring ReadDebugString(HANDLE process, const OUTPUT_DEBUG_STRING_INFO& info, bool* wide) {
  *wide = info.fUnicode != 0;
  size_t units = info.nDebugStringLength;
  std::string bytes(units * (*wide ? sizeof(wchar_t) : 1), '\0');
  SIZE_T read = 0;
  if (!bytes.empty()) {
    ReadProcessMemory(process, info.lpDebugStringData, &bytes[0], bytes.size(), &read);
  }
  bytes.resize(read);
  std::wstring text;
  if (*wide) {
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  } else {
    text = FromAnsi(bytes);
  }
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: trace_collector OUTPUT PROGRAM [ARGUMENTS...]\n");
    return 255;
  }
  HANDLE output = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "trace_collector: cannot create %ls: error %lu\n", argv[1],
                 GetLastError());
    return 255;
  }
  std::wstring commandLine;
  for (int i = 2; i < argc; ++i) commandLine += (i > 2 ? L" " : L"") + Quote(argv[i]);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // The program runs on the collector's desktop, also in a window station
  // of its own: Wine 8 starts a child whose desktop is not named on its
  // default desktop, where Windows would keep it on the parent's.
  STARTUPINFOW own = {};
  GetStartupInfoW(&own);
  // An empty name would ask for a new station; only a name is passed on.
  if (own.lpDesktop && own.lpDesktop[0]) startup.lpDesktop = own.lpDesktop;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "trace_collector: cannot start %ls: error %lu\n", argv[2],
                 GetLastError());
    CloseHandle(output);
    return 255;
  }

  auto waitEx = reinterpret_cast<WaitForDebugEventExFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "WaitForDebugEventEx")));
  DWORD exitCode = 255;
  for (;;) {
    DEBUG_EVENT event;
    if (!(waitEx ? waitEx(&event, INFINITE) : WaitForDebugEvent(&event, INFINITE))) {
      std::fprintf(stderr, "trace_collector: WaitForDebugEvent failed: %lu\n", GetLastError());
      break;
    }
    DWORD continueStatus = DBG_CONTINUE;
    bool done = false;
    switch (event.dwDebugEventCode) {
      case OUTPUT_DEBUG_STRING_EVENT: {
        bool wide = false;
        std::wstring text = ReadDebugString(process.hProcess, event.u.DebugString, &wide);
        std::string record = std::string(wide ? "W\t" : "A\t") + Escape(Utf8(text)) + "\n";
        DWORD written = 0;
        WriteFile(output, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        break;
      }
      case EXCEPTION_DEBUG_EVENT:
        // The loader's first breakpoint is ours to pass; every other
        // exception belongs to the program.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT ||
            !event.u.Exception.dwFirstChance) {
          continueStatus = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      case CREATE_PROCESS_DEBUG_EVENT:
        if (event.u.CreateProcessInfo.hFile) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile) CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        exitCode = event.u.ExitProcess.dwExitCode;
        done = true;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
    if (done) break;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(output);
  return static_cast<int>(exitCode);
}
