// IsUrlValid, PostBytes and the URL-tokenizing service.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/log.h"
#include "base/wide_format.h"

#include "support/test_servers.h"
#include "utils/post_bytes.h"
#include "utils/tokenize_url.h"
#include "utils/url_probe.h"

namespace {

using stubframework::utils::ExtractTokenizedUrl;
using stubframework::utils::ReadTokenReply;
using stubframework::utils::TokenReplyFault;
using stubframework::utils::IsUrlValid;
using stubframework::utils::PostBytes;
using stubframework::utils::TokenizeUrl;
using stubframework::utils::TokenizeUrlAt;
using testsupport::UniqueKey;

class SimpleHttpTest : public testsupport::ServerTest {};

class LinesLog : public stubframework::base::Log {
 public:
  void Write(int, const wchar_t* format, va_list args) override {
    lines.push_back(stubframework::base::FormatV(format, args));
  }
  std::vector<std::wstring> lines;
};

TEST_F(SimpleHttpTest, OnlyAnOkAnswerMakesAUrlValid) {
  EXPECT_TRUE(IsUrlValid(servers().FaultUrl("/ok/" + UniqueKey() + "?size=10")));
  EXPECT_FALSE(IsUrlValid(servers().FaultUrl("/status/" + UniqueKey() + "?code=404")));
  std::string to = "http://127.0.0.1:" + std::to_string(servers().fault_port()) + "/ok/x";
  std::string key = UniqueKey();
  EXPECT_FALSE(IsUrlValid(servers().FaultUrl("/status/" + key + "?code=302&to=" + to)));
  EXPECT_FALSE(IsUrlValid(L"http://127.0.0.1:1/nothing-listens"));
}

TEST_F(SimpleHttpTest, PostSendsTheBodyAndReadsTheWholeAnswer) {
  std::string key = UniqueKey();
  std::string response;
  ASSERT_TRUE(PostBytes(servers().FaultUrl("/token/" + key + "/v1/token"), "http://cdn/x.bin", &response));
  EXPECT_EQ(response, "{\"status\":\"ok\",\"tokenizedUrl\":\"http://cdn/x.bin?token=" + key + "\"}");
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].method, "POST");
  EXPECT_EQ(asked[0].note, "body=http://cdn/x.bin");
}

TEST_F(SimpleHttpTest, PostReadsAnAnswerLongerThanOneReadStep) {
  std::string response;
  ASSERT_TRUE(PostBytes(servers().FaultUrl("/ok/" + UniqueKey() + "?size=200001"), "x", &response));
  EXPECT_EQ(response, testsupport::PatternBytes(200001));
}

TEST_F(SimpleHttpTest, PostRefusesOtherSchemesAndUnreachableHosts) {
  std::string response = "stale";
  EXPECT_FALSE(PostBytes(L"ftp://127.0.0.1/v1/token", "x", &response));
  EXPECT_TRUE(response.empty());
  EXPECT_FALSE(PostBytes(L"http://127.0.0.1:1/v1/token", "x", &response));
}

TEST(TokenizedUrl, TakesExactlyTheCharactersBetweenTheMembersQuotes) {
  EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedUrl\":\"http://a/b?t=1&u=2\"}"), L"http://a/b?t=1&u=2");
  EXPECT_EQ(ExtractTokenizedUrl(L"{\"x\":1, \"tokenizedUrl\": \"http://a\\/b\"}"), L"http://a\\/b");
  EXPECT_EQ(ExtractTokenizedUrl(L"{\"status\":\"ok\"}"), L"");
  EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedUrl\":\"unterminated"), L"");
  EXPECT_EQ(ExtractTokenizedUrl(L"{\"tokenizedUrl\":\"\"}"), L"");
}

// Only an https URL with a host replaces the address; anything else would let
// the service's answer downgrade or redirect a transfer.
TEST(TokenizedUrl, OnlyAnHttpsUrlWithAHostIsUsed) {
  const struct {
    const wchar_t* member;
    TokenReplyFault fault;
  } cases[] = {
      {L"https://cdn.example/a.bin?t=1", TokenReplyFault::kNone},
      {L"HTTPS://cdn.example/a.bin", TokenReplyFault::kNone},
      {L"https://cdn.example:8443/a.bin", TokenReplyFault::kNone},
      {L"https://cdn.example", TokenReplyFault::kNone},
      {L"https://cdn.example?t=1", TokenReplyFault::kNone},
      {L"", TokenReplyFault::kNoUrl},
      {L"http://cdn.example/a.bin?t=1", TokenReplyFault::kNotHttps},
      {L"HTTP://cdn.example/a.bin", TokenReplyFault::kNotHttps},
      {L"ftp://cdn.example/a.bin", TokenReplyFault::kNotHttps},
      {L"file://C:/Windows/a.bin", TokenReplyFault::kNotHttps},
      {L"\\\\host\\share\\a.bin", TokenReplyFault::kNotHttps},
      {L"C:\\a.bin", TokenReplyFault::kNotHttps},
      {L"javascript:alert(1)", TokenReplyFault::kNotHttps},
      {L"/relative/a.bin", TokenReplyFault::kNotHttps},
      {L"https:/cdn.example/a.bin", TokenReplyFault::kNotHttps},
      {L" https://cdn.example/a.bin", TokenReplyFault::kNotHttps},
      {L"https//cdn.example", TokenReplyFault::kNotHttps},
      {L"https://", TokenReplyFault::kMalformed},
      {L"https:///a.bin", TokenReplyFault::kMalformed},
      {L"https://:443/a.bin", TokenReplyFault::kMalformed},
      {L"https://cdn.example@elsewhere.example/a.bin", TokenReplyFault::kMalformed},
      {L"https://cdn.example/a b.bin", TokenReplyFault::kMalformed},
      {L"https://cdn.example/a.bin\r\nHost: x", TokenReplyFault::kMalformed},
      {L"https://cdn.example\\a.bin", TokenReplyFault::kMalformed},
      {L"https://cdn.\u00e9xample/a.bin", TokenReplyFault::kMalformed},
  };
  for (const auto& c : cases) {
    std::wstring answer = std::wstring(L"{\"status\":\"ok\",\"tokenizedUrl\":\"") + c.member + L"\"}";
    std::wstring url = L"https://origin.example/a.bin";
    EXPECT_EQ(ReadTokenReply(answer, &url), c.fault) << testing::PrintToString(std::wstring(c.member));
    EXPECT_EQ(url, c.fault == TokenReplyFault::kNone ? std::wstring(c.member) : L"https://origin.example/a.bin")
        << testing::PrintToString(std::wstring(c.member));
  }
  std::wstring url = L"kept";
  EXPECT_EQ(ReadTokenReply(L"{\"status\":\"ok\"}", &url), TokenReplyFault::kNoUrl);
  EXPECT_EQ(url, L"kept");
}

TEST_F(SimpleHttpTest, TokenizingReplacesTheUrlWithTheServicesAnswer) {
  std::string key = UniqueKey();
  std::wstring url = L"https://cdn.example/pkg/a.bin";
  LinesLog log;
  ASSERT_TRUE(TokenizeUrlAt(servers().FaultUrl("/token/" + key + "/v1/token"), url, &log));
  EXPECT_EQ(url, L"https://cdn.example/pkg/a.bin?token=" + std::wstring(key.begin(), key.end()));
  EXPECT_TRUE(log.lines.empty());

  // The body is UTF-8 without a terminator. The service here echoes it
  // unencoded, and a URL with characters outside ASCII is not used.
  key = UniqueKey();
  url = L"https://cdn.example/pkg/\u00e9t\u00e9.bin";
  EXPECT_FALSE(TokenizeUrlAt(servers().FaultUrl("/token/" + key + "/v1/token"), url, &log));
  EXPECT_EQ(url, L"https://cdn.example/pkg/\u00e9t\u00e9.bin");
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].note, "body=https://cdn.example/pkg/\xc3\xa9t\xc3\xa9.bin");
}

TEST_F(SimpleHttpTest, AnAnswerThatIsNotHttpsKeepsTheAddressAndSaysWhy) {
  std::string key = UniqueKey();
  std::wstring url = L"http://cdn.example/a.bin";
  LinesLog log;
  EXPECT_FALSE(TokenizeUrlAt(servers().FaultUrl("/token/" + key + "/v1/token"), url, &log));
  EXPECT_EQ(url, L"http://cdn.example/a.bin");
  EXPECT_EQ(servers().FaultRequests(key).size(), 1u) << "the service was asked";
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0], L"TokenizeUrl: answer not used, the answer's URL is not https; keeping http://cdn.example/a.bin");
}

TEST_F(SimpleHttpTest, AnswerWithoutTheMemberLeavesTheUrl) {
  std::wstring url = L"http://cdn.example/a.bin";
  EXPECT_FALSE(TokenizeUrlAt(servers().FaultUrl("/token/" + UniqueKey() + "/v1/token?mode=none"), url));
  EXPECT_EQ(url, L"http://cdn.example/a.bin");
  std::wstring empty;
  EXPECT_FALSE(TokenizeUrlAt(servers().FaultUrl("/token/" + UniqueKey() + "/v1/token"), empty));
}

TEST(TokenService, WithoutAConfiguredHostNothingIsTokenized) {
  if (stubframework::utils::kTokenServiceHost[0] != L'\0') GTEST_SKIP() << "this build names a token service";
  EXPECT_EQ(stubframework::utils::TokenServiceEndpoint(), L"");
  std::wstring url = L"http://cdn.example/a.bin";
  EXPECT_FALSE(TokenizeUrl(url));
  EXPECT_EQ(url, L"http://cdn.example/a.bin");
}

}  // namespace
