#include "support/ChildProcess.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// after windows.h, which it needs
#include <psapi.h>

#include "platform/Process.h"
#include "platform/win32/Wide.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

namespace kelvo::test {

namespace {

using SteadyClock = std::chrono::steady_clock;

int MsLeft(SteadyClock::time_point Deadline) {
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - SteadyClock::now()).count();
  return Left > 0 ? static_cast<int>(Left) : 0;
}

}  // namespace

#ifdef _WIN32

namespace {

using kelvo::platform::win32::Utf8ToWide;
using kelvo::platform::win32::WideToUtf8;

// This process's environment with Changes applied, as CreateProcessW takes it.
std::wstring EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& Changes) {
  std::vector<std::wstring> Entries;
  if (wchar_t* Block = GetEnvironmentStringsW()) {
    for (const wchar_t* At = Block; *At; At += wcslen(At) + 1) Entries.emplace_back(At);
    FreeEnvironmentStringsW(Block);
  }
  for (const auto& [Name, Value] : Changes) {
    const std::wstring Key = Utf8ToWide(Name) + L"=";
    std::erase_if(Entries, [&](const std::wstring& E) {
      return E.size() >= Key.size() && CompareStringOrdinal(E.data(), static_cast<int>(Key.size()), Key.data(),
                                                            static_cast<int>(Key.size()), TRUE) == CSTR_EQUAL;
    });
    Entries.push_back(Key + Utf8ToWide(Value));
  }
  std::wstring Out;
  for (const auto& E : Entries) Out += E + L'\0';
  Out += L'\0';
  return Out;
}

bool MakePipe(HANDLE& Read, HANDLE& Write, bool ChildReads) {
  SECURITY_ATTRIBUTES Inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&Read, &Write, &Inherit, 0)) return false;
  SetHandleInformation(ChildReads ? Write : Read, HANDLE_FLAG_INHERIT, 0);
  return true;
}

void CloseHandleOnce(HANDLE& H) {
  if (H != nullptr && H != INVALID_HANDLE_VALUE) CloseHandle(H);
  H = nullptr;
}

}  // namespace

struct ChildProcess::TState {
  HANDLE Process = nullptr;
  DWORD Id = 0;
  HANDLE In = nullptr, Out = nullptr;
  std::optional<int> Code;
};

ChildProcess::ChildProcess(const std::string& Program, const std::vector<std::string>& Args,
                           const TChildOptions& Options)
    : FState(new TState) {
  std::wstring Line = Utf8ToWide(kelvo::platform::WindowsCommandLine(Program, Args));
  HANDLE ChildIn = GetStdHandle(STD_INPUT_HANDLE), ChildOut = GetStdHandle(STD_OUTPUT_HANDLE),
         ChildErr = GetStdHandle(STD_ERROR_HANDLE);
  HANDLE OwnIn = nullptr, OwnOut = nullptr, Null = nullptr;
  if (Options.PipeInput && !MakePipe(ChildIn, OwnIn, true)) throw std::runtime_error("CreatePipe failed");
  if (Options.PipeOutput && !MakePipe(OwnOut, ChildOut, false)) throw std::runtime_error("CreatePipe failed");
  if (Options.DiscardErrors) {
    SECURITY_ATTRIBUTES Inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Null = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &Inherit, OPEN_EXISTING, 0, nullptr);
    ChildErr = Null;
  }
  STARTUPINFOW Startup{};
  Startup.cb = sizeof Startup;
  Startup.dwFlags = STARTF_USESTDHANDLES;
  Startup.hStdInput = ChildIn;
  Startup.hStdOutput = ChildOut;
  Startup.hStdError = ChildErr;
  PROCESS_INFORMATION Info{};
  std::wstring Environment = EnvironmentBlock(Options.Env);
  const BOOL Started = CreateProcessW(nullptr, Line.data(), nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, Environment.data(),
                                      nullptr, &Startup, &Info);
  const DWORD Error = GetLastError();
  if (Options.PipeInput) CloseHandle(ChildIn);
  if (Options.PipeOutput) CloseHandle(ChildOut);
  CloseHandleOnce(Null);
  FState->In = OwnIn;
  FState->Out = OwnOut;
  if (!Started) {
    if (Error != ERROR_FILE_NOT_FOUND && Error != ERROR_PATH_NOT_FOUND) {
      CloseHandleOnce(FState->In);
      CloseHandleOnce(FState->Out);
      delete FState;
      throw std::runtime_error("CreateProcessW failed for " + Program);
    }
    FState->Code = 127;  // as a POSIX child whose exec failed
    return;
  }
  CloseHandle(Info.hThread);
  FState->Process = Info.hProcess;
  FState->Id = Info.dwProcessId;
}

ChildProcess::~ChildProcess() {
  if (FState->Process && !FState->Code) {
    Kill();
    Wait();
  }
  CloseHandleOnce(FState->In);
  CloseHandleOnce(FState->Out);
  CloseHandleOnce(FState->Process);
  delete FState;
}

void ChildProcess::Kill() {
  if (FState->Process && !FState->Code) TerminateProcess(FState->Process, 137);
}

void ChildProcess::AskToStop() {
  if (FState->Process && !FState->Code) GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, FState->Id);
}

std::optional<int> ChildProcess::WaitFor(int TimeoutMs) {
  if (FState->Code) return FState->Code;
  if (WaitForSingleObject(FState->Process, static_cast<DWORD>(TimeoutMs)) != WAIT_OBJECT_0) return std::nullopt;
  DWORD Code = 0;
  GetExitCodeProcess(FState->Process, &Code);
  PROCESS_MEMORY_COUNTERS Memory{};
  if (K32GetProcessMemoryInfo(FState->Process, &Memory, sizeof Memory))
    FPeakKiB = static_cast<long>(Memory.PeakWorkingSetSize / 1024);
  FState->Code = static_cast<int>(Code);
  return FState->Code;
}

int ChildProcess::Wait() { return *WaitFor(static_cast<int>(INFINITE)); }

bool ChildProcess::Write(const void* Data, size_t Size) {
  const auto* At = static_cast<const char*>(Data);
  while (Size > 0) {
    DWORD N = 0;
    if (!FState->In || !WriteFile(FState->In, At, static_cast<DWORD>(Size), &N, nullptr) || N == 0) return false;
    At += N;
    Size -= N;
  }
  return true;
}

void ChildProcess::CloseInput() { CloseHandleOnce(FState->In); }

bool ChildProcess::Read(void* Data, size_t Size) {
  auto* At = static_cast<char*>(Data);
  while (Size > 0) {
    DWORD N = 0;
    if (!FState->Out || !ReadFile(FState->Out, At, static_cast<DWORD>(Size), &N, nullptr) || N == 0) return false;
    At += N;
    Size -= N;
  }
  return true;
}

bool ChildProcess::ReadByte(char& Byte, int TimeoutMs) {
  // Anonymous pipes cannot wait with a time-out; look at them until something is there.
  const auto Deadline = SteadyClock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    DWORD Available = 0;
    if (!FState->Out || !PeekNamedPipe(FState->Out, nullptr, 0, nullptr, &Available, nullptr)) return false;
    if (Available > 0) return Read(&Byte, 1);
    if (MsLeft(Deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void ChildProcess::CloseOutput() { CloseHandleOnce(FState->Out); }

std::string ThisProgram() {
  std::wstring Path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD N = GetModuleFileNameW(nullptr, Path.data(), static_cast<DWORD>(Path.size()));
    if (N < Path.size()) {
      Path.resize(N);
      return WideToUtf8(Path);
    }
    Path.resize(Path.size() * 2);
  }
}

void UseBinaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
}

bool CopiedProcess::CanCopyProcess() { return false; }
const char* CopiedProcess::WhyNot() { return "Windows cannot copy a running process (no fork)"; }
CopiedProcess::CopiedProcess(const std::function<int(TLink&)>&) {}
CopiedProcess::~CopiedProcess() = default;
bool CopiedProcess::TLink::Read(void*, size_t) { return false; }
bool CopiedProcess::TLink::Write(const void*, size_t) { return false; }
bool CopiedProcess::Write(const void*, size_t) { return false; }
bool CopiedProcess::Read(void*, size_t) { return false; }
void CopiedProcess::CloseOutput() {}
int CopiedProcess::Wait() { return -1; }

#else

namespace {

bool ReadFull(int Fd, void* Data, size_t Size) {
  auto* At = static_cast<char*>(Data);
  while (Size > 0) {
    const ssize_t N = ::read(Fd, At, Size);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    At += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

bool WriteFull(int Fd, const void* Data, size_t Size) {
  const auto* At = static_cast<const char*>(Data);
  while (Size > 0) {
    const ssize_t N = ::write(Fd, At, Size);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) return false;
    At += N;
    Size -= static_cast<size_t>(N);
  }
  return true;
}

void CloseOnce(int& Fd) {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
}

int ExitCodeOf(int Status) { return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1; }

}  // namespace

struct ChildProcess::TState {
  pid_t Pid = -1;
  int In = -1, Out = -1;
  std::optional<int> Code;
};

ChildProcess::ChildProcess(const std::string& Program, const std::vector<std::string>& Args,
                           const TChildOptions& Options)
    : FState(new TState) {
  // Everything the child needs is made before fork: after it only async-signal-safe calls.
  std::vector<std::string> All{Program};
  All.insert(All.end(), Args.begin(), Args.end());
  std::vector<char*> Argv;
  for (auto& Arg : All) Argv.push_back(Arg.data());
  Argv.push_back(nullptr);
  std::vector<std::string> Env;
  for (char** E = environ; *E; ++E) {
    bool Replaced = false;
    for (const auto& Change : Options.Env)
      Replaced = Replaced || std::strncmp(*E, (Change.first + "=").c_str(), Change.first.size() + 1) == 0;
    if (!Replaced) Env.emplace_back(*E);
  }
  for (const auto& [Name, Value] : Options.Env) Env.push_back(Name + "=" + Value);
  std::vector<char*> Envp;
  for (auto& E : Env) Envp.push_back(E.data());
  Envp.push_back(nullptr);

  int In[2] = {-1, -1}, Out[2] = {-1, -1};
  if ((Options.PipeInput && ::pipe2(In, O_CLOEXEC) != 0) || (Options.PipeOutput && ::pipe2(Out, O_CLOEXEC) != 0)) {
    for (int& Fd : In) CloseOnce(Fd);
    delete FState;
    throw std::runtime_error("pipe failed");
  }
  const int Null = Options.DiscardErrors ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
  FState->Pid = ::fork();
  if (FState->Pid == 0) {
    if (In[0] >= 0) ::dup2(In[0], 0);
    if (Out[1] >= 0) ::dup2(Out[1], 1);
    if (Null >= 0) ::dup2(Null, 2);
    if (Program.find('/') == std::string::npos)
      ::execvpe(Argv[0], Argv.data(), Envp.data());
    else
      ::execve(Argv[0], Argv.data(), Envp.data());
    ::_exit(127);
  }
  CloseOnce(In[0]);
  CloseOnce(Out[1]);
  if (Null >= 0) ::close(Null);
  FState->In = In[1];
  FState->Out = Out[0];
  if (FState->Pid < 0) {
    CloseOnce(FState->In);
    CloseOnce(FState->Out);
    delete FState;
    throw std::runtime_error("fork failed");
  }
}

ChildProcess::~ChildProcess() {
  if (FState->Pid > 0 && !FState->Code) {
    Kill();
    Wait();
  }
  CloseOnce(FState->In);
  CloseOnce(FState->Out);
  delete FState;
}

void ChildProcess::Kill() {
  if (FState->Pid > 0 && !FState->Code) ::kill(FState->Pid, SIGKILL);
}

void ChildProcess::AskToStop() {
  if (FState->Pid > 0 && !FState->Code) ::kill(FState->Pid, SIGTERM);
}

std::optional<int> ChildProcess::WaitFor(int TimeoutMs) {
  if (FState->Code) return FState->Code;
  const auto Deadline = SteadyClock::now() + std::chrono::milliseconds(TimeoutMs);
  for (;;) {
    int Status = 0;
    rusage Usage{};
    const pid_t Done = ::wait4(FState->Pid, &Status, TimeoutMs < 0 ? 0 : WNOHANG, &Usage);
    if (Done == FState->Pid) {
      FPeakKiB = Usage.ru_maxrss;
      FState->Code = ExitCodeOf(Status);
      return FState->Code;
    }
    if (Done < 0 && errno != EINTR) {
      FState->Code = -1;
      return FState->Code;
    }
    if (TimeoutMs >= 0 && Done == 0) {
      if (MsLeft(Deadline) == 0) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}

int ChildProcess::Wait() { return *WaitFor(-1); }

bool ChildProcess::Write(const void* Data, size_t Size) { return FState->In >= 0 && WriteFull(FState->In, Data, Size); }
void ChildProcess::CloseInput() { CloseOnce(FState->In); }
bool ChildProcess::Read(void* Data, size_t Size) { return FState->Out >= 0 && ReadFull(FState->Out, Data, Size); }

bool ChildProcess::ReadByte(char& Byte, int TimeoutMs) {
  if (FState->Out < 0) return false;
  pollfd P{FState->Out, POLLIN, 0};
  int Ready;
  while ((Ready = ::poll(&P, 1, TimeoutMs)) < 0 && errno == EINTR) {
  }
  return Ready == 1 && ::read(FState->Out, &Byte, 1) == 1;
}

void ChildProcess::CloseOutput() { CloseOnce(FState->Out); }

std::string ThisProgram() {
  std::string Path(4096, '\0');
  const ssize_t N = ::readlink("/proc/self/exe", Path.data(), Path.size());
  Path.resize(N > 0 ? static_cast<size_t>(N) : 0);
  return Path;
}

void UseBinaryStandardStreams() {}

bool CopiedProcess::TLink::Read(void* Data, size_t Size) { return ReadFull(FIn, Data, Size); }
bool CopiedProcess::TLink::Write(const void* Data, size_t Size) { return WriteFull(FOut, Data, Size); }

bool CopiedProcess::CanCopyProcess() { return true; }
const char* CopiedProcess::WhyNot() { return ""; }

CopiedProcess::CopiedProcess(const std::function<int(TLink&)>& Body) {
  int Down[2], Up[2];
  if (::pipe2(Down, O_CLOEXEC) != 0) return;
  if (::pipe2(Up, O_CLOEXEC) != 0) {
    ::close(Down[0]);
    ::close(Down[1]);
    return;
  }
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::close(Down[1]);
    ::close(Up[0]);
    TLink Link;
    Link.FIn = Down[0];
    Link.FOut = Up[1];
    int Code = 1;
    try {
      Code = Body(Link);
    } catch (...) {
    }
    ::_exit(Code);
  }
  ::close(Down[0]);
  ::close(Up[1]);
  FToChild = Down[1];
  FFromChild = Up[0];
  if (Pid < 0) {
    CloseOnce(FToChild);
    CloseOnce(FFromChild);
    return;
  }
  FPid = Pid;
}

CopiedProcess::~CopiedProcess() {
  CloseOutput();
  Wait();
}

bool CopiedProcess::Write(const void* Data, size_t Size) { return FToChild >= 0 && WriteFull(FToChild, Data, Size); }
bool CopiedProcess::Read(void* Data, size_t Size) { return FFromChild >= 0 && ReadFull(FFromChild, Data, Size); }
void CopiedProcess::CloseOutput() { CloseOnce(FToChild); }

int CopiedProcess::Wait() {
  CloseOnce(FFromChild);
  if (FPid <= 0) return -1;
  int Status = 0;
  while (::waitpid(static_cast<pid_t>(FPid), &Status, 0) < 0 && errno == EINTR) {
  }
  FPid = -1;
  return ExitCodeOf(Status);
}

#endif

std::string ChildProcess::ReadLine(int TimeoutMs) {
  const auto Deadline = SteadyClock::now() + std::chrono::milliseconds(TimeoutMs);
  std::string Line;
  char C = 0;
  while (ReadByte(C, MsLeft(Deadline)) && C != '\n') Line += C;
  if (!Line.empty() && Line.back() == '\r') Line.pop_back();
  return Line;
}

std::string ChildProcess::ReadAll() {
  std::string All;
  char C = 0;
  while (Read(&C, 1)) All += C;
  return All;
}

int RunProgram(const std::string& Program, const std::vector<std::string>& Args, const TChildOptions& Options) {
  return ChildProcess(Program, Args, Options).Wait();
}

}  // namespace kelvo::test
