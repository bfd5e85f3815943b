// Whether a URL answers 200 to a GET, without following redirects.
#pragma once

#include <string>

namespace stubframework::utils {

bool IsUrlValid(const std::wstring& url);

}  // namespace stubframework::utils
