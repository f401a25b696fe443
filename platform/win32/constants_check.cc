// Every number platform/*.h copies from the Windows headers, compared with
// <windows.h> at compile time, so a typo in a copy breaks the Windows build.
// The pointer-valued constants (HKEY_*, INVALID_HANDLE_VALUE, DPI contexts,
// MAKEINTRESOURCE ids)
// cannot be compared in a constant expression; tests/wine/constants_test.cc
// checks them when it runs.
//
// A new constant in platform/*.h gets one line here (or there);
// scripts/check-constants.sh fails the test command for any platform
// constant named in neither file.
#include <windows.h>
#include <commctrl.h>
#include <fwptypes.h>
#include <rpcdce.h>
#include <shellapi.h>
#include <shlobj.h>
#include <winhttp.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
#include <aclapi.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/com.h"
#include "platform/dialog.h"
#include "platform/draw.h"
#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/firewall.h"
#include "platform/http.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/session.h"
#include "platform/shell.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "platform/trust.h"
#include "platform/types.h"
#include "platform/ui.h"
#include "platform/version.h"

namespace platform {
namespace {

// True when ours and Windows' value are the same bits at our width, and
// Windows' value has no bits beyond that width. Windows declares some as
// LONG (HRESULTs, FWP_E_*) where we hold the same bits unsigned, so the
// signedness may differ; the width may not.
template <typename Ours, typename Theirs>
constexpr bool Mirrors(Ours ours, Theirs theirs) {
  static_assert(std::is_integral<Ours>::value, "ours is a number");
  static_assert(std::is_integral<Theirs>::value || std::is_enum<Theirs>::value,
                "theirs is a number or an enumerator");
  constexpr int kBits = sizeof(Ours) * 8;
  const long long wide = static_cast<long long>(theirs);
  if constexpr (kBits < 64) {
    if (wide < -(1LL << (kBits - 1)) || wide >= (1LL << kBits)) return false;
  }
  return static_cast<Ours>(theirs) == ours;
}

constexpr bool SameAuthority(SidIdentifierAuthority ours, SID_IDENTIFIER_AUTHORITY theirs) {
  for (int i = 0; i < 6; ++i) {
    if (ours.value[i] != theirs.Value[i]) return false;
  }
  return true;
}

constexpr SID_IDENTIFIER_AUTHORITY kWindowsNtAuthority = SECURITY_NT_AUTHORITY;

// ---- com.h
static_assert(Mirrors(kCoinitMultithreaded, COINIT_MULTITHREADED));
static_assert(Mirrors(kCoinitApartmentThreaded, COINIT_APARTMENTTHREADED));

// ---- dialog.h
static_assert(Mirrors(kMbOk, MB_OK));
static_assert(Mirrors(kMbOkCancel, MB_OKCANCEL));
static_assert(Mirrors(kMbYesNoCancel, MB_YESNOCANCEL));
static_assert(Mirrors(kMbYesNo, MB_YESNO));
static_assert(Mirrors(kMbIconError, MB_ICONERROR));
static_assert(Mirrors(kMbIconQuestion, MB_ICONQUESTION));
static_assert(Mirrors(kMbIconWarning, MB_ICONWARNING));
static_assert(Mirrors(kMbIconInformation, MB_ICONINFORMATION));
static_assert(Mirrors(kIdOk, IDOK));
static_assert(Mirrors(kIdCancel, IDCANCEL));
static_assert(Mirrors(kIdYes, IDYES));
static_assert(Mirrors(kIdNo, IDNO));

// ---- draw.h
static_assert(Rgb(0x12, 0x34, 0x56) == RGB(0x12, 0x34, 0x56));
static_assert(Rgb(255, 0, 0) == RGB(255, 0, 0) && Rgb(0, 0, 255) == RGB(0, 0, 255));
static_assert(Mirrors(kSrcCopy, SRCCOPY));
static_assert(Mirrors(kPsSolid, PS_SOLID));
static_assert(Mirrors(kPsNull, PS_NULL));
static_assert(Mirrors(kWhiteBrush, WHITE_BRUSH));
static_assert(Mirrors(kBlackBrush, BLACK_BRUSH));
static_assert(Mirrors(kNullBrush, NULL_BRUSH));
static_assert(Mirrors(kBlackPen, BLACK_PEN));
static_assert(Mirrors(kNullPen, NULL_PEN));
static_assert(Mirrors(kSystemFont, SYSTEM_FONT));
static_assert(Mirrors(kTransparent, TRANSPARENT));
static_assert(Mirrors(kOpaque, OPAQUE));
static_assert(Mirrors(kDiNormal, DI_NORMAL));
static_assert(Mirrors(kDtLeft, DT_LEFT));
static_assert(Mirrors(kDtTop, DT_TOP));
static_assert(Mirrors(kDtCenter, DT_CENTER));
static_assert(Mirrors(kDtRight, DT_RIGHT));
static_assert(Mirrors(kDtVCenter, DT_VCENTER));
static_assert(Mirrors(kDtSingleLine, DT_SINGLELINE));
static_assert(Mirrors(kFwNormal, FW_NORMAL));
static_assert(Mirrors(kFwMedium, FW_MEDIUM));
static_assert(Mirrors(kFwSemiBold, FW_SEMIBOLD));
static_assert(Mirrors(kDefaultCharset, DEFAULT_CHARSET));
static_assert(Mirrors(kOutDefaultPrecis, OUT_DEFAULT_PRECIS));
static_assert(Mirrors(kClipDefaultPrecis, CLIP_DEFAULT_PRECIS));
static_assert(Mirrors(kClearTypeQuality, CLEARTYPE_QUALITY));
static_assert(Mirrors(kDefaultPitch, DEFAULT_PITCH));
static_assert(Mirrors(kFfDontCare, FF_DONTCARE));
static_assert(Mirrors(kImageIcon, IMAGE_ICON));
static_assert(Mirrors(kLrDefaultColor, LR_DEFAULTCOLOR));

// ---- file.h
static_assert(Mirrors(kGenericRead, GENERIC_READ));
static_assert(Mirrors(kGenericWrite, GENERIC_WRITE));
static_assert(Mirrors(kFileShareRead, FILE_SHARE_READ));
static_assert(Mirrors(kFileShareWrite, FILE_SHARE_WRITE));
static_assert(Mirrors(kFileShareDelete, FILE_SHARE_DELETE));
static_assert(Mirrors(kCreateNew, CREATE_NEW));
static_assert(Mirrors(kCreateAlways, CREATE_ALWAYS));
static_assert(Mirrors(kOpenExisting, OPEN_EXISTING));
static_assert(Mirrors(kOpenAlways, OPEN_ALWAYS));
static_assert(Mirrors(kTruncateExisting, TRUNCATE_EXISTING));
static_assert(Mirrors(kFileAttributeReadonly, FILE_ATTRIBUTE_READONLY));
static_assert(Mirrors(kFileAttributeHidden, FILE_ATTRIBUTE_HIDDEN));
static_assert(Mirrors(kFileAttributeSystem, FILE_ATTRIBUTE_SYSTEM));
static_assert(Mirrors(kFileAttributeDirectory, FILE_ATTRIBUTE_DIRECTORY));
static_assert(Mirrors(kFileAttributeArchive, FILE_ATTRIBUTE_ARCHIVE));
static_assert(Mirrors(kFileAttributeNormal, FILE_ATTRIBUTE_NORMAL));
static_assert(Mirrors(kFileAttributeReparsePoint, FILE_ATTRIBUTE_REPARSE_POINT));
static_assert(Mirrors(kInvalidFileAttributes, INVALID_FILE_ATTRIBUTES));
static_assert(Mirrors(kFileFlagBackupSemantics, FILE_FLAG_BACKUP_SEMANTICS));
static_assert(Mirrors(kMovefileReplaceExisting, MOVEFILE_REPLACE_EXISTING));
static_assert(Mirrors(kMovefileCopyAllowed, MOVEFILE_COPY_ALLOWED));
static_assert(Mirrors(kMovefileDelayUntilReboot, MOVEFILE_DELAY_UNTIL_REBOOT));
static_assert(Mirrors(kMovefileWriteThrough, MOVEFILE_WRITE_THROUGH));
static_assert(Mirrors(kWriteDac, WRITE_DAC));
static_assert(Mirrors(kWriteOwner, WRITE_OWNER));
static_assert(Mirrors(kFileWriteAttributes, FILE_WRITE_ATTRIBUTES));
static_assert(Mirrors(kIoReparseTagMountPoint, IO_REPARSE_TAG_MOUNT_POINT));
static_assert(Mirrors(kIoReparseTagSymlink, IO_REPARSE_TAG_SYMLINK));
static_assert(Mirrors(kFileDispositionFlagDelete, FILE_DISPOSITION_FLAG_DELETE));
static_assert(Mirrors(kFileDispositionFlagPosixSemantics, FILE_DISPOSITION_FLAG_POSIX_SEMANTICS));
static_assert(Mirrors(kFileDispositionFlagIgnoreReadonlyAttribute,
                      FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE));
static_assert(Mirrors(kFileFullDirectoryInfo, FileFullDirectoryInfo));
static_assert(Mirrors(kFileFullDirectoryRestartInfo, FileFullDirectoryRestartInfo));

// ---- file_handle.h
static_assert(Mirrors(kDelete, DELETE));
static_assert(Mirrors(kReadControl, READ_CONTROL));
static_assert(Mirrors(kFileListDirectory, FILE_LIST_DIRECTORY));
static_assert(Mirrors(kFileReadAttributes, FILE_READ_ATTRIBUTES));
static_assert(Mirrors(kFileFlagOpenReparsePoint, FILE_FLAG_OPEN_REPARSE_POINT));
static_assert(Mirrors(kErrorInvalidOwner, ERROR_INVALID_OWNER));
static_assert(Mirrors(kErrorFileInvalid, ERROR_FILE_INVALID));
static_assert(Mirrors(kFileBegin, FILE_BEGIN));

// ---- firewall.h
static_assert(Mirrors(kRpcCAuthnDefault, RPC_C_AUTHN_DEFAULT));
static_assert(Mirrors(kFwpFilterEnumFullyContained, FWP_FILTER_ENUM_FULLY_CONTAINED));

// ---- http.h
static_assert(Mirrors(kWinHttpOptionConnectTimeout, WINHTTP_OPTION_CONNECT_TIMEOUT));
static_assert(Mirrors(kWinHttpOptionReceiveTimeout, WINHTTP_OPTION_RECEIVE_TIMEOUT));
static_assert(Mirrors(kWinHttpOptionRedirectPolicy, WINHTTP_OPTION_REDIRECT_POLICY));
static_assert(Mirrors(kWinHttpRedirectPolicyNever, WINHTTP_OPTION_REDIRECT_POLICY_NEVER));
static_assert(Mirrors(kWinHttpRedirectPolicyDisallowHttpsToHttp,
                      WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP));
static_assert(Mirrors(kWinHttpRedirectPolicyAlways, WINHTTP_OPTION_REDIRECT_POLICY_ALWAYS));
static_assert(Mirrors(kWinHttpFlagSecure, WINHTTP_FLAG_SECURE));
static_assert(Mirrors(kInternetDefaultHttpsPort, INTERNET_DEFAULT_HTTPS_PORT));
static_assert(Mirrors(kWinHttpQueryContentLength, WINHTTP_QUERY_CONTENT_LENGTH));
static_assert(Mirrors(kWinHttpQueryStatusCode, WINHTTP_QUERY_STATUS_CODE));

// ---- process.h
static_assert(Mirrors(kSeeMaskNoCloseProcess, SEE_MASK_NOCLOSEPROCESS));
static_assert(Mirrors(kSeeMaskFlagNoUi, SEE_MASK_FLAG_NO_UI));
static_assert(Mirrors(kSwHide, SW_HIDE));
static_assert(Mirrors(kSwShowNormal, SW_SHOWNORMAL));
static_assert(Mirrors(kCreateNoWindow, CREATE_NO_WINDOW));
static_assert(Mirrors(kStartfUseShowWindow, STARTF_USESHOWWINDOW));
static_assert(Mirrors(kInfinite, INFINITE));
static_assert(Mirrors(kWaitObject0, WAIT_OBJECT_0));
static_assert(Mirrors(kWaitTimeout, WAIT_TIMEOUT));
static_assert(Mirrors(kWaitFailed, WAIT_FAILED));
static_assert(Mirrors(kStillActive, STILL_ACTIVE));

// ---- registry.h
static_assert(Mirrors(kKeyQueryValue, KEY_QUERY_VALUE));
static_assert(Mirrors(kKeySetValue, KEY_SET_VALUE));
static_assert(Mirrors(kKeyCreateSubKey, KEY_CREATE_SUB_KEY));
static_assert(Mirrors(kKeyRead, KEY_READ));
static_assert(Mirrors(kKeyWrite, KEY_WRITE));
static_assert(Mirrors(kRegOptionNonVolatile, REG_OPTION_NON_VOLATILE));
static_assert(Mirrors(kRegCreatedNewKey, REG_CREATED_NEW_KEY));
static_assert(Mirrors(kRegOpenedExistingKey, REG_OPENED_EXISTING_KEY));
static_assert(Mirrors(kRegNone, REG_NONE));
static_assert(Mirrors(kRegSz, REG_SZ));
static_assert(Mirrors(kRegDword, REG_DWORD));

// ---- security.h
static_assert(SameAuthority(kSecurityNtAuthority, kWindowsNtAuthority));
static_assert(Mirrors(kSecurityBuiltinDomainRid, SECURITY_BUILTIN_DOMAIN_RID));
static_assert(Mirrors(kDomainAliasRidAdmins, DOMAIN_ALIAS_RID_ADMINS));
static_assert(Mirrors(kErrorInvalidSid, ERROR_INVALID_SID));
static_assert(Mirrors(kOwnerSecurityInformation, OWNER_SECURITY_INFORMATION));
static_assert(Mirrors(kDaclSecurityInformation, DACL_SECURITY_INFORMATION));
static_assert(Mirrors(kProtectedDaclSecurityInformation, PROTECTED_DACL_SECURITY_INFORMATION));

// ---- shell.h
static_assert(Mirrors(kMaxPath, MAX_PATH));
static_assert(Mirrors(kCsidlDesktop, CSIDL_DESKTOP));
static_assert(Mirrors(kCsidlDesktopDirectory, CSIDL_DESKTOPDIRECTORY));
static_assert(Mirrors(kShgfpTypeCurrent, SHGFP_TYPE_CURRENT));

// ---- thread.h
static_assert(Mirrors(kLoadLibrarySearchSystem32, LOAD_LIBRARY_SEARCH_SYSTEM32));

// ---- types.h: system error codes
static_assert(Mirrors(kErrorSuccess, ERROR_SUCCESS));
static_assert(Mirrors(kErrorInvalidFunction, ERROR_INVALID_FUNCTION));
static_assert(Mirrors(kErrorNotSupported, ERROR_NOT_SUPPORTED));
static_assert(Mirrors(kErrorFileNotFound, ERROR_FILE_NOT_FOUND));
static_assert(Mirrors(kErrorPathNotFound, ERROR_PATH_NOT_FOUND));
static_assert(Mirrors(kErrorAccessDenied, ERROR_ACCESS_DENIED));
static_assert(Mirrors(kErrorInvalidHandle, ERROR_INVALID_HANDLE));
static_assert(Mirrors(kErrorNotEnoughMemory, ERROR_NOT_ENOUGH_MEMORY));
static_assert(Mirrors(kErrorNoMoreFiles, ERROR_NO_MORE_FILES));
static_assert(Mirrors(kErrorSharingViolation, ERROR_SHARING_VIOLATION));
static_assert(Mirrors(kErrorHandleDiskFull, ERROR_HANDLE_DISK_FULL));
static_assert(Mirrors(kErrorFileExists, ERROR_FILE_EXISTS));
static_assert(Mirrors(kErrorInvalidParameter, ERROR_INVALID_PARAMETER));
static_assert(Mirrors(kErrorInsufficientBuffer, ERROR_INSUFFICIENT_BUFFER));
static_assert(Mirrors(kErrorInvalidName, ERROR_INVALID_NAME));
static_assert(Mirrors(kErrorDirNotEmpty, ERROR_DIR_NOT_EMPTY));
static_assert(Mirrors(kErrorAlreadyExists, ERROR_ALREADY_EXISTS));
static_assert(Mirrors(kErrorDirectory, ERROR_DIRECTORY));
static_assert(Mirrors(kErrorDiskFull, ERROR_DISK_FULL));
static_assert(Mirrors(kErrorInvalidWindowHandle, ERROR_INVALID_WINDOW_HANDLE));
static_assert(Mirrors(kErrorBufferOverflow, ERROR_BUFFER_OVERFLOW));
static_assert(Mirrors(kErrorMoreData, ERROR_MORE_DATA));
static_assert(Mirrors(kErrorKeyDeleted, ERROR_KEY_DELETED));
static_assert(Mirrors(kErrorNoAssociation, ERROR_NO_ASSOCIATION));
static_assert(Mirrors(kErrorCancelled, ERROR_CANCELLED));
static_assert(Mirrors(kErrorInvalidAcl, ERROR_INVALID_ACL));
static_assert(Mirrors(kErrorProductVersion, ERROR_PRODUCT_VERSION));
static_assert(Mirrors(kErrorSuccessRebootRequired, ERROR_SUCCESS_REBOOT_REQUIRED));
static_assert(Mirrors(kErrorFilenameExcedRange, ERROR_FILENAME_EXCED_RANGE));
static_assert(Mirrors(kErrorBadPathname, ERROR_BAD_PATHNAME));
static_assert(Mirrors(kErrorCantResolveFilename, ERROR_CANT_RESOLVE_FILENAME));

// ---- types.h: WinHTTP's error codes
static_assert(Mirrors(kErrorWinHttpTimeout, ERROR_WINHTTP_TIMEOUT));
static_assert(Mirrors(kErrorWinHttpInternalError, ERROR_WINHTTP_INTERNAL_ERROR));
static_assert(Mirrors(kErrorWinHttpInvalidUrl, ERROR_WINHTTP_INVALID_URL));
static_assert(Mirrors(kErrorWinHttpUnrecognizedScheme, ERROR_WINHTTP_UNRECOGNIZED_SCHEME));
static_assert(Mirrors(kErrorWinHttpNameNotResolved, ERROR_WINHTTP_NAME_NOT_RESOLVED));
static_assert(Mirrors(kErrorWinHttpOperationCancelled, ERROR_WINHTTP_OPERATION_CANCELLED));
static_assert(Mirrors(kErrorWinHttpIncorrectHandleType, ERROR_WINHTTP_INCORRECT_HANDLE_TYPE));
static_assert(Mirrors(kErrorWinHttpCannotConnect, ERROR_WINHTTP_CANNOT_CONNECT));
static_assert(Mirrors(kErrorWinHttpConnectionError, ERROR_WINHTTP_CONNECTION_ERROR));
static_assert(Mirrors(kErrorWinHttpIncorrectHandleState, ERROR_WINHTTP_INCORRECT_HANDLE_STATE));
static_assert(Mirrors(kErrorWinHttpHeaderNotFound, ERROR_WINHTTP_HEADER_NOT_FOUND));
static_assert(Mirrors(kErrorWinHttpInvalidServerResponse, ERROR_WINHTTP_INVALID_SERVER_RESPONSE));
static_assert(Mirrors(kErrorWinHttpRedirectFailed, ERROR_WINHTTP_REDIRECT_FAILED));
static_assert(Mirrors(kErrorWinHttpSecureFailure, ERROR_WINHTTP_SECURE_FAILURE));

// ---- types.h: HRESULTs
static_assert(Mirrors(kSOk, S_OK));
static_assert(Mirrors(kSFalse, S_FALSE));
static_assert(Mirrors(kENoInterface, E_NOINTERFACE));
static_assert(Mirrors(kEFail, E_FAIL));
static_assert(Mirrors(kEInvalidArg, E_INVALIDARG));
static_assert(Mirrors(kEAccessDenied, E_ACCESSDENIED));
static_assert(Mirrors(kCoENotInitialized, CO_E_NOTINITIALIZED));
static_assert(Mirrors(kRpcEChangedMode, RPC_E_CHANGED_MODE));
static_assert(Mirrors(kRegDbEClassNotReg, REGDB_E_CLASSNOTREG));
static_assert(HResultFromWin32(ERROR_ACCESS_DENIED) == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
static_assert(HResultFromWin32(ERROR_SUCCESS) == HRESULT_FROM_WIN32(ERROR_SUCCESS));
static_assert(HResultFromWin32(ERROR_CANCELLED) == HRESULT_FROM_WIN32(ERROR_CANCELLED));

// ---- types.h: the filtering platform's statuses
static_assert(Mirrors(kRpcSCannotSupport, RPC_S_CANNOT_SUPPORT));
static_assert(Mirrors(kFwpEFilterNotFound, FWP_E_FILTER_NOT_FOUND));
static_assert(Mirrors(kFwpEProviderNotFound, FWP_E_PROVIDER_NOT_FOUND));
static_assert(Mirrors(kFwpESublayerNotFound, FWP_E_SUBLAYER_NOT_FOUND));
static_assert(Mirrors(kFwpEInUse, FWP_E_IN_USE));
static_assert(Mirrors(kFwpENoTxnInProgress, FWP_E_NO_TXN_IN_PROGRESS));
static_assert(Mirrors(kFwpETxnInProgress, FWP_E_TXN_IN_PROGRESS));
static_assert(Mirrors(kFwpEInvalidEnumerator, FWP_E_INVALID_ENUMERATOR));
static_assert(sizeof(Guid) == sizeof(GUID) && offsetof(Guid, data4) == offsetof(GUID, Data4));

// ---- ui.h
static_assert(Mirrors(kWmCreate, WM_CREATE));
static_assert(Mirrors(kWmDestroy, WM_DESTROY));
static_assert(Mirrors(kWmPaint, WM_PAINT));
static_assert(Mirrors(kWmClose, WM_CLOSE));
static_assert(Mirrors(kWmQuit, WM_QUIT));
static_assert(Mirrors(kWmEraseBkgnd, WM_ERASEBKGND));
static_assert(Mirrors(kWmNcCreate, WM_NCCREATE));
static_assert(Mirrors(kWmNcDestroy, WM_NCDESTROY));
static_assert(Mirrors(kWmSysCommand, WM_SYSCOMMAND));
static_assert(Mirrors(kWmMouseMove, WM_MOUSEMOVE));
static_assert(Mirrors(kWmLButtonDown, WM_LBUTTONDOWN));
static_assert(Mirrors(kWmLButtonUp, WM_LBUTTONUP));
static_assert(Mirrors(kWmMouseLeave, WM_MOUSELEAVE));
static_assert(Mirrors(kWmDpiChanged, WM_DPICHANGED));
static_assert(Mirrors(kScClose, SC_CLOSE));
static_assert(Mirrors(kMkLButton, MK_LBUTTON));
static_assert(MakeLParam(0x1234, 0xABCD) == MAKELPARAM(0x1234, 0xABCD));
static_assert(MakeWParam(0x1234, 0xABCD) == MAKEWPARAM(0x1234, 0xABCD));
static_assert(Mirrors(kWsChild, WS_CHILD));
static_assert(Mirrors(kWsVisible, WS_VISIBLE));
static_assert(Mirrors(kWsCaption, WS_CAPTION));
static_assert(Mirrors(kWsSysMenu, WS_SYSMENU));
static_assert(Mirrors(kWsThickFrame, WS_THICKFRAME));
static_assert(Mirrors(kWsMinimizeBox, WS_MINIMIZEBOX));
static_assert(Mirrors(kWsMaximizeBox, WS_MAXIMIZEBOX));
static_assert(Mirrors(kWsExAppWindow, WS_EX_APPWINDOW));
static_assert(Mirrors(kErrorTlwWithWsChild, ERROR_TLW_WITH_WSCHILD));
static_assert(Mirrors(kErrorCannotFindWndClass, ERROR_CANNOT_FIND_WND_CLASS));
static_assert(Mirrors(kErrorClassAlreadyExists, ERROR_CLASS_ALREADY_EXISTS));
static_assert(Mirrors(kTmeLeave, TME_LEAVE));
static_assert(Mirrors(kSwpNoSize, SWP_NOSIZE));
static_assert(Mirrors(kSwpNoMove, SWP_NOMOVE));
static_assert(Mirrors(kSwpNoZOrder, SWP_NOZORDER));
static_assert(Mirrors(kSwpNoActivate, SWP_NOACTIVATE));
static_assert(Mirrors(kSwShow, SW_SHOW));
static_assert(Mirrors(kSmCxScreen, SM_CXSCREEN));
static_assert(Mirrors(kSmCyScreen, SM_CYSCREEN));
static_assert(Mirrors(kLogPixelsX, LOGPIXELSX));
static_assert(Mirrors(kLogPixelsY, LOGPIXELSY));
static_assert(Mirrors(kIccStandardClasses, ICC_STANDARD_CLASSES));
// DWMWA_USE_IMMERSIVE_DARK_MODE (20) is newer than MinGW-w64's dwmapi.h; it
// is listed as unchecked in scripts/check-constants.sh.

// ---- process.h, sync.h: jobs and the one-setup mutex
static_assert(Mirrors(kCreateSuspended, CREATE_SUSPENDED));
static_assert(Mirrors(kResumeFailed, static_cast<DWORD>(-1)));  // ResumeThread's failure
static_assert(Mirrors(kWaitAbandoned, WAIT_ABANDONED));
static_assert(Mirrors(kErrorNotOwner, ERROR_NOT_OWNER));
static_assert(Mirrors(kSeKernelObject, SE_KERNEL_OBJECT));
static_assert(Mirrors(kTokenUser, TokenUser));
static_assert(Mirrors(kTokenOwner, TokenOwner));

// ---- session.h
static_assert(Mirrors(kUoiFlags, UOI_FLAGS));
static_assert(Mirrors(kWsfVisible, WSF_VISIBLE));
static_assert(Mirrors(kSecurityLocalSystemRid, SECURITY_LOCAL_SYSTEM_RID));

// ---- trust.h
constexpr bool SameGuid(Guid ours, GUID theirs) {
  if (ours.data1 != theirs.Data1 || ours.data2 != theirs.Data2 || ours.data3 != theirs.Data3) {
    return false;
  }
  for (int i = 0; i < 8; ++i) {
    if (ours.data4[i] != theirs.Data4[i]) return false;
  }
  return true;
}
constexpr bool SameText(const char* ours, const char* theirs) {
  while (*ours != 0 && *ours == *theirs) {
    ++ours;
    ++theirs;
  }
  return *ours == *theirs;
}
constexpr GUID kWindowsGenericVerifyV2 = WINTRUST_ACTION_GENERIC_VERIFY_V2;
static_assert(SameGuid(kWintrustActionGenericVerifyV2, kWindowsGenericVerifyV2));
static_assert(SameText(kSzOidCommonName, szOID_COMMON_NAME));
static_assert(SameText(kSzOidOrganizationName, szOID_ORGANIZATION_NAME));
static_assert(Mirrors(kWtdUiNone, WTD_UI_NONE));
static_assert(Mirrors(kWtdRevokeNone, WTD_REVOKE_NONE));
static_assert(Mirrors(kWtdRevokeWholechain, WTD_REVOKE_WHOLECHAIN));
static_assert(Mirrors(kWtdChoiceFile, WTD_CHOICE_FILE));
static_assert(Mirrors(kWtdStateactionIgnore, WTD_STATEACTION_IGNORE));
static_assert(Mirrors(kWtdStateactionVerify, WTD_STATEACTION_VERIFY));
static_assert(Mirrors(kWtdStateactionClose, WTD_STATEACTION_CLOSE));
static_assert(Mirrors(kWtdRevocationCheckChainExcludeRoot, WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT));
static_assert(Mirrors(kWtdCacheOnlyUrlRetrieval, WTD_CACHE_ONLY_URL_RETRIEVAL));
static_assert(Mirrors(kTrustENosignature, TRUST_E_NOSIGNATURE));
static_assert(Mirrors(kTrustEBadDigest, TRUST_E_BAD_DIGEST));
static_assert(Mirrors(kTrustESubjectNotTrusted, TRUST_E_SUBJECT_NOT_TRUSTED));
static_assert(Mirrors(kCertEUntrustedroot, CERT_E_UNTRUSTEDROOT));
static_assert(Mirrors(kCertERevoked, CERT_E_REVOKED));
static_assert(Mirrors(kCertERevocationFailure, CERT_E_REVOCATION_FAILURE));
static_assert(Mirrors(kCryptERevocationOffline, CRYPT_E_REVOCATION_OFFLINE));
static_assert(Mirrors(kCertNameAttrType, CERT_NAME_ATTR_TYPE));

// ---- version.h
static_assert(Mirrors(kVsFfiSignature, VS_FFI_SIGNATURE));
static_assert(Mirrors(kErrorResourceDataNotFound, ERROR_RESOURCE_DATA_NOT_FOUND));

}  // namespace
}  // namespace platform
