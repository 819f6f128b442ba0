#pragma once
// Settings and facts of this process that tests look at or change: environment, memory, signals,
// standard streams, open descriptors, core dumps. Where one has no Windows counterpart the helper
// says so (Applies() false plus a reason) and the test skips with that reason.
#include <optional>
#include <string>
#include <vector>

namespace kelvo::test {

// Sets Name to Value in this process's environment; nullptr removes it.
void SetEnv(const std::string& Name, const char* Value);

// The program's arguments in UTF-8, the program's own name first. Windows hands main() its arguments
// in the ANSI code page; they are read again from the wide command line there.
std::vector<std::string> Utf8Arguments(int Argc, char** Argv);

// Largest resident set (working set on Windows) of this process so far, in KiB.
long PeakResidentKiB();

// This process ignores broken pipes (SIGPIPE) while the object lives. Windows has no such signal.
class ScopedIgnoredBrokenPipe {
 public:
  ScopedIgnoredBrokenPipe();
  ~ScopedIgnoredBrokenPipe();
  ScopedIgnoredBrokenPipe(const ScopedIgnoredBrokenPipe&) = delete;
  ScopedIgnoredBrokenPipe& operator=(const ScopedIgnoredBrokenPipe&) = delete;

 private:
  void* FOld = nullptr;
};

// Our standard output and error go into a pipe from construction to Finish(), which gives back what
// was written to them meanwhile.
class CapturedStandardStreams {
 public:
  CapturedStandardStreams();
  ~CapturedStandardStreams();
  CapturedStandardStreams(const CapturedStandardStreams&) = delete;
  CapturedStandardStreams& operator=(const CapturedStandardStreams&) = delete;
  bool Capturing() const { return FRead >= 0; }
  std::string Finish();

 private:
  int FRead = -1, FSavedOut = -1, FSavedErr = -1;
};

// A pipe and an open file that a started program would inherit if the starter let it: descriptors
// opened without close-on-exec (inheritable handles on Windows).
class InheritableDescriptors {
 public:
  explicit InheritableDescriptors(const std::string& FilePath);
  ~InheritableDescriptors();
  InheritableDescriptors(const InheritableDescriptors&) = delete;
  InheritableDescriptors& operator=(const InheritableDescriptors&) = delete;
  bool Open() const { return FOpen; }

 private:
  bool FOpen = false;
  long long FHandles[3] = {-1, -1, -1};
};

// The descriptors of this process, one line each: "<number> <target>" (from /proc/self/fd; the
// listing's own descriptor left out). Linux only: nullopt elsewhere.
bool DescriptorListApplies();
const char* NoDescriptorListReason();
std::optional<std::string> OpenDescriptorsReport();

// Core-dump settings as the kernel reports them (Linux): the core size limit (soft and hard) and
// whether the process may be dumped or attached to.
bool CoreLimitIsZero();
bool ProcessIsDumpable();

// This thread reads the C library's "C" locale while the object lives (POSIX). On Windows the
// regional settings come from the user's locale, not from the C library: Active() is false there.
class ScopedCLocale {
 public:
  ScopedCLocale();
  ~ScopedCLocale();
  ScopedCLocale(const ScopedCLocale&) = delete;
  ScopedCLocale& operator=(const ScopedCLocale&) = delete;
  bool Active() const { return FLocale != nullptr; }

 private:
  void* FLocale = nullptr;
  void* FOld = nullptr;
};

// The process id, for names that must not collide between test processes running at once.
long ProcessId();

}  // namespace kelvo::test
