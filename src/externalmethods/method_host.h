// What the script methods reach of the running application: its log, the
// property store, the settings key, the resume mode of the run, the bridge,
// the window side of the UI and the telemetry reports. The application
// implements it; a table built without one logs nothing and reaches no window.
#pragma once

#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/html_external.h"
#include "htmlui/ui_host.h"
#include "telemetry/analytics.h"

namespace stubframework::externalmethods {

class MethodHost {
 public:
  virtual base::Log* log() = 0;
  // The run's store; the method table reaches it only under its own lock.
  virtual base::PropertyBag& properties() = 0;
  // The settings key of this run.
  virtual const std::wstring& settings_key() = 0;
  // The settings key of the product as installed, whatever root this run uses.
  virtual std::wstring base_reg_key() = 0;
  // NONE 0, DOWNLOADING 1, INSTALLING 2, from the command line.
  virtual int resume_mode() = 0;
  // The script bridge (window.external); null before it exists.
  virtual htmlui::HtmlExternal* external() = 0;
  // The window and dialog side of the UI while it is shown; null otherwise.
  virtual htmlui::UiHost* ui_host() = 0;
  // The reports to the telemetry service.
  virtual telemetry::Analytics* analytics() = 0;

 protected:
  ~MethodHost() = default;
};

}  // namespace stubframework::externalmethods
