#include "downloader/multi_source_task.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstring>

#include "base/critical_section.h"
#include "base/unique_handle.h"
#include "base/unredirected_folder.h"
#include "downloader/block_plan.h"
#include "downloader/block_run_connection.h"
#include "downloader/download_clock.h"
#include "downloader/download_meta.h"
#include "downloader/forwarding_callbacks.h"
#include "downloader/hash_task.h"
#include "downloader/http_task.h"
#include "downloader/http_to_mem_task.h"
#include "downloader/internet_session.h"
#include "downloader/object.h"
#include "downloader/result_codes.h"
#include "downloader/resume_validator.h"
#include "downloader/sub_task_slot.h"
#include "downloader/timeouts.h"

namespace stubframework::downloader {
namespace {

using base::CriticalSection;
using base::ScopedLock;
using base::UniqueHandle;
using details::Connection;

// States and threads.
//
// The task moves kMeta (the .meta from each mirror in turn until one
// answers) -> kHash (what the destination already holds, only when it holds
// anything) -> kFetch (up to `connections` ranged requests, each a
// Connection) -> ended. Start runs on the caller's thread; the meta and the
// connections' handlers on WinINet's threads; the hash pass on a pool
// thread; Cancel on any thread. Everything below `lock_` is read and written
// under it; nothing calls out (callback, sub-task start or cancel) while
// holding it, except the writes of verified blocks, which are serialized by
// it so that the end never closes the file under a writer. Progress reports
// are serialized by `report_lock_`, so the caller sees them in order. The
// end is delivered once, after every connection ended.

enum class Phase { kCreated, kMeta, kHash, kFetch, kEnded };


class MultiSourceTask : public ITask, public details::ConnectionOwner {
 public:
  using MetaCallback = details::MetaForwarder<MultiSourceTask>;
  using HashCallback = details::HashForwarder<MultiSourceTask>;

  MultiSourceTask(const MultiSourceRequest& request, IDownloadCallback* callback, ILogger* logger)
      : request_(request), callback_(callback), logger_(logger) {
    callback_->AddRef();
    logger_->AddRef();
    for (size_t i = 0; i < request_.urls.size(); ++i) mirrors_.push_back(Mirror());
  }

  ~MultiSourceTask() {
    sub_.Reset();
    if (session_ != nullptr) session_->Release();
    if (callback_ != nullptr) callback_->Release();
    logger_->Release();
  }

  void Start() override;
  void Cancel() override;

  // ConnectionOwner
  void Hold() override { AddRef(); }
  void Drop() override { Release(); }
  bool OnAnswer(Connection* connection, const HttpHeader& header) override;
  bool OnBlock(Connection* connection, size_t index, const uint8* data, size_t length, bool matches) override;
  void OnConnectionEnd(Connection* connection, long result) override;
  bool DigestOf(size_t index, uint8 digest[kDigestSize]) override;

 private:
  friend MetaCallback;
  friend HashCallback;

  struct Mirror {
    MirrorLoad load;
    std::string etag;  // from its first answer of the run
    int cuts = 0;      // answers that broke off since its last verified block
  };

  bool StartMeta();
  void OnMetaComplete(const HttpToMemResult& meta);
  bool ParseMeta(const uint8* data, size_t length);
  void Proceed();
  bool PrepareFile(int64* existing);
  bool FitsFreeSpace(int64 existing);
  bool StartHash();
  bool IsFinishing();
  void OnHash(const uint8 digest[kDigestSize]);
  void OnHashComplete(HashResult result);
  void BeginFetch();
  void Schedule();
  // Under lock_: half of the run in flight with the most blocks left, or a
  // copy of the very last block, for a connection that found nothing
  // missing; *victim null when there is nothing to take.
  Steal StealRun(Connection** victim);
  // Under lock_: whether a connection in flight still asks for block
  // `index` (the other of two asking for the very last block).
  bool IsAskedOfAnother(size_t index) const;
  // Under lock_: marks the mirror dropped once, logs why, and gathers its
  // connections to abandon.
  void DropMirror(size_t mirror, DropReason reason, long result, std::vector<Connection*>* abandon);
  void FinishLocked(long result);
  static void AbandonAll(std::vector<Connection*>& connections);
  void ReportProgress();
  void End();

  MultiSourceRequest request_;
  IDownloadCallback* callback_;
  ILogger* logger_;
  details::SubTaskSlot sub_;  // the meta transfer or the hash pass
  // Every block request runs in it, so that the connections a run leaves
  // open serve the next run (null: each request opens its own).
  SharedSession* session_ = nullptr;

  CriticalSection lock_;
  Phase phase_ = Phase::kCreated;
  bool finishing_ = false;
  long result_ = kResultOk;
  size_t meta_index_ = 0;  // the mirror whose .meta is being fetched
  DownloadMeta meta_;
  int64 total_ = 0;
  UniqueHandle file_;
  std::vector<BlockState> states_;
  size_t hashed_ = 0;  // blocks the pass over the existing file has reported
  size_t verified_ = 0;
  int64 verified_bytes_ = 0;
  std::vector<Mirror> mirrors_;
  std::vector<Connection*> connections_;  // in flight, one reference each
  std::vector<MirrorDrop> drops_;  // in the order the mirrors were given up

  CriticalSection report_lock_;
};

// WinINet allows two connections per server unless told otherwise; the
// limit is the process's, and is only ever raised.
void RaiseConnectionLimit(int connections) {
  for (DWORD option : {static_cast<DWORD>(INTERNET_OPTION_MAX_CONNS_PER_SERVER),
                       static_cast<DWORD>(INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER)}) {
    DWORD current = 0;
    DWORD size = sizeof(current);
    if (::InternetQueryOptionW(nullptr, option, &current, &size) && current >= static_cast<DWORD>(connections)) {
      continue;
    }
    DWORD wanted = static_cast<DWORD>(connections);
    ::InternetSetOptionW(nullptr, option, &wanted, sizeof(wanted));
  }
}

bool IsLink(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void MultiSourceTask::Start() {
  details::ScopedReference hold(this);
  logger_->Log(L"MultiSourceTask::Start", L"Start download %s to %s (%Iu mirrors, %d connections).",
               request_.urls[0].c_str(), request_.path.c_str(), request_.urls.size(), request_.connections);
  int64 started = MarkDownloadStart();
  logger_->Log(L"DownloadStartTime::Start", L"Download start time %d", static_cast<int>(started));
  AddRef();  // released by End
  if (request_.has_meta) {
    {
      ScopedLock hold_lock(lock_);
      phase_ = Phase::kMeta;
    }
    if (ParseMeta(reinterpret_cast<const uint8*>(request_.meta.data()), request_.meta.size())) {
      Proceed();
    } else {
      {
        ScopedLock hold_lock(lock_);
        FinishLocked(kResultFail);
      }
      End();
    }
    return;
  }
  if (!StartMeta()) End();
}

void MultiSourceTask::Cancel() {
  details::ScopedReference hold(this);
  logger_->Log(L"MultiSourceTask::Cancel", L"Cancel.");
  std::vector<Connection*> abandon;
  bool end_now = false;
  {
    ScopedLock hold_lock(lock_);
    FinishLocked(kResultAbort);
    for (Connection* connection : connections_) {
      connection->AddRef();
      abandon.push_back(connection);
    }
    end_now = phase_ == Phase::kFetch && connections_.empty();
  }
  sub_.Cancel();
  AbandonAll(abandon);
  if (end_now) End();
}

void MultiSourceTask::FinishLocked(long result) {
  if (finishing_) return;
  finishing_ = true;
  result_ = result;
}

void MultiSourceTask::AbandonAll(std::vector<Connection*>& connections) {
  for (Connection* connection : connections) {
    connection->Abandon();
    connection->Release();
  }
  connections.clear();
}

bool MultiSourceTask::IsFinishing() {
  ScopedLock hold(lock_);
  return finishing_;
}

bool MultiSourceTask::StartMeta() {
  size_t index = 0;
  {
    ScopedLock hold(lock_);
    if (finishing_) return false;
    phase_ = Phase::kMeta;
    index = meta_index_;
  }
  auto* callback = details::Object<MetaCallback>::Create(this);
  if (callback == nullptr) {
    ScopedLock hold(lock_);
    FinishLocked(kResultOutOfMemory);
    return false;
  }
  // A meta longer than the size its head announces needs is refused before
  // the length the server claims for it is allocated.
  BodyHeadCheck head;
  head.size = kMetaSizeField;
  head.accept = [](const uint8* bytes, int64 length) { return MetaLengthFitsHead(bytes, length); };
  ITask* task = CreateHttpToMemTask(request_.meta_urls[index], callback, logger_, head);
  callback->Release();
  if (task == nullptr) {
    ScopedLock hold(lock_);
    FinishLocked(kResultOutOfMemory);
    return false;
  }
  sub_.Set(task);
  task->Start();
  // A cancel that came before the slot held the transfer has not reached it.
  if (IsFinishing()) sub_.Cancel();
  return true;
}

// The same .meta holds for every mirror: the first that answers with a valid
// one is used; a mirror whose .meta fails is still asked for blocks.
void MultiSourceTask::OnMetaComplete(const HttpToMemResult& meta) {
  if (IsFinishing()) {
    sub_.Reset();
    End();
    return;
  }
  bool parsed = meta.result >= 0 && ParseMeta(meta.data, meta.size);
  sub_.Reset();
  if (parsed) {
    Proceed();
    return;
  }
  bool more = false;
  {
    ScopedLock hold(lock_);
    logger_->Log(L"MultiSourceTask::OnMetaComplete", L"No meta from %s (0x%08X).",
                 request_.meta_urls[meta_index_].c_str(), static_cast<unsigned>(meta.result < 0 ? meta.result : kResultFail));
    more = meta_index_ + 1 < request_.meta_urls.size();
    if (more) {
      ++meta_index_;
    } else {
      FinishLocked(meta.result < 0 ? meta.result : kResultFail);
    }
  }
  if (!more || !StartMeta()) End();
}

bool MultiSourceTask::ParseMeta(const uint8* data, size_t length) {
  ScopedLock hold(lock_);
  if (!ParseDownloadMeta(data, length, &meta_)) {
    logger_->Log(L"MultiSourceTask::ParseMeta", L"CreateDownloadMetaSimple failed.");
    return false;
  }
  total_ = meta_.size;
  states_.assign(meta_.digests.size(), BlockState::kMissing);
  return true;
}

// After the meta: the destination sized, what it holds proven, the rest fetched.
void MultiSourceTask::Proceed() {
  ReportProgress();
  int64 existing = 0;
  if (!PrepareFile(&existing)) {
    End();
    return;
  }
  if (existing > 0 && !states_.empty()) {
    if (!StartHash()) End();
    return;
  }
  BeginFetch();
}

bool MultiSourceTask::FitsFreeSpace(int64 existing) {
  int64 needed = total_ - existing;
  if (needed <= 0) return true;
  std::wstring folder = request_.path;
  size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
  ULARGE_INTEGER free_bytes;
  if (!::GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &free_bytes, nullptr, nullptr)) return true;
  if (static_cast<unsigned long long>(needed) <= free_bytes.QuadPart) return true;
  logger_->Log(L"MultiSourceTask::PrepareFile", L"Not enough disk space %lld/%llu.", needed, free_bytes.QuadPart);
  ScopedLock hold(lock_);
  FinishLocked(kResultDiskFull);
  return false;
}

bool MultiSourceTask::PrepareFile(int64* existing) {
  const wchar_t* kContext = L"MultiSourceTask::PrepareFile";
  const std::wstring& path = request_.path;
  // The elevated stub never writes through a link, on the way or at the target.
  if (!base::TargetFolderIsUnredirected(path)) {
    logger_->Log(kContext, L"The target's folder is reached through a link; refused: %s.", path.c_str());
    ScopedLock hold(lock_);
    FinishLocked(kResultTargetIsLink);
    return false;
  }
  WIN32_FILE_ATTRIBUTE_DATA data;
  *existing = 0;
  if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    if (IsLink(data.dwFileAttributes)) {
      logger_->Log(kContext, L"The target is a link; refused: %s.", path.c_str());
      ScopedLock hold(lock_);
      FinishLocked(kResultTargetIsLink);
      return false;
    }
    *existing = (static_cast<int64>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  if (!FitsFreeSpace(*existing)) return false;
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  long failure = kResultOk;
  BY_HANDLE_FILE_INFORMATION opened;
  LARGE_INTEGER size;
  size.QuadPart = total_;
  if (!file) {
    failure = ResultFromWin32(static_cast<long>(::GetLastError()));
    logger_->Log(kContext, L"CreateFileW failed %u.", ::GetLastError());
  } else if (!::GetFileInformationByHandle(file.Get(), &opened) || IsLink(opened.dwFileAttributes)) {
    logger_->Log(kContext, L"The target is a link; refused: %s.", path.c_str());
    failure = kResultTargetIsLink;
  } else if (!::SetFilePointerEx(file.Get(), size, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.Get())) {
    DWORD error = ::GetLastError();
    logger_->Log(kContext, L"Sizing the file failed %u.", error);
    failure = ResultFromWin32(static_cast<long>(error));
  }
  ScopedLock hold(lock_);
  if (failure != kResultOk) {
    FinishLocked(failure);
    return false;
  }
  file_ = std::move(file);
  return true;
}

bool MultiSourceTask::StartHash() {
  HANDLE file = nullptr;
  {
    ScopedLock hold(lock_);
    if (finishing_) return false;
    phase_ = Phase::kHash;
    file = file_.Get();
  }
  LARGE_INTEGER start = {};
  auto* callback = details::Object<HashCallback>::Create(this);
  ITask* task = nullptr;
  if (callback != nullptr && ::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    task = CreateHashTask(file, callback);
  }
  if (callback != nullptr) callback->Release();
  if (task == nullptr) {
    ScopedLock hold(lock_);
    FinishLocked(kResultOutOfMemory);
    return false;
  }
  sub_.Set(task);
  logger_->Log(L"MultiSourceTask::StartHash", L"Proving what the file holds.");
  task->Start();
  if (IsFinishing()) sub_.Cancel();
  return true;
}

void MultiSourceTask::OnHash(const uint8 digest[kDigestSize]) {
  bool report = false;
  {
    ScopedLock hold(lock_);
    if (hashed_ >= states_.size()) return;
    if (memcmp(digest, meta_.digests[hashed_].data(), kDigestSize) == 0) {
      states_[hashed_] = BlockState::kVerified;
      ++verified_;
      verified_bytes_ += std::min(kBlockSize, total_ - static_cast<int64>(hashed_) * kBlockSize);
      report = true;
    }
    ++hashed_;
  }
  if (report) ReportProgress();
}

void MultiSourceTask::OnHashComplete(HashResult result) {
  bool fetch = false;
  {
    ScopedLock hold(lock_);
    if (!finishing_ && result == Failed) {
      logger_->Log(L"MultiSourceTask::OnHashComplete", L"Hash failed.");
      FinishLocked(kResultFail);
    }
    if (!finishing_) {
      logger_->Log(L"MultiSourceTask::OnHashComplete", L"Existing file holds %Iu of %Iu blocks verified.", verified_,
                   states_.size());
      fetch = true;
    }
  }
  sub_.Reset();
  if (fetch) {
    BeginFetch();
  } else {
    End();
  }
}

void MultiSourceTask::BeginFetch() {
  {
    ScopedLock hold(lock_);
    phase_ = Phase::kFetch;
  }
  if (request_.connections > 1) RaiseConnectionLimit(request_.connections);
  OpenSharedSession(kReceiveTimeoutMs, logger_, &session_);
  Schedule();
}

void MultiSourceTask::Schedule() {
  std::vector<Connection*> launch;
  std::vector<Connection*> abandon;
  bool end = false;
  {
    ScopedLock hold(lock_);
    if (!finishing_ && verified_ == states_.size()) {
      logger_->Log(L"MultiSourceTask::Schedule", L"All %Iu blocks verified.", states_.size());
      FinishLocked(kResultOk);
      // The loser of a race for the last block has nothing left to give.
      for (Connection* connection : connections_) {
        connection->AddRef();
        abandon.push_back(connection);
      }
    }
    const size_t length =
        RunLength(static_cast<size_t>(std::count(states_.begin(), states_.end(), BlockState::kMissing)),
                  request_.connections);
    while (!finishing_ && connections_.size() < static_cast<size_t>(request_.connections)) {
      // What nobody fetches first; at the tail, half of a run in flight.
      Steal steal;
      steal.run = NextRun(states_, length);
      Connection* victim = nullptr;
      if (steal.run.count == 0) {
        steal = StealRun(&victim);
        if (victim == nullptr) break;
      }
      std::vector<MirrorLoad> loads;
      for (const Mirror& mirror : mirrors_) loads.push_back(mirror.load);
      // Taken from a connection: from another mirror than its, when one is left.
      if (victim != nullptr) loads[victim->mirror()].in_flight += kMaxDownloadConnections + 1;
      int chosen = ChooseMirror(loads);
      if (chosen < 0) break;
      const BlockRun& run = steal.run;
      auto* connection = CreateConnection(this, static_cast<size_t>(chosen), run, total_);
      if (connection == nullptr) {
        if (connections_.empty()) FinishLocked(kResultOutOfMemory);
        break;
      }
      const wchar_t* to = request_.urls[static_cast<size_t>(chosen)].c_str();
      if (steal.copy) {
        logger_->Log(L"MultiSourceTask::Schedule", L"Block %Iu, the last, is asked of %s too.", run.first, to);
      } else if (victim != nullptr) {
        victim->Shorten(run.first);
        logger_->Log(L"MultiSourceTask::Schedule", L"Blocks %Iu-%Iu move from %s to %s.", run.first,
                     run.first + run.count - 1, request_.urls[victim->mirror()].c_str(), to);
      }
      for (size_t k = run.first; k < run.first + run.count; ++k) states_[k] = BlockState::kFetching;
      ++mirrors_[static_cast<size_t>(chosen)].load.in_flight;
      connections_.push_back(connection);  // the list's reference
      connection->AddRef();
      launch.push_back(connection);
    }
    if (!finishing_ && connections_.empty()) {
      logger_->Log(L"MultiSourceTask::Schedule", L"Every mirror was dropped; %Iu of %Iu blocks verified.", verified_,
                   states_.size());
      FinishLocked(AllDroppedResult(drops_));
    }
    end = finishing_ && connections_.empty() && phase_ == Phase::kFetch;
  }
  AbandonAll(abandon);
  for (Connection* connection : launch) {
    BlockRun run = connection->run();
    run.count = connection->end() - run.first;  // a steal may have come since
    HttpRange range;
    range.offset = RunBegin(run);
    range.size = RunEnd(run, total_) - range.offset;
    ITask* task = CreateHttpTask(request_.urls[connection->mirror()], range, connection, logger_, kReceiveTimeoutMs,
                                 session_);
    if (task == nullptr) {
      connection->OnComplete(kResultOutOfMemory);
    } else {
      connection->Launch(task);
      task->Release();
    }
    connection->Release();
  }
  if (end) End();
}

Steal MultiSourceTask::StealRun(Connection** victim) {
  std::vector<PendingRun> pending;
  std::vector<Connection*> owners;
  for (Connection* connection : connections_) {
    if (connection->abandoned() || mirrors_[connection->mirror()].load.dropped) continue;
    // Its next_block() may lag by the block it is handing over right now.
    PendingRun left{connection->next_block(), connection->end()};
    while (left.next < left.end && states_[left.next] == BlockState::kVerified) ++left.next;
    pending.push_back(left);
    owners.push_back(connection);
  }
  Steal steal = ChooseSteal(pending, states_.size() - verified_);
  *victim = steal.victim < 0 ? nullptr : owners[static_cast<size_t>(steal.victim)];
  return steal;
}

bool MultiSourceTask::IsAskedOfAnother(size_t index) const {
  for (const Connection* connection : connections_) {
    if (connection->abandoned() || mirrors_[connection->mirror()].load.dropped) continue;
    if (connection->next_block() <= index && index < connection->end()) return true;
  }
  return false;
}

bool MultiSourceTask::DigestOf(size_t index, uint8 digest[kDigestSize]) {
  ScopedLock hold(lock_);
  if (index >= meta_.digests.size()) return false;
  memcpy(digest, meta_.digests[index].data(), kDigestSize);
  return true;
}

bool MultiSourceTask::OnAnswer(Connection* connection, const HttpHeader& header) {
  std::vector<Connection*> abandon;
  bool accepted = false;
  {
    ScopedLock hold(lock_);
    Mirror& mirror = mirrors_[connection->mirror()];
    if (finishing_ || mirror.load.dropped) return false;
    const int64 offset = RunBegin(connection->run());
    DropReason reason = JudgeAnswer(header.statusCode, header.offset, header.total, header.etag, offset, total_,
                                    mirror.etag);
    if (reason == DropReason::kNone) {
      if (mirror.etag.empty()) mirror.etag = header.etag;
      accepted = true;
    } else {
      logger_->Log(L"MultiSourceTask::OnAnswer", L"%s answered %d (OFFSET:%lld TOTAL:%lld ETAG:%S) from byte %lld.",
                   request_.urls[connection->mirror()].c_str(), header.statusCode, header.offset, header.total,
                   header.etag.c_str(), offset);
      DropMirror(connection->mirror(), reason, kResultBadFormat, &abandon);
    }
  }
  AbandonAll(abandon);
  return accepted;
}

bool MultiSourceTask::OnBlock(Connection* connection, size_t index, const uint8* data, size_t length,
                              bool matches) {
  std::vector<Connection*> abandon;
  bool kept = false;
  {
    ScopedLock hold(lock_);
    Mirror& mirror = mirrors_[connection->mirror()];
    if (finishing_ || mirror.load.dropped || connection->abandoned() || !file_) return false;
    // A block past a shortened run is another connection's now.
    if (index >= connection->end() || states_[index] != BlockState::kFetching) return false;
    if (!matches) {
      logger_->Log(L"MultiSourceTask::OnBlock", L"Block %Iu from %s did not verify.", index,
                   request_.urls[connection->mirror()].c_str());
      DropMirror(connection->mirror(), DropReason::kBadBlock, kResultBlockUnverifiable, &abandon);
    } else {
      // Only a proven block is written, each once, at its place.
      OVERLAPPED at = {};
      unsigned long long offset = static_cast<unsigned long long>(index) * kBlockSize;
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD written = 0;
      if (!::WriteFile(file_.Get(), data, static_cast<DWORD>(length), &written, &at) || written != length) {
        DWORD error = ::GetLastError();
        logger_->Log(L"MultiSourceTask::OnBlock", L"WriteFile failed %u.", error);
        FinishLocked(ResultFromWin32(static_cast<long>(error != 0 ? error : ERROR_WRITE_FAULT)));
        for (Connection* other : connections_) {
          other->AddRef();
          abandon.push_back(other);
        }
      } else {
        states_[index] = BlockState::kVerified;
        ++verified_;
        verified_bytes_ += static_cast<int64>(length);
        mirror.cuts = 0;
        kept = true;
      }
    }
  }
  AbandonAll(abandon);
  if (kept) ReportProgress();
  return kept;
}

void MultiSourceTask::OnConnectionEnd(Connection* connection, long result) {
  std::vector<Connection*> abandon;
  {
    ScopedLock hold(lock_);
    auto found = std::find(connections_.begin(), connections_.end(), connection);
    if (found == connections_.end()) return;
    connections_.erase(found);
    Mirror& mirror = mirrors_[connection->mirror()];
    --mirror.load.in_flight;
    for (size_t k = connection->next_block(); k < connection->end(); ++k) {
      if (states_[k] == BlockState::kFetching && !IsAskedOfAnother(k)) states_[k] = BlockState::kMissing;
    }
    if (!finishing_ && !connection->abandoned() && !mirror.load.dropped && !connection->run_done()) {
      const wchar_t* url = request_.urls[connection->mirror()].c_str();
      if (!IsCut(result)) {
        logger_->Log(L"MultiSourceTask::OnConnectionEnd", L"The request to %s failed: 0x%08X.", url,
                     static_cast<unsigned>(result));
        DropMirror(connection->mirror(), FailureReason(result), result, &abandon);
      } else {
        ++mirror.cuts;
        logger_->Log(L"MultiSourceTask::OnConnectionEnd", L"The answer of %s broke off at block %Iu (%d in a row).",
                     url, connection->next_block(), mirror.cuts);
        if (mirror.cuts >= kMaxCutsInARow) {
          DropMirror(connection->mirror(), DropReason::kCutTooOften, kResultShortRead, &abandon);
        }
      }
    }
  }
  connection->Release();  // the list's reference
  AbandonAll(abandon);
  Schedule();
}

void MultiSourceTask::DropMirror(size_t index, DropReason reason, long result, std::vector<Connection*>* abandon) {
  Mirror& mirror = mirrors_[index];
  if (mirror.load.dropped) return;
  mirror.load.dropped = true;
  drops_.push_back(MirrorDrop{reason, result});
  logger_->Log(L"MultiSourceTask::DropMirror", L"Mirror %s dropped for the rest of the run: %s.",
               request_.urls[index].c_str(), DropReasonText(reason));
  for (Connection* connection : connections_) {
    if (connection->mirror() != index) continue;
    connection->AddRef();
    abandon->push_back(connection);
  }
}

void MultiSourceTask::ReportProgress() {
  ScopedLock order(report_lock_);
  IDownloadCallback* callback = callback_;
  if (callback == nullptr) return;
  int64 current = 0;
  int64 total = 0;
  {
    ScopedLock hold(lock_);
    current = verified_bytes_;
    total = total_;
  }
  details::ScopedReference keep(callback);
  callback->OnProgress(current, total);
}

void MultiSourceTask::End() {
  long result = kResultOk;
  {
    ScopedLock hold(lock_);
    if (phase_ == Phase::kEnded) return;
    phase_ = Phase::kEnded;
    file_.Reset();
    result = result_;
    logger_->Log(L"MultiSourceTask::End", L"Result 0x%08X; %Iu of %Iu blocks verified.", static_cast<unsigned>(result),
                 verified_, states_.size());
  }
  if (result == kResultOk) RemoveValidator(request_.path);
  int64 ended = MarkDownloadEnd();
  logger_->Log(L"DownloadEndTime::End", L"Download end time %d", static_cast<int>(ended));
  logger_->Log(L"DownloadTime::Time", L"Download time %i", static_cast<int>(DownloadTimeSeconds()));
  IDownloadCallback* callback = nullptr;
  {
    ScopedLock order(report_lock_);
    callback = callback_;
    callback_ = nullptr;
  }
  callback->OnComplete(result);
  callback->Release();
  Release();
}

}  // namespace

ITask* CreateMultiSourceTask(const MultiSourceRequest& request, IDownloadCallback* callback, ILogger* logger) {
  if (callback == nullptr || logger == nullptr || request.path.empty() || request.urls.empty() ||
      request.urls.size() > kMaxDownloadMirrors || request.connections < 1 ||
      request.connections > kMaxDownloadConnections) {
    return nullptr;
  }
  if (!request.has_meta && request.meta_urls.size() != request.urls.size()) return nullptr;
  for (const std::wstring& url : request.urls) {
    if (url.empty()) return nullptr;
  }
  return details::Object<MultiSourceTask>::Create(request, callback, logger);
}

}  // namespace stubframework::downloader
