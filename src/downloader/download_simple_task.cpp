// DownloadSimpleTask's flow: one sub-task at a time in `current_`.
//
//   Start -----------------------------------------> StartMeta (HttpToMemTask)
//   OnMetaComplete --a meta that parses-------------> PrepareStart (checks,
//                    the file sized), StartHash from block 0
//   OnHash         --a digest: matches--------------> verified_ + 1, progress
//                  --mismatch------------------------> the pass is cancelled
//   OnHashComplete --every block verified-----------> Finish(0)
//                  --short, a cycle proved nothing
//                    kMaxFruitlessCycles times-------> StartMeta once more
//                    (past every cache), then Finish(block unverifiable)
//                  --short---------------------------> StartDownload from the
//                    first unverified block (HttpToFileTask, a block follower
//                    hashing behind it)
//   OnDownloadComplete --all bytes in---------------> StartHash (over the
//                        follower's digests)
//                      --a failure------------------> Finish(failure)
//   Cancel / Finish --> Abort cancels `current_`, whose end ends this task
//
// Threads: the meta and transfer handlers run on WinINet's threads, the hash
// handlers on the hash pass's thread; each starts its work between Enter and
// Leave; Cancel may come from any thread.
#include "downloader/download_simple_task.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/unique_handle.h"
#include "base/unredirected_folder.h"
#include "downloader/block_follower.h"
#include "downloader/download_clock.h"
#include "downloader/download_meta.h"
#include "downloader/forwarding_callbacks.h"
#include "downloader/hash_task.h"
#include "downloader/http_to_file_task.h"
#include "downloader/http_to_mem_task.h"
#include "downloader/object.h"
#include "downloader/resume_validator.h"
#include "downloader/result_codes.h"
#include "downloader/sub_task_slot.h"
#include "downloader/task_lock.h"

namespace stubframework::downloader {
namespace {

using stubframework::base::UniqueHandle;

// Download cycles in a row that prove no new block before the task gives up:
// the meta and the file on the server disagree (a damaged meta, or a file
// replaced after its meta was read), and fetching again will not help.
constexpr int kMaxFruitlessCycles = 3;

// The folder part of a path ("C:\dir\" of "C:\dir\file"); empty without one.
std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Bytes the destination already holds; 0 when it does not exist.
int64 ExistingSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<int64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class DownloadSimpleTask : public ITask, public details::TaskLock<DownloadSimpleTask, long> {
 public:
  using DownloadMetaCallback = details::MetaForwarder<DownloadSimpleTask>;
  using HashCallback = details::HashForwarder<DownloadSimpleTask>;

  // Forwards the file transfer's events; like the forwarders above.
  class DownloadFileCallback : public IHttpToFileCallback {
   public:
    explicit DownloadFileCallback(DownloadSimpleTask* owner) : owner_(owner) {}
    void OnComplete(long hr) override {
      details::ScopedReference hold(owner_);
      owner_->OnDownloadComplete(hr);
    }
    void OnData(int64 offset, int64 size) override { owner_->OnDownloadProgress(offset, size); }
    void OnValidator(const std::string& validator) override { owner_->OnValidator(validator); }

   private:
    DownloadSimpleTask* owner_;
  };

  DownloadSimpleTask(const std::wstring& url, const std::wstring& metaUrl, const std::wstring& path,
                     IDownloadCallback* callback, ILogger* logger, const std::string* meta,
                     const TransferTimeouts& timeouts)
      : url_(url), metaUrl_(metaUrl), path_(path), callback_(callback), timeouts_(timeouts), logger_(logger) {
    if (meta != nullptr) {
      given_meta_ = *meta;
      has_given_meta_ = true;
      meta_fetched_again_ = true;  // a fetched one would not be the one checked
    }
    callback_->AddRef();
    logger_->AddRef();
  }

  ~DownloadSimpleTask() {
    StopFollower();
    current_.Reset();
    if (callback_ != nullptr) callback_->Release();
    logger_->Release();
  }

  void Start() override;
  void Cancel() override;
  void Abort() { current_.Cancel(); }

  long result = 0;

 private:
  friend DownloadMetaCallback;
  friend HashCallback;

  bool StartMeta();
  void OnMetaComplete(const HttpToMemResult& meta);
  bool PrepareStart();
  bool FitsFreeSpace();
  bool VolumeHolds(int64 size, unsigned long long* available) const;
  bool StartHash();
  void OnHash(const uint8 digest[kDigestSize]);
  void OnHashComplete(HashResult hashResult);
  bool StartDownload();
  void OnDownloadProgress(int64 offset, int64 size);
  void OnValidator(const std::string& validator);
  void OnDownloadComplete(long hr);
  void EarlyEnd();
  void End();
  void DeliverEnd();
  void ReportProgress() { callback_->OnProgress(progress_, total_); }
  void StopFollower();
  size_t BlockTotal() const { return meta_.digests.size(); }

  std::wstring url_;
  std::wstring metaUrl_;
  std::wstring path_;
  IDownloadCallback* callback_;
  TransferTimeouts timeouts_;
  details::SubTaskSlot current_;
  // Hashes the blocks of the running transfer as they are written; the hash
  // pass after the transfer takes it over.
  details::DigestLanes* follower_ = nullptr;
  DownloadMeta meta_;
  UniqueHandle file_;
  std::string validator_;  // of the bytes in the file, kept beside it
  size_t verified_ = 0;
  size_t cycle_start_ = 0;   // verified_ when the current download cycle began
  bool in_cycle_ = false;    // a download preceded the running hash pass
  int fruitless_cycles_ = 0;
  bool meta_fetched_again_ = false;  // once per task, after fruitless cycles
  std::string given_meta_;           // the caller's .meta, used instead of a fetch
  bool has_given_meta_ = false;
  std::atomic<long> meta_refusal_{0};  // why the meta's head was refused before its body: disk full or invalid
  int64 progress_ = 0;
  int64 total_ = 0;
  ILogger* logger_;
};

void DownloadSimpleTask::Start() {
  // The end may come synchronously, and its callback may drop the caller's
  // reference: keep this object alive until Start returns.
  details::ScopedReference hold(this);
  Begin();
  logger_->Log(L"DownloadSimpleTask::Start", L"Start download %s to %s.", url_.c_str(), path_.c_str());
  int64 started = MarkDownloadStart();
  logger_->Log(L"DownloadStartTime::Start", L"Download start time %d", static_cast<int>(started));
  AddRef();
  if (StartMeta()) {
    Leave();
    return;
  }
  EarlyEnd();
}

void DownloadSimpleTask::Cancel() {
  details::ScopedReference hold(this);
  logger_->Log(L"DownloadSimpleTask::Cancel", L"Cancel.");
  Finish(kResultAbort);
}

bool DownloadSimpleTask::StartMeta() {
  const wchar_t* kContext = L"DownloadSimpleTask::StartMeta";
  if (has_given_meta_) {
    // As if fetched: parsed, checked against the volume, then the hash pass.
    HttpToMemResult given;
    given.data = reinterpret_cast<uint8*>(given_meta_.data());
    given.size = given_meta_.size();
    OnMetaComplete(given);
    return true;
  }
  DownloadMetaCallback* callback = details::Object<DownloadMetaCallback>::Create(this);
  if (callback == nullptr) {
    logger_->Log(kContext, L"Create DownloadMetaCallback failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  // A meta longer than the size it announces needs is refused before the
  // length the server claims for it is allocated.
  // So is the meta of a file the volume cannot hold: a head may announce
  // 2^26 blocks, whose meta alone is over a gigabyte. A meta whose length
  // matches its head is then disk full; one whose length does not is invalid
  // (a damaged head) and would be refused once read.
  BodyHeadCheck head;
  head.size = kMetaSizeField;
  head.accept = [this](const uint8* bytes, int64 length) {
    if (!MetaLengthFitsHead(bytes, length)) return false;
    const int64 size = MetaHeadSize(bytes);
    unsigned long long available = 0;
    if (VolumeHolds(size, &available)) return true;
    if (length == MetaLength(size)) {
      logger_->Log(L"DownloadSimpleTask::StartMeta", L"Not enough disk space %lld/%llu.", size, available);
      meta_refusal_ = kResultDiskFull;
    } else {
      meta_refusal_ = kResultFail;
    }
    return false;
  };
  ITask* task = CreateHttpToMemTask(metaUrl_, callback, logger_, head, timeouts_);
  callback->Release();
  if (task == nullptr) {
    logger_->Log(kContext, L"Create HttpToMemTask failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  current_.Set(task);
  task->Start();
  return true;
}

void DownloadSimpleTask::OnMetaComplete(const HttpToMemResult& meta) {
  if (!Enter()) {
    EarlyEnd();
    return;
  }
  if (meta.result < 0 && meta_refusal_ == kResultFail) {
    logger_->Log(L"DownloadSimple::OnMetaComplete", L"CreateDownloadMetaSimple failed.");
  }
  if (meta.result < 0) {
    Finish(meta_refusal_ != 0 ? meta_refusal_.load() : meta.result);
    EarlyEnd();
    return;
  }
  if (!ParseDownloadMeta(meta.data, meta.size, &meta_)) {
    logger_->Log(L"DownloadSimple::OnMetaComplete", L"CreateDownloadMetaSimple failed.");
    Finish(kResultFail);
    EarlyEnd();
    return;
  }
  total_ = meta_.size;
  progress_ = 0;
  ReportProgress();
  if (!PrepareStart()) {
    EarlyEnd();
    return;
  }
  current_.Reset();
  if (StartHash()) {
    Leave();
    return;
  }
  End();
}

// The file is sized up front; a size the volume cannot hold is refused with
// the disk-full result before anything is created or extended (a file system
// with sparse files would otherwise accept any size).
bool DownloadSimpleTask::FitsFreeSpace() {
  unsigned long long available = 0;
  if (VolumeHolds(total_, &available)) return true;
  logger_->Log(L"DownloadSimpleTask::PrepareStart", L"Not enough disk space %lld/%llu.", total_ - ExistingSize(path_),
               available);
  Finish(kResultDiskFull);
  return false;
}

// Whether the destination's volume can take the file at `size` bytes, with
// what the destination holds already; true when the free space is unknown
// (sizing the file then reports a real shortage itself).
bool DownloadSimpleTask::VolumeHolds(int64 size, unsigned long long* available) const {
  int64 needed = size - ExistingSize(path_);
  if (needed <= 0) return true;
  std::wstring folder = FolderOf(path_);
  ULARGE_INTEGER free_bytes;
  if (!::GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &free_bytes, nullptr, nullptr)) return true;
  *available = free_bytes.QuadPart;
  return static_cast<unsigned long long>(needed) <= free_bytes.QuadPart;
}

bool DownloadSimpleTask::PrepareStart() {
  const wchar_t* kContext = L"DownloadSimpleTask::PrepareStart";
  // A folder on the way that is a link (not one the system made) would take
  // every write below, the side file's removal included, somewhere else.
  if (!base::TargetFolderIsUnredirected(path_)) {
    logger_->Log(kContext, L"The target's folder is reached through a link; refused: %s.", path_.c_str());
    Finish(kResultTargetIsLink);
    return false;
  }
  if (!FitsFreeSpace()) return false;
  // A link at the target would make the elevated stub write wherever it
  // leads: the name is checked, then the handle (the name may change between).
  // Bytes left by an earlier process resume only under the validator that
  // process saw; without bytes, an old side file means nothing.
  if (ExistingSize(path_) > 0) {
    validator_ = ReadValidator(path_);
  } else {
    RemoveValidator(path_);
  }
  if (IsLink(::GetFileAttributesW(path_.c_str()))) {
    logger_->Log(kContext, L"The target is a link; refused: %s.", path_.c_str());
    Finish(kResultTargetIsLink);
    return false;
  }
  file_.Reset(::CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file_) return FinishWithLastError(logger_, kContext, L"CreateFileW failed %u.");
  BY_HANDLE_FILE_INFORMATION opened;
  if (!::GetFileInformationByHandle(file_.Get(), &opened) || IsLink(opened.dwFileAttributes)) {
    logger_->Log(kContext, L"The target is a link; refused: %s.", path_.c_str());
    Finish(kResultTargetIsLink);
    file_.Reset();
    return false;
  }
  LARGE_INTEGER size;
  size.QuadPart = total_;
  if (!::SetFilePointerEx(file_.Get(), size, nullptr, FILE_BEGIN)) {
    FinishWithLastError(logger_, kContext, L"SetFilePointerEx failed %u.");
    file_.Reset();
    return false;
  }
  if (!::SetEndOfFile(file_.Get())) {
    FinishWithLastError(logger_, kContext, L"SetEndOfFile failed %u.");
    file_.Reset();
    return false;
  }
  verified_ = 0;
  return true;
}

bool DownloadSimpleTask::StartHash() {
  const wchar_t* kContext = L"DownloadSimpleTask::StartHash";
  LARGE_INTEGER position;
  position.QuadPart = static_cast<int64>(verified_) * kBlockSize;
  if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
    return FinishWithLastError(logger_, kContext, L"SetFilePointerEx failed %u.");
  }
  HashCallback* callback = details::Object<HashCallback>::Create(this);
  if (callback == nullptr) {
    logger_->Log(kContext, L"Create HashCallback failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  // After a transfer its follower has hashed (or is hashing) the blocks it
  // wrote; the pass reads the file itself only when there was none.
  ITask* task = follower_ != nullptr ? CreateHashTask(follower_, callback) : CreateHashTask(file_.Get(), callback);
  callback->Release();
  if (task != nullptr && follower_ != nullptr) {
    follower_->Release();  // the pass holds it now, and stops it when it ends
    follower_ = nullptr;
  }
  if (task == nullptr) {
    StopFollower();
    logger_->Log(kContext, L"Create HashTask failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  current_.Set(task);
  logger_->Log(kContext, L"Start hash from block %Iu.", verified_);
  task->Start();
  return true;
}

void DownloadSimpleTask::OnHash(const uint8 digest[kDigestSize]) {
  const wchar_t* kContext = L"DownloadSimpleTask::OnHash";
  if (verified_ >= BlockTotal()) {
    logger_->Log(kContext, L"Unexpected hash data %Iu/%Iu.", verified_, BlockTotal());
    Finish(kResultFail);
    return;
  }
  if (memcmp(digest, meta_.digests[verified_].data(), kDigestSize) != 0) {
    // The pass over what the destination held before any transfer reports
    // what it found when it ends; only a transferred block can mismatch.
    if (in_cycle_) logger_->Log(kContext, L"Hash mismatch found for block %Iu.", verified_);
    current_.Cancel();
    return;
  }
  ++verified_;
  int64 candidate = std::min(static_cast<int64>(verified_) * kBlockSize, total_);
  if (candidate > progress_) progress_ = candidate;
  ReportProgress();
}

void DownloadSimpleTask::OnHashComplete(HashResult hashResult) {
  const wchar_t* kContext = L"DownloadSimpleTask::OnHashComplete";
  if (!Enter()) {
    current_.Reset();
    End();
    return;
  }
  if (hashResult == Failed) {
    logger_->Log(kContext, L"Hash failed.");
    Finish(kResultFail);
    current_.Reset();
    End();
    return;
  }
  if (verified_ < BlockTotal()) {
    if (in_cycle_) {
      logger_->Log(kContext, L"Hash mismatch.");
    } else {
      logger_->Log(kContext, L"Existing file holds %Iu of %Iu blocks verified; fetching from block %Iu.", verified_,
                   BlockTotal(), verified_);
    }
    if (in_cycle_) fruitless_cycles_ = verified_ > cycle_start_ ? 0 : fruitless_cycles_ + 1;
    if (fruitless_cycles_ >= kMaxFruitlessCycles && !meta_fetched_again_) {
      // The meta may be an old copy a cache kept while the file was replaced:
      // it is fetched once more (past every cache) before the task gives up.
      logger_->Log(kContext, L"Block %Iu failed after %d downloads in a row: fetching the meta once more.", verified_,
                   fruitless_cycles_);
      meta_fetched_again_ = true;
      fruitless_cycles_ = 0;
      in_cycle_ = false;
      StopFollower();
      file_.Reset();
      current_.Reset();
      if (StartMeta()) {
        Leave();
        return;
      }
      End();
      return;
    }
    if (fruitless_cycles_ >= kMaxFruitlessCycles) {
      logger_->Log(kContext, L"Block %Iu failed after %d downloads in a row.", verified_, fruitless_cycles_);
      Finish(kResultBlockUnverifiable);
      current_.Reset();
      End();
      return;
    }
    current_.Reset();
    if (StartDownload()) {
      Leave();
      return;
    }
    End();
    return;
  }
  logger_->Log(kContext, L"Hash success.");
  RemoveValidator(path_);
  Finish(kResultOk);
  current_.Reset();
  End();
}

bool DownloadSimpleTask::StartDownload() {
  const wchar_t* kContext = L"DownloadSimpleTask::StartDownload";
  int64 offset = static_cast<int64>(verified_) * kBlockSize;
  LARGE_INTEGER position;
  position.QuadPart = offset;
  if (!::SetFilePointerEx(file_.Get(), position, nullptr, FILE_BEGIN)) {
    return FinishWithLastError(logger_, kContext, L"SetFilePointerEx failed %u.");
  }
  progress_ = offset;
  cycle_start_ = verified_;
  in_cycle_ = true;
  ReportProgress();
  // Without a follower (the file cannot be mapped) the pass after the
  // transfer reads the blocks from the file.
  StopFollower();
  follower_ = CreateBlockFollower(file_.Get(), total_, verified_);
  DownloadFileCallback* callback = details::Object<DownloadFileCallback>::Create(this);
  if (callback == nullptr) {
    logger_->Log(kContext, L"Create DownloadFileCallback failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  ITask* task = CreateHttpToFileTask(url_, file_.Get(), offset, total_ - offset, callback, logger_, validator_,
                                      timeouts_);
  callback->Release();
  if (task == nullptr) {
    logger_->Log(kContext, L"Create HttpToFileTask failed.");
    Finish(kResultOutOfMemory);
    return false;
  }
  current_.Set(task);
  // The whole rest of the file, good blocks after the first bad one included,
  // comes in this one request.
  task->Start();
  return true;
}

void DownloadSimpleTask::OnDownloadProgress(int64 offset, int64 size) {
  if (offset == 0 && cycle_start_ > 0) {
    // The server sent the whole file for the rest: every block is proven
    // again as it arrives, the ones verified before included.
    logger_->Log(L"DownloadSimpleTask::OnDownloadProgress", L"Whole file from byte 0: verifying from block 0 again.");
    verified_ = 0;
    cycle_start_ = 0;
    StopFollower();
    follower_ = CreateBlockFollower(file_.Get(), total_, 0);
  }
  progress_ = offset + size;
  if (follower_ != nullptr) follower_->Advance(progress_);
  ReportProgress();
}

void DownloadSimpleTask::OnValidator(const std::string& validator) {
  validator_ = validator;
  if (!WriteValidator(path_, validator)) {
    logger_->Log(L"DownloadSimpleTask::OnValidator", L"The validator could not be kept beside %s.", path_.c_str());
  }
}

void DownloadSimpleTask::OnDownloadComplete(long hr) {
  if (!Enter()) {
    current_.Reset();
    End();
    return;
  }
  if (hr < 0) {
    Finish(hr);
    current_.Reset();
    End();
    return;
  }
  current_.Reset();
  // Every byte of the range is in the file now.
  if (follower_ != nullptr) follower_->Advance(total_);
  if (StartHash()) {
    Leave();
    return;
  }
  End();
}

void DownloadSimpleTask::EarlyEnd() {
  current_.Reset();
  DeliverEnd();
}

void DownloadSimpleTask::StopFollower() {
  if (follower_ == nullptr) return;
  follower_->Stop();
  follower_->Release();
  follower_ = nullptr;
}

void DownloadSimpleTask::End() {
  StopFollower();
  int64 ended = MarkDownloadEnd();
  logger_->Log(L"DownloadEndTime::End", L"Download end time %d", static_cast<int>(ended));
  logger_->Log(L"DownloadTime::Time", L"Download time %i", static_cast<int>(DownloadTimeSeconds()));
  file_.Reset();
  DeliverEnd();
}

void DownloadSimpleTask::DeliverEnd() {
  IDownloadCallback* callback = callback_;
  callback_ = nullptr;
  callback->OnComplete(result);
  callback->Release();
  Release();
}

}  // namespace

ITask* CreateDownloadSimpleTask(const std::wstring& url, const std::wstring& metaUrl, const std::wstring& path,
                                IDownloadCallback* callback, ILogger* logger, const std::string* meta,
                                const TransferTimeouts& timeouts) {
  if (callback == nullptr || logger == nullptr || url.empty() || metaUrl.empty() || path.empty()) return nullptr;
  return details::Object<DownloadSimpleTask>::Create(url, metaUrl, path, callback, logger, meta, timeouts);
}

}  // namespace stubframework::downloader
