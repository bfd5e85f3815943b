#include "browserhost/json_escapes.h"

namespace stubframework::browserhost {

namespace {

bool IsHighSurrogate(long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of a backslash-u escape at `pos`, or -1 when there is none.
long EscapedUnit(const std::string& text, size_t pos) {
  if (pos + 6 > text.size() || text[pos] != '\\' || text[pos + 1] != 'u') return -1;
  long unit = 0;
  for (size_t i = pos + 2; i < pos + 6; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

}  // namespace

bool IsWellFormedUtf16(const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const long unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      return false;
    }
  }
  return true;
}

std::string ReplaceLoneSurrogateEscapes(const std::string& json_text) {
  std::string out;
  out.reserve(json_text.size());
  size_t pos = 0;
  while (pos < json_text.size()) {
    if (json_text[pos] != '\\') {
      out.push_back(json_text[pos++]);
      continue;
    }
    const long unit = EscapedUnit(json_text, pos);
    if (unit < 0) {
      // Another escape (a quote, a backslash, n, ...): its second character never starts one.
      out.append(json_text, pos, 2);
      pos += 2;
      continue;
    }
    if (IsHighSurrogate(unit) && IsLowSurrogate(EscapedUnit(json_text, pos + 6))) {
      out.append(json_text, pos, 12);
      pos += 12;
    } else {
      if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
        out += "\\ufffd";
      } else {
        out.append(json_text, pos, 6);
      }
      pos += 6;
    }
  }
  return out;
}

}  // namespace stubframework::browserhost
