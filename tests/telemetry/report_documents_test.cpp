// The rules around the documents the reports send: property order, escaping,
// status words, the region reply, query values, the pageview bytes. The exact
// bytes of each document are checked where the service receives them.
#include <gtest/gtest.h>

#include "telemetry/analytics.h"
#include "telemetry/pageview.h"
#include "telemetry/report_documents.h"
#include "telemetry/service_client.h"
#include "telemetry/status_words.h"
#include "telemetry/xml_text.h"

namespace stubframework::telemetry {
namespace {

ReportIdentity SampleIdentity() {
  ReportIdentity id;
  id.token = L"0F8E2C1A-1111-2222-3333-444455556666";
  id.country = L"244";
  id.product_id = L"Tessary";
  id.product_version = L"22.0.0.0";
  id.channel = L"test";
  id.install_language = L"English";
  id.os = L"Windows 10";
  id.language = L"Italian";
  id.architecture = L"x64";
  id.default_browser = L"Other";
  id.client_version = L"1.0";
  id.machine_id = L"P-001A2B3C-4D5E-001A-2B3C-4D5E001A2B3C";
  id.external_properties = {{L"propertyName1", L"propertyValue1"}};
  return id;
}

TEST(AnalyticsDocumentTest, PropertiesInKeyOrderAndNoElementForAnEmptyMap) {
  ReportIdentity id = SampleIdentity();
  id.external_properties = {{L"zeta", L"1"}, {L"Alpha", L"2"}, {L"alpha", L""}};
  std::wstring doc = AnalyticsDocument(id, L"completed");
  EXPECT_NE(doc.find(L"<externalProperties><property><name>Alpha</name><value>2</value></property><property>"
                     L"<name>alpha</name><value></value></property><property><name>zeta</name><value>1</value>"
                     L"</property></externalProperties></mainApp>"),
            std::wstring::npos)
      << doc.c_str();
  id.external_properties.clear();
  doc = AnalyticsDocument(id, L"completed");
  EXPECT_EQ(doc.find(L"externalProperties"), std::wstring::npos);
  EXPECT_NE(doc.find(L"<status>completed</status></mainApp><error></error>"), std::wstring::npos);
}

TEST(AnalyticsDocumentTest, EveryInsertedValueIsEscaped) {
  const std::wstring nasty = L"a<b>&\"c'";
  const std::wstring escaped = L"a&lt;b&gt;&amp;&quot;c&apos;";
  ReportIdentity id;
  for (std::wstring* field : {&id.token, &id.country, &id.product_id, &id.product_version, &id.channel,
                              &id.install_language, &id.os, &id.language, &id.architecture, &id.default_browser,
                              &id.client_version, &id.machine_id}) {
    *field = nasty;
  }
  id.external_properties = {{nasty, nasty}};
  std::wstring doc = AnalyticsDocument(id, nasty);
  size_t count = 0;
  for (size_t at = doc.find(escaped); at != std::wstring::npos; at = doc.find(escaped, at + 1)) ++count;
  EXPECT_EQ(count, 15u) << "twelve identity values, the status word, the property's name and value";
  EXPECT_EQ(doc.find(nasty), std::wstring::npos);
  EXPECT_EQ(doc.find(L"\""), std::wstring::npos);
}

TEST(XmlTextTest, TheFiveSpecialCharactersAndNothingElse) {
  EXPECT_EQ(EscapeXml(L"&<>\"'"), L"&amp;&lt;&gt;&quot;&apos;");
  EXPECT_EQ(EscapeXml(L"&amp;"), L"&amp;amp;") << "text is not taken for markup";
  EXPECT_EQ(EscapeXml(L"plain \u00e9 \u4e2d/;:="), L"plain \u00e9 \u4e2d/;:=");
  EXPECT_EQ(EscapeXml(L""), L"");
}

TEST(RegionReplyTest, FirstPairsOnlyAndAnExactTrue) {
  struct Case {
    const char* reply;
    const wchar_t* country;
    const wchar_t* is_embargo;
    bool embargoed;
  };
  const Case cases[] = {
      {"<r><country>131</country><isEmbargo>true</isEmbargo></r>", L"131", L"true", true},
      {"<r><country>131</country><isEmbargo>TRUE</isEmbargo></r>", L"131", L"TRUE", false},
      {"<r><country>203</country><isEmbargo>false</isEmbargo></r>", L"203", L"false", false},
      {"<country>1</country><country>2</country><isEmbargo>true</isEmbargo>", L"1", L"true", true},
      {"<country>131<isEmbargo>true</isEmbargo>", L"", L"true", true},
      {"</country>x<country>", L"", L"", false},
      {"<isEmbargo> true</isEmbargo>", L"", L" true", false},
      {"", L"", L"", false},
      {"<country>\xe9\xff</country>", L"\u00e9\u00ff", L"", false},
  };
  for (const Case& c : cases) {
    RegionReply reply = ParseRegionReply(c.reply);
    EXPECT_EQ(reply.country, c.country) << c.reply;
    EXPECT_EQ(reply.is_embargo, c.is_embargo) << c.reply;
    EXPECT_EQ(reply.embargoed(), c.embargoed) << c.reply;
  }
}

TEST(RegionReplyTest, ReadWhateverTheStatusAndEmptyWithoutAnAnswer) {
  const std::string body = "<r><country>131</country><isEmbargo>true</isEmbargo></r>";
  const struct {
    bool answered;
    DWORD status;
    const wchar_t* country;
    bool embargoed;
  } cases[] = {
      {true, 200, L"131", true}, {true, 299, L"131", true}, {true, 300, L"131", true},
      {true, 403, L"131", true}, {true, 451, L"131", true}, {true, 500, L"131", true},
      {false, 0, L"", false},    {false, 200, L"", false},
  };
  for (const auto& c : cases) {
    ServiceReply reply;
    reply.answered = c.answered;
    reply.status = c.status;
    reply.body = body;
    RegionReply read = RegionReplyOf(reply);
    EXPECT_EQ(read.country, c.country) << c.answered << " " << c.status;
    EXPECT_EQ(read.embargoed(), c.embargoed) << c.answered << " " << c.status;
  }
}

TEST(StatusWordTest, EveryCodeOfTheTableAndNothingElse) {
  const struct {
    int code;
    const wchar_t* word;
  } table[] = {
      {0, L"started"},           {1, L"completed"},
      {2, L"error occurred"},    {3, L"canceled"},
      {4, L"environment not supported"},
      {5, L"downloaded"},        {6, L"stub failed"},
      {71, L"modify completed"}, {72, L"modify error occurred"},
      {73, L"modify canceled"},  {81, L"repair completed"},
      {82, L"repair error occurred"},
      {83, L"repair canceled"},  {91, L"remove completed"},
      {92, L"remove error occurred"},
      {93, L"remove canceled"},
  };
  for (const auto& row : table) EXPECT_STREQ(StatusWord(row.code), row.word) << row.code;
  for (int code : {-1, 7, 70, 74, 80, 90, 94, 2147483647}) EXPECT_STREQ(StatusWord(code), L"") << code;
}

TEST(QueryValueTest, UnreservedBytesStayEverythingElseIsPercentEncoded) {
  EXPECT_EQ(EscapeQueryValue(L"0F8E2C1A-1111-2222-3333-444455556666"), L"0F8E2C1A-1111-2222-3333-444455556666");
  EXPECT_EQ(EscapeQueryValue(L"P-1&2 3/#?=\u00e9._~"), L"P-1%262%203%2F%23%3F%3D%C3%A9._~");
}

TEST(PageviewBytesTest, EachUnitNarrowedToItsLowByte) {
  EXPECT_EQ(NarrowToBytes(L"v=1&t=event"), "v=1&t=event");
  EXPECT_EQ(NarrowToBytes(L"\u00e9\u0141\uffff\u0100"), std::string("\xe9\x41\xff\x00", 4));
}

}  // namespace
}  // namespace stubframework::telemetry
