#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "ChildProcess.h"
#include "platform/Process.h"
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
  TempDir Dir;
  // Descriptors left inheritable on purpose: none of them may reach the child.
  int Pipe[2];
  ASSERT_EQ(pipe(Pipe), 0);
  const int File = open((Dir / "open-file").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(File, 0);

  const int Code = RunHiddenProcess(PlatformChildProgram(), {"report-fds", Dir / "fds"}, kPrefix);
  close(Pipe[0]);
  close(Pipe[1]);
  close(File);
  ASSERT_EQ(Code, 0);
  EXPECT_EQ(ReadBytes(Dir / "fds"), "0 /dev/null\n1 /dev/null\n2 /dev/null\n");
}

TEST(PlatformProcess, OutputDoesNotReachOurStreams) {
  // Our standard output and error go into a pipe for the length of the run.
  int Pipe[2];
  ASSERT_EQ(pipe(Pipe), 0);
  fflush(stdout);
  fflush(stderr);
  const int SavedOut = dup(STDOUT_FILENO);
  const int SavedErr = dup(STDERR_FILENO);
  dup2(Pipe[1], STDOUT_FILENO);
  dup2(Pipe[1], STDERR_FILENO);
  close(Pipe[1]);
  const int Code = Shell("echo leaked; echo leaked >&2; exit 0");
  dup2(SavedOut, STDOUT_FILENO);
  dup2(SavedErr, STDERR_FILENO);
  close(SavedOut);
  close(SavedErr);

  // Every write end is closed now, so the read end either yields what leaked or end of file.
  std::string Leaked;
  char Buffer[256];
  for (ssize_t N; (N = read(Pipe[0], Buffer, sizeof(Buffer))) > 0;) Leaked.append(Buffer, static_cast<size_t>(N));
  close(Pipe[0]);
  EXPECT_EQ(Code, 0);
  EXPECT_EQ(Leaked, "");
}

TEST(PlatformProcess, IgnoredSignalsAreNotPassedOn) {
  // Network code ignores SIGPIPE; a script run from it must still die of a broken pipe.
  struct sigaction Old;
  struct sigaction Ignore {};
  Ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &Ignore, &Old);
  const int Code = Shell("kill -PIPE $$; exit 0");
  sigaction(SIGPIPE, &Old, nullptr);
  EXPECT_EQ(Code, -1);
}

TEST(PlatformProcess, SecretsStayOutOfCoreDumpsAndOtherProcesses) {
  // In a child, so this test process keeps its own settings.
  const pid_t Pid = fork();
  ASSERT_GE(Pid, 0);
  if (Pid == 0) {
    if (!KeepSecretsOutOfCoreDumps()) _exit(1);
    rlimit Core{};
    if (getrlimit(RLIMIT_CORE, &Core) != 0 || Core.rlim_cur != 0 || Core.rlim_max != 0) _exit(2);
    _exit(prctl(PR_GET_DUMPABLE) == 0 ? 0 : 3);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Pid, &Status, 0), Pid);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0) << "1: refused, 2: core dumps still allowed, 3: still dumpable";
}

}  // namespace
}  // namespace kelvo::platform
