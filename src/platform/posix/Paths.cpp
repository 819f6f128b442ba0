#include "platform/Paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Errors.h"
#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {

std::string SystemErrorText(int Err) { return std::strerror(Err); }

std::string HomeDir() {
  std::string Home = GetEnv("HOME");
  if (!Home.empty()) return Home;
  std::vector<char> Buffer(16384);
  struct passwd Entry;
  struct passwd* Found = nullptr;
  if (getpwuid_r(getuid(), &Entry, Buffer.data(), Buffer.size(), &Found) == 0 && Found && Found->pw_dir)
    return Found->pw_dir;
  return {};
}

[[noreturn]] void RefuseTempDir(const std::string& Dir) { throw EFileError("Gecici klasor guvenli degil: " + Dir); }

}  // namespace

std::string system::ProgramDir() {
  std::vector<char> Buffer(4096);
  for (;;) {
    const ssize_t Len = readlink("/proc/self/exe", Buffer.data(), Buffer.size());
    if (Len < 0) throw EFileError("Program klasoru bulunamadi: " + SystemErrorText(errno));
    if (static_cast<size_t>(Len) < Buffer.size()) {
      std::string Exe(Buffer.data(), static_cast<size_t>(Len));
      // The kernel marks a program file replaced while running; the folder is still the right one.
      constexpr char kDeleted[] = " (deleted)";
      constexpr size_t kDeletedLen = sizeof(kDeleted) - 1;
      if (Exe.size() > kDeletedLen && Exe.compare(Exe.size() - kDeletedLen, kDeletedLen, kDeleted) == 0)
        Exe.resize(Exe.size() - kDeletedLen);
      const size_t Slash = Exe.rfind('/');
      if (Slash == std::string::npos) throw EFileError("Program klasoru bulunamadi: " + Exe);
      return Slash == 0 ? std::string("/") : Exe.substr(0, Slash);
    }
    Buffer.resize(Buffer.size() * 2);
  }
}

std::string PrivateTempDir() {
  std::string Base = GetEnv("XDG_RUNTIME_DIR");
  if (Base.empty()) Base = GetEnv("TMPDIR");
  if (Base.empty()) Base = "/tmp";
  Base = WithoutTrailingSlashes(Base);
  const std::string Dir = (Base == "/" ? std::string() : Base) + "/kelvo-" + std::to_string(getuid());

  if (mkdir(Dir.c_str(), 0700) != 0 && errno != EEXIST)
    throw EFileError("Gecici klasor olusturulamadi: " + Dir + ": " + SystemErrorText(errno));

  // Checked through a descriptor of the folder itself, so what is checked is what gets tightened,
  // and a symbolic link put in its place is refused rather than followed.
  const int Fd = open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Fd < 0) RefuseTempDir(Dir);
  struct stat St;
  const bool Ours = fstat(Fd, &St) == 0 && S_ISDIR(St.st_mode) && St.st_uid == getuid();
  bool Private = Ours && (St.st_mode & 077) == 0;
  if (Ours && !Private) Private = fchmod(Fd, 0700) == 0;
  close(Fd);
  if (!Private) RefuseTempDir(Dir);
  return Dir;
}

std::string WithoutTrailingSlashes(std::string Path) {
  while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
  return Path;
}

std::string ProgramDataDir() {
  const std::string Dir = GetEnv("PROGRAMDATA");
  return Dir.empty() ? std::string("/var/lib") : Dir;
}

std::string MachineDataDir() {
  const std::string Base = WithoutTrailingSlashes(ProgramDataDir());
  return (Base == "/" ? std::string() : Base) + "/Korvessa";
}

std::string AppDataDir() {
  std::string Dir = GetEnv("APPDATA");
  if (Dir.empty()) Dir = GetEnv("XDG_CONFIG_HOME");
  if (Dir.empty()) Dir = HomeDir() + "/.config";
  return Dir;
}

std::string GetEnv(const std::string& Name) {
  const char* Value = std::getenv(Name.c_str());
  return Value ? std::string(Value) : std::string();
}

std::string MakeUniqueFolder(const std::string& Base, const std::string& Prefix) {
  std::string Pattern = Base + "/" + Prefix + "XXXXXX";
  return ::mkdtemp(Pattern.data()) == nullptr ? std::string() : Pattern;
}

}  // namespace kelvo::platform
