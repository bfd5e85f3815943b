#include "app/settings_store.h"

#include "base/registry.h"

namespace stubframework::app {

namespace {
// The settings reader takes up to 520 bytes of a value.
constexpr unsigned kSettingBufferBytes = 520;
}  // namespace

bool ReadSetting(const std::wstring& key_path, const std::wstring& name, std::wstring& value) {
  return base::RegistryReadValue(key_path, name, value, kSettingBufferBytes);
}

bool WriteSetting(const std::wstring& key_path, const std::wstring& name, const std::wstring& value, bool view64) {
  return base::RegistryWriteValue(key_path, name, value, view64);
}

}  // namespace stubframework::app
