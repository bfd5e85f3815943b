// Owner of a BSTR: allocated with the system string allocator, freed once.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace stubframework::base {

class UniqueBstr {
 public:
  UniqueBstr() = default;
  explicit UniqueBstr(const wchar_t* text) : value_(::SysAllocString(text)) {}
  explicit UniqueBstr(const std::wstring& text)
      : value_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~UniqueBstr() { Reset(); }

  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : value_(other.Release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  BSTR Get() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }
  // Length in characters; a null BSTR is the empty text.
  UINT Length() const { return ::SysStringLen(value_); }
  std::wstring Text() const { return value_ == nullptr ? std::wstring() : std::wstring(value_, Length()); }

  // Hands ownership to the caller (for example into a VARIANT result).
  BSTR Release() { return std::exchange(value_, nullptr); }
  BSTR* Receive() {
    Reset();
    return &value_;
  }
  void Reset(BSTR value = nullptr) {
    BSTR old = std::exchange(value_, value);
    if (old != nullptr) ::SysFreeString(old);
  }

 private:
  BSTR value_ = nullptr;
};

}  // namespace stubframework::base
