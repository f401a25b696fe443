/* Stand-in for WebView2Loader.dll: a real DLL with one harmless export, so
 * that what the deployment host serves can be loaded and called. */
#include <windows.h>

DWORD WINAPI TslLoaderStandInVersion(void) { return 1; }
