// The parts of the regional settings that are the same on every system: the settings tests pin.
#include "platform/Regional.h"

#include <mutex>
#include <optional>

#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {
std::mutex GPinnedMutex;
std::optional<TRegionalSettings> GPinned;
}  // namespace

TRegionalSettings GetRegionalSettings() {
  {
    std::lock_guard Lock(GPinnedMutex);
    if (GPinned) return *GPinned;
  }
  return system::RegionalSettings();
}

void SetRegionalSettingsForTests(const TRegionalSettings* Settings) {
  std::lock_guard Lock(GPinnedMutex);
  if (Settings)
    GPinned = *Settings;
  else
    GPinned.reset();
}

}  // namespace kelvo::platform
