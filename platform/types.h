// Plain types shared by every platform header. The logic never sees
// <windows.h>; it sees these opaque handles and Windows' own error numbers.
#ifndef PLATFORM_TYPES_H_
#define PLATFORM_TYPES_H_

#include <cstdint>

namespace platform {

using Handle = void*;        // kernel object (file, process, ...)
using HttpHandle = void*;    // WinHTTP session, connection or request
using WindowHandle = void*;  // a window

// MAX_PATH: the longest path the ANSI-era buffers of Windows take, its
// terminating null included.
constexpr uint32_t kMaxPath = 260;

// INVALID_HANDLE_VALUE, the failure result of CreateFileW.
inline Handle const kInvalidHandleValue = reinterpret_cast<Handle>(~uintptr_t{0});

struct Rect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// System error codes, as GetLastError reports them.
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleDiskFull = 39;
constexpr uint32_t kErrorNotSupported = 50;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;
constexpr uint32_t kErrorBufferOverflow = 111;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorKeyDeleted = 1018;
constexpr uint32_t kErrorNoAssociation = 1155;
constexpr uint32_t kErrorCancelled = 1223;
constexpr uint32_t kErrorInvalidAcl = 1336;
constexpr uint32_t kErrorProductVersion = 1638;
constexpr uint32_t kErrorSuccessRebootRequired = 3010;

// WinHTTP's own error numbers.
constexpr uint32_t kErrorWinHttpTimeout = 12002;
constexpr uint32_t kErrorWinHttpInternalError = 12004;
constexpr uint32_t kErrorWinHttpInvalidUrl = 12005;
constexpr uint32_t kErrorWinHttpUnrecognizedScheme = 12006;
constexpr uint32_t kErrorWinHttpNameNotResolved = 12007;
constexpr uint32_t kErrorWinHttpOperationCancelled = 12017;
constexpr uint32_t kErrorWinHttpIncorrectHandleType = 12018;
constexpr uint32_t kErrorWinHttpCannotConnect = 12029;
constexpr uint32_t kErrorWinHttpConnectionError = 12030;
constexpr uint32_t kErrorWinHttpIncorrectHandleState = 12019;
constexpr uint32_t kErrorWinHttpHeaderNotFound = 12150;
constexpr uint32_t kErrorWinHttpInvalidServerResponse = 12152;
constexpr uint32_t kErrorWinHttpRedirectFailed = 12156;
constexpr uint32_t kErrorWinHttpSecureFailure = 12175;

// Further system error codes.
constexpr uint32_t kErrorFilenameExcedRange = 206;
constexpr uint32_t kErrorBadPathname = 161;

// COM results (HRESULT): negative means failure.
using HResult = int32_t;
constexpr HResult kSOk = 0;
constexpr HResult kSFalse = 1;
constexpr HResult kENoInterface = static_cast<HResult>(0x80004002);
constexpr HResult kEFail = static_cast<HResult>(0x80004005);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);
constexpr HResult kEAccessDenied = static_cast<HResult>(0x80070005);
constexpr HResult kCoENotInitialized = static_cast<HResult>(0x800401F0);
constexpr HResult kRpcEChangedMode = static_cast<HResult>(0x80010106);
constexpr HResult kRegDbEClassNotReg = static_cast<HResult>(0x80040154);

// HRESULT_FROM_WIN32.
constexpr HResult HResultFromWin32(uint32_t code) {
  return code == 0 ? kSOk : static_cast<HResult>((code & 0xFFFF) | 0x80070000u);
}

// More system error codes.
constexpr uint32_t kErrorCantResolveFilename = 1921;

// Status of the filtering platform's management calls (0 is success): RPC
// failures such as RPC_S_CANNOT_SUPPORT, and the FWP_E_* values.
constexpr uint32_t kRpcSCannotSupport = 1764;
constexpr uint32_t kFwpEFilterNotFound = 0x80320003;
constexpr uint32_t kFwpEProviderNotFound = 0x80320005;
constexpr uint32_t kFwpESublayerNotFound = 0x80320007;
constexpr uint32_t kFwpEInUse = 0x8032000A;
constexpr uint32_t kFwpENoTxnInProgress = 0x8032000D;
constexpr uint32_t kFwpETxnInProgress = 0x8032000E;
constexpr uint32_t kFwpEInvalidEnumerator = 0x8032001D;

// A GUID as Windows lays it out in memory (16 bytes).
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

inline bool operator==(const Guid& a, const Guid& b) {
  if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.data4[i] != b.data4[i]) return false;
  }
  return true;
}
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }

// The calling thread's last error, as GetLastError/SetLastError.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// CloseHandle on any kernel handle of this layer: false with 6 for a handle
// that is not open.
bool CloseHandle(Handle handle);

}  // namespace platform

#endif  // PLATFORM_TYPES_H_
