// Where a download's companion files (.meta, its signature) are asked for.
#include "utils/companion_url.h"

#include <gtest/gtest.h>

namespace {

using stubframework::utils::CompanionUrl;

TEST(CompanionUrl, SuffixEndsThePathAndTheQueryStaysTheQuery) {
  struct Case {
    const wchar_t* url;
    const wchar_t* suffix;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"http://h/p/f.msi", L".meta", L"http://h/p/f.msi.meta"},
      {L"https://h:8443/f.exe?token=a%2Fb&e=1", L".meta", L"https://h:8443/f.exe.meta?token=a%2Fb&e=1"},
      {L"http://h/f.zip#part", L".meta", L"http://h/f.zip.meta#part"},
      {L"http://h/f.zip?q=1#frag", L".meta.sig", L"http://h/f.zip.meta.sig?q=1#frag"},
      {L"http://h/f.zip?", L".meta", L"http://h/f.zip.meta?"},
      {L"http://h/a?b?c", L".sig", L"http://h/a.sig?b?c"},
      {L"", L".meta", L".meta"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompanionUrl(c.url, c.suffix), c.expected) << c.url;
  }
}

}  // namespace
