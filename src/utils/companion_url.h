// The address of a file that lies beside a download on the same server (its
// .meta, the .meta's signature): the suffix goes at the end of the URL's
// path, so a query (a CDN's signed token, say) stays the query.
#pragma once

#include <string>

namespace stubframework::utils {

// "https://h/p/f.msi?t=1" + ".meta" -> "https://h/p/f.msi.meta?t=1"; a URL
// without query or fragment simply gets the suffix appended.
std::wstring CompanionUrl(const std::wstring& url, const std::wstring& suffix);

}  // namespace stubframework::utils
