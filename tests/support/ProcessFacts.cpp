#include "support/ProcessFacts.h"

#include <locale.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>
#include <shellapi.h>

#include "platform/win32/Wide.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <sstream>
#endif

namespace kelvo::test {

#ifdef _WIN32

using kelvo::platform::win32::Utf8ToWide;
using kelvo::platform::win32::WideToUtf8;

namespace {
int MakePipe(int Fds[2]) { return _pipe(Fds, 1 << 16, _O_BINARY); }
int Dup(int Fd) { return _dup(Fd); }
int Dup2(int From, int To) { return _dup2(From, To); }
int Close(int Fd) { return _close(Fd); }
long ReadSome(int Fd, char* Data, unsigned Size) { return _read(Fd, Data, Size); }
}  // namespace

// The wide call, so that UTF-8 values reach the environment as they are (the narrow one takes the
// ANSI code page); an empty value removes the variable.
void SetEnv(const std::string& Name, const char* Value) {
  _wputenv_s(Utf8ToWide(Name).c_str(), Value ? Utf8ToWide(Value).c_str() : L"");
}

std::vector<std::string> Utf8Arguments(int Argc, char** Argv) {
  int Count = 0;
  LPWSTR* Wide = CommandLineToArgvW(GetCommandLineW(), &Count);
  if (!Wide) return std::vector<std::string>(Argv, Argv + Argc);
  std::vector<std::string> Args;
  for (int I = 0; I < Count; ++I) Args.push_back(WideToUtf8(Wide[I], wcslen(Wide[I])));
  LocalFree(Wide);
  return Args;
}

long PeakResidentKiB() {
  PROCESS_MEMORY_COUNTERS Memory{};
  return K32GetProcessMemoryInfo(GetCurrentProcess(), &Memory, sizeof Memory)
             ? static_cast<long>(Memory.PeakWorkingSetSize / 1024)
             : 0;
}

ScopedIgnoredBrokenPipe::ScopedIgnoredBrokenPipe() = default;
ScopedIgnoredBrokenPipe::~ScopedIgnoredBrokenPipe() = default;

InheritableDescriptors::InheritableDescriptors(const std::string& FilePath) {
  SECURITY_ATTRIBUTES Inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE Read = nullptr, Write = nullptr;
  if (!CreatePipe(&Read, &Write, &Inherit, 0)) return;
  const HANDLE File =
      CreateFileW(Utf8ToWide(FilePath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &Inherit, CREATE_ALWAYS, 0, nullptr);
  FHandles[0] = reinterpret_cast<long long>(Read);
  FHandles[1] = reinterpret_cast<long long>(Write);
  FHandles[2] = reinterpret_cast<long long>(File);
  FOpen = File != INVALID_HANDLE_VALUE;
}

InheritableDescriptors::~InheritableDescriptors() {
  for (const long long H : FHandles) {
    const auto Handle = reinterpret_cast<HANDLE>(H);
    if (Handle != nullptr && Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
  }
}

bool DescriptorListApplies() { return false; }
const char* NoDescriptorListReason() { return "descriptor numbers and /proc/self/fd exist only on Linux"; }
std::optional<std::string> OpenDescriptorsReport() { return std::nullopt; }
bool CoreLimitIsZero() { return false; }
bool ProcessIsDumpable() { return true; }
long ProcessId() { return _getpid(); }

#else

namespace {
int MakePipe(int Fds[2]) { return ::pipe(Fds); }
int Dup(int Fd) { return ::dup(Fd); }
int Dup2(int From, int To) { return ::dup2(From, To); }
int Close(int Fd) { return ::close(Fd); }
long ReadSome(int Fd, char* Data, unsigned Size) { return ::read(Fd, Data, Size); }
}  // namespace

std::vector<std::string> Utf8Arguments(int Argc, char** Argv) { return std::vector<std::string>(Argv, Argv + Argc); }

void SetEnv(const std::string& Name, const char* Value) {
  if (Value)
    ::setenv(Name.c_str(), Value, 1);
  else
    ::unsetenv(Name.c_str());
}

long PeakResidentKiB() {
  rusage Usage{};
  ::getrusage(RUSAGE_SELF, &Usage);
  return Usage.ru_maxrss;
}

ScopedIgnoredBrokenPipe::ScopedIgnoredBrokenPipe() {
  auto* Old = new struct sigaction;
  struct sigaction Ignore {};
  Ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &Ignore, Old);
  FOld = Old;
}

ScopedIgnoredBrokenPipe::~ScopedIgnoredBrokenPipe() {
  auto* Old = static_cast<struct sigaction*>(FOld);
  ::sigaction(SIGPIPE, Old, nullptr);
  delete Old;
}

InheritableDescriptors::InheritableDescriptors(const std::string& FilePath) {
  int Pipe[2];
  if (::pipe(Pipe) != 0) return;
  FHandles[0] = Pipe[0];
  FHandles[1] = Pipe[1];
  FHandles[2] = ::open(FilePath.c_str(), O_WRONLY | O_CREAT, 0600);
  FOpen = FHandles[2] >= 0;
}

InheritableDescriptors::~InheritableDescriptors() {
  for (const long long Fd : FHandles)
    if (Fd >= 0) ::close(static_cast<int>(Fd));
}

bool DescriptorListApplies() { return true; }
const char* NoDescriptorListReason() { return ""; }

std::optional<std::string> OpenDescriptorsReport() {
  DIR* Dir = ::opendir("/proc/self/fd");
  if (!Dir) return std::nullopt;
  std::ostringstream Report;
  while (dirent* Entry = ::readdir(Dir)) {
    const std::string Name = Entry->d_name;
    if (Name == "." || Name == ".." || std::stoi(Name) == ::dirfd(Dir)) continue;
    char Target[4096];
    const ssize_t Len = ::readlink(("/proc/self/fd/" + Name).c_str(), Target, sizeof(Target) - 1);
    Report << Name << ' ' << (Len >= 0 ? std::string(Target, static_cast<size_t>(Len)) : std::string("?")) << '\n';
  }
  ::closedir(Dir);
  return Report.str();
}

bool CoreLimitIsZero() {
  rlimit Core{};
  return ::getrlimit(RLIMIT_CORE, &Core) == 0 && Core.rlim_cur == 0 && Core.rlim_max == 0;
}

bool ProcessIsDumpable() { return ::prctl(PR_GET_DUMPABLE) != 0; }
long ProcessId() { return ::getpid(); }

#endif

CapturedStandardStreams::CapturedStandardStreams() {
  int Pipe[2];
  if (MakePipe(Pipe) != 0) return;
  std::fflush(stdout);
  std::fflush(stderr);
  FSavedOut = Dup(1);
  FSavedErr = Dup(2);
  Dup2(Pipe[1], 1);
  Dup2(Pipe[1], 2);
  Close(Pipe[1]);
  FRead = Pipe[0];
}

std::string CapturedStandardStreams::Finish() {
  if (FRead < 0) return {};
  std::fflush(stdout);
  std::fflush(stderr);
  Dup2(FSavedOut, 1);
  Dup2(FSavedErr, 2);
  Close(FSavedOut);
  Close(FSavedErr);
  // Every write end is closed now, so the read end yields what was written, then its end.
  std::string Captured;
  char Buffer[256];
  for (long N; (N = ReadSome(FRead, Buffer, sizeof Buffer)) > 0;) Captured.append(Buffer, static_cast<size_t>(N));
  Close(FRead);
  FRead = -1;
  return Captured;
}

CapturedStandardStreams::~CapturedStandardStreams() { Finish(); }

#ifdef _WIN32
ScopedCLocale::ScopedCLocale() = default;
ScopedCLocale::~ScopedCLocale() = default;
#else
ScopedCLocale::ScopedCLocale() {
  locale_t C = newlocale(LC_ALL_MASK, "C", nullptr);
  if (C == nullptr) return;
  FLocale = C;
  FOld = uselocale(C);
}

ScopedCLocale::~ScopedCLocale() {
  if (FLocale == nullptr) return;
  uselocale(static_cast<locale_t>(FOld));
  freelocale(static_cast<locale_t>(FLocale));
}
#endif

}  // namespace kelvo::test
