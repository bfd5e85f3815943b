#include "utils/held_file.h"

#include <windows.h>

#include "downloader/buffer.h"
#include "downloader/download_meta.h"
#include "trust/release_signature.h"
#include "utils/signed_meta.h"
#include "utils/verify_file.h"

namespace stubframework::utils {
namespace {

// Reads a companion whole when it is exactly `expected` bytes long (or, with
// `expected` 0, at most `largest`): a planted giant is never allocated.
bool ReadCompanion(const std::wstring& path, uint64_t expected, uint64_t largest, downloader::Buffer* bytes) {
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0) return false;
  const uint64_t length = static_cast<uint64_t>(size.QuadPart);
  if (expected != 0 ? length != expected : length > largest) return false;
  if (!bytes->SetSize(static_cast<size_t>(length))) return false;
  DWORD read = 0;
  return ::ReadFile(file.Get(), bytes->data(), static_cast<DWORD>(length), &read, nullptr) && read == length;
}

}  // namespace

UseCheck HoldVerifiedFile(const trust::ReleaseKey& key, const std::wstring& path, base::UniqueHandle* held) {
  held->Reset();
  // Readers may share it (the installer, the loader); nobody may change it.
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return UseCheck::kUnreadable;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) return UseCheck::kUnreadable;
  const int64_t meta_length = downloader::MetaLength(size.QuadPart);
  downloader::Buffer meta;
  downloader::Buffer signature;
  if (meta_length <= 0 || !ReadCompanion(path + kMetaSuffix, static_cast<uint64_t>(meta_length), 0, &meta) ||
      !ReadCompanion(path + kMetaSignatureSuffix, 0, trust::kMaxSignatureSize, &signature) ||
      !IsSignedMeta(key, meta, signature)) {
    return UseCheck::kUnsigned;
  }
  if (!VerifyOpenFileWithMeta(file.Get(), meta)) return UseCheck::kChanged;
  *held = std::move(file);
  return UseCheck::kVerified;
}

const wchar_t* UseCheckProblem(UseCheck check) {
  switch (check) {
    case UseCheck::kUnsigned:
      return L"has no .meta signed with the release key beside it";
    case UseCheck::kChanged:
      return L"differs from its signed .meta";
    case UseCheck::kUnreadable:
      return L"cannot be opened for reading without writers";
    case UseCheck::kVerified:
      break;
  }
  return L"";
}

}  // namespace stubframework::utils
