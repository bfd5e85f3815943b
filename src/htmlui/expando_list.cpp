#include "htmlui/expando_list.h"

#include <new>
#include <utility>

namespace stubframework::htmlui {

ExpandoList::~ExpandoList() {
  for (int i = 0; i < count_; ++i) {
    if (!IsDeleted(i)) ::VariantClear(&entries_[i].value);
  }
}

int ExpandoList::Find(const wchar_t* name, bool ignore_case) const {
  for (int i = 0; i < count_; ++i) {
    BSTR entry = entries_[i].name.Get();
    if (::CompareStringOrdinal(entry, -1, name, -1, ignore_case ? TRUE : FALSE) == CSTR_EQUAL) return i;
  }
  return -1;
}

bool ExpandoList::Grow() {
  int capacity = capacity_ + kGrowth;
  std::unique_ptr<Entry[]> grown(new (std::nothrow) Entry[capacity]);
  if (!grown) return false;
  for (int i = 0; i < count_; ++i) {
    grown[i].name = std::move(entries_[i].name);
    grown[i].value = entries_[i].value;  // the value moves: its owner is now the new entry
  }
  entries_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

int ExpandoList::Append(const wchar_t* name) {
  if (count_ == capacity_ && !Grow()) return -1;
  base::UniqueBstr copy(name);
  if (!copy) return -1;
  Entry& entry = entries_[count_];
  entry.name = std::move(copy);
  ::VariantInit(&entry.value);
  return count_++;
}

void ExpandoList::Delete(int index) {
  if (IsDeleted(index)) return;
  ::VariantClear(&entries_[index].value);
  entries_[index].value.vt = kDeletedMark;
}

void ExpandoList::Revive(int index) { ::VariantInit(&entries_[index].value); }

}  // namespace stubframework::htmlui
