// The fake's HTTP client: scripted hosts and paths, answers delivered in
// chunks, failures injectable at every step, redirects under the request's
// policy as WinHTTP applies it.
#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>

#include "platform/fake/fake.h"
#include "platform/fake/state.h"
#include "platform/http.h"

namespace fake {
namespace {

using namespace platform;

enum class Kind { kSession, kConnection, kRequest };

struct HttpObject {
  Kind kind;
  std::wstring userAgent;                // session
  std::map<uint32_t, uint32_t> options;  // session or request
  uintptr_t parent = 0;
  std::wstring host;  // connection
  uint16_t port = 0;
  // request
  std::wstring url;
  size_t record = 0;
  bool sent = false;
  bool received = false;
  HttpResponse response;
  size_t chunk = 0;
  size_t offset = 0;
  int reads = 0;
};

struct Url {
  std::wstring scheme;
  std::wstring host;
  std::wstring path;
};

std::map<std::wstring, HttpResponse> g_responses;  // by normalised URL
std::map<std::wstring, uint32_t> g_hosts;          // lower-case host -> down code
std::map<uintptr_t, HttpObject> g_objects;
uintptr_t g_nextHandle = 0x70000;
std::map<HttpCall, uint32_t> g_nextFailure;
std::vector<HttpRequestRecord> g_records;
std::function<void(int)> g_readHook;

std::wstring Lower(std::wstring text) {
  for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

Url ParseUrl(const std::wstring& url) {
  Url out;
  size_t colon = url.find(L"://");
  out.scheme = Lower(url.substr(0, colon));
  size_t hostStart = colon + 3;
  size_t slash = url.find(L'/', hostStart);
  out.host = Lower(url.substr(hostStart, slash - hostStart));
  out.path = slash == std::wstring::npos ? L"/" : url.substr(slash);
  return out;
}

std::wstring Key(const Url& url) { return url.scheme + L"://" + url.host + url.path; }

bool TakeFailure(HttpCall call) {
  auto it = g_nextFailure.find(call);
  if (it == g_nextFailure.end()) return false;
  SetLastError(it->second);
  g_nextFailure.erase(it);
  return true;
}

HttpObject* Get(HttpHandle handle, Kind kind) {
  auto it = g_objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == g_objects.end()) {
    SetLastError(kErrorInvalidHandle);
    return nullptr;
  }
  if (it->second.kind != kind) {
    SetLastError(kErrorWinHttpIncorrectHandleType);
    return nullptr;
  }
  return &it->second;
}

HttpHandle Add(HttpObject object) {
  uintptr_t value = g_nextHandle;
  g_nextHandle += 8;
  g_objects.emplace(value, std::move(object));
  return reinterpret_cast<HttpHandle>(value);
}

// Resolves and "connects" to the URL's host; false with the client's code.
bool Reach(const Url& url) {
  auto host = g_hosts.find(url.host);
  if (host == g_hosts.end()) {
    SetLastError(kErrorWinHttpNameNotResolved);
    return false;
  }
  if (host->second != 0) {
    SetLastError(host->second);
    return false;
  }
  return true;
}

HttpResponse Lookup(const Url& url) {
  auto it = g_responses.find(Key(url));
  if (it != g_responses.end()) return it->second;
  HttpResponse notFound;
  notFound.status = 404;
  return notFound;
}

bool IsRedirect(uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void ResetHttp() {
  g_responses.clear();
  g_hosts.clear();
  g_objects.clear();
  g_nextFailure.clear();
  g_records.clear();
  g_readHook = nullptr;
}

ResetHook g_resetHttp(ResetHttp);

}  // namespace

void SetHttpResponse(const std::wstring& url, const HttpResponse& response) {
  Url parsed = ParseUrl(url);
  g_hosts.emplace(parsed.host, 0);
  g_responses[Key(parsed)] = response;
}

void SetHttpHostDown(const std::wstring& host, uint32_t code) { g_hosts[Lower(host)] = code; }

void FailNextHttpCall(HttpCall call, uint32_t code) { g_nextFailure[call] = code; }

const std::vector<HttpRequestRecord>& HttpRequests() { return g_records; }

void OnHttpRead(std::function<void(int)> hook) { g_readHook = std::move(hook); }

int OpenHttpHandleCount() { return static_cast<int>(g_objects.size()); }

void CloseAllHttpHandles() { g_objects.clear(); }

}  // namespace fake

namespace platform {

using fake::Get;
using fake::Kind;

HttpHandle WinHttpOpen(const std::wstring& userAgent) {
  if (fake::TakeFailure(fake::HttpCall::kOpen)) return nullptr;
  fake::HttpObject session{Kind::kSession};
  session.userAgent = userAgent;
  return fake::Add(std::move(session));
}

bool WinHttpSetOption(HttpHandle handle, uint32_t option, uint32_t value) {
  auto it = fake::g_objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == fake::g_objects.end()) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  it->second.options[option] = value;
  if (it->second.kind == Kind::kRequest) fake::g_records[it->second.record].requestOptions[option] = value;
  return true;
}

HttpHandle WinHttpConnect(HttpHandle session, const std::wstring& host, uint16_t port) {
  if (!Get(session, Kind::kSession)) return nullptr;
  if (fake::TakeFailure(fake::HttpCall::kConnect)) return nullptr;
  if (host.empty()) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  fake::HttpObject connection{Kind::kConnection};
  connection.parent = reinterpret_cast<uintptr_t>(session);
  connection.host = host;
  connection.port = port;
  return fake::Add(std::move(connection));
}

HttpHandle WinHttpOpenRequest(HttpHandle connection, const std::wstring& verb,
                              const std::wstring& objectName, uint32_t flags) {
  fake::HttpObject* conn = Get(connection, Kind::kConnection);
  if (!conn) return nullptr;
  if (fake::TakeFailure(fake::HttpCall::kOpenRequest)) return nullptr;
  const fake::HttpObject& session = fake::g_objects.at(conn->parent);
  fake::HttpRequestRecord record;
  record.userAgent = session.userAgent;
  record.sessionOptions = session.options;
  record.host = conn->host;
  record.port = conn->port;
  record.verb = verb;
  record.objectName = objectName;
  record.flags = flags;
  fake::g_records.push_back(record);

  fake::HttpObject request{Kind::kRequest};
  request.parent = reinterpret_cast<uintptr_t>(connection);
  request.url = std::wstring((flags & kWinHttpFlagSecure) ? L"https" : L"http") + L"://" +
                conn->host + objectName;
  request.record = fake::g_records.size() - 1;
  // WinHTTP's default: follow redirects except from HTTPS to HTTP.
  request.options[kWinHttpOptionRedirectPolicy] = kWinHttpRedirectPolicyDisallowHttpsToHttp;
  return fake::Add(std::move(request));
}

bool WinHttpSendRequest(HttpHandle handle) {
  fake::HttpObject* request = Get(handle, Kind::kRequest);
  if (!request) return false;
  fake::Url url = fake::ParseUrl(request->url);
  fake::g_records[request->record].urlsFetched.push_back(fake::Key(url));
  if (!fake::Reach(url)) return false;
  request->response = fake::Lookup(url);
  if (request->response.sendError) {
    SetLastError(request->response.sendError);
    return false;
  }
  request->sent = true;
  return true;
}

bool WinHttpReceiveResponse(HttpHandle handle) {
  fake::HttpObject* request = Get(handle, Kind::kRequest);
  if (!request) return false;
  if (!request->sent) {
    SetLastError(kErrorWinHttpIncorrectHandleState);
    return false;
  }
  fake::Url current = fake::ParseUrl(request->url);
  uint32_t policy = request->options[kWinHttpOptionRedirectPolicy];
  for (int hops = 0;; ++hops) {
    if (request->response.receiveError) {
      SetLastError(request->response.receiveError);
      return false;
    }
    if (!fake::IsRedirect(request->response.status) || request->response.location.empty()) break;
    fake::Url target = fake::ParseUrl(request->response.location);
    if (policy == kWinHttpRedirectPolicyNever) break;
    // WinHTTP does not hand back the refused redirect: the receive fails.
    if (policy == kWinHttpRedirectPolicyDisallowHttpsToHttp && current.scheme == L"https" &&
        target.scheme == L"http") {
      SetLastError(kErrorWinHttpRedirectFailed);
      return false;
    }
    if (hops == 10) {
      SetLastError(kErrorWinHttpRedirectFailed);
      return false;
    }
    fake::g_records[request->record].urlsFetched.push_back(fake::Key(target));
    if (!fake::Reach(target)) return false;
    current = target;
    request->response = fake::Lookup(target);
    if (request->response.sendError) {
      SetLastError(request->response.sendError);
      return false;
    }
  }
  request->received = true;
  return true;
}

bool WinHttpQueryHeaderNumber(HttpHandle handle, uint32_t query, uint32_t* value) {
  fake::HttpObject* request = Get(handle, Kind::kRequest);
  if (!request) return false;
  if (!request->received) {
    SetLastError(kErrorWinHttpIncorrectHandleState);
    return false;
  }
  if (query == kWinHttpQueryStatusCode && !request->response.statusUnreadable) {
    *value = request->response.status;
    return true;
  }
  // WINHTTP_QUERY_FLAG_NUMBER keeps the low 32 bits of a longer number.
  if (query == kWinHttpQueryContentLength && request->response.contentLength) {
    *value = static_cast<uint32_t>(*request->response.contentLength);
    return true;
  }
  SetLastError(kErrorWinHttpHeaderNotFound);
  return false;
}

bool WinHttpQueryHeaderText(HttpHandle handle, uint32_t query, std::wstring* value) {
  fake::HttpObject* request = Get(handle, Kind::kRequest);
  if (!request) return false;
  if (!request->received) {
    SetLastError(kErrorWinHttpIncorrectHandleState);
    return false;
  }
  if (query == kWinHttpQueryContentLength && request->response.contentLength) {
    *value = std::to_wstring(*request->response.contentLength);
    return true;
  }
  SetLastError(kErrorWinHttpHeaderNotFound);
  return false;
}

bool WinHttpReadData(HttpHandle handle, void* buffer, uint32_t size, uint32_t* read) {
  *read = 0;
  fake::HttpObject* request = Get(handle, Kind::kRequest);
  if (!request) return false;
  if (!request->received) {
    SetLastError(kErrorWinHttpIncorrectHandleState);
    return false;
  }
  int index = request->reads++;
  fake::g_records[request->record].readCalls = request->reads;
  if (fake::g_readHook) fake::g_readHook(index);
  const fake::HttpResponse& response = request->response;
  if (index == response.failReadAt) {
    SetLastError(response.readError);
    return false;
  }
  while (request->chunk < response.chunks.size() &&
         request->offset == response.chunks[request->chunk].size()) {
    ++request->chunk;
    request->offset = 0;
  }
  if (request->chunk == response.chunks.size()) return true;
  const std::string& chunk = response.chunks[request->chunk];
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, chunk.size() - request->offset));
  std::memcpy(buffer, chunk.data() + request->offset, n);
  request->offset += n;
  *read = n;
  return true;
}

bool WinHttpCloseHandle(HttpHandle handle) {
  if (fake::g_objects.erase(reinterpret_cast<uintptr_t>(handle)) == 0) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

}  // namespace platform
