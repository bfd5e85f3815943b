#include "workflow/install_executable.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "archive/package_extract.h"
#include "base/temp_folder.h"
#include "base/unique_handle.h"
#include "workflow/child_wait.h"
#include "workflow/download_properties.h"
#include "workflow/transfer_install_error.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kSetupProgram[] = L"setup.exe";

// Ticks for an estimated time, kept within the signed range the counters are read back in.
long TicksFor(int64_t seconds) {
  return static_cast<long>(std::clamp<int64_t>(seconds, LONG_MIN / kTicksPerSecond, LONG_MAX / kTicksPerSecond) *
                           kTicksPerSecond);
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && ::CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()),
                                                                 prefix.c_str(), static_cast<int>(prefix.size()),
                                                                 TRUE) == CSTR_EQUAL;
}

// A relative path that stays where it starts: no "." or ".." step, no other
// separator, no drive or stream.
bool IsPlainRelativePath(const std::wstring& path) {
  if (path.find_first_of(L"/:") != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    std::wstring step = path.substr(start, end - start);
    if (step == L"." || step == L"..") return false;
    start = end + 1;
  }
  return true;
}

bool IsHexName(const std::wstring& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
  });
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

// SHFileOperationW refuses paths of MAX_PATH characters or more; such a
// folder is left in place.
void DeleteUnzipFolder(const std::wstring& folder) {
  std::wstring path = WithoutTrailingBackslash(folder);
  if (path.empty() || path.size() >= MAX_PATH) return;
  std::vector<wchar_t> from(path.begin(), path.end());
  from.push_back(L'\0');
  from.push_back(L'\0');  // the list ends with an empty name
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.data();
  operation.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
  ::SHFileOperationW(&operation);
}

}  // namespace

bool IsExtractedPackage(const std::wstring& temp_path, const std::wstring& unzip_folder,
                        const std::wstring& setup_folder) {
  const std::wstring temp = base::WithTrailingBackslash(temp_path);
  if (temp_path.empty() || !StartsWithNoCase(unzip_folder, temp)) return false;
  if (!IsHexName(WithoutTrailingBackslash(unzip_folder.substr(temp.size())))) return false;
  const std::wstring unzip = base::WithTrailingBackslash(unzip_folder);
  const std::wstring setup = WithoutTrailingBackslash(setup_folder);
  if (setup.size() == unzip.size() - 1 && StartsWithNoCase(unzip, setup)) return true;  // the package's own root
  return StartsWithNoCase(setup_folder, unzip) && IsPlainRelativePath(setup_folder.substr(unzip.size()));
}

long ZipInstallTotal(long total, int64_t estimated_time) {
  return static_cast<long>(std::clamp<int64_t>(int64_t{total} + TicksFor(estimated_time), 0, LONG_MAX));
}

int InstallExecutable(const InstallerRun& run, const std::wstring& file, const std::wstring& params,
                      int64_t estimated_time) {
  base::LockedProperties& properties = *run.properties;
  if (estimated_time > 0) {
    properties.SetInstallCurrent(0);
    properties.SetInstallTotal(static_cast<unsigned long>(TicksFor(estimated_time)));
  }
  const std::wstring command_line = L"\"" + file + L"\" " + params;
  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  if (!::CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
    base::LogDebug(run.log, L"Install %s, CreateProcessW failed", command_line.c_str());
    return kFailure;
  }
  base::UniqueHandle process(created.hProcess);
  base::UniqueHandle thread(created.hThread);

  const bool ended = WaitForChild(process.Get(), run.stop_event(), run.tick_ms, [&] {
    long current = properties.GetInstallCurrent();
    if (current < properties.GetInstallTotal() - 1) properties.SetInstallCurrent(static_cast<unsigned long>(current + 1));
  });
  if (!ended) {
    base::LogDebug(run.log, L"Install %s, the run is closing: the installer goes on alone", command_line.c_str());
    return kCancelled;
  }
  properties.SetInstallCurrent(static_cast<unsigned long>(properties.GetInstallTotal()));
  DWORD raw = 0;
  ::GetExitCodeProcess(process.Get(), &raw);
  int code = TransferInstallError(run.log, raw);
  base::LogDebug(run.log, L"Install %s, return %d", command_line.c_str(), raw);
  run.StoreLastInstallError(raw);
  return code;
}

int InstallZipPackage(const InstallerRun& run, const std::wstring& zip_file, const std::wstring& params,
                      int64_t estimated_time) {
  base::LockedProperties& properties = *run.properties;
  std::wstring unzip_folder;
  std::wstring setup_folder;
  const bool extracted_before = properties.GetProperty(kIsExtractInDownload) == kTrue;
  if (extracted_before && run.extract_checked_package) {
    // What the download extracted lay open to change since; the checked ZIP is extracted again.
    const std::wstring earlier = properties.GetProperty(zip_file + kUnzipFolderSuffix);
    if (IsExtractedPackage(base::TemporaryPath(), earlier, earlier)) DeleteUnzipFolder(earlier);
  }
  if (!extracted_before || run.extract_checked_package) {
    int extracted = archive::ExtractPackage(run.log, run.bridge, zip_file, &unzip_folder, &setup_folder);
    if (extracted != kNoError) {
      // The folder was made for this package alone; nothing else will remove it.
      if (!unzip_folder.empty()) base::DeleteFolderRecursive(unzip_folder);
      return extracted;
    }
    const long total = ZipInstallTotal(properties.GetInstallTotal(), estimated_time);
    properties.SetInstallTotal(static_cast<unsigned long>(total));
    properties.SetInstallCurrent(static_cast<unsigned long>(total / 10));
  } else {
    unzip_folder = properties.GetProperty(zip_file + kUnzipFolderSuffix);
    setup_folder = properties.GetProperty(zip_file + kSetupFolderSuffix);
    // Anyone can write these names (a page, or HKCU before a restart): run
    // and delete only what the extraction made.
    if (!IsExtractedPackage(base::TemporaryPath(), unzip_folder, setup_folder)) {
      base::LogDebug(run.log, L"Install %s, no extracted package at %s", zip_file.c_str(), unzip_folder.c_str());
      return kFailure;
    }
  }
  int code = InstallExecutable(run, base::WithTrailingBackslash(setup_folder) + kSetupProgram, params, 0);
  DeleteUnzipFolder(unzip_folder);
  return code;
}

}  // namespace stubframework::workflow
