#include "platform/Process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace kelvo::platform {

namespace {

// Owns the spawn attributes and file actions for the length of one start.
class SpawnSetup {
 public:
  SpawnSetup() {
    FActionsErr = posix_spawn_file_actions_init(&FActions);
    FAttrErr = posix_spawnattr_init(&FAttr);
  }
  ~SpawnSetup() {
    if (FActionsErr == 0) posix_spawn_file_actions_destroy(&FActions);
    if (FAttrErr == 0) posix_spawnattr_destroy(&FAttr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // 0 or the error number of the first step that failed.
  int Prepare() {
    if (FActionsErr != 0) return FActionsErr;
    if (FAttrErr != 0) return FAttrErr;
    // The child sees nothing of ours: standard streams on /dev/null, every other descriptor closed
    // (whether or not it was opened with O_CLOEXEC).
    if (int Err = posix_spawn_file_actions_addopen(&FActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) return Err;
    if (int Err = posix_spawn_file_actions_addopen(&FActions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0)) return Err;
    if (int Err = posix_spawn_file_actions_addopen(&FActions, STDERR_FILENO, "/dev/null", O_WRONLY, 0)) return Err;
    if (int Err = posix_spawn_file_actions_addclosefrom_np(&FActions, STDERR_FILENO + 1)) return Err;
    // Signal dispositions and the mask are inherited across exec: a parent that ignores SIGPIPE
    // (network libraries do) or blocks signals on a worker thread must not pass that on to scripts.
    sigset_t All;
    sigset_t None;
    sigfillset(&All);
    sigemptyset(&None);
    if (int Err = posix_spawnattr_setsigdefault(&FAttr, &All)) return Err;
    if (int Err = posix_spawnattr_setsigmask(&FAttr, &None)) return Err;
    return posix_spawnattr_setflags(&FAttr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }

  const posix_spawn_file_actions_t* Actions() const { return &FActions; }
  const posix_spawnattr_t* Attr() const { return &FAttr; }

 private:
  posix_spawn_file_actions_t FActions;
  posix_spawnattr_t FAttr;
  int FActionsErr = 0;
  int FAttrErr = 0;
};

}  // namespace

bool IsRunnableFile(const std::string& Path) {
  struct stat St {};
  return ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode) && ::access(Path.c_str(), X_OK) == 0;
}

int RunHiddenProcess(const std::string& Program, const std::vector<std::string>& Args, const std::string& ErrorPrefix) {
  std::vector<char*> Argv;
  Argv.reserve(Args.size() + 2);
  Argv.push_back(const_cast<char*>(Program.c_str()));
  for (const std::string& Arg : Args) Argv.push_back(const_cast<char*>(Arg.c_str()));
  Argv.push_back(nullptr);

  SpawnSetup Setup;
  pid_t Pid = -1;
  int Err = Setup.Prepare();
  // glibc reports a failed exec (missing program, no permission) as the return value.
  if (Err == 0) Err = posix_spawnp(&Pid, Program.c_str(), Setup.Actions(), Setup.Attr(), Argv.data(), environ);
  if (Err != 0) throw EProcessStartError(ErrorPrefix + std::strerror(Err));

  int Status = 0;
  for (;;) {
    if (waitpid(Pid, &Status, 0) == Pid) break;
    // ECHILD means someone else reaped it (SIGCHLD ignored): the exit code is lost.
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  return -1;
}

bool KeepSecretsOutOfCoreDumps() {
  const rlimit None{0, 0};
  const bool NoCore = ::setrlimit(RLIMIT_CORE, &None) == 0;
  // Also keeps ptrace and /proc/<pid>/mem of this process to root.
  const bool NotDumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  return NoCore && NotDumpable;
}

}  // namespace kelvo::platform
