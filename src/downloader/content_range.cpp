#include "downloader/content_range.h"


namespace stubframework::downloader::details {

namespace {

constexpr char kUnit[] = "bytes";

// A run of decimal digits at `at` that fits 63 bits; moves `at` past it.
bool ReadNumber(const std::string& text, size_t* at, int64* value) {
  const size_t first = *at;
  unsigned long long n = 0;
  while (*at < text.size() && text[*at] >= '0' && text[*at] <= '9') {
    const unsigned digit = static_cast<unsigned>(text[*at] - '0');
    if (n > (0x7FFFFFFFFFFFFFFFULL - digit) / 10) return false;
    n = n * 10 + digit;
    ++*at;
  }
  if (*at == first) return false;
  *value = static_cast<int64>(n);
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool Expect(const std::string& text, size_t* at, char c) {
  if (*at >= text.size() || text[*at] != c) return false;
  ++*at;
  return true;
}

}  // namespace

bool ParseContentRange(const std::string& text, int64* offset, int64* length, int64* total) {
  if (text.compare(0, sizeof(kUnit) - 1, kUnit) != 0) return false;
  size_t at = sizeof(kUnit) - 1;
  // One blank by the standard; more have always been taken.
  if (at >= text.size() || !IsBlank(text[at])) return false;
  while (at < text.size() && IsBlank(text[at])) ++at;
  int64 first = 0;
  int64 last = 0;
  int64 whole = 0;
  if (!ReadNumber(text, &at, &first) || !Expect(text, &at, '-') || !ReadNumber(text, &at, &last) ||
      !Expect(text, &at, '/') || !ReadNumber(text, &at, &whole) || at != text.size()) {
    return false;
  }
  // Beyond these a length or an end computed from the fields would be wrong
  // or overflow.
  if (first > last || last >= whole) return false;
  *offset = first;
  *length = last - first + 1;
  *total = whole;
  return true;
}

int64 ParseContentLength(const std::string& text) {
  size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  int64 value = 0;
  if (!ReadNumber(text, &at, &value)) return -1;
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at == text.size() ? value : -1;
}

// Built without the C library's formatting, which would bring its whole
// formatted-output machinery into the product.
std::string RangeHeader(int64 offset, int64 size) {
  return "Range: bytes=" + std::to_string(offset) + "-" + std::to_string(offset + size - 1);
}

}  // namespace stubframework::downloader::details
