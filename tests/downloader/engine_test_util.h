// Recording callbacks and a recording logger for the engine tests. Each
// callback counts its OnComplete calls and signals an event on the first.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "downloader/buffer.h"
#include "downloader/download_logger.h"
#include "downloader/interfaces.h"
#include "downloader/object.h"

namespace downloader = stubframework::downloader;

namespace testsupport {

using downloader::details::Object;

// Keeps every line as "context> message".
class RecordingLogger : public downloader::ILogger {
 public:
  void Log(const wchar_t* context, const wchar_t* format, ...) override {
    va_list args;
    va_start(args, format);
    std::wstring message = stubframework::downloader::FormatDownloadLogMessage(format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(mutex_);
    lines_.push_back(std::wstring(context) + L"> " + message);
  }
  std::vector<std::wstring> Lines() {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  bool Has(const std::wstring& line) {
    for (const auto& l : Lines()) {
      if (l == line) return true;
    }
    return false;
  }
  size_t CountContaining(const std::wstring& part) {
    size_t n = 0;
    for (const auto& l : Lines()) {
      if (l.find(part) != std::wstring::npos) ++n;
    }
    return n;
  }
  std::wstring Dump() {
    std::wstring all;
    for (const auto& l : Lines()) all += l + L"\n";
    return all;
  }

 private:
  std::mutex mutex_;
  std::vector<std::wstring> lines_;
};

// Base for the recording callbacks: one manual-reset event, an end counter.
class Completion {
 public:
  Completion() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~Completion() { ::CloseHandle(event_); }
  bool Wait(DWORD ms = 60000) { return ::WaitForSingleObject(event_, ms) == WAIT_OBJECT_0; }
  int completions() const { return completions_; }
  long result() const { return result_; }
  DWORD complete_thread() const { return complete_thread_; }

 protected:
  void Complete(long result) {
    result_ = result;
    complete_thread_ = ::GetCurrentThreadId();
    if (++completions_ == 1) ::SetEvent(event_);
  }

 private:
  HANDLE event_;
  std::atomic<int> completions_{0};
  std::atomic<long> result_{0};
  std::atomic<DWORD> complete_thread_{0};
};

class HttpRecorder : public downloader::IHttpCallback, public Completion {
 public:
  void OnComplete(long result) override { Complete(result); }
  void OnHttpHeader(const downloader::HttpHeader& header) override {
    std::lock_guard<std::mutex> hold(mutex_);
    headers_.push_back(header);
  }
  void OnData(const downloader::Buffer& buffer) override {
    std::lock_guard<std::mutex> hold(mutex_);
    ++chunks_;
    body_.append(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  }
  std::vector<downloader::HttpHeader> headers() {
    std::lock_guard<std::mutex> hold(mutex_);
    return headers_;
  }
  std::string body() {
    std::lock_guard<std::mutex> hold(mutex_);
    return body_;
  }
  int chunks() {
    std::lock_guard<std::mutex> hold(mutex_);
    return chunks_;
  }

 private:
  std::mutex mutex_;
  std::vector<downloader::HttpHeader> headers_;
  std::string body_;
  int chunks_ = 0;
};

class MemRecorder : public downloader::ITaskCallback<downloader::HttpToMemResult&&>, public Completion {
 public:
  void OnComplete(downloader::HttpToMemResult&& result) override {
    data_null_ = result.data == nullptr;
    size_ = result.size;
    if (result.data != nullptr) bytes_.assign(reinterpret_cast<const char*>(result.data), result.size);
    Complete(result.result);
  }
  const std::string& bytes() const { return bytes_; }
  size_t size() const { return size_; }
  bool data_null() const { return data_null_; }

 private:
  std::string bytes_;
  size_t size_ = 0;
  bool data_null_ = false;
};

class FileRecorder : public downloader::IHttpToFileCallback, public Completion {
 public:
  void OnData(downloader::int64 offset, downloader::int64 size) override {
    std::lock_guard<std::mutex> hold(mutex_);
    reports_.push_back({offset, size});
  }
  void OnComplete(long result) override { Complete(result); }
  std::vector<std::pair<downloader::int64, downloader::int64>> reports() {
    std::lock_guard<std::mutex> hold(mutex_);
    return reports_;
  }
  downloader::int64 reported_bytes() {
    downloader::int64 n = 0;
    for (auto& r : reports()) n += r.second;
    return n;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<downloader::int64, downloader::int64>> reports_;
};

// Holds one reference on an engine object and drops it at scope end.
template <typename T>
class Ref {
 public:
  explicit Ref(T* p = nullptr) : p_(p) {}
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      if (p_ != nullptr) p_->Release();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_;
};

template <typename T>
Ref<Object<T>> Make() {
  return Ref<Object<T>>(Object<T>::Create());
}

// A temporary file path in the Wine prefix's temp folder.
inline std::wstring TempFilePath(const std::wstring& stem) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + stem + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         std::to_wstring(::GetTickCount()) + L".tmp";
}

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace testsupport
