#pragma once
// Machine-wide named lock shared by every user and process of this computer (flock on a lock file
// in a world-writable folder). A holder that dies releases the lock, which counts as acquired.
#include <chrono>
#include <string>

namespace kelvo::platform {

class MachineLock {
 public:
  // Opens (creating if needed) the lock called Name; does not acquire it.
  explicit MachineLock(const std::string& Name);
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

  // Waits at most Timeout for the lock. True when acquired; false on time-out, and also when the lock
  // file cannot be opened (unsafe or unusable lock folder).
  bool Acquire(std::chrono::milliseconds Timeout);
  void Release();
  bool Held() const { return FHeld; }
  // Path of the lock file (for diagnostics and tests).
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  int FFd = -1;
  bool FHeld = false;
};

// Folder that holds the lock files; KELVO_LOCK_DIR overrides it (tests), else /tmp/kelvo-locks.
std::string MachineLockDir();

}  // namespace kelvo::platform
