#include "app/app_log.h"

#include <windows.h>

#include "base/temp_folder.h"
#include "base/wide_format.h"

namespace stubframework::app {

namespace {

constexpr const char* kLevelWords[] = {"", "TRACE", "ERROR", "WARNING", "DEBUG"};

std::wstring TimestampForFileName(const SYSTEMTIME& t) {
  return base::Format(L"%4d%02d%02d%02d%02d%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

}  // namespace

const char* LogLevelWord(int level) {
  return level >= 0 && level <= kLogDebug ? kLevelWords[level] : "";
}

std::string LogLinePrefix(const SYSTEMTIME& t, int level) {
  char stamp[64] = {};
  // The runtime's _snprintf, not the C99 one: the format is plain, and the C99
  // family brings its own formatting engine along.
  _snprintf(stamp, sizeof(stamp) - 1, "%4d%02d%02d %02d:%02d:%02d %3d", t.wYear, t.wMonth, t.wDay, t.wHour,
           t.wMinute, t.wSecond, t.wMilliseconds);
  return std::string("[") + stamp + " " + LogLevelWord(level) + "] ";
}

AppLog::AppLog() {
  std::wstring temp = base::TemporaryPath();
  if (temp.empty()) return;
  folder_ = base::MakeUniqueFolder(temp);
  if (folder_.empty()) return;
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  path_ = folder_ + L"installer_log_" + TimestampForFileName(now) + L".txt";
  // Text mode, not inherited by the programs the stub starts.
  file_ = _wfopen(path_.c_str(), L"a+N");
}

AppLog::~AppLog() {
  Close();
  if (!folder_.empty()) base::DeleteFolderRecursive(folder_);
}

void AppLog::Write(int level, const wchar_t* format, va_list args) {
  if (file_ == nullptr || level > max_level_) return;
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  const std::wstring limited = base::LimitTextConversions(format, base::kMaxLoggedTextChars);
  std::string line = LogLinePrefix(now, level) + base::ToAnsi(base::FormatV(limited.c_str(), args)) + "\n";
  // Whole lines under the lock: concurrent writers never interleave.
  base::ScopedLock hold(lock_);
  if (file_ == nullptr) return;
  fwrite(line.data(), 1, line.size(), file_);
  fflush(file_);
}

void AppLog::Close() {
  base::ScopedLock hold(lock_);
  if (file_ != nullptr) {
    fclose(file_);
    file_ = nullptr;
  }
}

}  // namespace stubframework::app
