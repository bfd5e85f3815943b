// The method table as the bridge reaches it: its names in identifier order
// with a handler each, the lock that guards the property store, and the
// window that dialogs are owned by. The script method table implements it.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <string>

#include "base/critical_section.h"

namespace stubframework::htmlui {

class ScriptMethods {
 public:
  // A script method's entry point: invocation flags, the argument block (last
  // script argument first) and the result slot, which may be absent.
  using Handler = HRESULT (ScriptMethods::*)(WORD flags, DISPPARAMS* params, VARIANT* result);

  struct Entry {
    const wchar_t* name;  // points into the table; valid while the table lives
    Handler handler;
  };

  virtual std::size_t Count() const = 0;
  // Writes every (name, handler) pair in ascending code-unit order of the
  // names; false, writing nothing, when `capacity` is too small.
  virtual bool Enumerate(Entry* entries, std::size_t capacity) const = 0;
  // Called whenever the bridge's window changes.
  virtual void SetHostWindow(HWND window) = 0;
  // Every locked property operation takes it.
  virtual base::CriticalSection& lock() = 0;
  // Shows a web address in the user's default browser, outside the stub's
  // window and unelevated where the shell allows; false when nothing was
  // opened (a table without a shell, as in tests of the bridge alone).
  virtual bool OpenInBrowser(const std::wstring& url) {
    (void)url;
    return false;
  }

 protected:
  ~ScriptMethods() = default;
};

}  // namespace stubframework::htmlui
