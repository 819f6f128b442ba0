// The parts of the folder service that are the same on every system.
#include "platform/Paths.h"

#include <mutex>

#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {
std::mutex GProgramDirLock;
std::string GProgramDirOverride;
}  // namespace

void SetProgramDirForTests(const std::string& Dir) {
  std::lock_guard<std::mutex> Guard(GProgramDirLock);
  GProgramDirOverride = Dir;
}

std::string ProgramDir() {
  {
    std::lock_guard<std::mutex> Guard(GProgramDirLock);
    if (!GProgramDirOverride.empty()) return GProgramDirOverride;
  }
  return system::ProgramDir();
}

}  // namespace kelvo::platform
