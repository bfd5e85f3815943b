#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/launch.h"

namespace stubframework::app {
namespace {

TEST(CommandLineTest, WorkingCopyArgumentIsFoundAfterTheFirstWithoutRegardToCase) {
  EXPECT_TRUE(IsWorkingCopy(SplitCommandLine(L"stub.exe run=1")));
  EXPECT_TRUE(IsWorkingCopy(SplitCommandLine(L"stub.exe /QN RUN=1")));
  EXPECT_FALSE(IsWorkingCopy(SplitCommandLine(L"run=1")));  // the program name does not count
  EXPECT_FALSE(IsWorkingCopy(SplitCommandLine(L"stub.exe run=10")));
}

TEST(CommandLineTest, NamedArgumentsSkipTheFirstAndAreCaseSensitive) {
  ArgumentVector args = SplitCommandLine(L"newVersionExitCode=5 parentProcessID=77 newVersionExitCode=9");
  EXPECT_EQ(GetNamedArgument(args, L"newVersionExitCode"), L"9");
  EXPECT_EQ(GetNamedArgument(args, L"parentProcessID"), L"77");
  EXPECT_EQ(GetNamedArgument(args, L"parentprocessid"), L"");
  EXPECT_EQ(GetNamedArgument(args, L"missing"), L"");
}

TEST(CommandLineTest, ShortcutIsFoundEvenInTheFirstPosition) {
  std::wstring path;
  ASSERT_TRUE(GetShortcutPath(SplitCommandLine(L"\"shortcut=C:\\Users\\A B\\stub.exe\" run=1"), path));
  EXPECT_EQ(path, L"C:\\Users\\A B\\stub.exe");
  ASSERT_TRUE(GetShortcutPath(SplitCommandLine(L"x.exe run=1 shortcut=\"C:\\Down loads\\s.exe\""), path));
  EXPECT_EQ(path, L"C:\\Down loads\\s.exe");
  EXPECT_FALSE(GetShortcutPath(SplitCommandLine(L"x.exe Shortcut=C:\\s.exe"), path));
}

TEST(CommandLineTest, SkipUpdateAndSilent) {
  EXPECT_TRUE(IsSkipSelfUpdate(SplitCommandLine(L"x.exe run=1 UPDATE=0")));
  EXPECT_FALSE(IsSkipSelfUpdate(SplitCommandLine(L"update=0")));
  EXPECT_TRUE(IsSilentLaunch(SplitCommandLine(L"x.exe /qn")));
  EXPECT_TRUE(IsSilentLaunch(SplitCommandLine(L"/QN")));  // the first argument counts here
  EXPECT_FALSE(IsSilentLaunch(SplitCommandLine(L"x.exe /qn1")));
}

TEST(CommandLineTest, FirstArgumentNamingUninstallOrModifyDecidesTheMode) {
  struct Case {
    const wchar_t* command_line;
    const wchar_t* mode;
  };
  const Case cases[] = {
      {L"x.exe /Modify foo/UNINSTALL", L"modify"},  // an earlier /modify is not beaten by a later /uninstall
      {L"x.exe foo/UNINSTALL /Modify", L"uninstall"},
      {L"x.exe /modify/Uninstall", L"uninstall"},  // both in one argument: uninstall
      {L"x.exe /Modify", L"modify"},
      {L"x.exe abc/UNINSTALLxyz", L"uninstall"},  // anywhere inside the argument
      {L"C:\\setup/uninstall\\x.exe /modify", L"uninstall"},  // the program path counts
      {L"\"C:\\setup/Modify\\x.exe\" /uninstall", L"modify"},
  };
  for (const Case& c : cases) {
    std::wstring mode = L"unset";
    ASSERT_TRUE(GetUninstallMode(SplitCommandLine(c.command_line), mode)) << c.command_line;
    EXPECT_EQ(mode, c.mode) << c.command_line;
  }
  for (const wchar_t* none : {L"x.exe uninstall", L"x.exe -modify \\uninstall", L"x.exe"}) {
    std::wstring mode = L"keep";
    EXPECT_FALSE(GetUninstallMode(SplitCommandLine(none), mode)) << none;
    EXPECT_EQ(mode, L"keep") << none;
  }
}

TEST(CommandLineTest, ResumeModes) {
  EXPECT_EQ(GetResumeMode(SplitCommandLine(L"x.exe resume=downloading")), kResumeDownloading);
  EXPECT_EQ(GetResumeMode(SplitCommandLine(L"x.exe run=1 RESUME=INSTALLING RESUME=DOWNLOADING")), kResumeInstalling);
  EXPECT_EQ(GetResumeMode(SplitCommandLine(L"RESUME=INSTALLING")), kResumeNone);
  EXPECT_EQ(GetResumeMode(SplitCommandLine(L"x.exe RESUME=OTHER")), kResumeNone);
  EXPECT_EQ(GetResumeMode(SplitCommandLine(L"x.exe RESUME=INSTALLINGX xRESUME=DOWNLOADING RESUME=")), kResumeNone);
}

TEST(CommandLineTest, PassthroughTextJoinsBothValues) {
  EXPECT_EQ(PassthroughText(L"x.exe passthrough=\"/a /b\" passthro=\"/c\""), L"/a /b /c");
  EXPECT_EQ(PassthroughText(L"x.exe passthro=\"/c\""), L" /c");  // alone: a leading blank
  EXPECT_EQ(PassthroughText(L"x.exe passthrough=\"/a\""), L"/a");
  EXPECT_EQ(PassthroughText(L"x.exe Passthrough=\"/a\" passthrough=/b"), L"");
  EXPECT_EQ(PassthroughText(L"x.exe passthrough=\"unterminated"), L"unterminated");
}

TEST(CommandLineTest, HasArgumentComparesWholeArgumentsInUpperCase) {
  EXPECT_TRUE(HasArgument(L"/norestart /qn", L"/QN"));
  EXPECT_TRUE(HasArgument(L"/V/QN", L"/v/qn"));
  EXPECT_FALSE(HasArgument(L"/qnx", L"/QN"));
  EXPECT_FALSE(HasArgument(L"", L"/QN"));
}

TEST(CommandLineTest, LaunchOnExitKeepsAQuotedPathWithBlanks) {
  std::wstring text = L"/qn LAUNCHONEXIT=\"C:\\Program Files\\App\\app.exe\" REBOOT=0";
  LaunchOnExit found = FindLaunchOnExit(text);
  ASSERT_TRUE(found.found);
  EXPECT_EQ(found.position, text.find(L"=\"") + 1);
  EXPECT_EQ(found.value, L"\"C:\\Program Files\\App\\app.exe\"");

  LaunchOnExit plain = FindLaunchOnExit(L"LAUNCHONEXIT=1 REBOOT=0");
  EXPECT_EQ(plain.value, L"1");
  EXPECT_EQ(FindLaunchOnExit(L"LAUNCHONEXIT=C:\\a.exe").value, L"C:\\a.exe");
  EXPECT_FALSE(FindLaunchOnExit(L"/qn").found);
}

TEST(CommandLineTest, TailStartsAfterTheProgramNameAsWritten) {
  EXPECT_EQ(CommandLineTail(L"\"C:\\My Files\\stub.exe\" /QN"), L" /QN");
  EXPECT_EQ(CommandLineTail(L"C:\\stub.exe /QN x"), L" /QN x");
  EXPECT_EQ(CommandLineTail(L"\"C:\\stub.exe\""), L"");
  EXPECT_EQ(CommandLineTail(L"stub.exe"), L"");
}

TEST(LaunchCommandLinesTest, WorkingCopyGetsTheTailRunAndTheQuotedPath) {
  std::wstring line = WorkingCopyCommandLine(CommandLineTail(L"\"C:\\A B\\stub.exe\" /QN"), L"C:\\A B\\stub.exe");
  EXPECT_EQ(line, L" /QN run=1 shortcut=\"C:\\A B\\stub.exe\"");
  // The child sees an empty program name, then the arguments.
  ArgumentVector args = SplitCommandLine(line);
  ASSERT_EQ(args.size(), 4u);
  EXPECT_EQ(args[0], L"");
  EXPECT_TRUE(IsSilentLaunch(args));
  EXPECT_TRUE(IsWorkingCopy(args));
  std::wstring shortcut;
  ASSERT_TRUE(GetShortcutPath(args, shortcut));
  EXPECT_EQ(shortcut, L"C:\\A B\\stub.exe");
}

TEST(LaunchCommandLinesTest, HandOverLines) {
  std::wstring newer = NewerStubCommandLine(L" /QN", L"C:\\s.exe");
  EXPECT_EQ(newer, L" /QN run=1 update=0 shortcut=\"C:\\s.exe\"");
  EXPECT_EQ(FinishingCommandLine(newer, 197800, 4242),
            L" /QN run=1 update=0 shortcut=\"C:\\s.exe\" newVersionExitCode=197800 parentProcessID=4242");
}

TEST(LaunchCommandLinesTest, StoredStubNameMustBeAPlainFileName) {
  EXPECT_TRUE(IsPlainFileName(L"stub_new.exe"));
  EXPECT_FALSE(IsPlainFileName(L"..\\evil.exe"));
  EXPECT_FALSE(IsPlainFileName(L"C:evil.exe"));
  EXPECT_FALSE(IsPlainFileName(L"a/b.exe"));
  EXPECT_FALSE(IsPlainFileName(L".."));
  EXPECT_FALSE(IsPlainFileName(L""));
}

}  // namespace
}  // namespace stubframework::app
