#include "tests/contract/image_mapping.h"

#ifdef _WIN32
#include <windows.h>

void* MapAsImage(const std::wstring& path) {
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
}

void UnmapImage(void* module) { ::FreeLibrary(static_cast<HMODULE>(module)); }
#endif
