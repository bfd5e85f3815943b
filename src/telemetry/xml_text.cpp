#include "telemetry/xml_text.h"

namespace stubframework::telemetry {

std::wstring EscapeXml(const std::wstring& text) {
  std::wstring escaped;
  escaped.reserve(text.size());
  for (wchar_t c : text) {
    switch (c) {
      case L'&': escaped += L"&amp;"; break;
      case L'<': escaped += L"&lt;"; break;
      case L'>': escaped += L"&gt;"; break;
      case L'"': escaped += L"&quot;"; break;
      case L'\'': escaped += L"&apos;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

std::wstring XmlElement(const wchar_t* name, const std::wstring& value) {
  return std::wstring(L"<") + name + L">" + EscapeXml(value) + L"</" + name + L">";
}

}  // namespace stubframework::telemetry
