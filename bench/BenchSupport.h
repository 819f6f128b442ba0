#pragma once
// Pieces the benchmarks share: a cloudsim server in a child process of its own (forked before
// anything else starts, so its threads never compete inside the measured process), sparse files
// for large Drive contents, and small statistics.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
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

}  // namespace kelvo::bench
