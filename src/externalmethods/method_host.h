// What the script methods reach of the running application, in roles: a
// method body asks the table (ExternalMethods) for the one role it uses and
// sees nothing else. The application implements them all as MethodHost; a
// table built without one answers every role with null, logs nothing and
// reaches no window.
#pragma once

#include <windows.h>

#include <string>

#include "base/log.h"
#include "base/property_bag.h"
#include "htmlui/html_external.h"
#include "htmlui/ui_host.h"
#include "sysinfo/fact_source.h"
#include "telemetry/analytics.h"
#include "trust/release_key.h"
#include "workflow/package_folders.h"

namespace stubframework::externalmethods {

// The run's log.
class RunLog {
 public:
  virtual base::Log* log() = 0;

 protected:
  ~RunLog() = default;
};

// The page side: the script bridge and the window that shows it.
class PageSide {
 public:
  // The script bridge (window.external); null before it exists.
  virtual htmlui::HtmlExternal* external() = 0;
  // The window and dialog side of the UI while it is shown; null otherwise.
  virtual htmlui::UiHost* ui_host() = 0;

 protected:
  ~PageSide() = default;
};

// The run's state that workers carry with them and the registry methods root at.
class RunStore {
 public:
  // The run's store; the method table reaches it only under its own lock.
  virtual base::PropertyBag& properties() = 0;
  // The settings key of this run.
  virtual const std::wstring& settings_key() = 0;
  // The settings key of the product as installed, whatever root this run uses.
  virtual std::wstring base_reg_key() = 0;
  // NONE 0, DOWNLOADING 1, INSTALLING 2, from the command line.
  virtual int resume_mode() = 0;
  // The folders this run's downloads wrote into: below them, as below the
  // temporary folder, the end of the run may delete package folders.
  virtual workflow::DownloadFolders* download_folders() { return nullptr; }
  // What downloads, installs and the self-update must be signed with.
  virtual trust::ReleaseKey release_key() { return trust::ProductReleaseKey(); }

 protected:
  ~RunStore() = default;
};

// What the command line and the build say about this run; read-only.
class LaunchFacts {
 public:
  // The product id and version settings.
  virtual std::wstring product_id() = 0;
  virtual std::wstring product_version() = 0;
  // The stub file the user started (the "shortcut=" argument); empty without one.
  virtual std::wstring stub_path() = 0;
  // The pass-through text of the command line, put before installer parameters.
  virtual std::wstring passthrough() = 0;
  // "/QN" on the stub's own command line: installers run silently too.
  virtual bool silent_launch() = 0;
  // "uninstall" or "modify" when the command line asks for one (the stub was
  // started from the system's programs list).
  virtual bool uninstall_mode(std::wstring* mode) = 0;
  // "update=0" on the command line: this run must not update the stub again.
  virtual bool skip_self_update() = 0;
  // "x86" or "x64", found at start.
  virtual std::wstring architecture() = 0;
  virtual std::wstring machine_id() = 0;

 protected:
  ~LaunchFacts() = default;
};

// The reports to the telemetry service and the logs a failed run uploads.
class RunReports {
 public:
  virtual telemetry::Analytics* analytics() = 0;
  // Adds a file to the logs a failed run uploads. Called from worker threads
  // under the method table's lock.
  virtual void AddUploadFile(const std::wstring& path) = 0;

 protected:
  ~RunReports() = default;
};

// The hand-over to a newer stub at the end of the run.
class SelfUpdateHandover {
 public:
  // The newer stub's file name beside the running one, for the launcher
  // (empty: there is none to start). Called from worker threads under the
  // method table's lock.
  virtual void StoreUpdateStubName(const std::wstring& name) = 0;
  // Makes the run end with the exit code that hands over to the newer stub.
  // Called from worker threads under the method table's lock.
  virtual void StoreSelfUpdateExitCode() = 0;

 protected:
  ~SelfUpdateHandover() = default;
};

// The settings the pages record: channel, install status and language.
class RunSettings {
 public:
  // Each keeps the value and writes it under the settings key.
  virtual void SetChannel(const std::wstring& channel) = 0;
  // False, changing nothing, for a status the pages do not use (0 .. 6).
  virtual bool SetInstallStatus(int status) = 0;
  // A row of the language table becomes the install language and property
  // "lang" (the caller holds the method table's lock); false, changing
  // nothing, for a number outside the table.
  virtual bool SetInstallLanguage(int row) = 0;
  // Rows of the language table: for a Windows language id, and for a code
  // (rows 1 .. 107, compared exactly); 0 when nothing matches.
  virtual int LanguageForId(unsigned language_id) = 0;
  virtual int LanguageForCode(const std::wstring& code) = 0;

 protected:
  ~RunSettings() = default;
};

// The machine itself: what the system checks read, and the restart.
class MachineAccess {
 public:
  // Where the system checks read the machine; tests give other facts.
  virtual const sysinfo::FactSource& facts();
  // The restart request itself (ExitWindowsEx); tests put a recorder here.
  virtual bool RequestRestart(UINT flags, DWORD reason);

 protected:
  ~MachineAccess() = default;
};

// Every role at once: what the application implements. (The role with the
// most methods comes first: its overrides need no this-adjusting thunk.)
class MethodHost : public LaunchFacts,
                   public RunStore,
                   public RunSettings,
                   public RunLog,
                   public PageSide,
                   public RunReports,
                   public SelfUpdateHandover,
                   public MachineAccess {
 protected:
  ~MethodHost() = default;
};

// The machine's facts through `machine`, or the running machine's without one.
const sysinfo::FactSource& FactsOf(MachineAccess* machine);

}  // namespace stubframework::externalmethods
