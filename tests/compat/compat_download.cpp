// One download through the worker's transfer (retries, mapping, both paths),
// for the compatibility matrix against real servers: prints the worker's code,
// the seconds it took and the bytes published as the total.
//
//   compat_download URL TARGET plain|crc|verified [PAUSE_MS]
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/app_log.h"
#include "base/critical_section.h"
#include "base/property_bag.h"
#include "workflow/transfer_download_error.h"

using namespace stubframework;

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    fwprintf(stderr, L"usage: compat_download URL TARGET plain|crc|verified [PAUSE_MS]\n");
    return 2;
  }
  const std::wstring mode = argv[3];
  ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  app::AppLog log;
  base::PropertyBag bag;
  base::CriticalSection lock;
  base::LockedProperties properties(bag, lock);
  utils::DownloadHost host;
  host.log = &log;
  host.properties = &properties;
  workflow::TransferSettings settings;
  if (argc > 4) settings.retry_pause_ms = static_cast<DWORD>(_wtoi(argv[4]));
  workflow::TransferRequest request{argv[1], argv[2], false, mode == L"verified", mode == L"crc"};
  const ULONGLONG started = ::GetTickCount64();
  const int code = workflow::TransferDownloadError(host, request, settings);
  const double seconds = static_cast<double>(::GetTickCount64() - started) / 1000.0;
  wprintf(L"code=%d seconds=%.2f total=%ld log=%ls\n", code, seconds, properties.GetDownloadTotal(),
          log.path().c_str());
  fflush(stdout);
  ::CoUninitialize();
  return 0;
}
