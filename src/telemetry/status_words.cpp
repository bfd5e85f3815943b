#include "telemetry/status_words.h"

namespace stubframework::telemetry {

namespace {

struct StatusRow {
  int code;
  const wchar_t* word;
};

// Codes 0 to 6 are the page's install statuses; the end of a maintenance run
// adds 70 (modify), 80 (repair) or 90 (remove) to 1, 2 or 3.
constexpr StatusRow kStatusWords[] = {
    {0, L"started"},
    {1, L"completed"},
    {2, L"error occurred"},
    {3, L"canceled"},
    {4, L"environment not supported"},
    {5, L"downloaded"},
    {6, L"stub failed"},
    {71, L"modify completed"},
    {72, L"modify error occurred"},
    {73, L"modify canceled"},
    {81, L"repair completed"},
    {82, L"repair error occurred"},
    {83, L"repair canceled"},
    {91, L"remove completed"},
    {92, L"remove error occurred"},
    {93, L"remove canceled"},
};

}  // namespace

const wchar_t* StatusWord(int status) {
  for (const StatusRow& row : kStatusWords) {
    if (row.code == status) return row.word;
  }
  return L"";
}

}  // namespace stubframework::telemetry
