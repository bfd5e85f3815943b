// Which results end a download for good, and which redirects are followed:
// rules both download paths share.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include "downloader/final_results.h"
#include "downloader/redirects.h"
#include "downloader/resume_validator.h"
#include "downloader/result_codes.h"

namespace stubframework::downloader {
namespace {

TEST(FinalResultsTest, EveryCertificateRefusalBecomesOneResultThatIsNotRetried) {
  struct Case {
    const char* what;
    long result;
    bool refusal;
  };
  const Case cases[] = {
      {"expired, as WinINet reports it", ERROR_INTERNET_SEC_CERT_DATE_INVALID, true},
      {"expired, made an HRESULT by the engine", ResultFromWin32(ERROR_INTERNET_SEC_CERT_DATE_INVALID), true},
      {"untrusted CA", ResultFromWin32(ERROR_INTERNET_INVALID_CA), true},
      {"another name", ResultFromWin32(ERROR_INTERNET_SEC_CERT_CN_INVALID), true},
      {"revoked", ResultFromWin32(ERROR_INTERNET_SEC_CERT_REVOKED), true},
      {"invalid", ResultFromWin32(ERROR_INTERNET_SEC_INVALID_CERT), true},
      {"handshake", ResultFromWin32(ERROR_INTERNET_SECURITY_CHANNEL_ERROR), true},
      {"the moniker's security problem", static_cast<long>(0x800C000E), true},
      {"the moniker's invalid certificate", static_cast<long>(0x800C0019), true},
      // Neighbours that are not about certificates.
      {"timeout", ResultFromWin32(ERROR_INTERNET_TIMEOUT), false},
      {"connection reset", ResultFromWin32(ERROR_INTERNET_CONNECTION_RESET), false},
      {"decoding failed (12175)", ResultFromWin32(12175), false},
      {"INET_E_DOWNLOAD_FAILURE", static_cast<long>(0x800C0008), false},
      {"ok", kResultOk, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsCertificateRefusal(c.result), c.refusal);
    EXPECT_EQ(NormalizeResult(c.result), c.refusal ? kResultCertificateRefused : c.result);
    EXPECT_EQ(IsFinalResult(c.result), c.refusal);
  }
}

TEST(FinalResultsTest, RedirectFailuresAndLinkTargetsAreFinalButPassUnchanged) {
  for (long result : {kResultRedirectFailed, kResultTargetIsLink}) {
    EXPECT_TRUE(IsFinalResult(result));
    EXPECT_EQ(NormalizeResult(result), result);
  }
  for (long result : {kResultFail, kResultAbort, kResultShortRead, kResultDiskFull}) {
    EXPECT_FALSE(IsFinalResult(result)) << std::hex << result;
  }
}

TEST(RedirectRulesTest, OnlyTheRedirectStatusesWithALocationAreFollowed) {
  for (int status : {301, 302, 303, 307, 308}) EXPECT_TRUE(IsRedirectStatus(status)) << status;
  for (int status : {200, 206, 300, 304, 305, 306, 309, 404}) EXPECT_FALSE(IsRedirectStatus(status)) << status;
}

TEST(RedirectRulesTest, AHopThatLeavesTlsIsADowngrade) {
  struct Case {
    const wchar_t* from;
    const wchar_t* to;
    bool downgrade;
  };
  const Case cases[] = {
      {L"https://a/x", L"http://a/x", true},
      {L"HTTPS://a/x", L"http://b/y", true},
      {L"https://a/x", L"ftp://a/x", true},
      {L"https://a/x", L"", true},
      {L"https://a/x", L"https://b/y", false},
      {L"https://a/x", L"HTTPS://b/y", false},
      {L"http://a/x", L"http://b/y", false},
      {L"http://a/x", L"https://b/y", false},
      {L"httpsx://a", L"http://a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSecurityDowngrade(c.from, c.to), c.downgrade) << c.from << L" -> " << c.to;
  }
}

TEST(ResumeValidatorTest, AStrongETagElseTheDateElseNothing) {
  struct Case {
    const char* etag;
    const char* last_modified;
    const char* chosen;
  };
  const Case cases[] = {
      {"\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT", "\"abc\""},
      {"W/\"abc\"", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"w/\"abc\"", "", ""},
      {"", "Tue, 01 Dec 2026 10:00:00 GMT", "Tue, 01 Dec 2026 10:00:00 GMT"},
      {"\"a\"\r\nX: 1", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseValidator(c.etag, c.last_modified), c.chosen) << c.etag;
}

TEST(ResumeValidatorTest, OnlyPrintableTextOfBoundedLengthIsUsable) {
  EXPECT_TRUE(IsUsableValidator("x"));
  EXPECT_TRUE(IsUsableValidator(std::string(kMaxValidatorLength, '~')));
  EXPECT_FALSE(IsUsableValidator(std::string(kMaxValidatorLength + 1, 'a')));
  EXPECT_FALSE(IsUsableValidator(""));
  for (char bad : {'\r', '\n', '\0', '\t', '\x7F', '\x80'}) {
    EXPECT_FALSE(IsUsableValidator(std::string("\"a") + bad + "\"")) << static_cast<int>(bad);
  }
}

}  // namespace
}  // namespace stubframework::downloader
