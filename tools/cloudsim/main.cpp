// cloudsim --seed DIR [--port N] [--api-key KEY] [--token-lifetime SECONDS] [--drive DIR] [--drive-root-id ID]
//          [--verbose]
// Serves on 127.0.0.1 until SIGINT or SIGTERM (or, on Windows, Ctrl+Break). The first line on standard
// output is the port.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "cloudsim/CloudSim.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: cloudsim --seed DIR [--port N] [--api-key KEY] [--token-lifetime SECONDS] [--drive DIR]\n"
               "                [--drive-root-id ID] [--verbose]\n"
               "  --port 0 (the default) picks a free port; the port is printed on standard output.\n"
               "  --drive: the folder standing for the Drive (default: the seed's drive folder).\n");
}

volatile std::sig_atomic_t StopAsked = 0;

extern "C" void AskToStop(int) { StopAsked = 1; }

bool ParseInt(const char* Text, int& Value) {
  char* End = nullptr;
  const long V = std::strtol(Text, &End, 10);
  if (End == Text || *End != '\0' || V < 0 || V > 1000000000) return false;
  Value = static_cast<int>(V);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  kelvo::cloudsim::TSimOptions Options;
  bool Verbose = false;
  for (int I = 1; I < argc; ++I) {
    const std::string Arg = argv[I];
    const bool HasValue = I + 1 < argc;
    if (Arg == "--seed" && HasValue) {
      Options.SeedDir = argv[++I];
    } else if (Arg == "--port" && HasValue) {
      if (!ParseInt(argv[++I], Options.Port) || Options.Port > 65535) return Usage(), 2;
    } else if (Arg == "--api-key" && HasValue) {
      Options.ApiKey = argv[++I];
    } else if (Arg == "--token-lifetime" && HasValue) {
      if (!ParseInt(argv[++I], Options.TokenLifetimeSeconds)) return Usage(), 2;
    } else if (Arg == "--drive" && HasValue) {
      Options.DriveDir = argv[++I];
    } else if (Arg == "--drive-root-id" && HasValue) {
      Options.DriveRootId = argv[++I];
      if (Options.DriveRootId.empty()) return Usage(), 2;
    } else if (Arg == "--verbose") {
      Verbose = true;
    } else {
      Usage();
      return 2;
    }
  }
  if (Options.SeedDir.empty()) {
    Usage();
    return 2;
  }

  // A stop signal only sets the flag; this thread looks at it and stops the server.
  std::signal(SIGINT, AskToStop);
  std::signal(SIGTERM, AskToStop);
#ifdef SIGBREAK
  std::signal(SIGBREAK, AskToStop);
#endif

  kelvo::cloudsim::TCloudSim Sim(Options);
  try {
    Sim.SetVerbose(Verbose);
    Sim.Start();
  } catch (const std::exception& E) {
    std::fprintf(stderr, "%s\n", E.what());
    return 1;
  }
  std::printf("%d\n", Sim.Port());
  std::fflush(stdout);
  std::fprintf(stderr, "cloudsim: serving %s (database %s, sign-in %s, token %s, Drive %s, root folder %s)\n",
               Sim.BaseUrl().c_str(), Sim.DatabaseUrl().c_str(), Sim.SignInUrl().c_str(), Sim.TokenUrl().c_str(),
               Sim.DriveUrl().c_str(), Sim.DriveRootId().c_str());

  while (!StopAsked) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  Sim.Stop();
  return 0;
}
