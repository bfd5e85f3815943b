// The check at the moment of use: a file about to be installed or run is
// proved again against its signed .meta (the companions a verified download
// left beside it) through a handle that lets others read it but not write,
// rename or delete it. Whoever hands the file over keeps the handle until the
// installer or program has ended.
#pragma once

#include <string>

#include "base/unique_handle.h"
#include "trust/release_key.h"

namespace stubframework::utils {

enum class UseCheck {
  kVerified,    // `held` holds the file; its bytes are what the key vouches for
  kUnsigned,    // no .meta beside it, or one the key did not sign
  kChanged,     // the bytes differ from the signed .meta
  kUnreadable,  // the file cannot be opened so (missing, or open for writing elsewhere)
};

UseCheck HoldVerifiedFile(const trust::ReleaseKey& key, const std::wstring& path, base::UniqueHandle* held);

// The log text of each outcome but kVerified.
const wchar_t* UseCheckProblem(UseCheck check);

}  // namespace stubframework::utils
