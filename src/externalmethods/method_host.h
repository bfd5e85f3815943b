// What the script methods reach of the running application: its log, the
// property store, the settings key, the resume mode of the run, the bridge
// and the window side of the UI. The application implements it; a table
// built without one logs nothing and reaches no window.
#pragma once

#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/html_external.h"
#include "htmlui/ui_host.h"

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

  // What the maintenance and self-update methods copy for their work.
  // The product id setting.
  virtual std::wstring product_id() = 0;
  // Adds a file to the logs a failed run uploads. Called from worker threads
  // under the method table's lock.
  virtual void AddUploadFile(const std::wstring& path) = 0;
  // "uninstall" or "modify" when the command line asks for one (the stub was
  // started from the system's programs list).
  virtual bool uninstall_mode(std::wstring* mode) = 0;
  // "update=0" on the command line: this run must not update the stub again.
  virtual bool skip_self_update() = 0;
  // The newer stub's file name beside the running one, for the launcher
  // (empty: there is none to start). Called from worker threads under the
  // method table's lock.
  virtual void StoreUpdateStubName(const std::wstring& name) = 0;
  // Makes the run end with the exit code that hands over to the newer stub.
  // Called from worker threads under the method table's lock.
  virtual void StoreSelfUpdateExitCode() = 0;

 protected:
  ~MethodHost() = default;
};

}  // namespace stubframework::externalmethods
