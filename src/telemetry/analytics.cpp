#include "telemetry/analytics.h"

namespace stubframework::telemetry {

// The telemetry service client is not part of this build yet: reports are not sent.
void Analytics::SendStartReport() {}
void Analytics::SendClosingReport() {}
void Analytics::UploadLogs() {}

}  // namespace stubframework::telemetry
