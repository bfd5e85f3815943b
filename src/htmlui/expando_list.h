// Properties that page script hangs on window.external: a name and a value
// each, kept until the object dies. A deleted entry stays in place, marked,
// so that its position (its dispatch identifier) is never reused by another name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <memory>

#include "base/bstr.h"

namespace stubframework::htmlui {

class ExpandoList {
 public:
  static constexpr int kGrowth = 32;
  // The type field of a deleted entry's value.
  static constexpr VARTYPE kDeletedMark = 0xFFFF;

  ExpandoList() = default;
  ~ExpandoList();
  ExpandoList(const ExpandoList&) = delete;
  ExpandoList& operator=(const ExpandoList&) = delete;

  int count() const { return count_; }
  int capacity() const { return capacity_; }

  // Position of the first entry with that name, deleted or not; -1 if none.
  int Find(const wchar_t* name, bool ignore_case) const;
  // Appends an entry with an empty value; -1 when memory runs out.
  int Append(const wchar_t* name);

  bool IsDeleted(int index) const { return entries_[index].value.vt == kDeletedMark; }
  void Delete(int index);
  // Gives a deleted entry an empty value again.
  void Revive(int index);
  VARIANT& Value(int index) { return entries_[index].value; }

 private:
  struct Entry {
    base::UniqueBstr name;
    VARIANT value;
  };
  bool Grow();

  std::unique_ptr<Entry[]> entries_;
  int count_ = 0;
  int capacity_ = 0;
};

}  // namespace stubframework::htmlui
