// The URL-tokenizing service's answer, read without Windows headers (the
// reader also builds natively, for fuzzing).
#pragma once

#include <string>

namespace stubframework::utils {

// The text between the first two double quotes after "tokenizedUrl": in the
// service's answer; empty when absent. No unescaping.
std::wstring ExtractTokenizedUrl(const std::wstring& answer);

}  // namespace stubframework::utils
