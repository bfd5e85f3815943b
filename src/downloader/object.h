// Object<T>: the one concrete class the engine allocates. It adds a reference
// count guarded by a critical section of its own to T, and destroys itself on
// the last Release().
#pragma once

#include <windows.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "base/critical_section.h"
#include "downloader/interfaces.h"

namespace stubframework::downloader::details {

#ifdef STUB_DOWNLOADER_COUNT_OBJECTS
// Test builds count live engine objects to prove that none leaks.
void CountObject(int delta);
#endif

// A T whose constructor could not get what it needs (an event, a member
// object) says so through `bool Constructed() const`; Create then destroys it
// and answers null. Types without that member always count as constructed.
template <typename T>
auto ConstructedWell(const T& object, int) -> decltype(object.Constructed()) {
  return object.Constructed();
}
template <typename T>
bool ConstructedWell(const T&, long) {
  return true;
}

template <typename T>
class Object final : public T {
 public:
  // Allocates with malloc and constructs; the count starts at 1. Null when
  // memory is missing or the object could not be constructed. Where
  // exceptions exist a throwing member constructor counts as that too; the
  // shipped product is built without them, and there a member that cannot get
  // its memory ends the process, as everywhere else in it.
  template <typename... Args>
  static Object* Create(Args&&... args) {
    void* memory = malloc(sizeof(Object));
    if (memory == nullptr) return nullptr;
    Object* object = nullptr;
#if __cpp_exceptions
    try {
      object = new (memory) Object(std::forward<Args>(args)...);
    } catch (...) {
      free(memory);
      return nullptr;
    }
#else
    object = new (memory) Object(std::forward<Args>(args)...);
#endif
    if (!ConstructedWell(static_cast<const T&>(*object), 0)) {
      object->Release();
      return nullptr;
    }
    return object;
  }

  void AddRef() override {
    base::ScopedLock lock(lock_);
    ++refCount_;
  }

  void Release() override {
    long old = 0;
    {
      base::ScopedLock lock(lock_);
      old = refCount_--;
    }
    if (old == 1) {
      this->~Object();
      free(this);
    }
  }

 private:
  template <typename... Args>
  explicit Object(Args&&... args) : T(std::forward<Args>(args)...) {
#ifdef STUB_DOWNLOADER_COUNT_OBJECTS
    CountObject(1);
#endif
  }

  ~Object() {
#ifdef STUB_DOWNLOADER_COUNT_OBJECTS
    CountObject(-1);
#endif
  }

  long refCount_ = 1;
  base::CriticalSection lock_;
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
