#include "downloader/resume_validator.h"

#include <windows.h>

#include "base/unique_handle.h"

namespace stubframework::downloader {
namespace {

using stubframework::base::UniqueHandle;

bool IsLinkHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  return !::GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool IsUsableValidator(const std::string& text) {
  if (text.empty() || text.size() > kMaxValidatorLength) return false;
  for (char c : text) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

std::string ChooseValidator(const std::string& etag, const std::string& last_modified) {
  const bool weak = etag.size() >= 2 && (etag[0] == 'W' || etag[0] == 'w') && etag[1] == '/';
  if (!weak && IsUsableValidator(etag)) return etag;
  if (IsUsableValidator(last_modified)) return last_modified;
  return std::string();
}

std::wstring ValidatorPathFor(const std::wstring& path) { return path + L".validator"; }

std::string ReadValidator(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(ValidatorPathFor(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || IsLinkHandle(file.Get())) return std::string();
  char text[kMaxValidatorLength + 1];
  DWORD read = 0;
  if (!::ReadFile(file.Get(), text, sizeof(text), &read, nullptr)) return std::string();
  std::string validator(text, read);
  return IsUsableValidator(validator) ? validator : std::string();
}

bool WriteValidator(const std::wstring& path, const std::string& validator) {
  if (!IsUsableValidator(validator)) return false;
  UniqueHandle file(::CreateFileW(ValidatorPathFor(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file || IsLinkHandle(file.Get())) return false;
  DWORD written = 0;
  return ::SetEndOfFile(file.Get()) &&
         ::WriteFile(file.Get(), validator.data(), static_cast<DWORD>(validator.size()), &written, nullptr) &&
         written == validator.size();
}

void RemoveValidator(const std::wstring& path) {
  const std::wstring side = ValidatorPathFor(path);
  // A link there is left alone: deleting it would be harmless, but the stub
  // deletes only what it made.
  DWORD attributes = ::GetFileAttributesW(side.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return;
  ::DeleteFileW(side.c_str());
}

}  // namespace stubframework::downloader
