#include "app/argument_queries.h"

#include <algorithm>
#include <cwctype>

namespace stubframework::app {

namespace {

using workflow::kResumeDownloading;
using workflow::kResumeInstalling;
using workflow::kResumeNone;

std::wstring Upper(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
  return text;
}

std::wstring Lower(std::wstring text) {
  std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
  return text;
}

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

// Equal without regard to the case of ASCII letters (the C locale's rule).
bool EqualsNoCase(const std::wstring& text, const wchar_t* other) {
  size_t i = 0;
  for (; i < text.size() && other[i] != L'\0'; ++i) {
    if (AsciiLower(text[i]) != AsciiLower(other[i])) return false;
  }
  return i == text.size() && other[i] == L'\0';
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// Any argument after the first equal to `text`, without regard to case.
bool HasLaterArgumentNoCase(const ArgumentVector& args, const wchar_t* text) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (EqualsNoCase(args[i], text)) return true;
  }
  return false;
}

// The text between name="  and the next double quote; false when absent.
bool QuotedValue(const std::wstring& raw, const std::wstring& name, std::wstring& value) {
  std::wstring key = name + L"=\"";
  size_t start = raw.find(key);
  if (start == std::wstring::npos) return false;
  start += key.size();
  size_t end = raw.find(L'"', start);
  value = raw.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
  return true;
}

}  // namespace

std::wstring GetNamedArgument(const ArgumentVector& args, const std::wstring& name) {
  std::wstring prefix = name + L"=";
  for (size_t i = 1; i < args.size(); ++i) {
    if (StartsWith(args[i], prefix)) return args[i].substr(prefix.size());
  }
  return std::wstring();
}

bool IsWorkingCopy(const ArgumentVector& args) { return HasLaterArgumentNoCase(args, L"run=1"); }

bool IsSkipSelfUpdate(const ArgumentVector& args) { return HasLaterArgumentNoCase(args, L"update=0"); }

bool IsSilentLaunch(const ArgumentVector& args) {
  return std::any_of(args.begin(), args.end(), [](const std::wstring& a) { return Upper(a) == L"/QN"; });
}

bool GetShortcutPath(const ArgumentVector& args, std::wstring& path) {
  const std::wstring prefix = L"shortcut=";
  for (const std::wstring& a : args) {
    if (StartsWith(a, prefix)) {
      path = a.substr(prefix.size());
      return true;
    }
  }
  return false;
}

bool GetUninstallMode(const ArgumentVector& args, std::wstring& mode) {
  for (const std::wstring& a : args) {
    std::wstring lower = Lower(a);
    if (lower.find(L"/uninstall") != std::wstring::npos) {
      mode = L"uninstall";
      return true;
    }
    if (lower.find(L"/modify") != std::wstring::npos) {
      mode = L"modify";
      return true;
    }
  }
  return false;
}

int GetResumeMode(const ArgumentVector& args) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (EqualsNoCase(args[i], L"RESUME=DOWNLOADING")) return kResumeDownloading;
    if (EqualsNoCase(args[i], L"RESUME=INSTALLING")) return kResumeInstalling;
  }
  return kResumeNone;
}

std::wstring PassthroughText(const std::wstring& raw) {
  std::wstring text;
  std::wstring value;
  if (QuotedValue(raw, L"passthrough", value)) text = value;
  if (QuotedValue(raw, L"passthro", value)) text += L" " + value;
  return text;
}

std::wstring CommandLineTail(const std::wstring& raw) {
  size_t end;
  if (!raw.empty() && raw[0] == L'"') {
    size_t close = raw.find(L'"', 1);
    end = close == std::wstring::npos ? raw.size() : close + 1;
  } else {
    end = raw.find_first_of(L" \t");
    if (end == std::wstring::npos) end = raw.size();
  }
  return raw.substr(end);
}

}  // namespace stubframework::app
