#pragma once
// Machine-wide named lock shared by every user and process of this computer (flock on a lock file
// in a world-writable folder). A holder that dies releases the lock, which counts as acquired.
// On Windows: the named mutex "Global\<Name>" that every user may open; an abandoned mutex counts as
// acquired. A mutex belongs to the thread that took it: acquire and release on the same thread.
#include <chrono>
#include <cstdint>
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
  // Path of the lock file (for diagnostics and tests); on Windows the name of the mutex.
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  intptr_t FHandle = -1;  // a descriptor or a handle, both -1 when absent
  bool FHeld = false;
};

// Folder that holds the lock files; KELVO_LOCK_DIR overrides it (tests), else /tmp/kelvo-locks.
// Windows has no lock folder: the value of KELVO_LOCK_DIR, empty when unset. When set, it becomes
// part of the mutex names (tests keep their locks apart by it).
std::string MachineLockDir();

}  // namespace kelvo::platform
