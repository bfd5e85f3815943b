#include "externalmethods/telemetry_methods.h"

#include "externalmethods/external_methods.h"
#include "externalmethods/script_call.h"
#include "telemetry/analytics.h"

namespace stubframework::externalmethods {

namespace {

telemetry::Analytics* AnalyticsOf(ExternalMethods& methods) {
  RunReports* reports = methods.reports();
  return reports == nullptr ? nullptr : reports->analytics();
}

}  // namespace

HRESULT IsInEmbargoedCountryMethod(ExternalMethods& methods, ScriptCall& call) {
  telemetry::RegionReply reply;
  if (telemetry::Analytics* analytics = AnalyticsOf(methods)) reply = analytics->CheckRegion();
  methods.properties().SetProperty(L"Country", reply.country);
  base::LogDebug(methods.log(), L"EMIsInEmbargoedCountry:Result: %s Country: %s", reply.is_embargo.c_str(),
                 reply.country.c_str());
  call.ReturnBool(reply.embargoed());
  return S_OK;
}

HRESULT TrackUserActivityMethod(ExternalMethods& methods, ScriptCall& call) {
  if (telemetry::Analytics* analytics = AnalyticsOf(methods)) analytics->TrackUserActivity(call.Text(0));
  return S_OK;
}

}  // namespace stubframework::externalmethods
