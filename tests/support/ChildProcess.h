#pragma once
// Other processes for the tests and benchmarks: a program started with arguments and environment, or
// (where the system can copy a process) a function run in a copy of this one. Nothing here depends
// on the code under test.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo::test {

struct TChildOptions {
  // Added to (or replacing in) this process's environment.
  std::vector<std::pair<std::string, std::string>> Env;
  bool PipeInput = false;      // else the child's standard input is this process's
  bool PipeOutput = false;     // else its standard output is this process's
  bool DiscardErrors = false;  // standard error to the null device
};

// A started program; killed and reaped when the object goes while it still runs.
class ChildProcess {
 public:
  // Starts Program (a path, or a bare name looked up in PATH) with Args. Throws std::runtime_error when it cannot
  // start; a program that does not exist ends with code 127.
  ChildProcess(const std::string& Program, const std::vector<std::string>& Args, const TChildOptions& Options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Ends it at once, without its consent.
  void Kill();
  // Asks it to end the way a service manager would (SIGTERM; on Windows a Ctrl+Break to its own
  // console group, which the C runtime turns into SIGBREAK).
  void AskToStop();
  // Exit code; -1 when it was ended by a signal. Waits for it unless it has ended already.
  int Wait();
  int ExitCode() { return Wait(); }
  // As Wait, but gives up after TimeoutMs (nullopt; the child keeps running).
  std::optional<int> WaitFor(int TimeoutMs);
  // Largest resident set of the child, in KiB, once it has been waited for (0 when unknown).
  long PeakKiB() const { return FPeakKiB; }

  // Its standard input and output, when piped. Reads and writes are whole or fail.
  bool Write(const void* Data, size_t Size);
  void CloseInput();
  bool Read(void* Data, size_t Size);
  // One byte of output within TimeoutMs; false on time-out or end of output.
  bool ReadByte(char& Byte, int TimeoutMs);
  // The first line of output (without its end), within TimeoutMs for the whole line.
  std::string ReadLine(int TimeoutMs);
  // Everything it writes until it closes its output.
  std::string ReadAll();
  void CloseOutput();

 private:
  struct TState;
  TState* FState;
  long FPeakKiB = 0;
};

// Runs Program to its end and returns its exit code (-1 when ended by a signal).
int RunProgram(const std::string& Program, const std::vector<std::string>& Args, const TChildOptions& Options = {});

// Path of the running program.
std::string ThisProgram();

// Standard input and output carry bytes as they are (no newline translation on Windows).
void UseBinaryStandardStreams();

// A copy of this process (fork) that runs Body and ends with what Body returns. Parent and copy talk
// through two byte channels. Windows cannot copy a process: there CanCopyProcess() is false and
// nothing starts.
class CopiedProcess {
 public:
  // The copy's side of the channels.
  class TLink {
   public:
    bool Read(void* Data, size_t Size);
    bool Write(const void* Data, size_t Size);

   private:
    friend class CopiedProcess;
    int FIn = -1, FOut = -1;
  };

  static bool CanCopyProcess();
  static const char* WhyNot();  // reason to show when CanCopyProcess() is false

  explicit CopiedProcess(const std::function<int(TLink& Parent)>& Body);
  ~CopiedProcess();
  CopiedProcess(const CopiedProcess&) = delete;
  CopiedProcess& operator=(const CopiedProcess&) = delete;

  bool Started() const { return FPid > 0; }
  bool Write(const void* Data, size_t Size);
  bool Read(void* Data, size_t Size);
  // Closes our end towards the copy: its next read finds the end.
  void CloseOutput();
  // Exit code; -1 when ended by a signal or never started.
  int Wait();

 private:
  long FPid = -1;
  int FToChild = -1, FFromChild = -1;
};

}  // namespace kelvo::test
