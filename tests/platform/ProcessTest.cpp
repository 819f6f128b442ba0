#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "PlatformChild.h"
#include "platform/Process.h"
#include "support/ProcessFacts.h"
#include "support/SystemSkips.h"
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

// The helper program started through the unit under test.
int Child(std::vector<std::string> Args) { return RunHiddenProcess(PlatformChildProgram(), Args, kPrefix); }

// The prefix, then the system's reason (exactly strerror(Errno) where the system speaks errno).
void ExpectStartError(const EProcessStartError& E, int Errno) {
  const std::string Text = E.what();
  if (test::RunningOnWindows()) {
    EXPECT_EQ(Text.rfind(kPrefix, 0), 0u) << Text;
    EXPECT_GT(Text.size(), kPrefix.size()) << Text;
  } else {
    EXPECT_EQ(Text, kPrefix + std::strerror(Errno));
  }
}

TEST(PlatformProcess, ReturnsTheExitCodeAndFindsBareNamesOnPath) {
  for (const int Code : {0, 3, 255}) EXPECT_EQ(Child({"exit", std::to_string(Code)}), Code);
  const std::filesystem::path Program(PlatformChildProgram());
  ScopedEnv Path("PATH", Program.parent_path().string().c_str());
  EXPECT_EQ(RunHiddenProcess(Program.filename().string(), {"exit", "4"}, kPrefix), 4);
}

TEST(PlatformProcess, DeathBySignalIsMinusOne) {
  KELVO_SKIP_ON_WINDOWS("signals");
  EXPECT_EQ(Shell("kill -KILL $$"), -1);
  EXPECT_EQ(Shell("kill -TERM $$; sleep 5"), -1);
}

TEST(PlatformProcess, StartFailureRaisesPrefixAndSystemText) {
  for (const std::string Program : {"/nonexistent/kelvo-no-such-program", "kelvo-no-such-program-on-path"}) {
    try {
      RunHiddenProcess(Program, {}, kPrefix);
      ADD_FAILURE() << "expected EProcessStartError for " << Program;
    } catch (const EProcessStartError& E) {
      ExpectStartError(E, ENOENT);
    }
  }

  // A file that exists but may not be run (even root needs an execute bit; Windows wants a program
  // image): the system's own reason follows the prefix.
  TempDir Dir;
  test::WriteBytes(Dir / "not-executable", "#!/bin/sh\nexit 0\n");
  try {
    RunHiddenProcess(Dir / "not-executable", {}, kPrefix);
    ADD_FAILURE() << "expected EProcessStartError";
  } catch (const EProcessStartError& E) {
    ExpectStartError(E, EACCES);
  }
}

TEST(PlatformProcess, ArgumentsArriveVerbatim) {
  TempDir Dir;
  const std::vector<std::string> Values = {"with space",
                                           "double\"quote",
                                           "single'quote",
                                           "$HOME",
                                           "%PATH%",
                                           "",
                                           "back\\slash",
                                           "trailing back\\slash\\",
                                           "\\\"",
                                           "*",
                                           "-Mode",
                                           "a\tb",
                                           "T\xC3\xBCrk\xC3\xA7"
                                           "e \xC4\x9F\xC4\xB1\xC5\x9F",
                                           "; exit 9 #",
                                           "& exit 9"};
  std::vector<std::string> Args = {"write-args", Dir / "args"};
  Args.insert(Args.end(), Values.begin(), Values.end());
  ASSERT_EQ(Child(Args), 0);

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
  const int Code = Child({"write-env-and-folder", Dir / "out", "KELVO_PROCESS_TEST"});
  std::filesystem::current_path(OldDir);
  ASSERT_EQ(Code, 0);
  const std::string Out = ReadBytes(Dir / "out");
  const size_t Bar = Out.find('|');
  ASSERT_NE(Bar, std::string::npos) << Out;
  EXPECT_EQ(Out.substr(0, Bar), "value with space");
  EXPECT_TRUE(std::filesystem::equivalent(Out.substr(Bar + 1), Dir.path())) << Out;
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
  const int Code = Child({"print", "leaked"});
  const std::string Leaked = Captured.Finish();
  EXPECT_EQ(Code, 0);
  EXPECT_EQ(Leaked, "");
}

TEST(PlatformProcess, IgnoredSignalsAreNotPassedOn) {
  KELVO_SKIP_ON_WINDOWS("signals");
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
