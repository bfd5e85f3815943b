// Checks of a local file against a meta file (see downloader/download_meta.h).
#pragma once

#include <windows.h>

#include <string>

#include "downloader/buffer.h"

namespace stubframework::utils {

// True only when the meta is valid and every block of the file matches it,
// no more and no fewer blocks.
bool VerifyFileWithMeta(const std::wstring& path, const downloader::Buffer& meta);

// The same for an open file, read from its first byte through `file`.
bool VerifyOpenFileWithMeta(HANDLE file, const downloader::Buffer& meta);

// False when the file at `path` differs from the meta at `metaUrl` or the meta
// cannot be fetched; true when it matches, and also when `metaUrl` does not
// answer 200 (nothing to compare against counts as up to date).
bool IsFileUpToDate(const std::wstring& path, const std::wstring& metaUrl);

}  // namespace stubframework::utils
