#include "downloader/hash_task.h"

#include <wincrypt.h>

#include <cstdlib>

#include "downloader/object.h"

namespace stubframework::downloader {

bool Sha1(const uint8* data, size_t size, uint8 digest[kDigestSize]) {
  HCRYPTPROV provider = 0;
  if (!::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return false;
  HCRYPTHASH hash = 0;
  bool ok = false;
  if (::CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash)) {
    DWORD length = static_cast<DWORD>(kDigestSize);
    ok = ::CryptHashData(hash, data, static_cast<DWORD>(size), 0) &&
         ::CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == kDigestSize;
    ::CryptDestroyHash(hash);
  }
  ::CryptReleaseContext(provider, 0);
  return ok;
}

namespace {

enum HashState : int32_t { kCreated = 0, kRunning = 1, kCancelRequested = 2 };

class HashTask : public ITask {
 public:
  HashTask(HANDLE file, IHashCallback* callback) : file_(file), callback_(callback) {
    callback_->AddRef();
    ::InitializeCriticalSection(&lock_);
  }

  ~HashTask() {
    if (callback_ != nullptr) callback_->Release();
    ::DeleteCriticalSection(&lock_);
  }

  void Start() override {
    ::EnterCriticalSection(&lock_);
    bool first = state_ == kCreated;
    if (first) state_ = kRunning;
    ::LeaveCriticalSection(&lock_);
    if (!first) return;
    AddRef();  // the pass
    if (!::QueueUserWorkItem(&HashTask::Pass, this, WT_EXECUTELONGFUNCTION)) End(Failed);
  }

  void Cancel() override {
    ::EnterCriticalSection(&lock_);
    if (state_ == kRunning) state_ = kCancelRequested;
    ::LeaveCriticalSection(&lock_);
  }

 private:
  static DWORD WINAPI Pass(void* self) {
    static_cast<HashTask*>(self)->Run();
    return 0;
  }

  bool CancelRequested() {
    ::EnterCriticalSection(&lock_);
    bool cancelled = state_ == kCancelRequested;
    ::LeaveCriticalSection(&lock_);
    return cancelled;
  }

  void Run() {
    uint8* buffer = static_cast<uint8*>(malloc(static_cast<size_t>(kBlockSize)));
    HashResult result = RunBlocks(buffer);
    free(buffer);
    End(result);
  }

  HashResult RunBlocks(uint8* buffer) {
    if (buffer == nullptr) return Failed;
    if (CancelRequested()) return Cancelled;
    for (;;) {
      DWORD read = 0;
      if (!::ReadFile(file_, buffer, static_cast<DWORD>(kBlockSize), &read, nullptr)) return Failed;
      if (read == 0) return Success;
      uint8 digest[kDigestSize];
      if (!Sha1(buffer, read, digest)) return Failed;
      callback_->OnHash(digest);
      if (CancelRequested()) return Cancelled;
    }
  }

  void End(HashResult result) {
    IHashCallback* callback = callback_;
    callback_ = nullptr;
    callback->OnComplete(result);
    callback->Release();
    Release();
  }

  HANDLE file_;
  IHashCallback* callback_;
  int32_t state_ = kCreated;
  CRITICAL_SECTION lock_;
};

}  // namespace

ITask* CreateHashTask(HANDLE file, IHashCallback* callback) {
  if (callback == nullptr || file == nullptr || file == INVALID_HANDLE_VALUE) return nullptr;
  return details::Object<HashTask>::Create(file, callback);
}

}  // namespace stubframework::downloader
