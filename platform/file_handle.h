// Operations on an open file or folder handle, mirrors of the kernel32 and
// advapi32 calls of the same name: what a handle refers to stays put while
// a path can be renamed or swapped for a link.
#ifndef PLATFORM_FILE_HANDLE_H_
#define PLATFORM_FILE_HANDLE_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// Access rights for CreateFileW besides GENERIC_READ/GENERIC_WRITE.
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kReadControl = 0x00020000;
constexpr uint32_t kFileListDirectory = 0x0001;
constexpr uint32_t kFileReadAttributes = 0x0080;
// In CreateFileW's attributes: open a link (reparse point) itself instead of
// what it points to.
constexpr uint32_t kFileFlagOpenReparsePoint = 0x00200000;

constexpr uint32_t kErrorInvalidOwner = 1307;
constexpr uint32_t kErrorFileInvalid = 1006;

// The fields of BY_HANDLE_FILE_INFORMATION the program reads. Volume serial
// number and file index together name one file of the machine whatever path
// leads to it.
struct ByHandleFileInformation {
  uint32_t fileAttributes = 0;
  uint32_t volumeSerialNumber = 0;
  uint64_t fileIndex = 0;  // nFileIndexHigh:nFileIndexLow
  uint32_t numberOfLinks = 0;
  uint64_t fileSize = 0;
};

// GetFileInformationByHandle: false with 6 for a handle that is not an open
// file or folder (*information untouched).
bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* information);

constexpr uint32_t kFileBegin = 0;
// SetFilePointerEx(file, distance, no new position out, FILE_BEGIN): 6 for a
// handle that is not open, 131 for a negative position.
bool SetFilePointerEx(Handle file, int64_t distance, uint32_t moveMethod);

// FlushFileBuffers: the file's data reaches the disk before it returns; 5
// for a handle without write access, 6 for one that is not open, or the
// device's error.
bool FlushFileBuffers(Handle file);

// FileDispositionInfo of SetFileInformationByHandle: with deleteFile the
// object (a file, or an empty folder) is deleted when its last handle
// closes; the handle needs DELETE access (5 otherwise), a folder with
// entries fails with 145, a read-only file with 5.
struct FileDispositionInfo {
  bool deleteFile = false;
};
bool SetFileInformationByHandle(Handle file, const FileDispositionInfo& information);

// GetMappedFileNameW(GetCurrentProcess(), the running program's image base):
// the file the running program was loaded from, as an NT path: on Windows
// "\Device\HarddiskVolumeN\..." where the file is now (it follows renames);
// Wine 8 answers "\??\X:\..." as the program was started. Empty with the
// last error set on failure.
std::wstring GetMappedFileNameW();

// GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION) and
// ConvertSidToStringSidW of the owner: *ownerSid is the owner as
// "S-1-5-32-544" text. Returns the error code, 0 on success; 6 for a handle
// that is not open; the handle needs READ_CONTROL (5 otherwise).
uint32_t GetSecurityInfo(Handle file, std::wstring* ownerSid);

}  // namespace platform

#endif  // PLATFORM_FILE_HANDLE_H_
