// The install worker's rules that need no installer: exit-code mapping, the
// parameter text and its switches, the package folders it trusts, and the
// text of the resume records.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "workflow/install_executable.h"
#include "workflow/install_params.h"
#include "workflow/install_thread.h"
#include "workflow/resume_manager.h"
#include "workflow/run_once.h"
#include "workflow/transfer_install_error.h"

namespace stubframework::workflow {
namespace {

std::string Narrow(const std::wstring& text) { return testing::PrintToString(text); }

TEST(InstallRulesTest, InstallerResultsMapToErrorHandles) {
  const struct {
    DWORD raw;
    ErrorHandle code;
  } cases[] = {
      {0, kNoError},         {1602, kCancelled},   {1603, kFailure},        {1618, kWin8GM},
      {1638, kError1638},    {1641, kReboot},      {3010, kReboot},         {20000, kError20000},
      {1, kUnknowError},     {5, kUnknowError},    {1601, kUnknowError},    {1604, kUnknowError},
      {1627, kUnknowError},  {3011, kUnknowError}, {19999, kUnknowError},   {0xFFFFFFFF, kUnknowError},
  };
  for (const auto& c : cases) EXPECT_EQ(MapInstallResult(c.raw), c.code) << c.raw;
}

TEST(InstallRulesTest, OnlyAWholeQnArgumentKeepsTheWindow) {
  const struct {
    const wchar_t* params;
    bool silent;
  } cases[] = {
      {L" /qn DOWNLOADTIME=3", true},
      {L"/QN", true},
      {L"a /V\"/qn\" b", true},  // the split drops the quotes: "/V/qn"
      {L"/v/QN", true},
      {L"\"/qn\"", true},
      {L"/qn1", false},
      {L"/qb", false},
      {L"x/qn", false},
      {L"\"a /qn\"", false},  // inside one quoted argument
      {L"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSilentInstall(c.params), c.silent) << Narrow(c.params);
}

TEST(InstallRulesTest, SwitchRemovalCutsToTheNextBlankInAnyCase) {
  const struct {
    const wchar_t* params;
    const wchar_t* text;
    const wchar_t* left;
  } cases[] = {
      {L"A=1 /qn B=2", L"/qn", L"A=1  B=2"},
      {L"/QN+ /Qn", L"/qn", L" "},
      {L"A=1 /l*v \"$LOGFILE$\" B=2", L"/l", L"A=1  \"$LOGFILE$\" B=2"},
      {L"A=1  \"$LOGFILE$\" B=2", L"$LOGFILE$", L"A=1  \" B=2"},  // the quote before it stays
      {L"A=1 /L*V", L"/l", L"A=1 "},
      {L"A=1", L"/l", L"A=1"},
  };
  for (const auto& c : cases) {
    std::wstring params = c.params;
    RemoveSwitch(params, c.text);
    EXPECT_EQ(params, c.left) << Narrow(c.params);
  }
}

TEST(InstallRulesTest, AnUnpairedQuoteLeftByRemovalGoesPairedQuotesStay) {
  const struct {
    const wchar_t* params;
    const wchar_t* left;
  } cases[] = {
      {L"A=1  \" B=2", L"A=1   B=2"},
      {L"A=1 \"", L"A=1 "},
      {L"A=\"x y\" \"", L"A=\"x y\" "},
      {L"A=\" \"", L"A=\" \""},          // a quoted blank is a value
      {L"A=\"x y", L"A=\"x y"},          // no quote stands alone: left for the installer to refuse
      {L"", L""},
  };
  for (const auto& c : cases) {
    std::wstring params = c.params;
    DropUnpairedQuote(params);
    EXPECT_EQ(params, c.left) << Narrow(c.params);
  }
}

TEST(InstallRulesTest, UiModeFollowsQnThenQf) {
  const struct {
    const wchar_t* params;
    const wchar_t* removed;
    INSTALLUILEVEL level;
    DWORD filter;
  } cases[] = {
      {L"A=1 /qn", L"/qn", INSTALLUILEVEL_NONE, 0x400},
      {L"/QF /Qn", L"/qn", INSTALLUILEVEL_NONE, 0x400},
      {L"/qf", L"/qf", INSTALLUILEVEL_FULL, 0x2000},
      {L"/qb", nullptr, INSTALLUILEVEL_DEFAULT, 0},
  };
  for (const auto& c : cases) {
    MsiUiChoice ui = ChooseMsiUi(c.params);
    EXPECT_EQ(ui.removed_switch == nullptr ? std::wstring() : ui.removed_switch,
              c.removed == nullptr ? std::wstring() : c.removed);
    EXPECT_EQ(ui.level, c.level) << Narrow(c.params);
    EXPECT_EQ(ui.message_filter, c.filter) << Narrow(c.params);
  }
}

TEST(InstallRulesTest, ParametersArePassthroughParamAndDownloadTimeWithQnForASilentStub) {
  EXPECT_EQ(BuildInstallParams(L"PT=1", L"A=2", DownloadTimeParam(17), false), L"PT=1 A=2 DOWNLOADTIME=17");
  EXPECT_EQ(BuildInstallParams(L"", L"", DownloadTimeParam(-3), true), L"  DOWNLOADTIME=-3 /qn");
}

TEST(InstallRulesTest, OnlyTheFirstGuidOfTheFirstLaunchOnExitValueIsReplaced) {
  std::wstring params = L"A=$GUID$ LAUNCHONEXIT=\"C:\\a b\\x.exe $GUID$ $GUID$\" LAUNCHONEXIT=$GUID$ Z=1";
  std::wstring value;
  ASSERT_TRUE(ApplyLaunchOnExitGuid(params, L"G", &value));
  EXPECT_EQ(value, L"\"C:\\a b\\x.exe G $GUID$\"");
  EXPECT_EQ(params, L"A=$GUID$ LAUNCHONEXIT=\"C:\\a b\\x.exe G $GUID$\" LAUNCHONEXIT=$GUID$ Z=1");

  params = L"LAUNCHONEXIT=$GUID$";
  ASSERT_TRUE(ApplyLaunchOnExitGuid(params, L"G", &value));
  EXPECT_EQ(params, L"LAUNCHONEXIT=G");
  params = L"launchonexit=$GUID$";
  EXPECT_FALSE(ApplyLaunchOnExitGuid(params, L"G", &value)) << "the name is case-sensitive";
}

TEST(InstallRulesTest, OnlyABareFileNameIsAShortcutToDelete) {
  EXPECT_TRUE(IsBareFileName(L"Continue setup.lnk"));
  for (const wchar_t* name : {L"", L".", L"..", L"..\\x.lnk", L"a/b.lnk", L"C:x.lnk", L"x.lnk:stream"}) {
    EXPECT_FALSE(IsBareFileName(name)) << Narrow(name);
  }
  EXPECT_FALSE(IsBareFileName(std::wstring(L"x.lnk\0..\\y", 10)));
}

TEST(InstallRulesTest, PackageFoldersMustBeAnExtractionFolderInTheTemporaryFolder) {
  const std::wstring temp = L"C:\\Users\\U\\AppData\\Local\\Temp\\";
  const struct {
    std::wstring unzip, setup;
    bool trusted;
  } cases[] = {
      {temp + L"1a2B\\", temp + L"1a2B\\pkg\\bin", true},
      {temp + L"1a2B\\", temp + L"1a2B\\", true},
      {temp + L"1a2B", temp + L"1A2B", true},
      {L"c:\\users\\u\\appdata\\local\\temp\\1a2b\\", temp + L"1A2B\\x", true},
      {temp + L"1a2B\\", temp + L"1a2B\\..\\..\\Windows", false},
      {temp + L"1a2B\\", temp + L"1a2B\\pkg\\.", false},
      {temp + L"1a2B\\", temp + L"1a2B\\pkg/../..", false},
      {temp + L"1a2B\\", temp + L"1a2B2\\pkg", false},   // another folder with the same start
      {temp + L"1a2B\\", L"C:\\Windows", false},
      {temp + L"setup\\", temp + L"setup\\", false},      // not a name the extraction makes
      {temp + L"1a\\2b\\", temp + L"1a\\2b\\", false},    // not directly in the temporary folder
      {temp, temp, false},
      {L"C:\\Windows\\", L"C:\\Windows\\", false},
      {L"", L"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsExtractedPackage(temp, c.unzip, c.setup), c.trusted) << Narrow(c.unzip) << " " << Narrow(c.setup);
  }
  EXPECT_FALSE(IsExtractedPackage(L"", L"1a\\", L"1a\\")) << "no temporary folder, no package";
}

TEST(InstallRulesTest, AZipPackagesEstimateMovesItsTotalEitherWayWithinTheCounter) {
  const struct {
    long total;
    int64_t seconds;
    long expected;
  } cases[] = {
      {1, 0, 1},
      {1000, 30, 1300},
      {1000, -30, 700},         // a negative estimate takes its ticks off
      {1000, -100, 0},          // to nothing, never below
      {1000, -101, 0},
      {0, -1, 0},
      {LONG_MAX - 5, 1, LONG_MAX},  // the counter's top
      {100, INT64_MAX, LONG_MAX},
      {1000, INT64_MIN, 0},
      {-50, 10, 50},            // a total read back below zero (a page wrote it) still adds
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZipInstallTotal(c.total, c.seconds), c.expected) << c.total << " + " << c.seconds << " s";
  }
}

TEST(InstallRulesTest, OnlyTheTwoResumeModesGoIntoTheRunOnceCommand) {
  EXPECT_EQ(std::wstring(ResumableMode(L"installing")), L"INSTALLING");
  EXPECT_EQ(std::wstring(ResumableMode(L"Downloading")), L"DOWNLOADING");
  EXPECT_EQ(ResumableMode(std::wstring(L"INSTALLING\0 x", 13)), nullptr) << "text after a zero counts";
  EXPECT_EQ(ResumableMode(L"NONE"), nullptr);
}

TEST(InstallRulesTest, RunGuidsAreGuidTextAndDiffer) {
  std::wstring first = NewRunGuid();
  EXPECT_TRUE(IsGuidText(first)) << Narrow(first);
  EXPECT_NE(NewRunGuid(), first);
  EXPECT_TRUE(IsGuidText(L"9C744C24-0382-430A-AF86-F520008F5C6F"));
  for (const wchar_t* text : {L"{9C744C24-0382-430A-AF86-F520008F5C6F}", L"9C744C24-0382-430A-AF86-F520008F5C6",
                              L"9C744C24x0382-430A-AF86-F520008F5C6F", L"9C744C24-0382-430A-AF86-F520008F5C6G"}) {
    EXPECT_FALSE(IsGuidText(text)) << Narrow(text);
  }
}

}  // namespace
}  // namespace stubframework::workflow
