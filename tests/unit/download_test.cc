#include "install/download.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/ui_state.h"
#include "install/product_constants.h"
#include "platform/fake/fake.h"
#include "platform/file.h"
#include "platform/http.h"

namespace {

const std::wstring kFolder = L"C:\\Downloads";
const std::wstring kTarget = L"C:\\Downloads\\target.bin";
const std::wstring kUrl = L"https://deploy.maretto.example/executable/Velquist.exe";
const std::string kOldContent = "previous version";

std::string Bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

fake::HttpResponse Ok(std::vector<std::string> chunks) {
  fake::HttpResponse r;
  r.chunks = std::move(chunks);
  uint32_t length = 0;
  for (const auto& c : r.chunks) length += static_cast<uint32_t>(c.size());
  r.contentLength = length;
  return r;
}

// What happens to an existing file at the local path after a failure.
enum class Left { kUntouched, kDeleted };

struct FailureCase {
  const char* name;
  std::function<void()> setUp;
  std::wstring reason;
  Left file;
};

std::vector<FailureCase> FailureCases();

class DownloadFileTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    g_cancelRequested = false;
    EXPECT_EQ(0, fake::OpenHttpHandleCount()) << "HTTP handles leaked";
    EXPECT_EQ(0, fake::OpenFileHandleCount()) << "file handles leaked";
  }
  bool Download(std::wstring* error, const std::wstring& path = kAppDownloadPath) {
    return DownloadFile(kDeployHost, path, kTarget, error);
  }

  // A new machine with the old file at the local path and no cancel asked.
  void Fresh() {
    fake::Reset();
    g_cancelRequested = false;
    fake::AddFile(kTarget, kOldContent);
  }

  // Each failure case in turn on a fresh machine: its setup, then `check`;
  // the machine is reset after each.
  void ForEachFailure(const std::function<void(const FailureCase&)>& check) {
    for (const FailureCase& c : FailureCases()) {
      SCOPED_TRACE(c.name);
      Fresh();
      c.setUp();
      check(c);
      g_cancelRequested = false;
      fake::Reset();
    }
  }
};

std::vector<FailureCase> FailureCases() {
  return {
      {"session not opened",
       [] { fake::FailNextHttpCall(fake::HttpCall::kOpen, 12004); },
       L"Failed to initialize HTTP session (error 12004)", Left::kUntouched},
      {"connection not opened",
       [] { fake::FailNextHttpCall(fake::HttpCall::kConnect, 12005); },
       L"Failed to connect to deploy.maretto.example (error 12005)", Left::kUntouched},
      {"request not opened",
       [] { fake::FailNextHttpCall(fake::HttpCall::kOpenRequest, 8); },
       L"Failed to create HTTP request (error 8)", Left::kUntouched},
      {"host not resolved fails at send", [] {},
       L"Failed to send HTTP request (error 12007)", Left::kUntouched},
      {"host refuses connection",
       [] { fake::SetHttpHostDown(L"deploy.maretto.example", 12029); },
       L"Failed to send HTTP request (error 12029)", Left::kUntouched},
      {"certificate rejected at send",
       [] {
         fake::HttpResponse r = Ok({"x"});
         r.sendError = 12175;
         fake::SetHttpResponse(kUrl, r);
       },
       L"Failed to send HTTP request (error 12175)", Left::kUntouched},
      {"no response",
       [] {
         fake::HttpResponse r = Ok({"x"});
         r.receiveError = 12002;
         fake::SetHttpResponse(kUrl, r);
       },
       L"Failed to receive HTTP response (error 12002)", Left::kUntouched},
      {"404", [] { fake::SetHttpResponse(L"https://deploy.maretto.example/other", Ok({"x"})); },
       L"HTTP error 404", Left::kUntouched},
      {"500",
       [] {
         fake::HttpResponse r = Ok({"oops"});
         r.status = 500;
         fake::SetHttpResponse(kUrl, r);
       },
       L"HTTP error 500", Left::kUntouched},
      {"status unreadable counts as 0",
       [] {
         fake::HttpResponse r = Ok({"x"});
         r.statusUnreadable = true;
         fake::SetHttpResponse(kUrl, r);
       },
       L"HTTP error 0", Left::kUntouched},
      {"local file held open by another program",
       [] {
         fake::SetHttpResponse(kUrl, Ok({"new"}));
         fake::HoldOpen(kTarget, 0);
       },
       L"Failed to create local file (error 32)", Left::kUntouched},
      {"write fails (disk full)",
       [] {
         fake::SetHttpResponse(kUrl, Ok({"abc", "def"}));
         fake::FailWritesTo(kTarget, 112, 3);
       },
       L"Failed to write to file (error 112)", Left::kDeleted},
      {"flush to disk fails",
       [] {
         fake::SetHttpResponse(kUrl, Ok({"abc", "def"}));
         fake::AddFile(kTarget, "");
         fake::FailFlushOf(kTarget, 1117 /* ERROR_IO_DEVICE */);
       },
       L"Failed to write to file (error 1117)", Left::kDeleted},
      {"cancel seen after a chunk",
       [] {
         fake::SetHttpResponse(kUrl, Ok({"abc", "def", "ghi"}));
         fake::OnHttpRead([](int n) {
           if (n == 1) g_cancelRequested = true;
         });
       },
       L"Download cancelled by user", Left::kDeleted},
      {"first read fails",
       [] {
         fake::HttpResponse r = Ok({"abc"});
         r.failReadAt = 0;
         fake::SetHttpResponse(kUrl, r);
       },
       L"Downloaded file is empty", Left::kDeleted},
      {"empty body", [] { fake::SetHttpResponse(kUrl, Ok({})); }, L"Downloaded file is empty",
       Left::kDeleted},
      {"read fails after data arrived",
       [] {
         fake::HttpResponse r = Ok({"abc", "def", "ghi"});
         r.failReadAt = 2;
         r.readError = 12030;
         fake::SetHttpResponse(kUrl, r);
       },
       L"Download interrupted (error 12030)", Left::kDeleted},
      {"body shorter than its declared length",
       [] {
         fake::HttpResponse r = Ok({"abc", "def"});
         r.contentLength = 100;
         fake::SetHttpResponse(kUrl, r);
       },
       L"Download interrupted (error 0)", Left::kDeleted},
      {"declared length beyond 4 GB whose low 32 bits match the body",
       [] {
         fake::HttpResponse r = Ok({"abc", "def"});
         r.contentLength = (uint64_t{1} << 32) + 6;
         fake::SetHttpResponse(kUrl, r);
       },
       L"Download interrupted (error 0)", Left::kDeleted},
      {"redirect from https to http is not followed",
       [] {
         fake::HttpResponse r;
         r.status = 302;
         r.location = L"http://deploy.maretto.example/plain/Velquist.exe";
         fake::SetHttpResponse(kUrl, r);
         fake::SetHttpResponse(L"http://deploy.maretto.example/plain/Velquist.exe", Ok({"evil"}));
       },
       L"Failed to receive HTTP response (error 12156)", Left::kUntouched},
  };
}

TEST_F(DownloadFileTest, EachFailureGivesItsReasonAndCleansUp) {
  ForEachFailure([this](const FailureCase& c) {
    std::wstring error = L"sentinel";
    EXPECT_FALSE(Download(&error));
    EXPECT_EQ(fake::ToUtf8(c.reason), fake::ToUtf8(error));
    if (c.file == Left::kUntouched) {
      EXPECT_EQ(kOldContent, fake::FileContent(kTarget).value_or("<missing>"));
    } else {
      EXPECT_FALSE(fake::Exists(kTarget)) << "partial file left behind";
    }
    EXPECT_EQ(0, fake::OpenHttpHandleCount());
    // A file some other program holds stays open by design; ours must not.
    EXPECT_LE(fake::OpenFileHandleCount(), c.reason.find(L"error 32") != std::wstring::npos ? 1 : 0);
  });
}

TEST_F(DownloadFileTest, EachFailureWithoutErrorOutputStillFailsAndCleansUp) {
  ForEachFailure([this](const FailureCase& c) {
    EXPECT_FALSE(Download(nullptr));
    EXPECT_EQ(c.file == Left::kUntouched, fake::Exists(kTarget));
    EXPECT_EQ(0, fake::OpenHttpHandleCount());
  });
}

TEST_F(DownloadFileTest, MissingFolderGivesPathNotFound) {
  fake::SetHttpResponse(kUrl, Ok({"abc"}));
  std::wstring error;
  EXPECT_FALSE(DownloadFile(kDeployHost, kAppDownloadPath, L"C:\\Nowhere\\x.bin", &error));
  EXPECT_EQ("Failed to create local file (error 3)", fake::ToUtf8(error));
  EXPECT_FALSE(fake::Exists(L"C:\\Nowhere"));
}

TEST_F(DownloadFileTest, StoresTheWholeBodyAndLeavesErrorTextAlone) {
  std::string a = Bytes(8192, 'a'), b = Bytes(8192, 'b'), c = Bytes(100, 'c');
  fake::SetHttpResponse(kUrl, Ok({a, b, c}));
  std::wstring error = L"sentinel";
  EXPECT_TRUE(Download(&error));
  EXPECT_EQ(L"sentinel", error);
  EXPECT_EQ(a + b + c, fake::FileContent(kTarget).value_or("<missing>"));
}

TEST_F(DownloadFileTest, ChunksLargerThanTheBufferArriveInPieces) {
  std::string big = Bytes(20000, 'z');
  fake::SetHttpResponse(kUrl, Ok({big}));
  EXPECT_TRUE(Download(nullptr));
  EXPECT_EQ(big, fake::FileContent(kTarget).value_or("<missing>"));
  // 8192 + 8192 + 3616, then the end of the body.
  EXPECT_EQ(4, fake::HttpRequests().at(0).readCalls);
}

TEST_F(DownloadFileTest, BodyWithoutDeclaredLengthIsAcceptedWhole) {
  fake::HttpResponse r = Ok({"abc", "def"});
  r.contentLength.reset();
  fake::SetHttpResponse(kUrl, r);
  EXPECT_TRUE(Download(nullptr));
  EXPECT_EQ("abcdef", fake::FileContent(kTarget).value_or("<missing>"));
}

TEST_F(DownloadFileTest, SendsTheRequestTheServerExpects) {
  const std::wstring url = L"https://go.microsoft.com/fwlink/p/?LinkId=2124703";
  fake::SetHttpResponse(url, Ok({"MZ"}));
  ASSERT_TRUE(DownloadFile(kWebView2Host, kWebView2Path, kTarget, nullptr));
  ASSERT_EQ(1u, fake::HttpRequests().size());
  const fake::HttpRequestRecord& r = fake::HttpRequests()[0];
  EXPECT_EQ(L"TSL Installer/1.0", r.userAgent);
  EXPECT_EQ(60000u, r.sessionOptions.at(platform::kWinHttpOptionConnectTimeout));
  EXPECT_EQ(60000u, r.sessionOptions.at(platform::kWinHttpOptionReceiveTimeout));
  EXPECT_EQ(2u, r.sessionOptions.size()) << "send and resolve time-outs stay at their defaults";
  EXPECT_EQ(L"go.microsoft.com", r.host);
  EXPECT_EQ(443, r.port);
  EXPECT_EQ(L"GET", r.verb);
  EXPECT_EQ(L"/fwlink/p/?LinkId=2124703", r.objectName);
  EXPECT_EQ(platform::kWinHttpFlagSecure, r.flags);
  EXPECT_EQ(platform::kWinHttpRedirectPolicyDisallowHttpsToHttp,
            r.requestOptions.at(platform::kWinHttpOptionRedirectPolicy));
}

TEST_F(DownloadFileTest, FollowsHttpsRedirectsToAnotherHost) {
  fake::HttpResponse redirect;
  redirect.status = 302;
  redirect.location = L"https://cdn.maretto.example/files/v2/Velquist.exe";
  fake::SetHttpResponse(kUrl, redirect);
  fake::SetHttpResponse(L"https://cdn.maretto.example/files/v2/Velquist.exe", Ok({"MZ", "app"}));
  std::wstring error;
  EXPECT_TRUE(Download(&error)) << fake::ToUtf8(error);
  EXPECT_EQ("MZapp", fake::FileContent(kTarget).value_or("<missing>"));
  EXPECT_EQ(2u, fake::HttpRequests().at(0).urlsFetched.size());
}

TEST_F(DownloadFileTest, RefusedDowngradeNeverFetchesThePlainAddress) {
  fake::HttpResponse redirect;
  redirect.status = 301;
  redirect.location = L"http://deploy.maretto.example/executable/Velquist.exe";
  fake::SetHttpResponse(kUrl, redirect);
  fake::SetHttpResponse(redirect.location, Ok({"evil"}));
  std::wstring error;
  EXPECT_FALSE(Download(&error));
  EXPECT_EQ("Failed to receive HTTP response (error 12156)", fake::ToUtf8(error));
  EXPECT_EQ(1u, fake::HttpRequests().at(0).urlsFetched.size());
}

TEST_F(DownloadFileTest, CancelBeforeTheLastChunkStopsReading) {
  fake::SetHttpResponse(kUrl, Ok({"a", "b", "c", "d"}));
  fake::OnHttpRead([](int n) {
    if (n == 0) g_cancelRequested = true;
  });
  std::wstring error;
  EXPECT_FALSE(Download(&error));
  EXPECT_EQ("Download cancelled by user", fake::ToUtf8(error));
  EXPECT_EQ(1, fake::HttpRequests().at(0).readCalls) << "cancel is checked after each chunk";
}

TEST_F(DownloadFileTest, ReplacesAnExistingFileWhole) {
  fake::AddFile(kTarget, std::string(50000, 'o'));
  fake::SetHttpResponse(kUrl, Ok({"new"}));
  EXPECT_TRUE(Download(nullptr));
  EXPECT_EQ("new", fake::FileContent(kTarget).value_or("<missing>"));
}

}  // namespace
