// The language table and the mapping from Windows language ids to its rows.
#pragma once

#include <string>

namespace stubframework::app {

struct LanguageRow {
  const wchar_t* code;  // the value of property "lang"; "jp" and "tw" rather than ISO
  const wchar_t* name;  // English name: the install language
};

constexpr int kLanguageCount = 108;

// Row `index` of the table; row 0 ("other") for an index outside it.
const LanguageRow& LanguageAt(int index);

// Row for a Windows language id: whole ids first, then the primary language;
// 0 when nothing matches.
int LanguageIndexFromId(unsigned lang_id);

// Row whose code equals `code` exactly (case and all), searching rows 1 to
// 107; 0 when none does ("other" itself included).
int LanguageIndexFromCode(const std::wstring& code);

// The install languages the product ships: 1, 2, 3, 5 and 13 stay, any other
// row becomes 1 (English).
int NarrowInstallLanguage(int index);

}  // namespace stubframework::app
