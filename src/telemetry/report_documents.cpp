#include "telemetry/report_documents.h"

#include "telemetry/xml_text.h"

namespace stubframework::telemetry {

namespace {

std::wstring Between(const std::wstring& text, const std::wstring& open, const std::wstring& close) {
  size_t start = text.find(open);
  size_t end = text.find(close);
  if (start == std::wstring::npos || end == std::wstring::npos || end < start + open.size()) return std::wstring();
  return text.substr(start + open.size(), end - start - open.size());
}

}  // namespace

std::wstring AnalyticsDocument(const ReportIdentity& id, const std::wstring& status_word) {
  std::wstring doc = L"<ORVIKAnalytics>";
  doc += XmlElement(L"requestToken", id.token);
  doc += XmlElement(L"country", id.country);
  doc += L"<mainApp>";
  doc += XmlElement(L"productId", id.product_id);
  doc += XmlElement(L"productVersion", id.product_version);
  doc += XmlElement(L"channelId", id.channel);
  doc += XmlElement(L"installLanguage", id.install_language);
  doc += XmlElement(L"status", status_word);
  if (!id.external_properties.empty()) {
    doc += L"<externalProperties>";
    for (const auto& [name, value] : id.external_properties) {
      doc += L"<property>" + XmlElement(L"name", name) + XmlElement(L"value", value) + L"</property>";
    }
    doc += L"</externalProperties>";
  }
  doc += L"</mainApp>";
  doc += L"<error></error>";
  doc += L"<userEnvironment>";
  doc += XmlElement(L"OS", id.os);
  doc += XmlElement(L"language", id.language);
  doc += XmlElement(L"architecture", id.architecture);
  doc += XmlElement(L"defaultBrowser", id.default_browser);
  doc += L"</userEnvironment>";
  doc += XmlElement(L"ORVIKVersion", id.client_version);
  doc += XmlElement(L"machineId", id.machine_id);
  doc += L"</ORVIKAnalytics>";
  return doc;
}

std::wstring RegionRequestDocument(const ReportIdentity& id) {
  return L"<RegionRestrictions>" + XmlElement(L"token", id.token) + XmlElement(L"productId", id.product_id) +
         XmlElement(L"productVersion", id.product_version) + XmlElement(L"channel", id.channel) +
         XmlElement(L"os", id.os) + XmlElement(L"machineId", id.machine_id) + L"</RegionRestrictions>";
}

std::wstring UserActivityDocument(const ReportIdentity& id, const std::wstring& activity) {
  return L"<UserActivity>" + XmlElement(L"token", id.token) + XmlElement(L"productId", id.product_id) +
         XmlElement(L"productVersion", id.product_version) + XmlElement(L"activity", activity) + L"</UserActivity>";
}

RegionReply ParseRegionReply(const std::string& reply) {
  std::wstring text;
  text.reserve(reply.size());
  for (char byte : reply) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
  RegionReply parsed;
  parsed.country = Between(text, L"<country>", L"</country>");
  parsed.is_embargo = Between(text, L"<isEmbargo>", L"</isEmbargo>");
  return parsed;
}

}  // namespace stubframework::telemetry
