#include "platform/MachineLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <thread>

namespace kelvo::platform {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(25);

// The name becomes a file name: keep it to one harmless path component.
std::string SanitiseLockName(const std::string& Name) {
  std::string Safe = Name.empty() ? std::string("_") : Name;
  for (char& C : Safe) {
    const bool Allowed =
        (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '.' || C == '_' || C == '-';
    if (!Allowed) C = '_';
  }
  return Safe;
}

// Every user must be able to create lock files in the folder, and the sticky bit keeps them from
// deleting each other's. umask would strip the mode given to mkdir, hence the chmod.
void EnsureLockDir(const std::string& Dir) {
  if (mkdir(Dir.c_str(), 01777) == 0) chmod(Dir.c_str(), 01777);
}

// Opens the lock file without following a symbolic link planted in the shared folder, and without
// blocking on a FIFO planted there. Only a file we have just created gets its mode widened, so no
// existing file of someone else is ever touched. -1 on failure.
int OpenLockFile(const std::string& Path) {
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
  for (int Attempt = 0; Attempt < 3; ++Attempt) {
    int Fd = open(Path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (Fd >= 0) {
      fchmod(Fd, 0666);
    } else if (errno == EEXIST) {
      // Opening an existing file without O_CREAT also works where the kernel refuses O_CREAT on
      // another user's file in a sticky folder (fs.protected_regular).
      Fd = open(Path.c_str(), kFlags);
      if (Fd < 0 && errno == ENOENT) continue;  // removed in between: create it again
    }
    if (Fd < 0) return -1;
    struct stat St;
    if (fstat(Fd, &St) != 0 || !S_ISREG(St.st_mode)) {
      close(Fd);
      return -1;
    }
    return Fd;
  }
  return -1;
}

}  // namespace

std::string MachineLockDir() {
  const char* Dir = std::getenv("KELVO_LOCK_DIR");
  if (Dir && *Dir) return Dir;
  return "/tmp/kelvo-locks";
}

MachineLock::MachineLock(const std::string& Name) {
  const std::string Dir = MachineLockDir();
  FPath = Dir + "/" + SanitiseLockName(Name) + ".lock";
  EnsureLockDir(Dir);
  FHandle = OpenLockFile(FPath);
}

MachineLock::~MachineLock() {
  Release();
  if (FHandle >= 0) close(static_cast<int>(FHandle));
}

bool MachineLock::Acquire(std::chrono::milliseconds Timeout) {
  if (FHeld) return true;
  if (FHandle < 0) {
    // The folder may have appeared since construction.
    EnsureLockDir(MachineLockDir());
    FHandle = OpenLockFile(FPath);
    if (FHandle < 0) return false;
  }
  const auto Deadline = std::chrono::steady_clock::now() + std::max(Timeout, std::chrono::milliseconds(0));
  for (;;) {
    if (flock(static_cast<int>(FHandle), LOCK_EX | LOCK_NB) == 0) {
      FHeld = true;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    const auto Now = std::chrono::steady_clock::now();
    if (Now >= Deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kPollInterval, Deadline - Now));
  }
}

void MachineLock::Release() {
  if (!FHeld) return;
  flock(static_cast<int>(FHandle), LOCK_UN);
  FHeld = false;
}

}  // namespace kelvo::platform
