// The engine's interfaces and value types. Every task and callback is an
// abstract interface implemented by an Object<T> (object.h); the slot order of
// the virtual operations is part of the contract.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "downloader/block_format.h"

namespace stubframework::downloader {

enum HashResult : int32_t {
  Success = 0,    // the whole file was hashed
  Cancelled = 1,  // a cancel was seen between two blocks
  Failed = 2,     // memory, file read or cryptographic provider failure
};

// What HttpTask read from a response header.
struct HttpHeader {
  int statusCode = -1;
  // What If-Range may carry (ChooseValidator): the strong ETag, quotes
  // included, else Last-Modified; empty when neither.
  std::string etag;
  int64 offset = 0;
  int64 length = 0;
  int64 total = -1;
  std::string content_type;  // as sent; empty when absent
};

// The part of a resource an HttpTask asks for.
struct HttpRange {
  int64 offset = 0;
  int64 size = 0;    // 0: the whole resource, no Range header
  std::string etag;  // empty: no If-Range header
};

// The end of a memory transfer. The bytes stay the task's and are valid only
// during the OnComplete call.
struct HttpToMemResult {
  long result = 0;
  uint8* data = nullptr;
  size_t size = 0;
};

class Buffer;

struct IObject {
  virtual void AddRef() = 0;
  virtual void Release() = 0;

 protected:
  ~IObject() = default;
};

struct ITask : IObject {
  virtual void Start() = 0;
  virtual void Cancel() = 0;

 protected:
  ~ITask() = default;
};

template <typename R>
struct ITaskCallback : IObject {
  virtual void OnComplete(R result) = 0;

 protected:
  ~ITaskCallback() = default;
};

struct IHttpCallback : ITaskCallback<long> {
  virtual void OnHttpHeader(const HttpHeader& header) = 0;
  virtual void OnData(const Buffer& buffer) = 0;

 protected:
  ~IHttpCallback() = default;
};

struct IHttpToFileCallback : ITaskCallback<long> {
  // Bytes [offset, offset + size) are in the file. Offsets rise, except once
  // back to 0 when a server ignored the range and sent the whole file.
  virtual void OnData(int64 offset, int64 size) = 0;
  // The validator of an accepted response, when it differs from the one the
  // task was started with.
  virtual void OnValidator(const std::string& /*validator*/) {}

 protected:
  ~IHttpToFileCallback() = default;
};

struct IHashCallback : ITaskCallback<HashResult> {
  virtual void OnHash(const uint8 digest[kDigestSize]) = 0;

 protected:
  ~IHashCallback() = default;
};

struct IDownloadCallback : ITaskCallback<long> {
  virtual void OnProgress(int64 current, int64 total) = 0;

 protected:
  ~IDownloadCallback() = default;
};

// context: "Class::Method"; format: a wide printf format with the Windows
// meaning of the conversions (%s wide, %S narrow, %lld, %Iu, %u, 0x%08X).
struct ILogger : IObject {
  virtual void Log(const wchar_t* context, const wchar_t* format, ...) = 0;

 protected:
  ~ILogger() = default;
};

}  // namespace stubframework::downloader
