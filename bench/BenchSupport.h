#pragma once
// Pieces the benchmarks share: a cloudsim server in a copy of this process of its own (made before
// anything else starts, so its threads never compete inside the measured process), also one that
// takes orders while it runs, sparse files for large Drive contents, and small statistics.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cloudsim/CloudSim.h"
#include "support/ChildProcess.h"

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
  if (!std::ofstream(Path, std::ios::binary | std::ios::trunc)) return false;
  std::error_code Error;
  std::filesystem::resize_file(Path, static_cast<uintmax_t>(Size), Error);
  return !Error;
}

using TServer = std::unique_ptr<test::CopiedProcess>;

// The server's process: serves the seed until told to stop (StopServer); its port comes back
// through the link. Prepare runs in the copy before the server starts (faults, for instance).
// Returns nothing when the server did not start; Port is 0 then. Windows cannot copy a process: the
// benchmarks that need this say so and end.
inline TServer StartServer(const std::string& Seed, int& Port,
                           const std::function<void(cloudsim::TCloudSim&)>& Prepare = {}) {
  Port = 0;
  if (!test::CopiedProcess::CanCopyProcess()) {
    std::fprintf(stderr, "cloudsim in a process of its own: %s\n", test::CopiedProcess::WhyNot());
    return nullptr;
  }
  auto Server = std::make_unique<test::CopiedProcess>([&](test::CopiedProcess::TLink& Parent) {
    cloudsim::TSimOptions Options;
    Options.SeedDir = Seed;
    cloudsim::TCloudSim Sim(Options);
    if (Prepare) Prepare(Sim);
    Sim.Start();
    const int P = Sim.Port();
    if (!Parent.Write(&P, sizeof P)) return 1;
    char Ignored;
    while (Parent.Read(&Ignored, 1)) {
    }  // until the other side closes
    Sim.Stop();
    return 0;
  });
  if (!Server->Started() || !Server->Read(&Port, sizeof Port)) {
    Port = 0;
    return nullptr;
  }
  return Server;
}

inline void StopServer(TServer& Server) {
  if (!Server) return;
  Server->CloseOutput();
  Server->Wait();
  Server.reset();
}

// A cloudsim server in a child process of its own that takes orders while it runs: faults added
// and cleared, counts reset and read back. Each order is answered before the call returns, so it
// has taken effect for every request made afterwards. Start it before anything else starts.
class TSimProcess {
 public:
  TSimProcess() = default;
  ~TSimProcess() { Stop(); }
  TSimProcess(const TSimProcess&) = delete;
  TSimProcess& operator=(const TSimProcess&) = delete;

  // Serves Seed; false when the server did not start.
  bool Start(const std::string& Seed) {
    if (!test::CopiedProcess::CanCopyProcess()) {
      std::fprintf(stderr, "cloudsim in a process of its own: %s\n", test::CopiedProcess::WhyNot());
      return false;
    }
    FServer = std::make_unique<test::CopiedProcess>(
        [&Seed](test::CopiedProcess::TLink& Parent) { return Serve(Seed, Parent); });
    int64_t Port = 0;
    if (!FServer->Started() || !FServer->Read(&Port, sizeof Port) || Port <= 0) {
      Stop();
      return false;
    }
    FPort = static_cast<int>(Port);
    return true;
  }

  // Ends held requests and the server; safe to call twice.
  void Stop() {
    if (!FServer) return;
    TOrder Order;
    Order.Op = TOp::Stop;
    FServer->Write(&Order, sizeof Order);
    FServer->CloseOutput();
    FServer->Wait();
    FServer.reset();
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
  // Fixed size and well below the pipe's atomic size, so each goes through in one piece.
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
    if (!FServer || !FServer->Write(&Order, sizeof Order) || !FServer->Read(&Answer, sizeof Answer)) return -1;
    return Answer;
  }

  // The copy's side: starts the server, reports its port, then carries out orders until told to
  // stop or the link closes. Returns the copy's exit code.
  static int Serve(const std::string& Seed, test::CopiedProcess::TLink& Parent) {
    cloudsim::TSimOptions Options;
    Options.SeedDir = Seed;
    int64_t Answer = 0;
    try {
      cloudsim::TCloudSim Sim(Options);
      Sim.Start();
      Answer = Sim.Port();
      if (!Parent.Write(&Answer, sizeof Answer)) return 1;
      TOrder Order;
      while (Parent.Read(&Order, sizeof Order) && Order.Op != TOp::Stop) {
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
        if (!Parent.Write(&Answer, sizeof Answer)) break;
      }
      Sim.Stop();
    } catch (...) {
      Answer = 0;
      Parent.Write(&Answer, sizeof Answer);
      return 1;
    }
    return 0;
  }

  std::unique_ptr<test::CopiedProcess> FServer;
  int FPort = 0;
};

}  // namespace kelvo::bench
