// TessalineSetup.exe's entry; everything it does is in the tsl_logic library.
#include <windows.h>

#include "app/entry.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  return RunSetup(instance, commandLine ? commandLine : L"");
}
