// The parts of the secret-file rules that are the same on every system.
#include "platform/SecretFiles.h"

#include <filesystem>
#include <mutex>

#include "platform/Paths.h"
#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {

constexpr char kMachineGroup[] = "kelvo";

std::mutex GGroupMutex;
std::string GGroupOverride;

}  // namespace

std::string MachineGroupName() {
  std::lock_guard Lock(GGroupMutex);
  return GGroupOverride.empty() ? std::string(kMachineGroup) : GGroupOverride;
}

void SetMachineGroupNameForTests(const std::string& Name) {
  std::lock_guard Lock(GGroupMutex);
  GGroupOverride = Name;
}

TSecretScope SecretScopeOf(const std::string& Dir) {
  const std::string Machine = MachineDataDir();
  // The same spelling (Windows takes "/" for "\\"), or the same folder under another name.
  const auto Spelling = [](const std::string& Path) {
    return std::filesystem::path(WithoutTrailingSlashes(Path)).make_preferred().native();
  };
  const bool Same = Spelling(Dir) == Spelling(Machine) || system::SameFolder(Dir, Machine);
  return Same ? TSecretScope::MachineGroup : TSecretScope::Owner;
}

// Files on Windows take no mode; the value is passed on all the same, to callers that hand it to
// TTempFile::Commit.
unsigned SecretFileMode(TSecretScope Scope) { return Scope == TSecretScope::MachineGroup ? 0660 : 0600; }

}  // namespace kelvo::platform
