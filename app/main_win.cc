// TessalineSetup.exe's entry; everything it does is in the tsl_logic library.
#include <windows.h>

#include "app/entry.h"

// The load configuration: Windows 10 1607 and later take DependentLoadFlags
// from here when they resolve what the static imports themselves import, so
// a DLL dropped beside the setup (a Downloads folder) is never among them;
// that happens before SetDefaultDllDirectories in the entry can run. MinGW's
// header still calls the field Reserved1. The security cookie stays 0: the
// C runtime sets its own. GNU ld keeps this only because it is named with
// -u, and leaves the directory entry empty: scripts/pe-load-config.py fills
// it after the link.
extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = {
    .Size = sizeof(IMAGE_LOAD_CONFIG_DIRECTORY64),
    .Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32,
};

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  return RunSetup(instance, commandLine ? commandLine : L"");
}
