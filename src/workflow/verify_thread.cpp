#include "workflow/verify_thread.h"

#include <memory>

#include "base/unique_handle.h"
#include "workflow/error_handle.h"

namespace stubframework::workflow {

namespace {

std::wstring LastComponent(const std::wstring& path) {
  size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// folder + "\" + name, without doubling the backslash of a root such as "D:\".
std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

bool Search(const std::wstring& folder, const std::wstring& relative_path, const std::wstring& file_name,
            const std::atomic<bool>& keep, std::wstring* common_folder) {
  WIN32_FIND_DATAW entry;
  base::UniqueFindHandle find(::FindFirstFileW(Join(folder, L"*").c_str(), &entry));
  if (!find) return false;
  do {
    const std::wstring name = entry.cFileName;
    const std::wstring full = Join(folder, name);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (name == L"." || name == L".." || (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
      if (Search(full, relative_path, file_name, keep, common_folder)) return true;
    } else {
      size_t at = full.find(relative_path);
      if (at != std::wstring::npos && name == file_name) {
        *common_folder = full;
        common_folder->erase(at, relative_path.size());
        return true;
      }
    }
  } while (keep && ::FindNextFileW(find.Get(), &entry));
  return false;
}

void RunVerifyJob(VerifyJob& job, htmlui::PageCallback& callback) {
  base::Log* log = job.host.log;
  const std::atomic<bool> to_the_end{true};
  const std::atomic<bool>& keep_searching = job.host.run != nullptr ? job.host.run->keep_searching() : to_the_end;
  SearchResult result = SearchPackage(job.root_folder, job.relative_path, keep_searching);
  job.host.properties().SetProperty(kPackagePathProperty, result.common_folder);
  const bool kept = keep_searching;
  base::LogDebug(log, L"VerifyThreadFunc parameters: %s - %s", job.root_folder.c_str(), job.relative_path.c_str());
  base::LogDebug(log, L"VerifyThreadFunc %d - %d ; common directory: %s", result.found ? 1 : 0, kept ? 1 : 0,
                 result.common_folder.c_str());
  int code = !kept ? kCancelled : (result.found ? kNoError : kFailure);
  callback.Call(code);
}

}  // namespace

SearchResult SearchPackage(const std::wstring& folder, const std::wstring& relative_path,
                           const std::atomic<bool>& keep) {
  SearchResult result;
  const std::wstring file_name = LastComponent(relative_path);
  if (file_name.empty()) return result;
  result.found = Search(folder, relative_path, file_name, keep, &result.common_folder);
  return result;
}

DWORD WINAPI VerifyThreadFunc(void* param) {
  std::unique_ptr<VerifyJob> job(static_cast<VerifyJob*>(param));
  htmlui::PageCallback callback(job->host.log, L"VerifyThreadFunc", job->callback_stream.Detach());
  if (callback.connected()) RunVerifyJob(*job, callback);
  return 0;
}

}  // namespace stubframework::workflow
