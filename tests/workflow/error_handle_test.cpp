// The error-handle codes: the numbers and names the page's configuration must
// carry as well.
#include "workflow/error_handle.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace stubframework::workflow {
namespace {

TEST(ErrorHandle, CodesAndNamesAreThePagesOnes) {
  const std::pair<int, std::wstring> expected[] = {
      {0, L"NoError"},      {1, L"UnknowError"},   {2, L"FileNotExist"},   {3, L"DiskFull"},
      {4, L"Failure"},      {5, L"Abort"},         {6, L"Md5Error"},       {7, L"VolumeReadOnly"},
      {8, L"NoNetwork"},    {9, L"Cancelled"},     {10, L"Running"},       {11, L"Reboot"},
      {12, L"HaveInstalled"}, {13, L"Win7GM"},     {14, L"IE8"},           {15, L"Error1638"},
      {16, L"Error30500"},  {17, L"Error30508"},   {18, L"Error30509"},    {19, L"Error20000"},
      {20, L"Win8GM"},      {30, L"Win10Required"},
  };
  ASSERT_EQ(std::size(kErrorHandleNames), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(kErrorHandleNames[i].code, expected[i].first) << i;
    EXPECT_EQ(std::wstring(kErrorHandleNames[i].name), expected[i].second) << i;
    EXPECT_EQ(std::wstring(ErrorHandleNameOf(expected[i].first)), expected[i].second);
  }
}

TEST(ErrorHandle, TwentyOneToTwentyNineAndOutOfRangeAreNoCodes) {
  for (int code = 21; code <= 29; ++code) EXPECT_EQ(ErrorHandleNameOf(code), nullptr) << code;
  EXPECT_EQ(ErrorHandleNameOf(-1), nullptr);
  EXPECT_EQ(ErrorHandleNameOf(31), nullptr);
  std::set<int> codes;
  for (const ErrorHandleName& entry : kErrorHandleNames) codes.insert(entry.code);
  EXPECT_EQ(codes.size(), std::size(kErrorHandleNames)) << "every code once";
}

}  // namespace
}  // namespace stubframework::workflow
