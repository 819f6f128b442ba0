// The Drive client's DownloadFile against "curl -s -o" of the same URL, from a cloudsim server that
// runs in a child process of its own (forked before anything else starts), for a 128 MiB and a 1 GiB
// file (sparse, made in a temporary folder and removed afterwards). Each download runs in a fresh
// process, so its peak RSS is its own; runs alternate between the two clients.
//   bench_drive_download [runs]      (default 3 per client and size)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "drive/uGoogleDrive.h"
#include "platform/Paths.h"

namespace {

using kelvo::bench::Clock;
using kelvo::bench::Median;
using kelvo::bench::MiB;
using kelvo::bench::Since;

struct TRun {
  bool Ok = false;
  double Seconds = 0;
  long PeakKiB = 0;
  int ProgressCalls = 0;
};

// Runs Work in a child process and collects its result and peak RSS.
template <typename F>
TRun InChild(F Work) {
  int Pipe[2];
  if (::pipe(Pipe) != 0) return {};
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::close(Pipe[0]);
    TRun R = Work();
    rusage Usage{};
    ::getrusage(RUSAGE_SELF, &Usage);
    R.PeakKiB = Usage.ru_maxrss;
    if (::write(Pipe[1], &R, sizeof R) != sizeof R) ::_exit(1);
    ::_exit(0);
  }
  ::close(Pipe[1]);
  TRun R;
  if (::read(Pipe[0], &R, sizeof R) != sizeof R) R = {};
  ::close(Pipe[0]);
  int Status = 0;
  ::waitpid(Pid, &Status, 0);
  return R;
}

TRun RunCurl(const std::string& Url, const std::string& Token, const std::string& Dest) {
  const std::string Header = "Authorization: Bearer " + Token;
  const auto Start = Clock::now();
  const pid_t Pid = ::fork();
  if (Pid == 0) {
    ::execlp("curl", "curl", "-s", "-o", Dest.c_str(), "-H", Header.c_str(), Url.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int Status = 0;
  rusage Usage{};
  ::wait4(Pid, &Status, 0, &Usage);
  TRun R;
  R.Seconds = Since(Start);
  R.Ok = WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  R.PeakKiB = Usage.ru_maxrss;
  return R;
}

TRun RunClient(const std::string& Token, const std::string& FileId, const std::string& Dest) {
  return InChild([&] {
    kelvo::TGoogleAuth Auth("bench", "bench", 0, false);
    Auth.SetTokenData({Token, "", kelvo::Now() + 1.0});
    kelvo::TGoogleDrive Drive(Auth);
    TRun R;
    const auto Start = Clock::now();
    R.Ok = Drive.DownloadFile(FileId, Dest, [&R](int64_t, int64_t) { ++R.ProgressCalls; });
    R.Seconds = Since(Start);
    return R;
  });
}

}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  char Pattern[] = "/tmp/kelvo-bench-download-XXXXXX";
  if (!::mkdtemp(Pattern)) return 1;
  const std::string Dir = Pattern;
  const std::string Seed = Dir + "/seed";
  std::filesystem::create_directories(Seed + "/drive");
  kelvo::WriteFileAtomic(Seed + "/oauth.json", R"({"refreshTokens":["1//bench"]})");
  const std::pair<std::string, int64_t> Files[] = {{"f128.bin", 128 * MiB}, {"f1024.bin", 1024 * MiB}};
  for (const auto& [Name, Size] : Files) {
    if (!kelvo::bench::MakeSparseFile(Seed + "/drive/" + Name, Size)) return 1;
  }

  int Port = 0;
  const pid_t Server = kelvo::bench::StartServer(Seed, Port);
  if (Server <= 0 || Port <= 0) {
    std::fprintf(stderr, "cloudsim did not start\n");
    return 1;
  }
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);

  // The program reads its endpoints from config.ini; the access token comes from a real refresh.
  ::setenv("PROGRAMDATA", (Dir + "/programdata").c_str(), 1);
  ::setenv("APPDATA", (Dir + "/appdata").c_str(), 1);
  std::filesystem::create_directories(Dir + "/program/config");
  kelvo::platform::SetProgramDirForTests(Dir + "/program");
  kelvo::WriteFileAtomic(
      Dir + "/program/config/config.ini",
      "[Endpoints]\r\nGoogleTokenUrl=" + Base + "/token\r\nGoogleDriveUrl=" + Base + "/drive/v3/files\r\n");
  kelvo::TGoogleAuth Auth("bench", "bench", 0, false);
  Auth.SetTokenData({"expired", "1//bench", 0});
  const std::string Token = Auth.GetValidToken();
  kelvo::TGoogleDrive Drive(Auth);
  auto Listing = Drive.ListFiles("root");
  std::sort(Listing.begin(), Listing.end(), [](const auto& A, const auto& B) { return A.Size < B.Size; });
  if (Token.empty() || Listing.size() != 2) {
    std::fprintf(stderr, "no token or listing from cloudsim\n");
    ::kill(Server, SIGTERM);
    return 1;
  }

  int Status = 0;
  std::printf("server: cloudsim in a child process (TCloudSim, port %d); %d runs per client and size\n", Port, Runs);
  std::printf("%-10s %14s %14s %8s %12s %12s %9s\n", "size", "client MB/s", "curl MB/s", "ratio", "client RSS",
              "curl RSS", "progress");
  std::vector<long> ClientPeaks;
  for (const auto& Entry : Listing) {
    const int64_t Size = Entry.Size;
    const std::string Url = Base + "/drive/v3/files/" + Entry.FileID + "?alt=media";
    const std::string Dest = Dir + "/out.bin";
    std::vector<double> ClientRates, CurlRates;
    long ClientPeak = 0, CurlPeak = 0;
    int Progress = 0;
    for (int I = 0; I < Runs; ++I) {
      // Alternating which goes first evens out what the previous run left in the page cache.
      TRun C, K;
      bool CurlComplete = false, ClientComplete = false;
      for (int Turn = 0; Turn < 2; ++Turn) {
        if ((Turn + I) % 2 == 0) {
          C = RunCurl(Url, Token, Dest);
          CurlComplete = C.Ok && std::filesystem::file_size(Dest) == static_cast<uintmax_t>(Size);
        } else {
          K = RunClient(Token, Entry.FileID, Dest);
          ClientComplete = K.Ok && std::filesystem::file_size(Dest) == static_cast<uintmax_t>(Size);
        }
        std::filesystem::remove(Dest);
      }
      if (!CurlComplete || !ClientComplete) {
        std::fprintf(stderr, "download failed (curl %d, client %d)\n", CurlComplete, ClientComplete);
        ::kill(Server, SIGTERM);
        ::waitpid(Server, &Status, 0);
        std::filesystem::remove_all(Dir);
        return 1;
      }
      CurlRates.push_back(Size / 1e6 / C.Seconds);
      ClientRates.push_back(Size / 1e6 / K.Seconds);
      ClientPeak = std::max(ClientPeak, K.PeakKiB);
      CurlPeak = std::max(CurlPeak, C.PeakKiB);
      Progress = K.ProgressCalls;
    }
    ClientPeaks.push_back(ClientPeak);
    const double ClientRate = Median(ClientRates), CurlRate = Median(CurlRates);
    std::printf("%-10s %14.1f %14.1f %8.3f %9.1f MiB %8.1f MiB %9d\n", (std::to_string(Size / MiB) + " MiB").c_str(),
                ClientRate, CurlRate, ClientRate / CurlRate, ClientPeak / 1024.0, CurlPeak / 1024.0, Progress);
  }
  std::printf("client peak RSS, 1 GiB minus 128 MiB: %+.1f MiB\n", (ClientPeaks.back() - ClientPeaks.front()) / 1024.0);

  ::kill(Server, SIGTERM);
  ::waitpid(Server, &Status, 0);
  std::filesystem::remove_all(Dir);
  return 0;
}
