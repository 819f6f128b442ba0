#pragma once
// A fresh folder per test, removed with everything in it when the test ends.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvo::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return FPath; }
  // Path of Name inside the folder.
  std::string operator/(const std::string& Name) const { return FPath + "/" + Name; }

 private:
  std::string FPath;
};

// Path in the system's own spelling ("\" between names on Windows), to compare a path a test
// joined with "/" to one the program made.
std::string NativePath(const std::string& Path);

// Writes Bytes to Path as they are (creating parent folders).
void WriteBytes(const std::string& Path, const std::string& Bytes);
std::string ReadBytes(const std::string& Path);

// Sets an environment variable for the life of the object and restores the old value after.
class ScopedEnv {
 public:
  ScopedEnv(std::string Name, const char* Value);  // nullptr unsets it
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string FName;
  bool FHad = false;
  std::string FOld;
};

// Files ending in ".part" anywhere below Dir (temporary downloads left behind).
std::vector<std::string> PartFilesBelow(const std::string& Dir);

// Sets the local time zone (TZ) for the life of the object and restores the old one after. On Windows
// only fixed offsets work ("<+03>-3"); zone names such as Europe/Berlin do not.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* Zone);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<ScopedEnv> FEnv;
};

// Writes past Bytes fail in this process for the life of the object, as on a full disk. A limit of
// that kind exists only on POSIX systems (RLIMIT_FSIZE): elsewhere Applies() is false and the test
// skips with WhyNot().
class ScopedFileSizeLimit {
 public:
  static bool Applies();
  static const char* WhyNot();
  explicit ScopedFileSizeLimit(uint64_t Bytes);
  ~ScopedFileSizeLimit();
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

 private:
  uint64_t FOldSoft = 0;
  void (*FOldSignal)(int) = nullptr;
};

}  // namespace kelvo::test
