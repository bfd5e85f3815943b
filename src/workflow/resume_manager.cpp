#include "workflow/resume_manager.h"

#include "base/registry.h"
#include "base/wide_format.h"

namespace stubframework::workflow {

namespace {

constexpr wchar_t kFolder[] = L"folder";
constexpr wchar_t kGuid[] = L"guid";
constexpr wchar_t kLaunchOnExit[] = L"launchOnExit";
constexpr wchar_t kTempFolderPrefix[] = L"tempfolder";

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

}  // namespace

std::wstring ResumeManagerKey(const std::wstring& settings_key) { return settings_key + L"\\ResumeManager"; }

ResumeManagerRecord ReadResumeManagerRecord(const std::wstring& settings_key) {
  const std::wstring key = ResumeManagerKey(settings_key);
  ResumeManagerRecord record;
  if (!base::RegistryReadValue(key, kFolder, record.folder)) return record;
  if (!base::RegistryReadValue(key, kGuid, record.guid)) return record;
  record.complete = true;
  base::RegistryReadValue(key, kLaunchOnExit, record.launch_on_exit);
  for (size_t index = 0; index < kMaxResumeTempFolders; ++index) {
    std::wstring folder;
    if (!base::RegistryReadValue(key, base::Format(L"%s%u", kTempFolderPrefix, static_cast<unsigned>(index)),
                                 folder)) {
      break;
    }
    record.temp_folders.push_back(folder);
  }
  return record;
}

ResumeManagerRecord OpenResumeManagerRecord(const std::wstring& settings_key, bool is_resume) {
  if (is_resume) return ReadResumeManagerRecord(settings_key);
  base::RegistryDeleteKey(ResumeManagerKey(settings_key), false);
  return ResumeManagerRecord();
}

bool WriteResumeGuid(const std::wstring& settings_key, const std::wstring& guid) {
  return base::RegistryWriteValue(ResumeManagerKey(settings_key), kGuid, guid, false);
}

bool WriteResumeLaunchOnExit(const std::wstring& settings_key, const std::wstring& launch_on_exit) {
  return base::RegistryWriteValue(ResumeManagerKey(settings_key), kLaunchOnExit, launch_on_exit, false);
}

bool IsGuidText(const std::wstring& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash_place = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash_place ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

}  // namespace stubframework::workflow
