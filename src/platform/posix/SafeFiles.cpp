#include "platform/SafeFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kelvo::platform {

namespace {

// Write-back is started in steps of this size while a file grows, so the flush before the rename
// has little left to do.
constexpr int64_t WriteBackStep = 16 << 20;

[[noreturn]] void Raise(const char* What, const std::string& Path, int Err) {
  throw EFileError(std::string(What) + ": " + Path + ": " + std::strerror(Err));
}

std::string Join(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return Name;
  return Folder.back() == '/' ? Folder + Name : Folder + "/" + Name;
}

std::string RandomSuffix() {
  unsigned char Bytes[6];
  if (::getrandom(Bytes, sizeof Bytes, 0) != static_cast<ssize_t>(sizeof Bytes))
    throw EFileError(std::string("Rastgele ad uretilemedi: ") + std::strerror(errno));
  static const char Hex[] = "0123456789abcdef";
  std::string Out;
  for (unsigned char B : Bytes) {
    Out += Hex[B >> 4];
    Out += Hex[B & 15];
  }
  return Out;
}

int AsFd(intptr_t Handle) { return static_cast<int>(Handle); }

void CloseFd(intptr_t& Fd) {
  if (Fd >= 0) ::close(AsFd(Fd));
  Fd = -1;
}

}  // namespace

void ReportFileSizeLimitAsError() { ::signal(SIGXFSZ, SIG_IGN); }

// ---- TFolder ----

TFolder::~TFolder() { CloseFd(FHandle); }

TFolder::TFolder(TFolder&& Other) noexcept : FHandle(Other.FHandle), FPath(std::move(Other.FPath)) {
  Other.FHandle = -1;
}

TFolder& TFolder::operator=(TFolder&& Other) noexcept {
  if (this != &Other) {
    CloseFd(FHandle);
    FHandle = Other.FHandle;
    FPath = std::move(Other.FPath);
    Other.FHandle = -1;
  }
  return *this;
}

TFolder TFolder::Open(const std::string& Path, bool Create) {
  if (Create) {
    std::error_code Ignored;
    std::filesystem::create_directories(Path, Ignored);
  }
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd < 0) Raise("Klasor acilamadi", Path, errno);
  return TFolder(Fd, Path);
}

TFolder TFolder::Child(const std::string& Name, bool Create) const {
  const std::string ChildPath = Join(FPath, Name);
  if (Name.empty() || Name == "." || Name == ".." || Name.find('/') != std::string::npos)
    Raise("Gecersiz klasor adi", ChildPath, EINVAL);
  if (Create && ::mkdirat(AsFd(FHandle), Name.c_str(), 0777) != 0 && errno != EEXIST)
    Raise("Klasor olusturulamadi", ChildPath, errno);
  const int Fd = ::openat(AsFd(FHandle), Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd < 0) {
    const int Err = errno;
    if (KindOf(Name) == TEntryKind::Link) throw EFileError("Hedefte sembolik baglanti var, izlenmedi: " + ChildPath);
    Raise("Klasor acilamadi", ChildPath, Err);
  }
  return TFolder(Fd, ChildPath);
}

TEntryKind TFolder::KindOf(const std::string& Name) const {
  struct stat St {};
  if (::fstatat(AsFd(FHandle), Name.c_str(), &St, AT_SYMLINK_NOFOLLOW) != 0) return TEntryKind::None;
  if (S_ISLNK(St.st_mode)) return TEntryKind::Link;
  if (S_ISDIR(St.st_mode)) return TEntryKind::Folder;
  if (S_ISREG(St.st_mode)) return TEntryKind::File;
  return TEntryKind::Other;
}

// ---- TTempFile ----

TTempFile TTempFile::Create(const TFolder& Folder, const std::string& Stem) {
  TTempFile File;
  File.FFolder = &Folder;
  for (int Attempt = 0; Attempt < 16; ++Attempt) {
    const std::string Name = Stem + "." + RandomSuffix() + ".part";
    const int Fd =
        ::openat(AsFd(Folder.Handle()), Name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (Fd >= 0) {
      File.FHandle = Fd;
      File.FName = Name;
      return File;
    }
    if (errno != EEXIST) Raise("Dosya olusturulamadi", Join(Folder.Path(), Name), errno);
  }
  Raise("Dosya olusturulamadi", Join(Folder.Path(), Stem + ".part"), EEXIST);
}

void TTempFile::Write(const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t N = ::write(AsFd(FHandle), Data, Size);
    if (N < 0) {
      if (errno == EINTR) continue;
      Raise("Dosyaya yazilamadi", Join(FFolder->Path(), FName), errno);
    }
    Data += N;
    Size -= static_cast<size_t>(N);
    FSize += N;
  }
  if (FSize - FFlushed >= WriteBackStep) {
    // Starts write-back of the new bytes without waiting for it.
    ::sync_file_range(AsFd(FHandle), FFlushed, FSize - FFlushed, SYNC_FILE_RANGE_WRITE);
    FFlushed = FSize;
  }
}

void TTempFile::Truncate(int64_t Size) {
  if (::ftruncate(AsFd(FHandle), Size) != 0 || ::lseek(AsFd(FHandle), Size, SEEK_SET) != Size)
    Raise("Dosyaya yazilamadi", Join(FFolder->Path(), FName), errno);
  FSize = Size;
  FFlushed = std::min(FFlushed, Size);
}

bool TTempFile::Commit(const std::string& Name, bool Replace, unsigned Mode) {
  const std::string Target = Join(FFolder->Path(), Name);
  if (::fsync(AsFd(FHandle)) != 0) Raise("Dosyaya yazilamadi", Target, errno);
  if (::fchmod(AsFd(FHandle), Mode) != 0) Raise("Dosya izinleri ayarlanamadi", Target, errno);
  const int Dir = AsFd(FFolder->Handle());
  if (Replace) {
    if (::renameat(Dir, FName.c_str(), Dir, Name.c_str()) != 0) Raise("Dosya tasinamadi", Target, errno);
  } else if (::renameat2(Dir, FName.c_str(), Dir, Name.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) {
      ::fchmod(AsFd(FHandle), 0600);
      return false;
    }
    if (errno != EINVAL && errno != ENOSYS) Raise("Dosya tasinamadi", Target, errno);
    // A file system without the no-replace rename: a hard link also refuses a taken name.
    if (::linkat(Dir, FName.c_str(), Dir, Name.c_str(), 0) != 0) {
      if (errno == EEXIST) {
        ::fchmod(AsFd(FHandle), 0600);
        return false;
      }
      Raise("Dosya tasinamadi", Target, errno);
    }
    ::unlinkat(Dir, FName.c_str(), 0);
  }
  FName.clear();
  CloseFd(FHandle);
  if (::fsync(Dir) != 0) Raise("Klasor diske yazilamadi", FFolder->Path(), errno);
  return true;
}

void TTempFile::Discard() {
  if (FHandle >= 0 && !FName.empty() && FFolder) ::unlinkat(AsFd(FFolder->Handle()), FName.c_str(), 0);
  FName.clear();
  CloseFd(FHandle);
}

}  // namespace kelvo::platform
