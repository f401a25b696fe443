// Version resources: mirrors of the version.dll calls of the same name.
// version.dll is not a KnownDLL, so the Win32 layer loads it from System32
// at run time (a copy beside the setup in Downloads is never used).
#ifndef PLATFORM_VERSION_H_
#define PLATFORM_VERSION_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// VS_FIXEDFILEINFO's dwSignature.
constexpr uint32_t kVsFfiSignature = 0xFEEF04BD;
// What GetFileVersionInfoSizeW sets for a program without resources (one
// with resources but no version resource gets 1813).
constexpr uint32_t kErrorResourceDataNotFound = 1812;

// The fields of VS_FIXEDFILEINFO that we read.
struct FixedFileInfo {
  uint32_t signature = 0;
  uint32_t fileVersionMS = 0;  // A << 16 | B of A.B.C.D
  uint32_t fileVersionLS = 0;  // C << 16 | D
};

// GetFileVersionInfoSizeW(path, ignored): the size of the file's version
// block, or 0 with the last error set (2 missing, 1812 no resources, 1813
// resources but no version resource, 193 or another code for a file that is
// no program).
uint32_t GetFileVersionInfoSizeW(const std::wstring& path);

// GetFileVersionInfoW(path, 0, size, buffer): *block gets `size` bytes of
// the file's version block. False with the last error set.
bool GetFileVersionInfoW(const std::wstring& path, uint32_t size, std::vector<uint8_t>* block);

// VerQueryValueW(block, subBlock): for "\\", the block's VS_FIXEDFILEINFO
// copied to *info. False when the block has no such value.
bool VerQueryValueW(const std::vector<uint8_t>& block, const std::wstring& subBlock,
                    FixedFileInfo* info);

}  // namespace platform

#endif  // PLATFORM_VERSION_H_
