// MultiSourceTask: one block-verified download fetched over several
// connections at once, from one server or from several mirrors of the same
// file. Every 1 MiB block is proven against the meta as it arrives and only
// then written in place, so a bad block never lands over anything; a mirror
// that misbehaves is given up for the rest of the run and its blocks are
// fetched from the others. A destination left by an earlier run (of either
// engine) keeps every block that verifies.
#pragma once

#include <string>
#include <vector>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

struct MultiSourceRequest {
  std::vector<std::wstring> urls;       // mirrors of one file, most preferred first
  std::vector<std::wstring> meta_urls;  // their .meta, same order: the first that answers is used for all
  std::wstring path;                    // destination
  int connections = 1;                  // 1 to kMaxDownloadConnections requests in flight
  // A meta already fetched and checked (a signed one): when set, no .meta
  // is fetched.
  bool has_meta = false;
  std::string meta;
};

// Null when memory is missing or the request is malformed (no URL, a meta
// URL missing, a connection count out of range, no path). Takes a reference
// on the callback and on the logger; the caller owns the one returned.
ITask* CreateMultiSourceTask(const MultiSourceRequest& request, IDownloadCallback* callback, ILogger* logger);

}  // namespace stubframework::downloader
