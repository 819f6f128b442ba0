#include "support/TempDir.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "support/FileModes.h"
#include "support/ProcessFacts.h"

namespace kelvo::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  FPath = MakeUniqueTempFolder("kelvo-test-");
  if (FPath.empty()) throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
  std::error_code Ec;
  // Folders a test made read-only must become writable again to be removed.
  for (auto It = fs::recursive_directory_iterator(FPath, Ec); !Ec && It != fs::recursive_directory_iterator();
       It.increment(Ec))
    if (It->is_directory(Ec)) fs::permissions(It->path(), fs::perms::owner_all, fs::perm_options::add, Ec);
  fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, Ec);
  fs::remove_all(FPath, Ec);
}

void WriteBytes(const std::string& Path, const std::string& Bytes) {
  const fs::path P(Path);
  if (P.has_parent_path()) fs::create_directories(P.parent_path());
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  if (!Out) throw std::runtime_error("cannot write " + Path);
}

std::string NativePath(const std::string& Path) { return std::filesystem::path(Path).make_preferred().string(); }

std::string ReadBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) throw std::runtime_error("cannot read " + Path);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

ScopedEnv::ScopedEnv(std::string Name, const char* Value) : FName(std::move(Name)) {
  if (const char* Old = std::getenv(FName.c_str())) {
    FHad = true;
    FOld = Old;
  }
  SetEnv(FName, Value);
}

ScopedEnv::~ScopedEnv() { SetEnv(FName, FHad ? FOld.c_str() : nullptr); }

std::vector<std::string> PartFilesBelow(const std::string& Dir) {
  std::vector<std::string> Found;
  std::error_code Ec;
  for (auto It = fs::recursive_directory_iterator(Dir, Ec); !Ec && It != fs::recursive_directory_iterator();
       It.increment(Ec))
    if (It->path().extension() == ".part") Found.push_back(It->path().string());
  return Found;
}

#ifdef _WIN32
#define tzset _tzset
#endif

ScopedTimeZone::ScopedTimeZone(const char* Zone) {
#ifdef _WIN32
  // The Windows C library reads TZ as a three-letter name and an offset ("XXX-3"); the POSIX form
  // "<+03>-3" with a quoted name is rewritten to that. Zone names (Europe/Berlin) it does not know.
  std::string Posix = Zone;
  if (!Posix.empty() && Posix[0] == '<' && Posix.find('>') != std::string::npos)
    Posix = "XXX" + Posix.substr(Posix.find('>') + 1);
  FEnv.emplace("TZ", Posix.c_str());
#else
  FEnv.emplace("TZ", Zone);
#endif
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  FEnv.reset();
  tzset();
}

#ifdef _WIN32

bool ScopedFileSizeLimit::Applies() { return false; }
const char* ScopedFileSizeLimit::WhyNot() { return "Windows has no per-process file size limit (RLIMIT_FSIZE)"; }
ScopedFileSizeLimit::ScopedFileSizeLimit(uint64_t) {}
ScopedFileSizeLimit::~ScopedFileSizeLimit() = default;

#else

bool ScopedFileSizeLimit::Applies() { return true; }
const char* ScopedFileSizeLimit::WhyNot() { return ""; }

ScopedFileSizeLimit::ScopedFileSizeLimit(uint64_t Bytes) {
  rlimit Limit{};
  ::getrlimit(RLIMIT_FSIZE, &Limit);
  FOldSoft = Limit.rlim_cur;
  FOldSignal = std::signal(SIGXFSZ, SIG_IGN);
  Limit.rlim_cur = Bytes;
  ::setrlimit(RLIMIT_FSIZE, &Limit);
}

ScopedFileSizeLimit::~ScopedFileSizeLimit() {
  rlimit Limit{};
  ::getrlimit(RLIMIT_FSIZE, &Limit);
  Limit.rlim_cur = FOldSoft;
  ::setrlimit(RLIMIT_FSIZE, &Limit);
  std::signal(SIGXFSZ, FOldSignal);
}

#endif

}  // namespace kelvo::test
