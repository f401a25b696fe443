// The fake HTTP client stands in for WinHTTP in every download test; these
// pin the behaviours of WinHTTP it copies and that the network test cannot
// force on a real server.
#include <gtest/gtest.h>

#include "platform/fake/fake.h"
#include "platform/http.h"

namespace {

using namespace platform;

struct Fetch {
  bool sent = false;
  bool received = false;
  uint32_t status = 0xdeadbeef;
  uint32_t error = 0;
  std::vector<std::wstring> urls;
};

Fetch Get(const std::wstring& host, const std::wstring& path, uint32_t policy) {
  Fetch f;
  HttpHandle session = WinHttpOpen(L"agent");
  HttpHandle connection = WinHttpConnect(session, host, 443);
  HttpHandle request = WinHttpOpenRequest(connection, L"GET", path, kWinHttpFlagSecure);
  WinHttpSetOption(request, kWinHttpOptionRedirectPolicy, policy);
  f.sent = WinHttpSendRequest(request);
  f.received = f.sent && WinHttpReceiveResponse(request);
  if (!f.received) f.error = GetLastError();
  if (f.received) WinHttpQueryHeaderNumber(request, kWinHttpQueryStatusCode, &f.status);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  f.urls = fake::HttpRequests().back().urlsFetched;
  return f;
}

class FakeHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::HttpResponse toHttp;
    toHttp.status = 302;
    toHttp.location = L"http://a.test/plain";
    fake::SetHttpResponse(L"https://a.test/down", toHttp);
    fake::HttpResponse toHttps;
    toHttps.status = 307;
    toHttps.location = L"https://b.test/file";
    fake::SetHttpResponse(L"https://a.test/up", toHttps);
    fake::HttpResponse loop;
    loop.status = 301;
    loop.location = L"https://a.test/loop";
    fake::SetHttpResponse(L"https://a.test/loop", loop);
    fake::SetHttpResponse(L"http://a.test/plain", fake::HttpResponse{});
    fake::SetHttpResponse(L"https://b.test/file", fake::HttpResponse{});
  }
  void TearDown() override { EXPECT_EQ(0, fake::OpenHttpHandleCount()); }
};

TEST_F(FakeHttpTest, RedirectPolicies) {
  // A refused downgrade is not an answer: the receive fails with 12156, as
  // WinHTTP does.
  struct Case {
    const char* path;
    uint32_t policy;
    uint32_t status;
    size_t urls;
  } cases[] = {
      {"/down", kWinHttpRedirectPolicyNever, 302, 1},
      {"/down", kWinHttpRedirectPolicyDisallowHttpsToHttp, 0xdeadbeef, 1},
      {"/down", kWinHttpRedirectPolicyAlways, 200, 2},
      {"/up", kWinHttpRedirectPolicyNever, 307, 1},
      {"/up", kWinHttpRedirectPolicyDisallowHttpsToHttp, 200, 2},
      {"/up", kWinHttpRedirectPolicyAlways, 200, 2},
  };
  for (const Case& c : cases) {
    std::wstring path(c.path, c.path + strlen(c.path));
    Fetch f = Get(L"a.test", path, c.policy);
    bool refused = c.status == 0xdeadbeef;
    EXPECT_EQ(!refused, f.received) << c.path << " policy " << c.policy;
    EXPECT_EQ(refused ? kErrorWinHttpRedirectFailed : 0u, f.error) << c.path << " policy " << c.policy;
    EXPECT_EQ(c.status, f.status) << c.path << " policy " << c.policy;
    EXPECT_EQ(c.urls, f.urls.size()) << c.path << " policy " << c.policy;
  }
}

TEST_F(FakeHttpTest, EndlessRedirectsFail) {
  Fetch f = Get(L"a.test", L"/loop", kWinHttpRedirectPolicyAlways);
  EXPECT_FALSE(f.received);
  EXPECT_EQ(kErrorWinHttpRedirectFailed, f.error);
}

TEST_F(FakeHttpTest, RedirectToAnUnknownHostFailsToResolve) {
  fake::HttpResponse away;
  away.status = 302;
  away.location = L"https://nowhere.test/x";
  fake::SetHttpResponse(L"https://a.test/away", away);
  Fetch f = Get(L"a.test", L"/away", kWinHttpRedirectPolicyAlways);
  EXPECT_FALSE(f.received);
  EXPECT_EQ(kErrorWinHttpNameNotResolved, f.error);
}

TEST_F(FakeHttpTest, HostNamesAreCaseInsensitivePathsAreNot) {
  EXPECT_EQ(200u, Get(L"B.TEST", L"/file", kWinHttpRedirectPolicyAlways).status);
  EXPECT_EQ(404u, Get(L"b.test", L"/FILE", kWinHttpRedirectPolicyAlways).status);
}

TEST_F(FakeHttpTest, ReadBeforeReceiveIsRefused) {
  HttpHandle session = WinHttpOpen(L"agent");
  HttpHandle connection = WinHttpConnect(session, L"b.test", 443);
  HttpHandle request = WinHttpOpenRequest(connection, L"GET", L"/file", kWinHttpFlagSecure);
  char buffer[4];
  uint32_t read = 0xdeadbeef;
  EXPECT_FALSE(WinHttpReadData(request, buffer, sizeof buffer, &read));
  EXPECT_EQ(kErrorWinHttpIncorrectHandleState, GetLastError());
  EXPECT_EQ(0u, read);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
}

}  // namespace
