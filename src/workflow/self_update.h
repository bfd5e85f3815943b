// Replacing the stub with a newer one: whether the served stub differs from
// the running one, the name the newer stub is saved under, and the worker
// that downloads it beside the running executable.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "base/log.h"
#include "base/unique_handle.h"
#include "htmlui/page_callback.h"
#include "trust/release_key.h"
#include "workflow/transfer_download_error.h"
#include "workflow/worker_host.h"

namespace stubframework::workflow {

// The full path of this process's executable; empty when it cannot be read.
std::wstring RunningExecutablePath();

// With a release key: whether the newer stub at `path` may run in place of
// `self_path` (the running stub). Its bytes must match the signed .meta that
// its download kept beside it, and it must carry a valid Authenticode
// signature by `self_path`'s own signer certificate in a tight certificate
// table. True with `held` open on it against writers and deleters (keep it
// until the newer stub has ended); false, logged, with nothing held. The
// worker checks after the download; whoever starts the file checks again.
bool HoldNewerStub(const trust::ReleaseKey& key, const std::wstring& path, const std::wstring& self_path,
                   base::UniqueHandle* held, base::Log* log);

// Whether the file served at `url` differs from `exe_path`: its meta
// (url + ".meta") answers 200 and either cannot be fetched or does not
// match every block of the file. A meta URL that does not answer 200
// (missing, redirected, unreachable) means there is nothing to update to.
bool IsNeedSelfUpdate(const std::wstring& url, const std::wstring& exe_path);

// The name the newer stub is saved under, from the last component of `url`:
// that name, or, when it is the running file's own name (in any letter case),
// its stem + "_update.exe". Empty when the URL's last component is not a
// plain file name (a query, a separator, a reserved character): the launcher
// would refuse to run it, and it could name another place.
std::wstring UpdateStubName(const std::wstring& url, const std::wstring& self_name);

// One selfUpdate call. Created by the script method, owned and freed by the worker.
struct SelfUpdateJob {
  WorkerHost host;
  std::wstring url;
  std::wstring self_path;  // the running executable: the new stub goes beside it
  htmlui::CallbackStream callback_stream;
  // Store the new stub's file name for the launcher, and the exit code that
  // tells the launcher a newer stub is ready.
  std::function<void(const std::wstring& name)> store_stub_name;
  std::function<void()> store_exit_code;
  // The product leaves it as it is; tests shorten the retry pause.
  TransferSettings transfer;
};

// `param` is a SelfUpdateJob created with new; the worker owns and frees it.
// The page's function gets (kRunning, total, current) while the new stub
// downloads and (code, total, current) once at the end. A transfer that did
// not succeed leaves no file for the launcher to start.
DWORD WINAPI SelfUpdateThreadFunc(void* param);

}  // namespace stubframework::workflow
