// Whether the folder a file is about to be created in is where its path says,
// or a link someone planted on the way leads somewhere else. Decided on the
// folder's own handle (its final path), not on attributes: Wine shows a Unix
// link only by where the opened handle really is.
#pragma once

#include <string>
#include <vector>

namespace stubframework::base {

// A folder the system names itself (the user's profile and its folders, the
// program data and temporary folders) and where it really is. The system may
// link these elsewhere on purpose (a profile moved to another drive; Wine's
// user folders in the Linux home), so such a link is not a redirection.
struct SystemFolderPlace {
  std::wstring named;       // full path, as the system gives it
  std::wstring final_path;  // its handle's final path
};

// Pure: whether `final_path` (of the folder the full path `named` opened)
// is where `named` says. Both may carry a "\\?\" prefix and trailing "\";
// case is ignored. Where `named` lies under one of `places` (the longest that
// matches, whole components only), that prefix counts as its final path.
bool FolderIsWhereNamed(const std::wstring& named, const std::wstring& final_path,
                        const std::vector<SystemFolderPlace>& places);

// The system's folders that exist, each with its final path.
std::vector<SystemFolderPlace> SystemFolderPlaces();

// Whether the folder that would hold `target` is reached through no link but
// the system's own: judged at that folder, or, when it does not exist yet,
// at its deepest existing ancestor (folders created below it later are the
// caller's). False when no folder of the path can be opened.
bool TargetFolderIsUnredirected(const std::wstring& target);

}  // namespace stubframework::base
