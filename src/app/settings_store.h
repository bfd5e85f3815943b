// Text values under a registry key path, as the settings key keeps them.
#pragma once

#include <string>

namespace stubframework::app {

// Reads value `name` under `key_path`: the 64-bit view first, then the 32-bit
// view when the key or the value is missing there. REG_DWORD becomes "%d" text;
// any other type is taken as text. Leaves `value` alone when nothing is found.
bool ReadSetting(const std::wstring& key_path, const std::wstring& name, std::wstring& value);

// Writes `value` as REG_SZ under `key_path`, creating the key, in the 32-bit
// view, or in the 64-bit view when `view64` is set.
bool WriteSetting(const std::wstring& key_path, const std::wstring& name, const std::wstring& value,
                  bool view64 = false);

}  // namespace stubframework::app
