// The XML documents the telemetry service receives and the region reply it
// sends: UTF-16 here, sent as UTF-8, no declaration, no blanks between
// elements. Every inserted value is escaped.
#pragma once

#include <string>

#include "telemetry/report_source.h"

namespace stubframework::telemetry {

// The start or end of a run, with the status word the report carries.
std::wstring AnalyticsDocument(const ReportIdentity& identity, const std::wstring& status_word);

// The question whether the product may be offered where the user is.
std::wstring RegionRequestDocument(const ReportIdentity& identity);

// One event the page reports.
std::wstring UserActivityDocument(const ReportIdentity& identity, const std::wstring& activity);

// What a region reply says: the texts between the first <country> and the
// first </country>, and likewise for <isEmbargo>; empty where the pair is missing.
struct RegionReply {
  std::wstring country;
  std::wstring is_embargo;

  // Only the exact text "true" restricts the user.
  bool embargoed() const { return is_embargo == L"true"; }
};

// Each byte of the reply is one character.
RegionReply ParseRegionReply(const std::string& reply);

}  // namespace stubframework::telemetry
