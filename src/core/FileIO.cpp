#include "core/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

namespace kelvo {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void RaiseFileError(const std::string& What, const std::string& Path, int Err) {
  throw EFileError(What + ": " + Path + " (" + std::strerror(Err) + ")");
}

std::string TempSibling(const std::string& Path) {
  static thread_local std::mt19937_64 Rng{std::random_device{}()};
  char Suffix[24];
  std::snprintf(Suffix, sizeof Suffix, ".%016llx.tmp", static_cast<unsigned long long>(Rng()));
  return Path + Suffix;
}

}  // namespace

bool FileExists(const std::string& Path) {
  struct stat St {};
  return !Path.empty() && ::stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

bool DirectoryExists(const std::string& Path) {
  struct stat St {};
  return !Path.empty() && ::stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool ForceDirectories(const std::string& Path) {
  if (Path.empty()) return false;
  std::error_code Ec;
  fs::create_directories(Path, Ec);
  return DirectoryExists(Path);
}

std::string JoinPath(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return Name;
  if (Folder.back() == '/') return Folder + Name;
  return Folder + "/" + Name;
}

std::string FolderOf(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  return Slash == std::string::npos ? std::string() : Path.substr(0, Slash);
}

std::string FileNameOf(const std::string& Path) {
  const size_t Sep = Path.find_last_of("/\\");
  return Sep == std::string::npos ? Path : Path.substr(Sep + 1);
}

std::string ReadFileBytes(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) RaiseFileError("Dosya acilamadi", Path, errno);
  std::string Data;
  char Buf[65536];
  for (;;) {
    const ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N < 0) {
      if (errno == EINTR) continue;
      const int Err = errno;
      ::close(Fd);
      RaiseFileError("Dosya okunamadi", Path, Err);
    }
    if (N == 0) break;
    Data.append(Buf, static_cast<size_t>(N));
  }
  ::close(Fd);
  return Data;
}

std::string StripUtf8Bom(std::string Text) {
  if (Text.compare(0, 3, Utf8Bom) == 0) Text.erase(0, 3);
  return Text;
}

std::string ReadTextFile(const std::string& Path) { return StripUtf8Bom(ReadFileBytes(Path)); }

void WriteFileAtomic(const std::string& Path, const std::string& Bytes, mode_t Mode, bool ForceMode) {
  struct stat Old {};
  if (!ForceMode && ::stat(Path.c_str(), &Old) == 0 && S_ISREG(Old.st_mode)) Mode &= Old.st_mode & 07777;
  const std::string Temp = TempSibling(Path);
  const int Fd = ::open(Temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (Fd < 0) RaiseFileError("Dosya yazilamadi", Path, errno);
  auto Fail = [&](int Err) {
    ::close(Fd);
    ::unlink(Temp.c_str());
    RaiseFileError("Dosya yazilamadi", Path, Err);
  };
  size_t Done = 0;
  while (Done < Bytes.size()) {
    const ssize_t N = ::write(Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (N < 0) {
      if (errno == EINTR) continue;
      Fail(errno);
    }
    Done += static_cast<size_t>(N);
  }
  if (::fchmod(Fd, Mode) != 0 || ::fsync(Fd) != 0) Fail(errno);
  if (::close(Fd) != 0) {
    const int Err = errno;
    ::unlink(Temp.c_str());
    RaiseFileError("Dosya yazilamadi", Path, Err);
  }
  if (::rename(Temp.c_str(), Path.c_str()) != 0) {
    const int Err = errno;
    ::unlink(Temp.c_str());
    RaiseFileError("Dosya yazilamadi", Path, Err);
  }
}

void WriteTextFileWithBom(const std::string& Path, const std::string& Text, mode_t Mode, bool ForceMode) {
  WriteFileAtomic(Path, std::string(Utf8Bom) + Text, Mode, ForceMode);
}

}  // namespace kelvo
