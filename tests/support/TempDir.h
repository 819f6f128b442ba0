#pragma once
// A fresh folder per test, removed with everything in it when the test ends.
#include <string>

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

}  // namespace kelvo::test
