#pragma once
// Child processes of the platform tests, started with fork + exec so that they do not depend on the
// unit under test.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvo::test {

// The helper program of these tests (child/PlatformChild.cpp).
inline std::string PlatformChildProgram() { return KELVO_PLATFORM_CHILD; }

// A child process; killed and reaped if the test has not waited for it.
class ChildProcess {
 public:
  // Starts Program with Args; the environment is this process's, and so are descriptors that were
  // not opened close-on-exec.
  ChildProcess(const std::string& Program, const std::vector<std::string>& Args) {
    std::vector<std::string> All{Program};
    All.insert(All.end(), Args.begin(), Args.end());
    std::vector<char*> Argv;
    for (auto& Arg : All) Argv.push_back(Arg.data());
    Argv.push_back(nullptr);
    FPid = fork();
    if (FPid == 0) {
      execv(Argv[0], Argv.data());
      _exit(127);
    }
    if (FPid < 0) throw std::runtime_error("fork failed");
  }
  ~ChildProcess() {
    if (FPid > 0) {
      kill(FPid, SIGKILL);
      Wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Kill() { kill(FPid, SIGKILL); }
  // Raw wait status.
  int Wait() {
    int Status = 0;
    while (waitpid(FPid, &Status, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
    return Status;
  }
  // Exit code, or -1 when it did not exit normally.
  int ExitCode() {
    const int Status = Wait();
    return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  }

 private:
  pid_t FPid = -1;
};

// Runs the helper program to its end and returns its exit code.
inline int RunPlatformChild(const std::vector<std::string>& Args) {
  return ChildProcess(PlatformChildProgram(), Args).ExitCode();
}

// Waits up to TimeoutMs for one byte on Fd. False on time-out or end of file.
inline bool WaitForByte(int Fd, int TimeoutMs) {
  pollfd P{Fd, POLLIN, 0};
  if (poll(&P, 1, TimeoutMs) != 1) return false;
  char C = 0;
  return read(Fd, &C, 1) == 1;
}

}  // namespace kelvo::test
