// IsUrlValid, PostBytes and the URL-tokenizing service.
#include <gtest/gtest.h>

#include "support/test_servers.h"
#include "utils/post_bytes.h"
#include "utils/tokenize_url.h"
#include "utils/url_probe.h"

namespace {

using stubframework::utils::ExtractTokenizedUrl;
using stubframework::utils::IsUrlValid;
using stubframework::utils::PostBytes;
using stubframework::utils::TokenizeUrl;
using stubframework::utils::TokenizeUrlAt;
using testsupport::UniqueKey;

class SimpleHttpTest : public testsupport::ServerTest {};

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

TEST_F(SimpleHttpTest, TokenizingReplacesTheUrlWithTheServicesAnswer) {
  std::string key = UniqueKey();
  std::wstring url = L"http://cdn.example/pkg/\u00e9t\u00e9.bin";
  ASSERT_TRUE(TokenizeUrlAt(servers().FaultUrl("/token/" + key + "/v1/token"), url));
  EXPECT_EQ(url, L"http://cdn.example/pkg/\u00e9t\u00e9.bin?token=" + std::wstring(key.begin(), key.end()));
  auto asked = servers().FaultRequests(key);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].note, "body=http://cdn.example/pkg/\xc3\xa9t\xc3\xa9.bin");  // UTF-8, no terminator
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
