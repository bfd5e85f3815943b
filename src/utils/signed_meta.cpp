#include "utils/signed_meta.h"

#include <windows.h>

#include <cstdint>

#include "base/unique_handle.h"
#include "trust/release_signature.h"
#include "utils/download_to_memory.h"

namespace stubframework::utils {
namespace {

bool WriteWhole(const std::wstring& path, const downloader::Buffer& bytes) {
  base::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                        nullptr));
  if (!file || bytes.size() > MAXDWORD) return false;
  DWORD written = 0;
  return bytes.size() == 0 ||
         (::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
          written == bytes.size());
}

}  // namespace

bool IsSignedMeta(const trust::ReleaseKey& key, const downloader::Buffer& meta, const downloader::Buffer& signature) {
  return trust::VerifyReleaseSignature(key, meta.data(), meta.size(), signature.data(), signature.size());
}

SignedMetaStatus FetchSignedMeta(const trust::ReleaseKey& key, const std::wstring& meta_url,
                                 const std::wstring& signature_url, downloader::Buffer* meta,
                                 downloader::Buffer* signature, const std::function<bool()>& stop) {
  if (!DownloadToMemory(meta_url, *meta, stop)) return SignedMetaStatus::kNoMeta;
  if (!DownloadToMemory(signature_url, *signature, stop) || signature->size() == 0 ||
      signature->size() > trust::kMaxSignatureSize) {
    return SignedMetaStatus::kNoSignature;
  }
  return IsSignedMeta(key, *meta, *signature) ? SignedMetaStatus::kValid : SignedMetaStatus::kBadSignature;
}

SignedMetaStatus CheckSignedFile(const trust::ReleaseKey& key, const std::wstring& path,
                                 const std::wstring& signature_url) {
  base::UniqueHandle file(
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
      static_cast<uint64_t>(size.QuadPart) > kLargestSignedFile) {
    return SignedMetaStatus::kNoMeta;
  }
  downloader::Buffer bytes;
  DWORD read = 0;
  if (size.QuadPart > 0 &&
      (!bytes.SetSize(static_cast<size_t>(size.QuadPart)) ||
       !::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size())) {
    return SignedMetaStatus::kNoMeta;
  }
  downloader::Buffer signature;
  if (!DownloadToMemory(signature_url, signature) || signature.size() == 0 ||
      signature.size() > trust::kMaxSignatureSize) {
    return SignedMetaStatus::kNoSignature;
  }
  return IsSignedMeta(key, bytes, signature) ? SignedMetaStatus::kValid : SignedMetaStatus::kBadSignature;
}

bool StoreSignedMeta(const std::wstring& path, const downloader::Buffer& meta, const downloader::Buffer& signature) {
  return WriteWhole(path + kMetaSuffix, meta) && WriteWhole(path + kMetaSignatureSuffix, signature);
}

const wchar_t* SignedMetaProblem(SignedMetaStatus status) {
  switch (status) {
    case SignedMetaStatus::kNoMeta:
      return L"the .meta could not be fetched";
    case SignedMetaStatus::kNoSignature:
      return L"the .meta has no signature";
    case SignedMetaStatus::kBadSignature:
      return L"the .meta's signature does not verify with the release key";
    case SignedMetaStatus::kValid:
      break;
  }
  return L"";
}

}  // namespace stubframework::utils
