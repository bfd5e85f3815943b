// The pure rules of a transfer: result mapping, retry budget, the
// cache-busting URL, the extract decision and the read-only volume check.
#include <gtest/gtest.h>

#include <string>

#include "downloader/result_codes.h"
#include "workflow/download_thread.h"
#include "workflow/extract_in_download.h"
#include "workflow/transfer_download_error.h"

namespace stubframework::workflow {
namespace {

TEST(TransferResult, MapsEveryListedHresultAndTheRestToUnknown) {
  EXPECT_EQ(MapTransferResult(S_OK), kNoError);
  EXPECT_EQ(MapTransferResult(S_FALSE), kFailure);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x800C0005)), kFailure);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x800C0008)), kFailure);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x800C000B)), kFailure);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x80070070)), kDiskFull);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x800C0006)), kFileNotExist);
  EXPECT_EQ(MapTransferResult(E_ABORT), kAbort);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(downloader::kResultBlockUnverifiable)), kMd5Error);
  // Neighbours of the listed values are not listed.
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x800C0004)), kUnknowError);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x800C0007)), kUnknowError);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x80070005)), kUnknowError);
  EXPECT_EQ(MapTransferResult(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)), kUnknowError);
  EXPECT_EQ(MapTransferResult(E_OUTOFMEMORY), kUnknowError);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x80091006)), kUnknowError);
  EXPECT_EQ(MapTransferResult(static_cast<HRESULT>(0x80091008)), kUnknowError);
  EXPECT_EQ(MapTransferResult(2), kUnknowError);
}

TEST(TransferResult, OnlyFailureAndUnknownAreRetried) {
  for (int code = 0; code <= 30; ++code) {
    EXPECT_EQ(IsRetryable(code), code == kFailure || code == kUnknowError) << code;
  }
}

TEST(AttemptBudget, TenAttemptsWithoutProgressUseItUpAndProgressRefillsIt) {
  int budget = kMaxTransferAttempts;
  int attempts = 0;
  while (budget > 0) {
    ++attempts;
    budget = NextAttemptBudget(budget, false);
  }
  EXPECT_EQ(attempts, 10);
  EXPECT_EQ(NextAttemptBudget(1, true), 10);
  EXPECT_EQ(NextAttemptBudget(10, true), 10);
  // Nine failures without progress, one with, nine more: still one left.
  budget = 10;
  for (int i = 0; i < 9; ++i) budget = NextAttemptBudget(budget, false);
  EXPECT_EQ(budget, 1);
  budget = NextAttemptBudget(budget, true);
  for (int i = 0; i < 9; ++i) budget = NextAttemptBudget(budget, false);
  EXPECT_EQ(budget, 1);
}

SYSTEMTIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms) {
  SYSTEMTIME t = {};
  t.wYear = year;
  t.wMonth = month;
  t.wDay = day;
  t.wHour = hour;
  t.wMinute = minute;
  t.wSecond = second;
  t.wMilliseconds = ms;
  return t;
}

TEST(TimestampedUrl, QuestionMarkOrAmpersandThenDigitsAndBlankPaddedMilliseconds) {
  EXPECT_EQ(TimestampedUrl(L"http://h/a.bin", At(2026, 3, 7, 9, 5, 2, 123)),
            L"http://h/a.bin?timestamp=20260307090502123");
  EXPECT_EQ(TimestampedUrl(L"http://h/a.bin?x=1", At(2026, 12, 31, 23, 59, 59, 45)),
            L"http://h/a.bin?x=1&timestamp=20261231235959 45");
  EXPECT_EQ(TimestampedUrl(L"http://h/a?", At(999, 1, 1, 0, 0, 0, 5)), L"http://h/a?&timestamp= 9990101000000  5");
  EXPECT_EQ(TimestampedUrl(L"http://h/a", At(2026, 1, 1, 0, 0, 0, 0)), L"http://h/a?timestamp=20260101000000  0");
}

TEST(ExtractDecision, OnlyAZipUrlWhenAskedAndNotForDownloadOnly) {
  EXPECT_TRUE(ShouldExtractInDownload(L"http://h/p.zip", L"true", L""));
  EXPECT_TRUE(ShouldExtractInDownload(L"http://h/P.ZIP", L"true", L"false"));
  EXPECT_TRUE(ShouldExtractInDownload(L"http://h/p.Zip", L"true", L"TRUE")) << "only \"true\" means true";
  EXPECT_FALSE(ShouldExtractInDownload(L"http://h/p.zip", L"true", L"true"));
  EXPECT_FALSE(ShouldExtractInDownload(L"http://h/p.zip", L"True", L""));
  EXPECT_FALSE(ShouldExtractInDownload(L"http://h/p.zip", L"", L""));
  EXPECT_FALSE(ShouldExtractInDownload(L"http://h/p.msi", L"true", L""));
  EXPECT_FALSE(ShouldExtractInDownload(L"http://h/p.zipx", L"true", L""));
  EXPECT_FALSE(ShouldExtractInDownload(L"http://h/zip", L"true", L""));
}

std::wstring g_asked_root;
DWORD g_flags = 0;
bool g_answer = true;
bool FakeVolumeFlags(const std::wstring& root, DWORD* flags) {
  g_asked_root = root;
  *flags = g_flags;
  return g_answer;
}

TEST(ReadOnlyVolume, AskedForTheRootAndTrueOnlyWithTheReadOnlyFlag) {
  g_answer = true;
  g_flags = FILE_READ_ONLY_VOLUME | FILE_CASE_SENSITIVE_SEARCH;
  EXPECT_TRUE(IsVolumeReadOnly(L"D:\\", FakeVolumeFlags));
  EXPECT_EQ(g_asked_root, L"D:\\");
  g_flags = FILE_CASE_SENSITIVE_SEARCH;
  EXPECT_FALSE(IsVolumeReadOnly(L"D:\\", FakeVolumeFlags));
  g_flags = FILE_READ_ONLY_VOLUME;
  g_answer = false;
  EXPECT_FALSE(IsVolumeReadOnly(L"D:\\", FakeVolumeFlags)) << "flags that could not be read say nothing";
  // Only the first three characters reach the query.
  g_answer = true;
  EXPECT_TRUE(IsVolumeReadOnly(L"\\\\server\\share", FakeVolumeFlags));
  EXPECT_EQ(g_asked_root, L"\\\\s");
}

TEST(ReadOnlyVolume, TheRealQueryFindsTheSystemDriveWritable) {
  wchar_t windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 2u);
  std::wstring root = std::wstring(windows).substr(0, 3);
  DWORD flags = 0;
  ASSERT_TRUE(QueryVolumeFlags(root, &flags));
  EXPECT_FALSE(IsVolumeReadOnly(root, QueryVolumeFlags));
}

}  // namespace
}  // namespace stubframework::workflow
