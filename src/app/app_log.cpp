#include "app/app_log.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <utility>

#include "base/no_follow.h"
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
  const std::wstring name = L"installer_log_" + TimestampForFileName(now) + L".txt";
  path_ = folder_ + name;
  // The folder is held while the log lives (nobody renames or replaces it
  // meanwhile) and the file is new and exactly in it, not through a link.
  base::HeldEntry folder = base::OpenNoFollow(folder_, std::wstring(), FILE_LIST_DIRECTORY,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!folder.handle || folder.is_link || !(folder.attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  folder_final_ = folder.final_path;
  base::HeldEntry file = base::OpenNoFollow(path_, base::JoinFinal(folder_final_, name), GENERIC_READ | GENERIC_WRITE,
                                            FILE_SHARE_READ, CREATE_NEW);
  if (!file.handle || !file.in_place) return;
  held_folder_ = std::move(folder.handle);
  // Text mode, appending; the handle is not inherited by the programs the stub starts.
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file.handle.Get()), _O_APPEND | _O_TEXT);
  if (descriptor == -1) return;
  file.handle.Release();  // the descriptor owns it now
  file_ = _fdopen(descriptor, "a+");
  if (file_ == nullptr) _close(descriptor);
}

AppLog::~AppLog() {
  if (link_ != nullptr) {
    link_->Cut();
    link_->Release();
  }
  Close();
  held_folder_.Reset();  // held without delete sharing: released before the deletion
  if (!folder_.empty()) base::DeleteFolderRecursive(folder_);
}

LogLink* AppLog::NewLink() {
  if (link_ != nullptr) link_->AddRef();
  return link_;
}

bool AppLog::KeepCopyIn(const std::wstring& temporary_path, const std::wstring& folder_name) const {
  if (path_.empty() || folder_final_.empty()) return false;
  // Each step decides on the handle it acts on: the temporary folder, the
  // kept folder in it (made now, or left by an earlier run), the new copy.
  base::HeldEntry temp = base::OpenNoFollow(temporary_path, std::wstring(), FILE_LIST_DIRECTORY,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!temp.handle || temp.is_link || !(temp.attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const std::wstring folder_path = base::WithTrailingBackslash(temporary_path) + folder_name;
  ::CreateDirectoryW(folder_path.c_str(), nullptr);
  base::HeldEntry folder = base::OpenNoFollow(folder_path, base::JoinFinal(temp.final_path, folder_name),
                                              FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!folder.handle || !folder.in_place || !(folder.attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  const std::wstring name = path_.substr(folder_.size());
  base::HeldEntry source = base::OpenNoFollow(path_, base::JoinFinal(folder_final_, name), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (!source.handle || !source.in_place) return false;
  base::HeldEntry target = base::OpenNoFollow(folder_path + L"\\" + name, base::JoinFinal(folder.final_path, name),
                                              GENERIC_WRITE, 0, CREATE_NEW);
  if (!target.handle || !target.in_place) return false;
  char buffer[64 * 1024];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(source.handle.Get(), buffer, sizeof(buffer), &read, nullptr)) return false;
    if (read == 0) return true;
    DWORD written = 0;
    if (!::WriteFile(target.handle.Get(), buffer, read, &written, nullptr) || written != read) return false;
  }
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
