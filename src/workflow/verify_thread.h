// The search for a package file on a medium or under a folder tree: finds the
// first file, depth first, whose path ends in a given relative path, and
// tells the page the folder that holds that relative path ("PackagePath").
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "workflow/maintenance_job.h"

namespace stubframework::workflow {

inline constexpr wchar_t kPackagePathProperty[] = L"PackagePath";

// `param` is a VerifyJob created with new; the worker owns and frees it. It
// searches while the run's keep-searching flag stays up (the method raises it,
// cancelVerifyThread and the closing run lower it; without a run, to the end). The
// page's function gets one call: kNoError (found), kFailure (not found) or
// kCancelled.
DWORD WINAPI VerifyThreadFunc(void* param);

struct SearchResult {
  bool found = false;
  // The found file's path with the relative path taken out (its first
  // occurrence): the folder that holds it, with its trailing backslash.
  std::wstring common_folder;
};

// Depth first under `folder`, in the order the file system lists entries;
// stops at the first match or when `keep_searching` falls. Folders that are
// reparse points (junctions, links) are not entered: they may lead back up
// the tree.
SearchResult SearchPackage(const std::wstring& folder, const std::wstring& relative_path,
                           const std::atomic<bool>& keep_searching);

}  // namespace stubframework::workflow
