#include "install/download.h"

#include <cstdint>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "install/staged_file.h"
#include "platform/file.h"
#include "platform/file_handle.h"
#include "platform/http.h"

namespace {

constexpr uint32_t kChunkSize = 8192;
constexpr uint32_t kTimeoutMs = 60000;

void Report(std::wstring* errorText, const std::wstring& reason) {
  if (errorText) *errorText = reason;
}

// "<what> (error N)" with N the code the failing call left.
// Decimal digits only, within 64 bits: a length of more than 4 GB is still
// a length, and anything else is no length at all.
bool ParseLength(const std::wstring& text, uint64_t* length) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    uint64_t digit = static_cast<uint64_t>(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *length = value;
  return true;
}

void ReportCode(std::wstring* errorText, const std::wstring& what, uint32_t code) {
  if (errorText) *errorText = what + L" (error " + std::to_wstring(code) + L")";
}

// What one call holds; released in one place, whatever way the call ends.
struct Transfer {
  platform::HttpHandle session = nullptr;
  platform::HttpHandle connection = nullptr;
  platform::HttpHandle request = nullptr;
  platform::Handle file = platform::kInvalidHandleValue;
  platform::Handle* hold = nullptr;  // wanted: a staged file, held on success
};

// Closes the file (or, for a staged file, trades it for the hold), drops it
// unless the whole body is in it (both callers would run it), then releases
// the HTTP handles in the order request, connection, session.
bool Finish(Transfer* transfer, const std::wstring& localPath, bool complete,
            std::wstring* errorText) {
  if (transfer->file != platform::kInvalidHandleValue) {
    if (complete && transfer->hold) {
      *transfer->hold = HoldStagedFile(localPath, transfer->file);
      if (*transfer->hold == platform::kInvalidHandleValue) {
        ReportCode(errorText, L"Failed to open downloaded file", platform::GetLastError());
        complete = false;
      }
    } else {
      platform::CloseHandle(transfer->file);
    }
    if (!complete) platform::DeleteFileW(localPath);
  }
  if (transfer->request) platform::WinHttpCloseHandle(transfer->request);
  if (transfer->connection) platform::WinHttpCloseHandle(transfer->connection);
  if (transfer->session) platform::WinHttpCloseHandle(transfer->session);
  return complete;
}

bool Fetch(const std::wstring& host, const std::wstring& urlPath, const std::wstring& localPath,
           std::wstring* errorText, Transfer* t) {
  t->session = platform::WinHttpOpen(kUserAgent);
  if (!t->session) {
    ReportCode(errorText, L"Failed to initialize HTTP session", platform::GetLastError());
    return false;
  }
  platform::WinHttpSetOption(t->session, platform::kWinHttpOptionConnectTimeout, kTimeoutMs);
  platform::WinHttpSetOption(t->session, platform::kWinHttpOptionReceiveTimeout, kTimeoutMs);

  t->connection = platform::WinHttpConnect(t->session, host, platform::kInternetDefaultHttpsPort);
  if (!t->connection) {
    ReportCode(errorText, L"Failed to connect to " + host, platform::GetLastError());
    return false;
  }

  t->request = platform::WinHttpOpenRequest(t->connection, L"GET", urlPath,
                                            platform::kWinHttpFlagSecure);
  if (!t->request) {
    ReportCode(errorText, L"Failed to create HTTP request", platform::GetLastError());
    return false;
  }
  // Redirects are followed, but never from HTTPS down to plain HTTP: what
  // arrives here is run with administrator rights. WinHTTP then fails the
  // receive with 12156 instead of handing back the redirect.
  platform::WinHttpSetOption(t->request, platform::kWinHttpOptionRedirectPolicy,
                             platform::kWinHttpRedirectPolicyDisallowHttpsToHttp);

  if (!platform::WinHttpSendRequest(t->request)) {
    ReportCode(errorText, L"Failed to send HTTP request", platform::GetLastError());
    return false;
  }
  if (!platform::WinHttpReceiveResponse(t->request)) {
    ReportCode(errorText, L"Failed to receive HTTP response", platform::GetLastError());
    return false;
  }

  uint32_t status = 0;
  platform::WinHttpQueryHeaderNumber(t->request, platform::kWinHttpQueryStatusCode, &status);
  if (status != 200) {
    Report(errorText, L"HTTP error " + std::to_wstring(status));
    return false;
  }
  // A declared length lets a connection that closes early be told apart from
  // the end of the body.
  uint64_t declaredLength = 0;
  std::wstring lengthText;
  bool hasDeclaredLength =
      platform::WinHttpQueryHeaderText(t->request, platform::kWinHttpQueryContentLength,
                                       &lengthText) &&
      ParseLength(lengthText, &declaredLength);

  t->file = t->hold ? CreateStagedFile(localPath)
                    : platform::CreateFileW(localPath, platform::kGenericWrite, 0,
                                            platform::kCreateAlways, platform::kFileAttributeNormal);
  if (t->file == platform::kInvalidHandleValue) {
    ReportCode(errorText, L"Failed to create local file", platform::GetLastError());
    return false;
  }

  unsigned char buffer[kChunkSize];
  uint64_t total = 0;
  uint32_t read = 0;
  if (!platform::WinHttpReadData(t->request, buffer, kChunkSize, &read)) {
    Report(errorText, L"Downloaded file is empty");
    return false;
  }
  while (read > 0) {
    uint32_t written = 0;
    if (!platform::WriteFile(t->file, buffer, read, &written)) {
      ReportCode(errorText, L"Failed to write to file", platform::GetLastError());
      return false;
    }
    if (CancelRequested()) {
      Report(errorText, L"Download cancelled by user");
      return false;
    }
    total += written;
    if (!platform::WinHttpReadData(t->request, buffer, kChunkSize, &read)) {
      ReportCode(errorText, L"Download interrupted", platform::GetLastError());
      return false;
    }
  }
  if (total == 0) {
    Report(errorText, L"Downloaded file is empty");
    return false;
  }
  if (hasDeclaredLength && total != declaredLength) {
    ReportCode(errorText, L"Download interrupted", 0);
    return false;
  }
  // Complete only once the bytes are on the disk: a power cut after the
  // swap must not leave a hole where the new file should be.
  if (!platform::FlushFileBuffers(t->file)) {
    ReportCode(errorText, L"Failed to write to file", platform::GetLastError());
    return false;
  }
  return true;
}

}  // namespace

bool DownloadFile(const std::wstring& host, const std::wstring& urlPath,
                  const std::wstring& localPath, std::wstring* errorText) {
  Transfer transfer;
  bool complete = Fetch(host, urlPath, localPath, errorText, &transfer);
  return Finish(&transfer, localPath, complete, errorText);
}

bool DownloadStagedFile(const std::wstring& host, const std::wstring& urlPath,
                        const std::wstring& localPath, platform::Handle* hold,
                        std::wstring* errorText) {
  *hold = platform::kInvalidHandleValue;
  Transfer transfer;
  transfer.hold = hold;
  bool complete = Fetch(host, urlPath, localPath, errorText, &transfer);
  return Finish(&transfer, localPath, complete, errorText);
}
