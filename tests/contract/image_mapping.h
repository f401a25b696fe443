// A file mapped as the loader maps a DLL, for the contract tests on Windows
// (the program itself never loads a DLL of the install folder).
#ifndef TESTS_CONTRACT_IMAGE_MAPPING_H_
#define TESTS_CONTRACT_IMAGE_MAPPING_H_

#include <string>

// LoadLibraryExW(path, LOAD_LIBRARY_AS_IMAGE_RESOURCE): an image mapping,
// no code run; null on failure. UnmapImage is FreeLibrary.
void* MapAsImage(const std::wstring& path);
void UnmapImage(void* module);

#endif  // TESTS_CONTRACT_IMAGE_MAPPING_H_
