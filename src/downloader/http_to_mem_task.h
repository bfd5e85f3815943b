// HttpToMemTask: fetches a whole resource into one heap buffer sized by the
// first 200 response, and resumes a short body with a ranged request guarded
// by the entity tag it saw.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "downloader/interfaces.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {

// A body whose first bytes say how long it may be (a meta file starts with
// the size of the file it describes). Before a body longer than `size` bytes
// is allocated, its first `size` bytes are collected and `accept(head,
// length)` decides whether the length the server announced may be; a refused
// length ends the task with 0x80072EFB.
struct BodyHeadCheck {
  size_t size = 0;
  std::function<bool(const uint8* head, int64 length)> accept;
};

ITask* CreateHttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger);
// A body that goes idle short of its length is resumed like one that ended
// short, until the silences add up to `timeouts.stall_limit_ms`.
ITask* CreateHttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger,
                           const BodyHeadCheck& check, const TransferTimeouts& timeouts = TransferTimeouts());

}  // namespace stubframework::downloader
