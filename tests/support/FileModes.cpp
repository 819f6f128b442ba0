#include "support/FileModes.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <random>

#include "platform/win32/Wide.h"
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#endif

namespace kelvo::test {

#ifdef _WIN32

bool PosixModesApply() { return false; }
const char* NoPosixModesReason() {
  return "POSIX permission bits, owners and user ids do not exist on Windows (access is by ACL)";
}
TFileFacts FileFacts(const std::string&, bool) { return {}; }
unsigned ModeOf(const std::string&) { return 0; }
bool SetMode(const std::string&, unsigned) { return false; }
bool MakeFolder(const std::string&, unsigned) { return false; }
bool ChangeOwner(const std::string&, unsigned, unsigned) { return false; }
unsigned SetUmask(unsigned) { return 0; }
bool MakeExecutable(const std::string&) { return true; }

bool FlushToDisk(const std::string& Path) {
  const HANDLE File =
      CreateFileW(kelvo::platform::win32::Utf8ToWide(Path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return false;
  const bool Ok = FlushFileBuffers(File) != 0;
  CloseHandle(File);
  return Ok;
}

void SettleDisks() {}

std::string MakeUniqueTempFolder(const std::string& Prefix) {
  std::random_device Random;
  for (int Try = 0; Try < 100; ++Try) {
    const auto Path = std::filesystem::temp_directory_path() / (Prefix + std::to_string(Random()));
    std::error_code Error;
    if (std::filesystem::create_directory(Path, Error)) return Path.string();
  }
  return {};
}
unsigned UserId() { return 0; }
unsigned EffectiveUserId() { return 0; }
std::optional<std::string> HomeFromUserDatabase() { return std::nullopt; }
bool IsRoot() { return false; }
std::optional<unsigned> UserIdByName(const std::string&) { return std::nullopt; }
std::optional<unsigned> GroupIdByName(const std::string&) { return std::nullopt; }
bool UserIdInUse(unsigned) { return false; }
bool BecomeUser(unsigned, std::optional<unsigned>) { return false; }

#else

bool PosixModesApply() { return true; }
const char* NoPosixModesReason() { return ""; }

TFileFacts FileFacts(const std::string& Path, bool FollowLinks) {
  struct stat St {};
  TFileFacts F;
  if ((FollowLinks ? ::stat(Path.c_str(), &St) : ::lstat(Path.c_str(), &St)) != 0) return F;
  F.Exists = true;
  F.IsDir = S_ISDIR(St.st_mode);
  F.IsFile = S_ISREG(St.st_mode);
  F.IsLink = S_ISLNK(St.st_mode);
  F.Mode = St.st_mode & 07777;
  F.Uid = St.st_uid;
  F.Gid = St.st_gid;
  F.Size = St.st_size;
  return F;
}

unsigned ModeOf(const std::string& Path) { return FileFacts(Path).Mode; }
bool SetMode(const std::string& Path, unsigned Mode) { return ::chmod(Path.c_str(), Mode) == 0; }

bool MakeFolder(const std::string& Path, unsigned Mode) { return ::mkdir(Path.c_str(), Mode) == 0; }

bool ChangeOwner(const std::string& Path, unsigned Uid, unsigned Gid) { return ::chown(Path.c_str(), Uid, Gid) == 0; }

unsigned SetUmask(unsigned Mask) { return ::umask(Mask); }
bool MakeExecutable(const std::string& Path) { return ::chmod(Path.c_str(), 0755) == 0; }

bool FlushToDisk(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CLOEXEC);
  if (Fd < 0) return false;
  const bool Ok = ::fsync(Fd) == 0;
  return ::close(Fd) == 0 && Ok;
}

void SettleDisks() { ::sync(); }

std::string MakeUniqueTempFolder(const std::string& Prefix) {
  std::string Pattern = (std::filesystem::temp_directory_path() / (Prefix + "XXXXXX")).string();
  return ::mkdtemp(Pattern.data()) ? Pattern : std::string();
}
unsigned UserId() { return ::getuid(); }
unsigned EffectiveUserId() { return ::geteuid(); }

std::optional<std::string> HomeFromUserDatabase() {
  const passwd* Me = ::getpwuid(::getuid());
  return Me ? std::optional<std::string>(Me->pw_dir) : std::nullopt;
}
bool IsRoot() { return ::geteuid() == 0; }

std::optional<unsigned> UserIdByName(const std::string& Name) {
  const passwd* P = ::getpwnam(Name.c_str());
  return P ? std::optional<unsigned>(P->pw_uid) : std::nullopt;
}

std::optional<unsigned> GroupIdByName(const std::string& Name) {
  const group* G = ::getgrnam(Name.c_str());
  return G ? std::optional<unsigned>(G->gr_gid) : std::nullopt;
}

bool UserIdInUse(unsigned Uid) { return ::getpwuid(Uid) != nullptr; }

bool BecomeUser(unsigned Uid, std::optional<unsigned> Gid) {
  if (!Gid) return ::setgroups(0, nullptr) == 0 && ::setgid(Uid) == 0 && ::setuid(Uid) == 0;
  const gid_t Group = *Gid;
  return ::setgroups(1, &Group) == 0 && ::setgid(Uid) == 0 && ::setuid(Uid) == 0 && ::getuid() == Uid;
}

#endif

}  // namespace kelvo::test
