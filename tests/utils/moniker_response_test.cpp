// Whether a URL-moniker response may be the file: the status, the length and
// the kind of body, judged before anything is written.
#include "utils/moniker_response.h"

#include <gtest/gtest.h>

namespace {

using stubframework::utils::IsHtmlContentType;
using stubframework::utils::JudgeMonikerResponse;
using stubframework::utils::MonikerResponse;
using stubframework::utils::ParseContentLength;
using stubframework::utils::UrlNamesHtmlDocument;

constexpr wchar_t kPackage[] = L"http://h/setup.exe?timestamp=20260101000000  0";

struct Case {
  const char* what;
  int status;
  int64_t length;
  const char* type;
  bool unchecked;
  HRESULT expected;
};

TEST(MonikerResponse, OnlyA200IsTheFileAndA404IsNotFound) {
  const Case cases[] = {
      {"200 with a length", 200, 1000, "", true, S_OK},
      {"200, empty body", 200, 0, "", true, S_OK},
      {"404", 404, 10, "text/html", true, INET_E_OBJECT_NOT_FOUND},
      {"404, a CRC follows", 404, 10, "", false, INET_E_OBJECT_NOT_FOUND},
      {"500", 500, 10, "", false, INET_E_DOWNLOAD_FAILURE},
      {"206 that nobody asked for", 206, 500, "", false, INET_E_DOWNLOAD_FAILURE},
      {"302 not followed", 302, 0, "", false, INET_E_DOWNLOAD_FAILURE},
      {"204", 204, 0, "", false, INET_E_DOWNLOAD_FAILURE},
      {"201", 201, 10, "", false, INET_E_DOWNLOAD_FAILURE},
      {"status unreadable", 0, 10, "", false, INET_E_DOWNLOAD_FAILURE},
      {"no length", 200, -1, "", true, INET_E_DOWNLOAD_FAILURE},
      {"no length, a CRC follows", 200, -1, "", false, S_OK},
      {"portal page", 200, 133, "text/html; charset=utf-8", true, INET_E_DOWNLOAD_FAILURE},
      {"portal page, a CRC follows", 200, 133, "text/html", false, S_OK},
      {"binary", 200, 133, "application/octet-stream", true, S_OK},
      {"plain text", 200, 133, "text/plain", true, S_OK},
  };
  for (const Case& c : cases) {
    MonikerResponse response;
    response.status = c.status;
    response.length = c.length;
    response.content_type = c.type;
    EXPECT_EQ(JudgeMonikerResponse(response, kPackage, c.unchecked), c.expected) << c.what;
  }
}

TEST(MonikerResponse, AnHtmlPageIsTheFileWhenTheUrlNamesOne) {
  MonikerResponse page;
  page.status = 200;
  page.length = 133;
  page.content_type = "TEXT/HTML";
  EXPECT_EQ(JudgeMonikerResponse(page, L"http://h/docs/readme.html?timestamp=1", true), S_OK);
  EXPECT_EQ(JudgeMonikerResponse(page, L"http://h/docs/readme.HTM", true), S_OK);
  EXPECT_EQ(JudgeMonikerResponse(page, L"http://h/setup.msi?next=/index.html", true), INET_E_DOWNLOAD_FAILURE);
}

TEST(MonikerResponse, UrlPathsThatNameAnHtmlDocument) {
  EXPECT_TRUE(UrlNamesHtmlDocument(L"http://h/a.html"));
  EXPECT_TRUE(UrlNamesHtmlDocument(L"https://h:8080/x/A.HtM#top"));
  EXPECT_TRUE(UrlNamesHtmlDocument(L"http://h/a.html?x=1&timestamp=2"));
  EXPECT_FALSE(UrlNamesHtmlDocument(L"http://h/a.exe?page=b.html"));
  EXPECT_FALSE(UrlNamesHtmlDocument(L"http://h/a.exe#b.html"));
  EXPECT_FALSE(UrlNamesHtmlDocument(L"http://h/html"));
  EXPECT_FALSE(UrlNamesHtmlDocument(L"http://h/a.xhtml.zip"));
  EXPECT_FALSE(UrlNamesHtmlDocument(L"http://host.html"));
  EXPECT_FALSE(UrlNamesHtmlDocument(L""));
}

TEST(MonikerResponse, HtmlContentTypesWithParametersAndCase) {
  EXPECT_TRUE(IsHtmlContentType("text/html"));
  EXPECT_TRUE(IsHtmlContentType(" Text/HTML ; charset=iso-8859-1"));
  EXPECT_FALSE(IsHtmlContentType("text/htmlx"));
  EXPECT_FALSE(IsHtmlContentType("application/xhtml+xml"));
  EXPECT_FALSE(IsHtmlContentType(""));
  EXPECT_FALSE(IsHtmlContentType(";text/html"));
}

TEST(MonikerResponse, ContentLengthIsDigitsOnlyAndBounded) {
  EXPECT_EQ(ParseContentLength("0"), 0);
  EXPECT_EQ(ParseContentLength("5368709120"), 5368709120LL) << "beyond 32 bits";
  EXPECT_EQ(ParseContentLength("999999999999999999"), 999999999999999999LL) << "18 digits";
  EXPECT_EQ(ParseContentLength("9999999999999999999"), -1) << "19 digits may overflow";
  EXPECT_EQ(ParseContentLength(""), -1);
  EXPECT_EQ(ParseContentLength("-5"), -1);
  EXPECT_EQ(ParseContentLength("12 "), -1);
  EXPECT_EQ(ParseContentLength("0x10"), -1);
}

}  // namespace
