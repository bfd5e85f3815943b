// The script methods that reach the telemetry service: isInEmbargoedCountry
// and trackUserActivity. The dispatcher has checked the call and logged the
// tag before either runs.
#pragma once

#include <windows.h>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// isInEmbargoedCountry(): asks the service, sets "Country" to the country it
// names and answers whether the user's region is restricted. Blocks the page
// until the reply has been read.
HRESULT IsInEmbargoedCountryMethod(ExternalMethods& methods, ScriptCall& call);
// trackUserActivity(activity): sends the event from a thread of its own and
// returns at once.
HRESULT TrackUserActivityMethod(ExternalMethods& methods, ScriptCall& call);

}  // namespace stubframework::externalmethods
