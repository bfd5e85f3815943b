// A Win32 critical section and its scoped lock.
#pragma once

#include <windows.h>

namespace stubframework::base {

class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&section_); }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void Enter() { ::EnterCriticalSection(&section_); }
  void Leave() { ::LeaveCriticalSection(&section_); }
  // For SleepConditionVariableCS, which leaves and enters it itself.
  CRITICAL_SECTION* native() { return &section_; }

 private:
  CRITICAL_SECTION section_;
};

class ScopedLock {
 public:
  explicit ScopedLock(CriticalSection& section) : section_(section) { section_.Enter(); }
  ~ScopedLock() { section_.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CriticalSection& section_;
};

// Leaves a section the scope holds for a stretch of work that must not hold
// it, and enters it again at the end of the stretch.
class ScopedUnlock {
 public:
  explicit ScopedUnlock(CriticalSection& section) : section_(section) { section_.Leave(); }
  ~ScopedUnlock() { section_.Enter(); }
  ScopedUnlock(const ScopedUnlock&) = delete;
  ScopedUnlock& operator=(const ScopedUnlock&) = delete;

 private:
  CriticalSection& section_;
};

}  // namespace stubframework::base
