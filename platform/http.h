// HTTP client operations, mirrors of the WinHTTP calls of the same name.
// Every failing call sets the thread's last error (WinHTTP's 12xxx numbers
// for network failures).
#ifndef PLATFORM_HTTP_H_
#define PLATFORM_HTTP_H_

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kWinHttpOptionConnectTimeout = 3;
constexpr uint32_t kWinHttpOptionReceiveTimeout = 6;
constexpr uint32_t kWinHttpOptionRedirectPolicy = 88;
constexpr uint32_t kWinHttpRedirectPolicyNever = 0;
constexpr uint32_t kWinHttpRedirectPolicyDisallowHttpsToHttp = 1;
constexpr uint32_t kWinHttpRedirectPolicyAlways = 2;

constexpr uint32_t kWinHttpFlagSecure = 0x00800000;
constexpr uint16_t kInternetDefaultHttpsPort = 443;

constexpr uint32_t kWinHttpQueryContentLength = 5;
constexpr uint32_t kWinHttpQueryStatusCode = 19;

// WinHttpOpen(agent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, no proxy name,
// no bypass list, flags 0): a session handle or null.
HttpHandle WinHttpOpen(const std::wstring& userAgent);

// WinHttpSetOption with a 4-byte value.
bool WinHttpSetOption(HttpHandle handle, uint32_t option, uint32_t value);

// WinHttpConnect(session, host, port, 0): a connection handle or null. Does
// not contact the server.
HttpHandle WinHttpConnect(HttpHandle session, const std::wstring& host,
                          uint16_t port);

// WinHttpOpenRequest(connection, verb, object name, no version, no referrer,
// no accept types, flags): a request handle or null.
HttpHandle WinHttpOpenRequest(HttpHandle connection, const std::wstring& verb,
                              const std::wstring& objectName, uint32_t flags);

// WinHttpSendRequest with no headers, no optional data and total length 0.
// Name resolution, connection and TLS failures surface here.
bool WinHttpSendRequest(HttpHandle request);

// WinHttpReceiveResponse: follows redirects as the request's policy allows.
bool WinHttpReceiveResponse(HttpHandle request);

// WinHttpQueryHeaders(request, query | WINHTTP_QUERY_FLAG_NUMBER, no name,
// 4-byte buffer, no index). *value is written only on success.
bool WinHttpQueryHeaderNumber(HttpHandle request, uint32_t query,
                              uint32_t* value);

// WinHttpQueryHeaders(request, query, no name, a text buffer, no index):
// the header's value as sent (a length beyond 32 bits included). False with
// 12150 when the response has no such header; *value is written only on
// success.
bool WinHttpQueryHeaderText(HttpHandle request, uint32_t query, std::wstring* value);

// WinHttpReadData: *read is 0 at the end of the body.
bool WinHttpReadData(HttpHandle request, void* buffer, uint32_t size,
                     uint32_t* read);

bool WinHttpCloseHandle(HttpHandle handle);

}  // namespace platform

#endif  // PLATFORM_HTTP_H_
