// The results every worker reports to the page. The page's configuration
// carries the same numbers under the same names, so this table is the one
// definition both sides are checked against.
#pragma once

#include <cstddef>

namespace stubframework::workflow {

enum ErrorHandle : int {
  kNoError = 0,
  kUnknowError = 1,  // spelled so on purpose: the pages and reports use the name "UnknowError"
  kFileNotExist = 2,
  kDiskFull = 3,
  kFailure = 4,
  kAbort = 5,
  kMd5Error = 6,
  kVolumeReadOnly = 7,
  kNoNetwork = 8,
  kCancelled = 9,
  kRunning = 10,  // progress calls only, never a final result
  kReboot = 11,
  kHaveInstalled = 12,
  kWin7GM = 13,
  kIE8 = 14,
  kError1638 = 15,
  kError30500 = 16,
  kError30508 = 17,
  kError30509 = 18,
  kError20000 = 19,
  kWin8GM = 20,
  // 21 to 29 are not assigned.
  kWin10Required = 30,
};

struct ErrorHandleName {
  ErrorHandle code;
  const wchar_t* name;  // as the page's configuration spells it
};

// "UnknowError" is the pages' spelling, kept as they have it.
inline constexpr ErrorHandleName kErrorHandleNames[] = {
    {kNoError, L"NoError"},         {kUnknowError, L"UnknowError"},       {kFileNotExist, L"FileNotExist"},
    {kDiskFull, L"DiskFull"},       {kFailure, L"Failure"},               {kAbort, L"Abort"},
    {kMd5Error, L"Md5Error"},       {kVolumeReadOnly, L"VolumeReadOnly"}, {kNoNetwork, L"NoNetwork"},
    {kCancelled, L"Cancelled"},     {kRunning, L"Running"},               {kReboot, L"Reboot"},
    {kHaveInstalled, L"HaveInstalled"}, {kWin7GM, L"Win7GM"},             {kIE8, L"IE8"},
    {kError1638, L"Error1638"},     {kError30500, L"Error30500"},         {kError30508, L"Error30508"},
    {kError30509, L"Error30509"},   {kError20000, L"Error20000"},         {kWin8GM, L"Win8GM"},
    {kWin10Required, L"Win10Required"},
};

// The page's name of a code; null for a number that is not a code.
inline const wchar_t* ErrorHandleNameOf(int code) {
  for (const ErrorHandleName& entry : kErrorHandleNames) {
    if (entry.code == code) return entry.name;
  }
  return nullptr;
}

}  // namespace stubframework::workflow
