// A .meta that the publisher's release key vouches for: fetched with its
// detached signature (the .meta's URL + ".sig", a companion of the download's
// URL), checked before anything uses it, and kept beside the downloaded file
// so that the file can be proved again at the moment it is used.
#pragma once

#include <functional>
#include <string>

#include "downloader/buffer.h"
#include "trust/release_key.h"

namespace stubframework::utils {

// The suffixes of a download's companions, on the server (through
// CompanionUrl) and beside the downloaded file.
inline constexpr wchar_t kMetaSuffix[] = L".meta";
inline constexpr wchar_t kMetaSignatureSuffix[] = L".meta.sig";

enum class SignedMetaStatus {
  kValid,
  kNoMeta,          // the .meta could not be fetched
  kNoSignature,     // its signature could not be fetched, or is no signature's size
  kBadSignature,    // the signature does not verify with the key
};

// Fetches both and checks the signature over the .meta's bytes; `meta` and
// `signature` hold what was fetched (kValid: what the key vouches for). A
// `stop` that answers true ends a fetch (kNoMeta or kNoSignature).
SignedMetaStatus FetchSignedMeta(const trust::ReleaseKey& key, const std::wstring& meta_url,
                                 const std::wstring& signature_url, downloader::Buffer* meta,
                                 downloader::Buffer* signature, const std::function<bool()>& stop);

// Whether `signature` is the key's signature over `meta`.
bool IsSignedMeta(const trust::ReleaseKey& key, const downloader::Buffer& meta, const downloader::Buffer& signature);

// Writes `path` + kMetaSuffix and `path` + kMetaSignatureSuffix; false when
// either cannot be written whole.
bool StoreSignedMeta(const std::wstring& path, const downloader::Buffer& meta, const downloader::Buffer& signature);

// The suffix of a signed file's signature (the component list's).
inline constexpr wchar_t kSignatureSuffix[] = L".sig";
// The largest file checked whole in memory against a signature.
inline constexpr size_t kLargestSignedFile = 16 * 1024 * 1024;

// Fetches the signature at `signature_url` and checks it over the file at
// `path` (read through a handle that denies writers, at most
// kLargestSignedFile bytes). kNoMeta when the file cannot be read so.
SignedMetaStatus CheckSignedFile(const trust::ReleaseKey& key, const std::wstring& path,
                                 const std::wstring& signature_url);

// A log line for each status but kValid.
const wchar_t* SignedMetaProblem(SignedMetaStatus status);

}  // namespace stubframework::utils
