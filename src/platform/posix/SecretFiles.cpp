#include "platform/SecretFiles.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/Paths.h"
#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {

mode_t FolderMode(TSecretScope Scope) { return Scope == TSecretScope::MachineGroup ? 02770 : 0700; }

}  // namespace

bool system::SameFolder(const std::string& A, const std::string& B) {
  struct stat SA {};
  struct stat SB {};
  return ::stat(A.c_str(), &SA) == 0 && ::stat(B.c_str(), &SB) == 0 && S_ISDIR(SA.st_mode) && SA.st_dev == SB.st_dev &&
         SA.st_ino == SB.st_ino;
}

bool FindMachineGroup(unsigned& Gid) {
  const std::string Name = MachineGroupName();
  std::vector<char> Buffer(16384);
  struct group Entry {};
  struct group* Found = nullptr;
  if (::getgrnam_r(Name.c_str(), &Entry, Buffer.data(), Buffer.size(), &Found) != 0 || !Found) return false;
  Gid = Found->gr_gid;
  return true;
}

bool PrepareSecretFolder(const std::string& Dir, TSecretScope Scope) {
  if (Dir.empty()) return false;
  const std::string Path = WithoutTrailingSlashes(Dir);
  const std::filesystem::path Parent = std::filesystem::path(Path).parent_path();
  std::error_code Ignored;
  if (!Parent.empty()) std::filesystem::create_directories(Parent, Ignored);

  // The folder is made with no rights beyond the owner's, and only then opened to the group, so
  // nobody else can slip into it in between.
  const bool Made = ::mkdir(Path.c_str(), 0700) == 0;
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) {
    struct stat St {};
    return ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
  }
  struct stat St {};
  if (::fstat(Fd, &St) == 0) {
    if (Made) {
      unsigned Gid = 0;
      // Without the right the folder keeps our own group; it is still ours alone then.
      if (Scope == TSecretScope::MachineGroup && FindMachineGroup(Gid) && St.st_gid != Gid &&
          ::fchown(Fd, static_cast<uid_t>(-1), static_cast<gid_t>(Gid)) != 0)
        St.st_gid = ::getegid();
      (void)::fchmod(Fd, FolderMode(Scope));
    } else if (St.st_uid == ::geteuid()) {
      const mode_t Allowed = FolderMode(Scope) | 05000;  // the sticky and setgid bits are the owner's choice
      const mode_t Narrowed = St.st_mode & 07777 & Allowed;
      if (Narrowed != (St.st_mode & 07777)) (void)::fchmod(Fd, Narrowed);
    }
  }
  ::close(Fd);
  return true;
}

bool CanEnterFolder(const std::string& Dir) {
  struct stat St {};
  return !Dir.empty() && ::stat(Dir.c_str(), &St) == 0 && S_ISDIR(St.st_mode) &&
         ::faccessat(AT_FDCWD, Dir.c_str(), X_OK, AT_EACCESS) == 0;
}

}  // namespace kelvo::platform
