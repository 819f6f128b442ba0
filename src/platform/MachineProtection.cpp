// The parts of the machine-scope protection that are the same on every system: the warning sink,
// the replaced identity source and the limits of what can be protected.
#include "platform/MachineProtection.h"

#include <cstdint>
#include <mutex>

#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {

std::mutex GSinkMutex;
ProtectionWarningSink GWarningSink;

std::mutex GIdentityMutex;
MachineIdentitySource GIdentitySource;  // empty: the machine's own

}  // namespace

void SetProtectionWarningSink(ProtectionWarningSink Sink) {
  std::lock_guard Lock(GSinkMutex);
  GWarningSink = std::move(Sink);
}

void SetMachineIdentitySource(MachineIdentitySource Source) {
  std::lock_guard Lock(GIdentityMutex);
  GIdentitySource = std::move(Source);
}

namespace system {

const char kNoMachineIdentity[] = "makine kimligi okunamadi";

void WarnProtection(const std::string& Text) {
  ProtectionWarningSink Sink;
  {
    std::lock_guard Lock(GSinkMutex);
    Sink = GWarningSink;
  }
  if (Sink) Sink(Text);
}

MachineIdentitySource ReplacedMachineIdentity() {
  std::lock_guard Lock(GIdentityMutex);
  return GIdentitySource;
}

void CheckProtectable(const std::vector<uint8_t>& Plain, const std::string& Description) {
  // The description's length is kept in two bytes of the blob.
  if (Description.size() > 0xFFFF) throw EProtectionError("aciklama cok uzun");
  if (Plain.size() > static_cast<size_t>(INT32_MAX)) throw EProtectionError("veri cok buyuk");
}

}  // namespace system

}  // namespace kelvo::platform
