#include "install/download.h"

#include <cstdint>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/file.h"
#include "platform/http.h"

namespace {

constexpr uint32_t kChunkSize = 8192;
constexpr uint32_t kTimeoutMs = 60000;

void Report(std::wstring* errorText, const std::wstring& reason) {
  if (errorText) *errorText = reason;
}

// "<what> (error N)" with N the code the failing call left.
void ReportCode(std::wstring* errorText, const std::wstring& what, uint32_t code) {
  if (errorText) *errorText = what + L" (error " + std::to_wstring(code) + L")";
}

// Request, connection, session: the order WinHTTP handles are released in.
void CloseHttp(platform::HttpHandle request, platform::HttpHandle connection,
               platform::HttpHandle session) {
  if (request) platform::WinHttpCloseHandle(request);
  if (connection) platform::WinHttpCloseHandle(connection);
  if (session) platform::WinHttpCloseHandle(session);
}

// Drops a file that does not hold the whole body: both callers would run it.
void DiscardFile(platform::Handle file, const std::wstring& localPath) {
  platform::CloseHandle(file);
  platform::DeleteFileW(localPath);
}

}  // namespace

bool DownloadFile(const std::wstring& host, const std::wstring& urlPath,
                  const std::wstring& localPath, std::wstring* errorText) {
  platform::HttpHandle session = platform::WinHttpOpen(kUserAgent);
  if (!session) {
    ReportCode(errorText, L"Failed to initialize HTTP session", platform::GetLastError());
    return false;
  }
  platform::WinHttpSetOption(session, platform::kWinHttpOptionConnectTimeout, kTimeoutMs);
  platform::WinHttpSetOption(session, platform::kWinHttpOptionReceiveTimeout, kTimeoutMs);

  platform::HttpHandle connection =
      platform::WinHttpConnect(session, host, platform::kInternetDefaultHttpsPort);
  if (!connection) {
    ReportCode(errorText, L"Failed to connect to " + host, platform::GetLastError());
    CloseHttp(nullptr, nullptr, session);
    return false;
  }

  platform::HttpHandle request = platform::WinHttpOpenRequest(connection, L"GET", urlPath,
                                                              platform::kWinHttpFlagSecure);
  if (!request) {
    ReportCode(errorText, L"Failed to create HTTP request", platform::GetLastError());
    CloseHttp(nullptr, connection, session);
    return false;
  }
  // Redirects are followed, but never from HTTPS down to plain HTTP: what
  // arrives here is run with administrator rights. WinHTTP then fails the
  // receive with 12156 instead of handing back the redirect.
  platform::WinHttpSetOption(request, platform::kWinHttpOptionRedirectPolicy,
                             platform::kWinHttpRedirectPolicyDisallowHttpsToHttp);

  if (!platform::WinHttpSendRequest(request)) {
    ReportCode(errorText, L"Failed to send HTTP request", platform::GetLastError());
    CloseHttp(request, connection, session);
    return false;
  }
  if (!platform::WinHttpReceiveResponse(request)) {
    ReportCode(errorText, L"Failed to receive HTTP response", platform::GetLastError());
    CloseHttp(request, connection, session);
    return false;
  }

  uint32_t status = 0;
  platform::WinHttpQueryHeaderNumber(request, platform::kWinHttpQueryStatusCode, &status);
  if (status != 200) {
    Report(errorText, L"HTTP error " + std::to_wstring(status));
    CloseHttp(request, connection, session);
    return false;
  }
  // A declared length lets a connection that closes early be told apart from
  // the end of the body.
  uint32_t declaredLength = 0;
  bool hasDeclaredLength = platform::WinHttpQueryHeaderNumber(
      request, platform::kWinHttpQueryContentLength, &declaredLength);

  platform::Handle file =
      platform::CreateFileW(localPath, platform::kGenericWrite, 0, platform::kCreateAlways,
                            platform::kFileAttributeNormal);
  if (file == platform::kInvalidHandleValue) {
    ReportCode(errorText, L"Failed to create local file", platform::GetLastError());
    CloseHttp(request, connection, session);
    return false;
  }

  unsigned char buffer[kChunkSize];
  uint64_t total = 0;
  uint32_t read = 0;
  if (!platform::WinHttpReadData(request, buffer, kChunkSize, &read)) {
    Report(errorText, L"Downloaded file is empty");
    DiscardFile(file, localPath);
    CloseHttp(request, connection, session);
    return false;
  }
  while (read > 0) {
    uint32_t written = 0;
    if (!platform::WriteFile(file, buffer, read, &written)) {
      ReportCode(errorText, L"Failed to write to file", platform::GetLastError());
      DiscardFile(file, localPath);
      CloseHttp(request, connection, session);
      return false;
    }
    if (CancelRequested()) {
      Report(errorText, L"Download cancelled by user");
      DiscardFile(file, localPath);
      CloseHttp(request, connection, session);
      return false;
    }
    total += written;
    if (!platform::WinHttpReadData(request, buffer, kChunkSize, &read)) {
      ReportCode(errorText, L"Download interrupted", platform::GetLastError());
      DiscardFile(file, localPath);
      CloseHttp(request, connection, session);
      return false;
    }
  }
  platform::CloseHandle(file);

  if (total == 0) {
    Report(errorText, L"Downloaded file is empty");
    platform::DeleteFileW(localPath);
    CloseHttp(request, connection, session);
    return false;
  }
  if (hasDeclaredLength && total != declaredLength) {
    ReportCode(errorText, L"Download interrupted", 0);
    platform::DeleteFileW(localPath);
    CloseHttp(request, connection, session);
    return false;
  }
  CloseHttp(request, connection, session);
  return true;
}
