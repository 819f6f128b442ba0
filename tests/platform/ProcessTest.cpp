#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "PlatformChild.h"
#include "platform/Process.h"
#include "support/ProcessFacts.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using test::PlatformChildProgram;
using test::ReadBytes;
using test::ScopedEnv;
using test::TempDir;

const std::string kPrefix = "Program baslatilamadi: ";

int Shell(const std::string& Script, std::vector<std::string> Args = {}) {
  Args.insert(Args.begin(), {"-c", Script});
  return RunHiddenProcess("/bin/sh", Args, kPrefix);
}

TEST(PlatformProcess, ReturnsExitCodeOrMinusOneForSignal) {
  EXPECT_EQ(Shell("exit 0"), 0);
  EXPECT_EQ(Shell("exit 3"), 3);
  EXPECT_EQ(Shell("exit 255"), 255);
  EXPECT_EQ(Shell("kill -KILL $$"), -1);
  EXPECT_EQ(Shell("kill -TERM $$; sleep 5"), -1);
  // A bare name is looked up on PATH.
  EXPECT_EQ(RunHiddenProcess("sh", {"-c", "exit 4"}, kPrefix), 4);
}

TEST(PlatformProcess, StartFailureRaisesPrefixAndSystemText) {
  for (const std::string Program : {"/nonexistent/kelvo-no-such-program", "kelvo-no-such-program-on-path"}) {
    try {
      RunHiddenProcess(Program, {}, kPrefix);
      ADD_FAILURE() << "expected EProcessStartError for " << Program;
    } catch (const EProcessStartError& E) {
      EXPECT_EQ(std::string(E.what()), kPrefix + std::strerror(ENOENT));
    }
  }

  // A file that exists but may not be run (even root needs an execute bit): the system's own
  // reason follows the prefix.
  TempDir Dir;
  test::WriteBytes(Dir / "not-executable", "#!/bin/sh\nexit 0\n");
  try {
    RunHiddenProcess(Dir / "not-executable", {}, kPrefix);
    ADD_FAILURE() << "expected EProcessStartError";
  } catch (const EProcessStartError& E) {
    EXPECT_EQ(std::string(E.what()), kPrefix + std::strerror(EACCES));
  }
}

TEST(PlatformProcess, ArgumentsArriveVerbatim) {
  TempDir Dir;
  const std::vector<std::string> Values = {"with space",
                                           "double\"quote",
                                           "single'quote",
                                           "$HOME",
                                           "",
                                           "back\\slash",
                                           "*",
                                           "-Mode",
                                           "a\tb",
                                           "T\xC3\xBCrk\xC3\xA7"
                                           "e \xC4\x9F\xC4\xB1\xC5\x9F",
                                           "; exit 9 #"};
  std::vector<std::string> Args = {Dir / "args"};
  Args.insert(Args.end(), Values.begin(), Values.end());
  // $0 is the output file; every further argument goes on its own line.
  ASSERT_EQ(Shell("printf '%s\\n' \"$@\" > \"$0\"", Args), 0);

  std::istringstream Lines(ReadBytes(Dir / "args"));
  std::vector<std::string> Received;
  for (std::string Line; std::getline(Lines, Line);) Received.push_back(Line);
  EXPECT_EQ(Received, Values);
}

TEST(PlatformProcess, InheritsEnvironmentAndFolder) {
  TempDir Dir;
  ScopedEnv Env("KELVO_PROCESS_TEST", "value with space");
  const auto OldDir = std::filesystem::current_path();
  std::filesystem::current_path(Dir.path());
  const int Code = Shell("printf '%s|%s' \"$KELVO_PROCESS_TEST\" \"$(pwd -P)\" > out");
  std::filesystem::current_path(OldDir);
  ASSERT_EQ(Code, 0);
  EXPECT_EQ(ReadBytes(Dir / "out"), "value with space|" + std::filesystem::canonical(Dir.path()).string());
}

TEST(PlatformProcess, ChildGetsOnlyNullStreams) {
  if (!test::DescriptorListApplies()) GTEST_SKIP() << test::NoDescriptorListReason();
  TempDir Dir;
  int Code = -1;
  {
    // Descriptors left inheritable on purpose: none of them may reach the child.
    test::InheritableDescriptors Open(Dir / "open-file");
    ASSERT_TRUE(Open.Open());
    Code = RunHiddenProcess(PlatformChildProgram(), {"report-fds", Dir / "fds"}, kPrefix);
  }
  ASSERT_EQ(Code, 0);
  EXPECT_EQ(ReadBytes(Dir / "fds"), "0 /dev/null\n1 /dev/null\n2 /dev/null\n");
}

TEST(PlatformProcess, OutputDoesNotReachOurStreams) {
  // Our standard output and error go into a pipe for the length of the run.
  test::CapturedStandardStreams Captured;
  ASSERT_TRUE(Captured.Capturing());
  const int Code = Shell("echo leaked; echo leaked >&2; exit 0");
  const std::string Leaked = Captured.Finish();
  EXPECT_EQ(Code, 0);
  EXPECT_EQ(Leaked, "");
}

TEST(PlatformProcess, IgnoredSignalsAreNotPassedOn) {
  // Network code ignores SIGPIPE; a script run from it must still die of a broken pipe.
  int Code = 0;
  {
    test::ScopedIgnoredBrokenPipe Ignored;
    Code = Shell("kill -PIPE $$; exit 0");
  }
  EXPECT_EQ(Code, -1);
}

TEST(PlatformProcess, SecretsStayOutOfCoreDumpsAndOtherProcesses) {
  // In a copy of this process, so the test process keeps its own settings.
  if (!test::CopiedProcess::CanCopyProcess()) GTEST_SKIP() << test::CopiedProcess::WhyNot();
  test::CopiedProcess Child([](test::CopiedProcess::TLink&) {
    if (!KeepSecretsOutOfCoreDumps()) return 1;
    if (!test::CoreLimitIsZero()) return 2;
    return test::ProcessIsDumpable() ? 3 : 0;
  });
  ASSERT_TRUE(Child.Started());
  EXPECT_EQ(Child.Wait(), 0) << "1: refused, 2: core dumps still allowed, 3: still dumpable";
}

}  // namespace
}  // namespace kelvo::platform
