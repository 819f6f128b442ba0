#pragma once
// Pieces the benchmarks share: a cloudsim server in a child process of its own (forked before
// anything else starts, so its threads never compete inside the measured process), also one that
// takes orders while it runs, sparse files for large Drive contents, and small statistics.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "cloudsim/CloudSim.h"

namespace kelvo::bench {

using Clock = std::chrono::steady_clock;
constexpr int64_t MiB = 1 << 20;

inline double Since(Clock::time_point Start) { return std::chrono::duration<double>(Clock::now() - Start).count(); }

inline double Median(std::vector<double> V) {
  std::sort(V.begin(), V.end());
  return V.empty() ? 0 : V[V.size() / 2];
}

// Sparse: made at once, read back as zeros without touching the disk.
inline bool MakeSparseFile(const std::string& Path, int64_t Size) {
  const int Fd = ::open(Path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (Fd < 0) return false;
  const bool Ok = ::ftruncate(Fd, Size) == 0;
  ::close(Fd);
  return Ok;
}

// The server's process: serves the seed until SIGTERM; its port goes through the pipe. Prepare runs
// in the child before the server starts (faults, for instance). Returns the child's ID (-1 on
// failure) and sets Port (0 when the server did not start).
inline pid_t StartServer(const std::string& Seed, int& Port,
                         const std::function<void(cloudsim::TCloudSim&)>& Prepare = {}) {
  int Pipe[2];
  if (::pipe(Pipe) != 0) return -1;
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::close(Pipe[0]);
    sigset_t Signals;
    sigemptyset(&Signals);
    sigaddset(&Signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &Signals, nullptr);
    cloudsim::TSimOptions Options;
    Options.SeedDir = Seed;
    cloudsim::TCloudSim Sim(Options);
    if (Prepare) Prepare(Sim);
    Sim.Start();
    const int P = Sim.Port();
    if (::write(Pipe[1], &P, sizeof P) != sizeof P) ::_exit(1);
    ::close(Pipe[1]);
    int Received = 0;
    sigwait(&Signals, &Received);
    Sim.Stop();
    ::_exit(0);
  }
  ::close(Pipe[1]);
  if (::read(Pipe[0], &Port, sizeof Port) != sizeof Port) Port = 0;
  ::close(Pipe[0]);
  return Pid;
}

inline void StopServer(pid_t Server) {
  int Status = 0;
  ::kill(Server, SIGTERM);
  ::waitpid(Server, &Status, 0);
}

// Reads or writes exactly Size bytes of a pipe; false at its end or on an error.
inline bool ReadFull(int Fd, void* Data, size_t Size) {
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

inline bool WriteFull(int Fd, const void* Data, size_t Size) {
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

// A cloudsim server in a child process of its own that takes orders while it runs: faults added
// and cleared, counts reset and read back. Each order is answered before the call returns, so it
// has taken effect for every request made afterwards. Fork it before anything else starts.
class TSimProcess {
 public:
  TSimProcess() = default;
  ~TSimProcess() { Stop(); }
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  // Serves Seed; false when the server did not start.
  bool Start(const std::string& Seed) {
    int Orders[2], Answers[2];
    if (::pipe(Orders) != 0) return false;
    if (::pipe(Answers) != 0) {
      ::close(Orders[0]);
      ::close(Orders[1]);
      return false;
    }
    FPid = ::fork();
    if (FPid == 0) {
      ::close(Orders[1]);
      ::close(Answers[0]);
      Serve(Seed, Orders[0], Answers[1]);
    }
    ::close(Orders[0]);
    ::close(Answers[1]);
    FOrders = Orders[1];
    FAnswers = Answers[0];
    int64_t Port = 0;
    if (FPid < 0 || !ReadFull(FAnswers, &Port, sizeof Port) || Port <= 0) {
      Stop();
      return false;
    }
    FPort = static_cast<int>(Port);
    return true;
  }

  // Ends held requests and the server; safe to call twice.
  void Stop() {
    if (FOrders >= 0) {
      TOrder Order;
      Order.Op = TOp::Stop;
      WriteFull(FOrders, &Order, sizeof Order);
      ::close(FOrders);
      FOrders = -1;
    }
    if (FAnswers >= 0) ::close(FAnswers);
    FAnswers = -1;
    if (FPid > 0) {
      int Status = 0;
      ::waitpid(FPid, &Status, 0);
    }
    FPid = -1;
  }

  int Port() const { return FPort; }

  // Only what a fault on a body needs goes across: Kind, PathPrefix, Method, Delay, CutAfter, Times,
  // Skip and BytesPerSecond (no canned replies). False when the server did not take it.
  bool AddFault(const cloudsim::TFault& Fault) {
    TOrder Order;
    Order.Op = TOp::AddFault;
    if (Fault.PathPrefix.size() >= sizeof Order.Text || Fault.Method.size() >= sizeof Order.Method) return false;
    Order.Kind = static_cast<int>(Fault.Kind);
    std::memcpy(Order.Text, Fault.PathPrefix.data(), Fault.PathPrefix.size());
    std::memcpy(Order.Method, Fault.Method.data(), Fault.Method.size());
    Order.DelayMs = Fault.Delay.count();
    Order.CutAfter = Fault.CutAfter;
    Order.Times = Fault.Times;
    Order.Skip = Fault.Skip;
    Order.BytesPerSecond = Fault.BytesPerSecond;
    return Send(Order) == 0;
  }
  bool ClearFaults() { return Send(Simple(TOp::ClearFaults)) == 0; }
  bool ResetCounts() { return Send(Simple(TOp::ResetCounts)) == 0; }
  // -1 when the server did not answer.
  int64_t MediaBytesServed() { return Send(Simple(TOp::MediaBytesServed)); }
  int64_t RequestCountWithPrefix(const std::string& Prefix) {
    TOrder Order = Simple(TOp::RequestCountWithPrefix);
    if (Prefix.size() >= sizeof Order.Text) return -1;
    std::memcpy(Order.Text, Prefix.data(), Prefix.size());
    return Send(Order);
  }

 private:
  enum class TOp : int { Stop, AddFault, ClearFaults, ResetCounts, MediaBytesServed, RequestCountWithPrefix };
  // Fixed size and well below PIPE_BUF, so each goes through the pipe in one piece.
  struct TOrder {
    TOp Op = TOp::Stop;
    int Kind = 0;
    int Times = -1;
    int Skip = 0;
    int64_t DelayMs = 0;
    int64_t CutAfter = -1;
    int64_t BytesPerSecond = 0;
    char Method[16] = {};
    char Text[256] = {};
  };

  static TOrder Simple(TOp Op) {
    TOrder Order;
    Order.Op = Op;
    return Order;
  }

  int64_t Send(const TOrder& Order) {
    int64_t Answer = -1;
    if (FOrders < 0 || !WriteFull(FOrders, &Order, sizeof Order) || !ReadFull(FAnswers, &Answer, sizeof Answer))
      return -1;
    return Answer;
  }

  // The child's side: starts the server, reports its port, then carries out orders until told to
  // stop or the pipe closes. Never returns.
  [[noreturn]] static void Serve(const std::string& Seed, int Orders, int Answers) {
    cloudsim::TSimOptions Options;
    Options.SeedDir = Seed;
    int64_t Answer = 0;
    try {
      cloudsim::TCloudSim Sim(Options);
      Sim.Start();
      Answer = Sim.Port();
      if (!WriteFull(Answers, &Answer, sizeof Answer)) ::_exit(1);
      TOrder Order;
      while (ReadFull(Orders, &Order, sizeof Order) && Order.Op != TOp::Stop) {
        Answer = 0;
        switch (Order.Op) {
          case TOp::AddFault: {
            cloudsim::TFault Fault;
            Fault.Kind = static_cast<cloudsim::TFaultKind>(Order.Kind);
            Fault.PathPrefix = Order.Text;
            Fault.Method = Order.Method;
            Fault.Delay = std::chrono::milliseconds(Order.DelayMs);
            Fault.CutAfter = Order.CutAfter;
            Fault.Times = Order.Times;
            Fault.Skip = Order.Skip;
            Fault.BytesPerSecond = Order.BytesPerSecond;
            Sim.AddFault(Fault);
            break;
          }
          case TOp::ClearFaults:
            Sim.ClearFaults();
            break;
          case TOp::ResetCounts:
            Sim.ResetCounts();
            break;
          case TOp::MediaBytesServed:
            Answer = Sim.MediaBytesServed();
            break;
          case TOp::RequestCountWithPrefix:
            Answer = Sim.RequestCountWithPrefix(Order.Text);
            break;
          case TOp::Stop:
            break;
        }
        if (!WriteFull(Answers, &Answer, sizeof Answer)) break;
      }
      Sim.Stop();
    } catch (...) {
      Answer = 0;
      WriteFull(Answers, &Answer, sizeof Answer);
      ::_exit(1);
    }
    ::_exit(0);
  }

  pid_t FPid = -1;
  int FOrders = -1;
  int FAnswers = -1;
  int FPort = 0;
};

}  // namespace kelvo::bench
