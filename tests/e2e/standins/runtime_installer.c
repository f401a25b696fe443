/* Stand-in for Microsoft's two runtime installers, built twice:
 * STANDIN_VC_REDIST for vc_redist.x64.exe, STANDIN_WEBVIEW2 for
 * MicrosoftEdgeWebview2Setup.exe. It does what the setup program relies on:
 * takes the real silent switches, ends with an exit code, and on success
 * registers the runtime where Windows' own installer would, so the setup
 * program's presence check finds it afterwards.
 *
 * What a run does is read from a trailer after the end of the image, so
 * the world can serve a different variant per scenario and the behaviour
 * proves which bytes were run:
 *
 *   TSL-STANDIN-CONFIG\n
 *   key=value\n ...
 *   TSL-STANDIN-END\n            (the last bytes of the file, or of what a
 *                                  signature that follows covers)
 *
 *   exit=N         exit code (decimal, or 0x hex), default 0
 *   sleep=S        seconds to wait before ending (at most kMaxSleepSeconds)
 *   register=0|1   write the registry value; default: when exit is 0, 3010
 *                  or 1638
 *   place=wow|native|user   wow (default): the 32-bit view of HKLM, where
 *                  Microsoft's installers, 32-bit programs themselves,
 *                  register on 64-bit Windows (WOW6432Node); native: the
 *                  64-bit view; user: HKCU (a per-user WebView2 install)
 *   value=V        "Installed" DWORD (VC, default 1) or "pv" text (WebView2,
 *                  default 120.0.2210.91)
 *
 * Switches other than the expected set (compared without regard to order or
 * case) end the run with 1639, ERROR_INVALID_COMMAND_LINE, as an MSI-based
 * installer does, and register nothing.
 *
 * Two lines go to STANDIN_LOG_PATH:
 *   <role> start pid=P image=<path> args=[<arguments>] exit=N sleep=S register=auto|0|1
 *       place=X value=V show=C          (one line; C: the show command it was
 *                                        started with, 0 for SW_HIDE)
 *   <role> end pid=P exit=N registry=written|none|failed(error E)
 * A start line without its end line means the run was ended from outside. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

#include "standin_common.h"

#if defined(STANDIN_VC_REDIST)
#define ROLE L"vc_redist"
#define EXPECTED_SWITCHES L"/install /quiet /norestart"
#define RUNTIME_KEY L"SOFTWARE\\Microsoft\\VisualStudio\\14.0\\VC\\Runtimes\\x64"
#define DEFAULT_VALUE L"1"
#elif defined(STANDIN_WEBVIEW2)
#define ROLE L"webview2_setup"
#define EXPECTED_SWITCHES L"/silent /install"
#define RUNTIME_KEY \
  L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}"
#define DEFAULT_VALUE L"120.0.2210.91"
#else
#error "define STANDIN_VC_REDIST or STANDIN_WEBVIEW2"
#endif

/* Bounded, so a run that nobody ends still ends on its own; above the setup
 * program's five-minute wait, so its time-out is what ends a long run. */
static const DWORD kMaxSleepSeconds = 600;
static const DWORD kInvalidCommandLine = 1639;

static const char kTrailerStart[] = "TSL-STANDIN-CONFIG\n";
static const char kTrailerEnd[] = "TSL-STANDIN-END\n";

typedef struct {
  DWORD exitCode;
  DWORD sleepSeconds;
  int registerValue; /* -1: by exit code */
  wchar_t place[16];
  wchar_t value[128];
} Settings;

static void Widen(const char* from, size_t length, wchar_t* to, size_t size) {
  size_t i = 0;
  for (; i < length && i + 1 < size; ++i) to[i] = (wchar_t)(unsigned char)from[i];
  to[i] = 0;
}

static void ApplySetting(Settings* settings, const char* line, size_t length) {
  const char* equals = memchr(line, '=', length);
  if (!equals) return;
  size_t keyLength = (size_t)(equals - line);
  const char* value = equals + 1;
  size_t valueLength = length - keyLength - 1;
  char number[32] = {0};
  memcpy(number, value, valueLength < sizeof(number) - 1 ? valueLength : sizeof(number) - 1);
  if (keyLength == 4 && memcmp(line, "exit", 4) == 0) {
    settings->exitCode = (DWORD)strtoul(number, NULL, 0);
  } else if (keyLength == 5 && memcmp(line, "sleep", 5) == 0) {
    settings->sleepSeconds = (DWORD)strtoul(number, NULL, 10);
  } else if (keyLength == 8 && memcmp(line, "register", 8) == 0) {
    settings->registerValue = number[0] == '1';
  } else if (keyLength == 5 && memcmp(line, "place", 5) == 0) {
    Widen(value, valueLength, settings->place, 16);
  } else if (keyLength == 5 && memcmp(line, "value", 5) == 0) {
    Widen(value, valueLength, settings->value, 128);
  }
}

/* Reads the trailer of this program's own file; without one, the defaults. */
static void ReadSettings(Settings* settings) {
  settings->exitCode = 0;
  settings->sleepSeconds = 0;
  settings->registerValue = -1;
  lstrcpyW(settings->place, L"wow");
  lstrcpyW(settings->value, DEFAULT_VALUE);

  wchar_t image[MAX_PATH];
  if (GetModuleFileNameW(NULL, image, MAX_PATH) == 0) return;
  HANDLE file = CreateFileW(image, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;
  char tail[4096];
  DWORD got = 0;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size)) {
    /* A signed file ends with its signature (the security directory gives
     * its file offset); the trailer lies just before it. */
    LONGLONG end = size.QuadPart;
    const BYTE* base = (const BYTE*)GetModuleHandleW(NULL);
    const IMAGE_NT_HEADERS* nt =
        (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
    DWORD signature = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].VirtualAddress;
    if (signature != 0 && signature < end) end = signature;
    LARGE_INTEGER from;
    from.QuadPart = end > (LONGLONG)sizeof(tail) ? end - (LONGLONG)sizeof(tail) : 0;
    if (SetFilePointerEx(file, from, NULL, FILE_BEGIN))
      ReadFile(file, tail, (DWORD)(end - from.QuadPart), &got, NULL);
  }
  CloseHandle(file);
  /* Signing pads what it signs to eight bytes with zeros. */
  while (got > 0 && tail[got - 1] == 0) --got;

  size_t endLength = sizeof(kTrailerEnd) - 1;
  size_t startLength = sizeof(kTrailerStart) - 1;
  if (got < endLength + startLength || memcmp(tail + got - endLength, kTrailerEnd, endLength) != 0)
    return;
  /* The last start marker: the image's own copy of the text lies before it. */
  const char* start = NULL;
  for (const char* p = tail; p + startLength <= tail + got - endLength; ++p) {
    if (memcmp(p, kTrailerStart, startLength) == 0) start = p;
  }
  if (!start) return;
  const char* line = start + startLength;
  const char* end = tail + got - endLength;
  while (line < end) {
    const char* newline = memchr(line, '\n', (size_t)(end - line));
    size_t length = newline ? (size_t)(newline - line) : (size_t)(end - line);
    ApplySetting(settings, line, length);
    line += length + 1;
  }
  if (settings->sleepSeconds > kMaxSleepSeconds) settings->sleepSeconds = kMaxSleepSeconds;
}

/* Splits text at blanks into at most 16 tokens (start and length). */
static int Tokens(const wchar_t* text, const wchar_t* starts[16], int lengths[16]) {
  int count = 0;
  while (*text && count < 16) {
    while (*text == L' ' || *text == L'\t') ++text;
    if (!*text) break;
    starts[count] = text;
    while (*text && *text != L' ' && *text != L'\t') ++text;
    lengths[count] = (int)(text - starts[count]);
    ++count;
  }
  return count;
}

static BOOL Contains(const wchar_t* token, int length, const wchar_t* const* starts,
                     const int* lengths, int count) {
  for (int i = 0; i < count; ++i) {
    if (lengths[i] == length &&
        CompareStringOrdinal(token, length, starts[i], length, TRUE) == CSTR_EQUAL) {
      return TRUE;
    }
  }
  return FALSE;
}

/* Blank-separated tokens of both texts are the same set, ignoring case. */
static BOOL SameSwitches(const wchar_t* got, const wchar_t* want) {
  const wchar_t *gotStarts[16], *wantStarts[16];
  int gotLengths[16], wantLengths[16];
  int gotCount = Tokens(got, gotStarts, gotLengths);
  int wantCount = Tokens(want, wantStarts, wantLengths);
  for (int i = 0; i < gotCount; ++i) {
    if (!Contains(gotStarts[i], gotLengths[i], wantStarts, wantLengths, wantCount)) return FALSE;
  }
  for (int i = 0; i < wantCount; ++i) {
    if (!Contains(wantStarts[i], wantLengths[i], gotStarts, gotLengths, gotCount)) return FALSE;
  }
  return gotCount > 0;
}

/* 0 or the registry's error code. */
static LONG Register(const Settings* settings) {
  HKEY root = HKEY_LOCAL_MACHINE;
  REGSAM view = KEY_WOW64_64KEY;
  if (lstrcmpW(settings->place, L"wow") == 0) {
    view = KEY_WOW64_32KEY;
  } else if (lstrcmpW(settings->place, L"user") == 0) {
    root = HKEY_CURRENT_USER;
  } else if (lstrcmpW(settings->place, L"native") != 0) {
    return ERROR_INVALID_PARAMETER;
  }
  HKEY key;
  LONG status = RegCreateKeyExW(root, RUNTIME_KEY, 0, NULL, 0, KEY_SET_VALUE | view, NULL, &key,
                                NULL);
  if (status != ERROR_SUCCESS) return status;
#if defined(STANDIN_VC_REDIST)
  DWORD installed = (DWORD)wcstoul(settings->value, NULL, 0);
  status = RegSetValueExW(key, L"Installed", 0, REG_DWORD, (const BYTE*)&installed,
                          sizeof(installed));
#else
  status = RegSetValueExW(key, L"pv", 0, REG_SZ, (const BYTE*)settings->value,
                          (DWORD)((lstrlenW(settings->value) + 1) * sizeof(wchar_t)));
#endif
  RegCloseKey(key);
  return status;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)instance;
  (void)previous;
  (void)commandLine;
  Settings settings;
  ReadSettings(&settings);
  const wchar_t* arguments = StandinArguments();

  wchar_t image[MAX_PATH] = L"";
  GetModuleFileNameW(NULL, image, MAX_PATH);
  wchar_t line[2048];
  swprintf(line, 2048, ROLE L" start pid=%lu image=%ls args=[%ls] exit=%lu sleep=%lu register=%ls "
           L"place=%ls value=%ls show=%d",
           GetCurrentProcessId(), image, arguments, settings.exitCode, settings.sleepSeconds,
           settings.registerValue < 0 ? L"auto" : settings.registerValue ? L"1" : L"0",
           settings.place, settings.value, show);
  StandinLog(line);

  if (settings.sleepSeconds) Sleep(settings.sleepSeconds * 1000);

  DWORD exitCode = settings.exitCode;
  BOOL registerValue;
  if (!SameSwitches(arguments, EXPECTED_SWITCHES)) {
    exitCode = kInvalidCommandLine;
    registerValue = FALSE;
  } else if (settings.registerValue >= 0) {
    registerValue = settings.registerValue;
  } else {
    registerValue = exitCode == 0 || exitCode == 3010 || exitCode == 1638;
  }

  wchar_t registry[64] = L"none";
  if (registerValue) {
    LONG status = Register(&settings);
    if (status == ERROR_SUCCESS) {
      lstrcpyW(registry, L"written");
    } else {
      swprintf(registry, 64, L"failed(error %ld)", status);
      /* ERROR_INSTALL_FAILURE: the runtime is not there, as with a real
       * installer that could not finish. */
      exitCode = 1603;
    }
  }
  swprintf(line, 2048, ROLE L" end pid=%lu exit=%lu registry=%ls", GetCurrentProcessId(),
           exitCode, registry);
  StandinLog(line);
  ExitProcess(exitCode);
}
