#include "platform/SharedFolders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Errors.h"

namespace kelvo::platform {

namespace fs = std::filesystem;

namespace {

// The kernel's form of an access list in the system.posix_acl_* attributes: a version word, then
// entries of tag, permissions and id, little-endian, ordered by tag and, within a tag, by id. Written
// directly so that no library is needed for three fixed lists.
constexpr uint32_t kAclVersion = 2;
constexpr uint16_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;
constexpr uint32_t kNoId = 0xFFFFFFFFu;
constexpr char kAccessAttr[] = "system.posix_acl_access";
constexpr char kDefaultAttr[] = "system.posix_acl_default";

constexpr uint16_t kRead = 4, kWrite = 2, kSearch = 1;

void PutLittleEndian(std::string& Out, uint32_t Value, int Bytes) {
  for (int I = 0; I < Bytes; ++I) Out += static_cast<char>((Value >> (8 * I)) & 0xFF);
}

void PutEntry(std::string& Out, uint16_t Tag, uint16_t Perm, uint32_t Id) {
  PutLittleEndian(Out, Tag, 2);
  PutLittleEndian(Out, Perm, 2);
  PutLittleEndian(Out, Id, 4);
}

// Owner: OwnerPerm; every reader: ReaderPerm; owning group and others: nothing. The mask equals
// ReaderPerm, so the mode's group bits show what the readers get.
std::string AccessList(uint16_t OwnerPerm, const std::vector<uid_t>& ReaderIds, uint16_t ReaderPerm) {
  std::string Out;
  PutLittleEndian(Out, kAclVersion, 4);
  PutEntry(Out, kUserObj, OwnerPerm, kNoId);
  for (uid_t Id : ReaderIds) PutEntry(Out, kUser, ReaderPerm, static_cast<uint32_t>(Id));
  PutEntry(Out, kGroupObj, 0, kNoId);
  if (!ReaderIds.empty()) PutEntry(Out, kMask, ReaderPerm, kNoId);
  PutEntry(Out, kOther, 0, kNoId);
  return Out;
}

std::string ErrorText(int Err) { return std::strerror(Err); }

bool AclsUnsupported(int Err) { return Err == EOPNOTSUPP || Err == ENOTSUP; }

constexpr char kNoAclWarning[] =
    "Dosya sistemi erisim listelerini (ACL) desteklemiyor; klasoru yalnizca sahibi okuyabilir: ";

struct TReaders {
  std::vector<uid_t> Ids;  // sorted, without duplicates, as the kernel wants them
  std::vector<std::string> Names;
};

TReaders ResolveReaders(const std::vector<std::string>& Names) {
  TReaders Found;
  std::vector<char> Buffer(16384);
  for (const std::string& Name : Names) {
    struct passwd Entry;
    struct passwd* Result = nullptr;
    if (Name.empty() || getpwnam_r(Name.c_str(), &Entry, Buffer.data(), Buffer.size(), &Result) != 0 || !Result)
      continue;
    // The owner's own entry already says everything about the owner.
    if (Result->pw_uid == geteuid()) continue;
    if (std::find(Found.Ids.begin(), Found.Ids.end(), Result->pw_uid) != Found.Ids.end()) continue;
    Found.Ids.push_back(Result->pw_uid);
    Found.Names.push_back(Name);
  }
  std::sort(Found.Ids.begin(), Found.Ids.end());
  return Found;
}

// Sets the list on the open folder or file Fd; without access lists in the file system the mode
// keeps the owner's bits alone and a warning is noted.
void SetListOnFd(int Fd, const char* Attr, const std::string& List, const std::string& Path, mode_t OwnerOnlyMode,
                 TFolderGrant& Grant) {
  if (fsetxattr(Fd, Attr, List.data(), List.size(), 0) == 0) return;
  const int Err = errno;
  if (!AclsUnsupported(Err)) throw EFileError("Klasor erisim izinleri ayarlanamadi: " + Path + ": " + ErrorText(Err));
  if (fchmod(Fd, OwnerOnlyMode) != 0)
    throw EFileError("Klasor erisim izinleri ayarlanamadi: " + Path + ": " + ErrorText(errno));
  if (Grant.Warning.empty()) Grant.Warning = kNoAclWarning + Path;
}

class TFd {
 public:
  explicit TFd(int Fd) : FFd(Fd) {}
  ~TFd() {
    if (FFd >= 0) close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }

 private:
  int FFd;
};

}  // namespace

TFolderGrant PrepareTraverseOnlyDir(const std::string& Dir, const std::vector<std::string>& Readers) {
  if (mkdir(Dir.c_str(), 0700) != 0 && errno != EEXIST)
    throw EFileError("Klasor olusturulamadi: " + Dir + ": " + ErrorText(errno));
  // Checked through a descriptor of the folder itself, so a link put in its place is refused rather
  // than followed, and what is checked is what gets its access list.
  const TFd Fd(open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat St;
  if (Fd.Get() < 0 || fstat(Fd.Get(), &St) != 0 || !S_ISDIR(St.st_mode) || St.st_uid != geteuid())
    throw EFileError("Gecici klasor guvenli degil: " + Dir);

  const TReaders Found = ResolveReaders(Readers);
  TFolderGrant Grant;
  Grant.Readers = Found.Names;
  SetListOnFd(Fd.Get(), kAccessAttr, AccessList(kRead | kWrite | kSearch, Found.Ids, kSearch), Dir, 0700, Grant);
  return Grant;
}

std::string MakeReadableRunDir(const std::string& Base, const std::string& Prefix,
                               const std::vector<std::string>& Readers, TFolderGrant& Grant) {
  std::string Pattern = Base + "/" + Prefix + "XXXXXX";
  if (mkdtemp(Pattern.data()) == nullptr)
    throw EFileError("Klasor olusturulamadi: " + Pattern + ": " + ErrorText(errno));
  const TFd Fd(open(Pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (Fd.Get() < 0) throw EFileError("Klasor acilamadi: " + Pattern + ": " + ErrorText(errno));

  const TReaders Found = ResolveReaders(Readers);
  Grant.Readers = Found.Names;
  const std::string List = AccessList(kRead | kWrite | kSearch, Found.Ids, kRead | kSearch);
  SetListOnFd(Fd.Get(), kAccessAttr, List, Pattern, 0700, Grant);
  if (Grant.Warning.empty()) SetListOnFd(Fd.Get(), kDefaultAttr, List, Pattern, 0700, Grant);
  return Pattern;
}

TFolderGrant GrantReadBelow(const std::string& Dir, const std::vector<std::string>& Readers) {
  const TReaders Found = ResolveReaders(Readers);
  TFolderGrant Grant;
  Grant.Readers = Found.Names;
  const std::string FileList = AccessList(kRead | kWrite, Found.Ids, kRead);
  const std::string FolderList = AccessList(kRead | kWrite | kSearch, Found.Ids, kRead | kSearch);
  std::error_code Ec;
  for (auto It = fs::recursive_directory_iterator(Dir, Ec); !Ec && It != fs::recursive_directory_iterator();
       It.increment(Ec)) {
    std::error_code StatusEc;
    const fs::file_status Status = It->symlink_status(StatusEc);
    if (StatusEc) continue;
    const bool Folder = fs::is_directory(Status);
    if (!Folder && !fs::is_regular_file(Status)) continue;  // links, devices, pipes: nothing to share
    // By path without following a final link: the unpacker has ended, and only this user writes here.
    const std::string Path = It->path().string();
    const std::string& List = Folder ? FolderList : FileList;
    if (lsetxattr(Path.c_str(), kAccessAttr, List.data(), List.size(), 0) == 0) continue;
    const int Err = errno;
    if (!AclsUnsupported(Err)) throw EFileError("Dosya erisim izinleri ayarlanamadi: " + Path + ": " + ErrorText(Err));
    if (Grant.Warning.empty()) Grant.Warning = kNoAclWarning + Path;
  }
  if (Ec) throw EFileError("Klasor okunamadi: " + Dir + ": " + Ec.message());
  return Grant;
}

bool FreeDiskSpace(const std::string& Path, uint64_t& Bytes) {
  struct statvfs Vfs;
  if (statvfs(Path.c_str(), &Vfs) != 0) return false;
  Bytes = static_cast<uint64_t>(Vfs.f_bavail) * static_cast<uint64_t>(Vfs.f_frsize);
  return true;
}

std::string CurrentUserIdText() { return std::to_string(geteuid()); }

}  // namespace kelvo::platform
