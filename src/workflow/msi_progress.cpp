#include "workflow/msi_progress.h"

#include <cwctype>

namespace stubframework::workflow {

namespace {

constexpr long kLastField = 3;

void SkipBlanks(const std::wstring& text, size_t& at) {
  while (at < text.size() && std::iswspace(text[at])) ++at;
}

// A decimal integer with an optional sign, within 32 bits.
bool ReadInteger(const std::wstring& text, size_t& at, long* value) {
  bool negative = false;
  if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) negative = text[at++] == L'-';
  size_t first = at;
  int64_t magnitude = 0;
  while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
    magnitude = magnitude * 10 + (text[at++] - L'0');
    if (magnitude > int64_t{0x80000000}) return false;
  }
  if (at == first) return false;
  int64_t signed_value = negative ? -magnitude : magnitude;
  if (signed_value > int64_t{0x7FFFFFFF}) return false;
  *value = static_cast<long>(signed_value);
  return true;
}

// Through int32_t, so that a long of 64 bits (a native build) wraps as the
// 32-bit long of the product does.
long Wrap32(int64_t value) { return static_cast<long>(static_cast<int32_t>(static_cast<uint32_t>(value))); }

}  // namespace

MsiProgressFields ParseMsiProgress(const std::wstring& text) {
  MsiProgressFields fields;
  size_t at = 0;
  for (;;) {
    long number = 0;
    long value = 0;
    SkipBlanks(text, at);
    if (!ReadInteger(text, at, &number) || number < 1 || number > kLastField) break;
    if (at >= text.size() || text[at] != L':') break;
    ++at;
    SkipBlanks(text, at);
    if (!ReadInteger(text, at, &value)) break;
    fields.field[number] = value;
    if (number == 1) fields.has_subtype = true;
  }
  return fields;
}

MsiProgressState ApplyMsiProgress(MsiProgressState state, const MsiProgressFields& fields) {
  if (!fields.has_subtype) return state;
  switch (fields.field[1]) {
    case kMsiProgressReset:
      if (state.resets == 1) state.total = fields.field[2];
      if (state.resets < 2) ++state.resets;
      break;
    case kMsiProgressActionInfo:
      if (state.total != 0 && fields.field[3] != 0) state.total = Wrap32(int64_t{state.total} + fields.field[2]);
      break;
    case kMsiProgressReport:
      if (state.resets > 1) state.current = Wrap32(int64_t{state.current} + fields.field[2]);
      break;
    default:
      break;
  }
  return state;
}

}  // namespace stubframework::workflow
