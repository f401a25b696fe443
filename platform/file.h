// File-system operations, mirrors of the kernel32 calls of the same name.
// Every failing call sets the thread's last error to Windows' code for it.
#ifndef PLATFORM_FILE_H_
#define PLATFORM_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/types.h"

namespace platform {

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;

constexpr uint32_t kFileShareRead = 0x1;
constexpr uint32_t kFileShareWrite = 0x2;
constexpr uint32_t kFileShareDelete = 0x4;

constexpr uint32_t kCreateNew = 1;
constexpr uint32_t kCreateAlways = 2;
constexpr uint32_t kOpenExisting = 3;
constexpr uint32_t kOpenAlways = 4;
constexpr uint32_t kTruncateExisting = 5;

constexpr uint32_t kFileAttributeReadonly = 0x1;
constexpr uint32_t kFileAttributeHidden = 0x2;
constexpr uint32_t kFileAttributeSystem = 0x4;
constexpr uint32_t kFileAttributeDirectory = 0x10;
constexpr uint32_t kFileAttributeArchive = 0x20;
constexpr uint32_t kFileAttributeNormal = 0x80;
constexpr uint32_t kFileAttributeReparsePoint = 0x400;
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
// In CreateFileW's attributes: open a folder (OPEN_EXISTING) as a handle.
constexpr uint32_t kFileFlagBackupSemantics = 0x02000000;

// CreateFileW(path, access, share, no security attributes, disposition,
// attributes, no template). Returns a handle or kInvalidHandleValue with the
// last error set: 2 missing file, 3 missing folder, 5 read-only file or a
// folder, 32 held open without the needed sharing, 80 exists (CREATE_NEW).
// CREATE_ALWAYS and OPEN_ALWAYS on an existing file succeed with last error
// 183; CREATE_ALWAYS truncates. Replacing a hidden or system file without
// naming those attributes fails with 5. A folder opens only with
// FILE_FLAG_BACKUP_SEMANTICS and OPEN_EXISTING (5 otherwise); while such a
// handle is open without FILE_SHARE_DELETE the folder cannot be renamed or
// removed (32).
Handle CreateFileW(const std::wstring& path, uint32_t access, uint32_t share,
                   uint32_t disposition, uint32_t attributes);

// WriteFile/ReadFile on a handle from CreateFileW. *done is set to the bytes
// transferred (0 on failure); ReadFile at the end of the file gives true, 0.
bool WriteFile(Handle file, const void* data, uint32_t size, uint32_t* done);
bool ReadFile(Handle file, void* buffer, uint32_t size, uint32_t* done);

// DeleteFileW: 2 missing, 3 missing folder, 5 read-only, a folder or a
// running image (a loaded DLL too), 32 held open without FILE_SHARE_DELETE.
bool DeleteFileW(const std::wstring& path);

// GetFileAttributesW: the attributes, or kInvalidFileAttributes with the last
// error 2 (missing) or 3 (missing folder).
uint32_t GetFileAttributesW(const std::wstring& path);

// SetFileAttributesW: 2 or 3 when missing.
bool SetFileAttributesW(const std::wstring& path, uint32_t attributes);

// CreateDirectoryW without security attributes: 183 exists, 3 missing parent.
bool CreateDirectoryW(const std::wstring& path);

// RemoveDirectoryW: 145 not empty, 2 missing, 3 missing parent, 267 a file,
// 32 in use.
bool RemoveDirectoryW(const std::wstring& path);

// GetTempPathW: the user's temporary folder, ending in a backslash; empty
// on failure.
std::wstring GetTempPathW();

// GetTempFileNameW(folder, prefix, unique, buffer of MAX_PATH characters).
// With unique 0 it picks an unused number, creates an empty file
// "<folder>\<up to 3 prefix characters><number in hex>.tmp" and returns the
// number; *tempFileName is that path. 0 on failure, with the last error:
// 111 folder text longer than MAX_PATH - 14 characters (checked first),
// 267 no such folder (or a file), 5 no right to create files there.
uint32_t GetTempFileNameW(const std::wstring& pathName, const std::wstring& prefix,
                          uint32_t unique, std::wstring* tempFileName);

// CopyFileW(existing, new, failIfExists): copies the bytes and attributes.
// 2/3 missing source, 80 target exists and failIfExists, 5 target read-only
// or a folder, 32 source or target held open without the needed sharing
// (a file copied onto itself included).
bool CopyFileW(const std::wstring& existingFileName, const std::wstring& newFileName,
               bool failIfExists);
// ---- Directory enumeration ----

// The two fields of WIN32_FIND_DATAW that the program reads.
struct FindData {
  uint32_t fileAttributes;
  std::wstring fileName;
};

// FindFirstFileW(pattern, &data). The pattern is a folder, a backslash and
// a mask ("folder\*"). Returns a search handle with the first entry in *data,
// or kInvalidHandleValue with the last error: 3 the folder is missing, 2 no
// entry matches, 267 the folder is a file, 5 listing is denied. The entries
// of any folder but a drive's root begin with "." and ".."; the order of the
// others is the file system's. A link to a folder (junction, directory
// symbolic link) is reported with FILE_ATTRIBUTE_DIRECTORY and
// FILE_ATTRIBUTE_REPARSE_POINT; a search through it lists its target.
// *data is written only on success.
Handle FindFirstFileW(const std::wstring& pattern, FindData* data);

// FindNextFileW: the next entry in *data, or false with 18 at the end (6 for
// a handle that is not an open search).
bool FindNextFileW(Handle find, FindData* data);

// FindClose: ends a search; false with 6 for a handle that is not an open
// search. Search handles are closed with this, never with CloseHandle.
bool FindClose(Handle find);

// ---- Moving ----

constexpr uint32_t kMovefileReplaceExisting = 0x1;
constexpr uint32_t kMovefileCopyAllowed = 0x2;
constexpr uint32_t kMovefileDelayUntilReboot = 0x4;
constexpr uint32_t kMovefileWriteThrough = 0x8;

// MoveFileExW(from, to, flags); an empty `to` passes NULL (with
// MOVEFILE_DELAY_UNTIL_REBOOT: delete `from` at the next start). Renames a
// file or a folder with its content; open handles follow the file. Fails
// with 2 or 3 for a missing source or 3 for a missing target folder, 183 when
// `to` exists without MOVEFILE_REPLACE_EXISTING, 5 when replacing a folder,
// a read-only file, a file that is open or a running program's image (or a
// DLL a running program has loaded), 32 when the source is open without
// FILE_SHARE_DELETE. A running image itself can be renamed. MOVEFILE_DELAY_UNTIL_REBOOT only records the
// operation for the next start (administrators only) and moves nothing now.
bool MoveFileExW(const std::wstring& from, const std::wstring& to, uint32_t flags);


// ---- Working through handles (no path between check and use) ----

// Access rights for CreateFileW beside those of platform/file_handle.h.
constexpr uint32_t kWriteDac = 0x00040000;
constexpr uint32_t kWriteOwner = 0x00080000;
constexpr uint32_t kFileWriteAttributes = 0x0100;

// Reparse tags of the links the program meets.
constexpr uint32_t kIoReparseTagMountPoint = 0xA0000003;  // junction
constexpr uint32_t kIoReparseTagSymlink = 0xA000000C;

// FILE_ATTRIBUTE_TAG_INFO.
struct FileAttributeTagInfo {
  uint32_t fileAttributes;
  uint32_t reparseTag;  // 0 unless FILE_ATTRIBUTE_REPARSE_POINT is set
};

// FILE_STANDARD_INFO.
struct FileStandardInfo {
  int64_t allocationSize;
  int64_t endOfFile;
  uint32_t numberOfLinks;  // hard links (names) of the file
  bool deletePending;
  bool directory;
};

// FILE_BASIC_INFO. A time of 0 leaves that time unchanged when set;
// fileAttributes 0 leaves the attributes unchanged, FILE_ATTRIBUTE_NORMAL
// clears them all.
struct FileBasicInfo {
  int64_t creationTime;
  int64_t lastAccessTime;
  int64_t lastWriteTime;
  int64_t changeTime;
  uint32_t fileAttributes;
};

// FILE_DISPOSITION_INFO_EX and its flags.
constexpr uint32_t kFileDispositionFlagDelete = 0x1;
constexpr uint32_t kFileDispositionFlagPosixSemantics = 0x2;
constexpr uint32_t kFileDispositionFlagIgnoreReadonlyAttribute = 0x10;
struct FileDispositionInfoEx {
  uint32_t flags;
};

// The directory classes of GetFileInformationByHandleEx.
constexpr uint32_t kFileFullDirectoryInfo = 14;
constexpr uint32_t kFileFullDirectoryRestartInfo = 15;

// GetFileInformationByHandleEx(file, FileAttributeTagInfo or
// FileStandardInfo, ...): what the handle itself is. A handle opened with
// FILE_FLAG_OPEN_REPARSE_POINT on a link describes the link. False with 6
// for a handle that is not an open file; *info is written only on success.
bool GetFileInformationByHandleEx(Handle file, FileAttributeTagInfo* info);
bool GetFileInformationByHandleEx(Handle file, FileStandardInfo* info);

// GetFileInformationByHandleEx(folder, FileFullDirectoryRestartInfo or
// FileFullDirectoryInfo, buffer): the folder's next entries (name and
// attributes) as many as one buffer holds, from the first one with the
// restart class. "." and ".." come first except in a drive's root; a link
// is listed with FILE_ATTRIBUTE_REPARSE_POINT. False with 18 once every
// entry was given, 87 for a handle that is not a folder, 5 without
// FILE_LIST_DIRECTORY access; *entries is replaced only on success.
bool GetFileInformationByHandleEx(Handle folder, uint32_t infoClass, std::vector<FindData>* entries);

// SetFileInformationByHandle(file, FileBasicInfo, ...): needs
// FILE_WRITE_ATTRIBUTES access (5 otherwise). The attributes belong to the
// file, so every hard link of it shows the change.
bool SetFileInformationByHandle(Handle file, const FileBasicInfo& info);

// SetFileInformationByHandle(file, FileDispositionInfo, ...) is declared
// in platform/file_handle.h: the name goes when the last handle closes, and
// until then the file cannot be opened again (5).

// SetFileInformationByHandle(file, FileDispositionInfoEx, ...): as above;
// with FILE_DISPOSITION_FLAG_POSIX_SEMANTICS the name goes at once (open
// handles keep working), with FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE
// a read-only file goes without its attribute being changed. Windows 10 on
// NTFS has it (ignoring the read-only mark from version 1809); elsewhere,
// Wine 8 included, it fails with 87 (or 50, 1), and FileDispositionInfo is
// what there is.
bool SetFileInformationByHandle(Handle file, const FileDispositionInfoEx& info);

}  // namespace platform

#endif  // PLATFORM_FILE_H_
