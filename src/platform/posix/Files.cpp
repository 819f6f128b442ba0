#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelvo::platform {

namespace {

[[noreturn]] void Raise(const char* What, const std::string& Path, int Err) {
  throw EFileError(std::string(What) + ": " + Path + " (" + std::strerror(Err) + ")");
}

}  // namespace

std::string ReadWholeFile(const std::string& Path) {
  const int Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) Raise("Dosya acilamadi", Path, errno);
  std::string Data;
  char Buf[65536];
  for (;;) {
    const ssize_t N = ::read(Fd, Buf, sizeof Buf);
    if (N < 0) {
      if (errno == EINTR) continue;
      const int Err = errno;
      ::close(Fd);
      Raise("Dosya okunamadi", Path, Err);
    }
    if (N == 0) break;
    Data.append(Buf, static_cast<size_t>(N));
  }
  ::close(Fd);
  return Data;
}

bool RegularFileMode(const std::string& Path, unsigned& Mode) {
  struct stat St {};
  if (::stat(Path.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) return false;
  Mode = St.st_mode & 07777;
  return true;
}

// ---- TWriteFile ----

TWriteFile::~TWriteFile() {
  if (IsOpen()) ::close(static_cast<int>(FHandle));
}

bool TWriteFile::Fail() {
  FError = std::strerror(errno);
  return false;
}

bool TWriteFile::Open(const std::string& Path, TWriteMode Mode) {
  if (IsOpen()) Close();
  const int Flags = O_WRONLY | O_CREAT | O_CLOEXEC | (Mode == TWriteMode::Append ? O_APPEND : 0);
  const int Fd = ::open(Path.c_str(), Flags, 0644);
  if (Fd < 0) return Fail();
  FHandle = Fd;
  return true;
}

bool TWriteFile::Size(int64_t& Bytes) {
  struct stat St {};
  if (::fstat(static_cast<int>(FHandle), &St) != 0) return Fail();
  Bytes = St.st_size;
  return true;
}

bool TWriteFile::SetSize(int64_t Bytes) { return ::ftruncate(static_cast<int>(FHandle), Bytes) == 0 || Fail(); }

bool TWriteFile::Seek(int64_t Offset) {
  return ::lseek(static_cast<int>(FHandle), Offset, SEEK_SET) == Offset || Fail();
}

bool TWriteFile::Write(const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t N = ::write(static_cast<int>(FHandle), Data, Size);
    if (N < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    Data += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

bool TWriteFile::Close() {
  if (!IsOpen()) return true;
  const int Fd = static_cast<int>(FHandle);
  FHandle = InvalidHandle;
  return ::close(Fd) == 0 || Fail();
}

}  // namespace kelvo::platform
