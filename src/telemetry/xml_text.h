// Text inserted into the XML documents the reports send.
#pragma once

#include <string>

namespace stubframework::telemetry {

// `text` with the five XML special characters written as entities, so that
// any value (a channel, a language, a page's text) leaves the document well formed.
std::wstring EscapeXml(const std::wstring& text);

// "<name>" + escaped value + "</name>".
std::wstring XmlElement(const wchar_t* name, const std::wstring& value);

}  // namespace stubframework::telemetry
