#include "externalmethods/resume_mode.h"

#include <windows.h>
#include <shellapi.h>

namespace stubframework {

namespace {

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

int ResumeModeOfArguments(const std::vector<std::wstring>& args) {
  for (const std::wstring& arg : args) {
    if (EqualsIgnoringCase(arg, L"RESUME=DOWNLOADING")) return kResumeDownloading;
    if (EqualsIgnoringCase(arg, L"RESUME=INSTALLING")) return kResumeInstalling;
  }
  return kResumeNone;
}

int ResumeModeOfCommandLine() {
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (argv == nullptr) return kResumeNone;
  std::vector<std::wstring> args;
  for (int i = 1; i < count; ++i) args.emplace_back(argv[i]);
  ::LocalFree(argv);
  return ResumeModeOfArguments(args);
}

}  // namespace stubframework
