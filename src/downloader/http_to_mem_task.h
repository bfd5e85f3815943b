// HttpToMemTask: fetches a whole resource into one heap buffer sized by the
// first 200 response, and resumes a short body with a ranged request guarded
// by the entity tag it saw.
#pragma once

#include <string>

#include "downloader/interfaces.h"

namespace stubframework::downloader {

ITask* CreateHttpToMemTask(const std::wstring& url, ITaskCallback<HttpToMemResult&&>* callback, ILogger* logger);

}  // namespace stubframework::downloader
