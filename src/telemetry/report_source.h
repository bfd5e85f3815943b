// What the reports say about the run: the application fills it (its install
// context implements this), the telemetry floor only reads it.
#pragma once

#include <map>
#include <string>

namespace stubframework::telemetry {

struct ReportIdentity {
  std::wstring token;             // the run's request token
  std::wstring country;           // the user's nation id, decimal
  std::wstring product_id;
  std::wstring product_version;
  std::wstring channel;
  std::wstring install_language;  // English name of the chosen install language
  std::wstring os;                // system name
  std::wstring language;          // English name of the user's UI language
  std::wstring architecture;
  std::wstring default_browser;
  std::wstring client_version;
  std::wstring machine_id;
  std::map<std::wstring, std::wstring> external_properties;
};

class ReportSource {
 public:
  // The values as they stand now (settings are read through their caches).
  virtual ReportIdentity Identity() = 0;
  // The install status as stored.
  virtual int Status() = 0;

 protected:
  ~ReportSource() = default;
};

}  // namespace stubframework::telemetry
