// Object<T>: the one concrete class the engine allocates. It adds a reference
// count guarded by a critical section of its own to T, and destroys itself on
// the last Release().
#pragma once

#include <windows.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "downloader/interfaces.h"

namespace stubframework::downloader::details {

#ifdef STUB_DOWNLOADER_COUNT_OBJECTS
// Test builds count live engine objects to prove that none leaks.
void CountObject(int delta);
#endif

template <typename T>
class Object final : public T {
 public:
  // Allocates with malloc and constructs; the count starts at 1. Null when
  // memory is missing (a throwing member constructor counts as that too).
  template <typename... Args>
  static Object* Create(Args&&... args) {
    void* memory = malloc(sizeof(Object));
    if (memory == nullptr) return nullptr;
    try {
      return new (memory) Object(std::forward<Args>(args)...);
    } catch (...) {
      free(memory);
      return nullptr;
    }
  }

  void AddRef() override {
    ::EnterCriticalSection(&lock_);
    ++refCount_;
    ::LeaveCriticalSection(&lock_);
  }

  void Release() override {
    ::EnterCriticalSection(&lock_);
    long old = refCount_--;
    ::LeaveCriticalSection(&lock_);
    if (old == 1) {
      this->~Object();
      free(this);
    }
  }

 private:
  template <typename... Args>
  explicit Object(Args&&... args) : T(std::forward<Args>(args)...) {
    ::InitializeCriticalSection(&lock_);
#ifdef STUB_DOWNLOADER_COUNT_OBJECTS
    CountObject(1);
#endif
  }

  ~Object() {
    ::DeleteCriticalSection(&lock_);
#ifdef STUB_DOWNLOADER_COUNT_OBJECTS
    CountObject(-1);
#endif
  }

  long refCount_ = 1;
  CRITICAL_SECTION lock_;
};

// Holds one reference for a scope: entry points that may see the last
// reference dropped by a nested call (an abort that completes at once) keep
// the object alive until they return.
class ScopedReference {
 public:
  explicit ScopedReference(IObject* object) : object_(object) { object_->AddRef(); }
  ~ScopedReference() { object_->Release(); }
  ScopedReference(const ScopedReference&) = delete;
  ScopedReference& operator=(const ScopedReference&) = delete;

 private:
  IObject* object_;
};

}  // namespace stubframework::downloader::details
