// Plain types shared by every platform header. The logic never sees
// <windows.h>; it sees these opaque handles and Windows' own error numbers.
#ifndef PLATFORM_TYPES_H_
#define PLATFORM_TYPES_H_

#include <cstdint>

namespace platform {

using Handle = void*;        // kernel object (file, process, ...)
using HttpHandle = void*;    // WinHTTP session, connection or request
using WindowHandle = void*;  // a window

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
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorNoMoreFiles = 18;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleDiskFull = 39;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;
constexpr uint32_t kErrorInvalidName = 123;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorDirectory = 267;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidWindowHandle = 1400;

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
