// Registry routines over one text path "<root>\<subkey>", each in an explicit
// registry view. Shared by the registry script methods, the settings key, the
// resume records and the maintenance workers; they hold no state.
#pragma once

#include <string>
#include <vector>

namespace stubframework::base {

// Reads a value: the 64-bit view first, then the 32-bit view. REG_DWORD gives
// signed decimal text; other data is text up to its first zero character.
// `buffer_bytes` is how much the query is told it may return.
bool RegistryReadValue(const std::wstring& key_path, const std::wstring& name, std::wstring& value,
                       unsigned buffer_bytes = 512);

// Writes REG_SZ text in the chosen view, creating missing key levels.
bool RegistryWriteValue(const std::wstring& key_path, const std::wstring& name, const std::wstring& value,
                        bool view64);

// Deletes a key that has no subkeys, in the chosen view.
bool RegistryDeleteKey(const std::wstring& key_path, bool view64);

// Whether, somewhere below key_path, a key holding value `name` has a
// relative path that ends with one of the ";"-separated suffixes.
bool RegistrySearchKey(bool view64, const std::wstring& key_path, const std::wstring& suffixes,
                       const std::wstring& name);

// The suffix list without empty pieces.
std::vector<std::wstring> SplitSuffixes(const std::wstring& suffixes);
// `relative_path` ends with a backslash; the suffix must match the characters
// just before it, case-insensitively, and be shorter than the path.
bool SuffixMatches(const std::wstring& relative_path, const std::wstring& suffix);

}  // namespace stubframework::base
