// A machine made of plain values, for running the system-information rules
// on any version, screen, memory size or registry content.
#pragma once

#include <map>
#include <set>
#include <string>

#include "sysinfo/fact_source.h"

namespace testsupport {

class FakeFacts final : public stubframework::sysinfo::FactSource {
 public:
  bool true_version_found = true;
  stubframework::sysinfo::VersionNumbers true_version{10, 0, 19045};
  bool reported_ok = true;
  stubframework::sysinfo::ReportedVersion reported{10, 0, VER_NT_WORKSTATION};
  WORD architecture = PROCESSOR_ARCHITECTURE_AMD64;
  int screen_width = 1920;
  unsigned long long memory_bytes = 16000ull << 20;
  long geo_nation = 244;
  SYSTEMTIME now = {};

  FakeFacts& Version(DWORD major, DWORD minor, DWORD build) {
    true_version = {major, minor, build};
    return *this;
  }
  // A key that exists (with no values yet).
  FakeFacts& Key(HKEY root, const std::wstring& subkey) {
    keys_.insert(KeyName(root, subkey));
    return *this;
  }
  // A text value; `name` empty is the default value. Its key exists from then on.
  FakeFacts& Text(HKEY root, const std::wstring& subkey, const std::wstring& name, const std::wstring& text) {
    Key(root, subkey);
    texts_[KeyName(root, subkey) + L"|" + name] = text;
    return *this;
  }
  FakeFacts& Dword(HKEY root, const std::wstring& subkey, const std::wstring& name, DWORD value) {
    Key(root, subkey);
    dwords_[KeyName(root, subkey) + L"|" + name] = value;
    return *this;
  }

  bool TrueVersion(stubframework::sysinfo::VersionNumbers* version) const override {
    if (!true_version_found) return false;
    *version = true_version;
    return true;
  }
  bool Reported(stubframework::sysinfo::ReportedVersion* version) const override {
    if (!reported_ok) return false;
    *version = reported;
    return true;
  }
  bool ProcessBlockVersion(stubframework::sysinfo::VersionNumbers* version) const override {
    *version = true_version;
    return true_version_found;
  }
  WORD NativeArchitecture() const override { return architecture; }
  int ScreenWidth() const override { return screen_width; }
  unsigned long long PhysicalMemoryBytes() const override { return memory_bytes; }
  stubframework::sysinfo::RegistryText ReadText(HKEY root, const wchar_t* subkey, const wchar_t* name) const override {
    stubframework::sysinfo::RegistryText result;
    result.key_opened = keys_.count(KeyName(root, subkey)) != 0;
    auto it = texts_.find(KeyName(root, subkey) + L"|" + (name == nullptr ? L"" : name));
    if (result.key_opened && it != texts_.end()) {
      result.value_read = true;
      result.text = it->second;
    }
    return result;
  }
  bool ReadDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD* value) const override {
    auto it = dwords_.find(KeyName(root, subkey) + L"|" + name);
    if (it == dwords_.end()) return false;
    *value = it->second;
    return true;
  }
  long UserGeoNation() const override { return geo_nation; }
  SYSTEMTIME UtcNow() const override { return now; }

 private:
  static std::wstring KeyName(HKEY root, const std::wstring& subkey) {
    return (root == HKEY_LOCAL_MACHINE ? L"HKLM\\" : root == HKEY_CURRENT_USER ? L"HKCU\\" : L"?\\") + subkey;
  }

  std::set<std::wstring> keys_;
  std::map<std::wstring, std::wstring> texts_;
  std::map<std::wstring, DWORD> dwords_;
};

}  // namespace testsupport
