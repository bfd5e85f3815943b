#include "utils/url_probe.h"

#include <windows.h>
#include <wininet.h>

#include "base/unique_handle.h"

namespace stubframework::utils {

bool IsUrlValid(const std::wstring& url) {
  base::UniqueHInternet session(::InternetOpenW(L"ValidURL", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  base::UniqueHInternet request(::InternetOpenUrlW(session.Get(), url.c_str(), nullptr, 0,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_AUTO_REDIRECT, 0));
  if (!request) return false;
  DWORD status = 0;
  DWORD size = sizeof(status);
  ::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
  return status == 200;
}

}  // namespace stubframework::utils
