// The Drive client's checked download (DownloadTo with the listing's size and MD5) when the server
// misbehaves, from a cloudsim server in a child process of its own that takes its faults while it
// runs. Files are made in a temporary folder and removed afterwards.
//   - A slow server (bodies at 100 MB/s): the checked download's rate against an unchecked one of
//     the same file written the same safe way (a temporary file of our own, flushed and renamed)
//     but not checked, runs alternating, the disk settled
//     (sync) before each.
//   - A broken transfer: a 1 GiB file of random bytes whose first reply is cut at 90 %, resumed by
//     the client with the product's own retry backoff: the body bytes the server sent in all, and
//     the file compared byte for byte with the server's.
//   - Cancel: from TCancelToken::Cancel() to the return of the download call, at full speed a
//     quarter into the 1 GiB file, and half a second into a stall of the server (a reply held for
//     30 s after 64 MiB); after each, no "*.part" file may be left in the folder.
// The listing at the start has the server work out every MD5 sum, so that is never timed.
//   bench_download_faults [MiB at 100 MB/s] [runs at 100 MB/s] [cancel runs]   (default 512 3 5)
// Exit status 0 only when every target was met.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/CancelToken.h"
#include "core/FileIO.h"
#include "core/HttpClient.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "drive/uGoogleDrive.h"
#include "platform/Paths.h"
#include "platform/SafeFiles.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"

namespace {

using namespace kelvo;
using bench::Clock;
using bench::Median;
using bench::MiB;
using bench::Since;

constexpr int64_t GiB = 1024 * MiB;
constexpr int64_t ServerRate = 100000000;  // bytes per second of the slow server
const std::string MediaPrefix = std::string(cloudsim::DriveFilesPath) + "/";

const char* Verdict(bool Met) { return Met ? "PASS" : "FAIL"; }

// A file of Size pseudo-random bytes (a fixed seed, so every run serves the same content), flushed.
bool MakeRandomFile(const std::string& Path, int64_t Size) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  if (!Out) return false;
  std::vector<uint64_t> Block(1 << 19);  // 4 MiB
  uint64_t State = 0x9E3779B97F4A7C15ULL;
  bool Ok = true;
  for (int64_t Done = 0; Ok && Done < Size;) {
    for (uint64_t& Word : Block) {
      State ^= State << 13;
      State ^= State >> 7;
      State ^= State << 17;
      Word = State;
    }
    const size_t Want = static_cast<size_t>(std::min<int64_t>(Size - Done, Block.size() * sizeof(uint64_t)));
    Ok = static_cast<bool>(Out.write(reinterpret_cast<const char*>(Block.data()), static_cast<std::streamsize>(Want)));
    Done += static_cast<int64_t>(Want);
  }
  // On disk before anything is timed, so its write-back never runs beside a measurement.
  Out.close();
  return Ok && Out && test::FlushToDisk(Path);
}

// True when both files hold the same bytes.
bool SameContent(const std::string& A, const std::string& B) {
  std::ifstream Fa(A, std::ios::binary), Fb(B, std::ios::binary);
  bool Same = Fa && Fb;
  std::vector<char> Ba(4 * MiB), Bb(4 * MiB);
  while (Same) {
    Fa.read(Ba.data(), static_cast<std::streamsize>(Ba.size()));
    Fb.read(Bb.data(), static_cast<std::streamsize>(Bb.size()));
    const std::streamsize Na = Fa.gcount(), Nb = Fb.gcount();
    if (Fa.bad() || Fb.bad() || Nb != Na || std::memcmp(Ba.data(), Bb.data(), static_cast<size_t>(Na)) != 0)
      Same = false;
    if (Na == 0) break;  // both at their end
  }
  return Same;
}

// The "*.part" files in Folder, and the size of the largest.
int PartFiles(const std::string& Folder, int64_t* Largest = nullptr) {
  int Count = 0;
  if (Largest) *Largest = 0;
  std::error_code Error;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder, Error)) {
    if (Entry.path().extension() != ".part") continue;
    ++Count;
    std::error_code SizeError;
    const auto Size = Entry.file_size(SizeError);
    if (Largest && !SizeError) *Largest = std::max(*Largest, static_cast<int64_t>(Size));
  }
  return Count;
}

// The body of a reply written as the product writes it (a temporary file of our own, flushed and
// renamed at the end), without any check: the reference that isolates what checking costs.
class TUncheckedSink : public IHttpBodySink {
 public:
  explicit TUncheckedSink(platform::TTempFile& File) : FFile(File) {}
  void Begin(int64_t Offset) override {
    if (Offset != FFile.Size()) FFile.Truncate(Offset);
  }
  void Write(const char* Data, size_t Size) override { FFile.Write(Data, Size); }

 private:
  platform::TTempFile& FFile;
};

// Seconds of one checked download to Dest, or -1 when it failed or came out at the wrong size.
// Commit gets the seconds from its last progress report (every byte in and checked) to its return:
// the temporary file flushed to disk and moved into place.
double TimeChecked(TGoogleAuth& Auth, const TDriveFileInfo& File, const std::string& Dest, double& Commit) {
  TGoogleDrive Drive(Auth);
  Clock::time_point Checked{};
  const auto Start = Clock::now();
  try {
    Drive.DownloadTo(File, Dest, [&](int64_t Done, int64_t Total) {
      if (Done == File.Size && Total == File.Size) Checked = Clock::now();
    });
  } catch (const std::exception& E) {
    std::fprintf(stderr, "DownloadTo: %s\n", E.what());
    return -1;
  }
  const auto End = Clock::now();
  Commit = Checked == Clock::time_point{} ? -1 : std::chrono::duration<double>(End - Checked).count();
  std::error_code Error;
  const bool Whole = std::filesystem::file_size(Dest, Error) == static_cast<uintmax_t>(File.Size);
  std::filesystem::remove(Dest, Error);
  return Whole ? std::chrono::duration<double>(End - Start).count() : -1;
}

// Seconds of one unchecked download of Url to Dest, or -1.
double TimeUnchecked(const std::string& Url, const std::string& Token, const std::string& Dest, int64_t Size) {
  THttpClient Http;
  const auto Start = Clock::now();
  bool Ok = false;
  try {
    const platform::TFolder Folder = platform::TFolder::Open(std::filesystem::path(Dest).parent_path().string(), false);
    const std::string Name = std::filesystem::path(Dest).filename().string();
    platform::TTempFile Temp = platform::TTempFile::Create(Folder, Name);
    TUncheckedSink Sink(Temp);
    const THttpResponse Reply = Http.Download(Url, {{"Authorization", "Bearer " + Token}}, Sink);
    Ok = Reply.Status == 200 && Temp.Size() == Size && Temp.Commit(Name, true);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "THttpClient::Download: %s\n", E.what());
  }
  const double Seconds = Since(Start);
  std::error_code Error;
  std::filesystem::remove(Dest, Error);
  return Ok ? Seconds : -1;
}

struct TCancelRun {
  bool Clicked = false;    // the token was cancelled while the download ran
  bool Cancelled = false;  // the download ended with EOperationCancelled
  bool Clean = false;      // no "*.part" and no file at the destination afterwards
  double Seconds = 0;      // from Cancel() to the return of DownloadTo
  int64_t PartAtClick = 0;
};

// One checked download of File into Folder, cancelled from another thread once the temporary file
// holds Trigger bytes and then Hold has passed (the click).
TCancelRun CancelOnce(TGoogleAuth& Auth, const TDriveFileInfo& File, const std::string& Folder, int64_t Trigger,
                      std::chrono::milliseconds Hold) {
  auto Token = std::make_shared<TCancelToken>();
  TGoogleDrive Drive(Auth);
  Drive.SetCancelToken(Token);
  const std::string Dest = Folder + "/cancelled.bin";
  std::atomic<bool> Returned{false};
  TCancelRun R;
  Clock::time_point Click;
  std::thread Operator([&] {
    int64_t Part = 0;
    while (!Returned.load()) {
      PartFiles(Folder, &Part);
      if (Part >= Trigger) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto Until = Clock::now() + Hold;
    while (!Returned.load() && Clock::now() < Until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (Returned.load()) return;
    PartFiles(Folder, &R.PartAtClick);
    R.Clicked = true;
    Click = Clock::now();
    Token->Cancel();
  });
  try {
    Drive.DownloadTo(File, Dest, {});
  } catch (const EOperationCancelled&) {
    R.Cancelled = true;
  } catch (const std::exception& E) {
    std::fprintf(stderr, "DownloadTo: %s\n", E.what());
  }
  const auto End = Clock::now();
  Returned = true;
  Operator.join();
  if (R.Clicked) R.Seconds = std::chrono::duration<double>(End - Click).count();
  std::error_code Error;
  R.Clean = PartFiles(Folder) == 0 && !std::filesystem::exists(Dest, Error);
  std::filesystem::remove(Dest, Error);
  return R;
}

// Prints the cancel runs of one case; true when every run was cancelled in time and left nothing.
bool ReportCancels(const char* Case, const std::vector<TCancelRun>& Runs) {
  std::vector<double> Seconds;
  bool AllGood = !Runs.empty();
  for (size_t I = 0; I < Runs.size(); ++I) {
    const TCancelRun& R = Runs[I];
    std::printf("  %s run %zu: %s, %.1f ms, temporary file at the click %lld bytes, %s\n", Case, I + 1,
                R.Cancelled ? "cancelled" : (R.Clicked ? "NOT cancelled" : "ended before the click"), R.Seconds * 1e3,
                static_cast<long long>(R.PartAtClick), R.Clean ? "no .part left" : "LEFT A .part OR A FILE");
    AllGood = AllGood && R.Clicked && R.Cancelled && R.Clean;
    Seconds.push_back(R.Seconds);
  }
  const double Max = Seconds.empty() ? 0 : *std::max_element(Seconds.begin(), Seconds.end());
  std::printf("%s: cancel to return median %.1f ms, max %.1f ms over %zu runs\n", Case, Median(Seconds) * 1e3,
              Max * 1e3, Runs.size());
  const bool Met = AllGood && Max <= 1.0;
  std::printf("%s cancel %s within 1 s, no .part left: max %.1f ms\n", Verdict(Met), Case, Max * 1e3);
  return Met;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t SlowSize = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 512) * MiB;
  const int SlowRuns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const int CancelRuns = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  // A server gone away must show as a failed order, not end the benchmark.
  const test::ScopedIgnoredBrokenPipe IgnoredBrokenPipe;
  const std::string Dir = test::MakeUniqueTempFolder("kelvo-bench-faults-");
  if (Dir.empty()) return 1;
  const std::string Seed = Dir + "/seed", Out = Dir + "/out";
  std::filesystem::create_directories(Seed + "/drive");
  std::filesystem::create_directories(Out);
  WriteFileAtomic(Seed + "/oauth.json", R"({"refreshTokens":["1//bench"]})");
  const std::string RandomPath = Seed + "/drive/random.bin";
  if (!MakeRandomFile(RandomPath, GiB) || !bench::MakeSparseFile(Seed + "/drive/slow.bin", SlowSize)) {
    std::filesystem::remove_all(Dir);
    return 1;
  }

  bench::TSimProcess Sim;
  if (!Sim.Start(Seed)) {
    std::fprintf(stderr, "cloudsim did not start\n");
    std::filesystem::remove_all(Dir);
    return 1;
  }
  const std::string Base = "http://127.0.0.1:" + std::to_string(Sim.Port());
  test::SetEnv("PROGRAMDATA", (Dir + "/programdata").c_str());
  test::SetEnv("APPDATA", (Dir + "/appdata").c_str());
  std::filesystem::create_directories(Dir + "/program/config");
  platform::SetProgramDirForTests(Dir + "/program");
  WriteFileAtomic(Dir + "/program/config/config.ini",
                  "[Endpoints]\r\nGoogleTokenUrl=" + Base + "/token\r\nGoogleDriveUrl=" + Base + "/drive/v3/files\r\n");
  TGoogleAuth Auth("bench", "bench", 0, false);
  Auth.SetTokenData({"expired", "1//bench", 0});
  const std::string Token = Auth.GetValidToken();
  TDriveFileInfo Random, Slow;
  {
    TGoogleDrive Drive(Auth);
    for (const auto& F : Drive.ListFiles("root")) (F.Name == "random.bin" ? Random : Slow) = F;
  }
  if (Token.empty() || Random.MD5.empty() || Slow.MD5.empty() || Random.Size != GiB || Slow.Size != SlowSize) {
    std::fprintf(stderr, "no token or listing from cloudsim\n");
    Sim.Stop();
    std::filesystem::remove_all(Dir);
    return 1;
  }
  std::printf("server: cloudsim in a child process (port %d), taking faults while it runs\n", Sim.Port());

  // The slow server: the checked download against an unchecked one, runs alternating.
  cloudsim::TFault Throttle;
  Throttle.Kind = cloudsim::TFaultKind::Throttle;
  Throttle.PathPrefix = MediaPrefix;
  Throttle.BytesPerSecond = ServerRate;
  Throttle.Times = 0;
  bool Ready = Sim.ClearFaults() && Sim.AddFault(Throttle);
  std::vector<double> CheckedRates, UncheckedRates;
  const std::string SlowUrl = Base + "/drive/v3/files/" + Slow.FileID + "?alt=media";
  for (int I = 0; Ready && I < SlowRuns; ++I) {
    double Checked = 0, Unchecked = 0, Commit = 0;
    for (int Turn = 0; Turn < 2; ++Turn) {
      // The disk settles first: what the last run removed or left dirty is never flushed inside a
      // measurement.
      test::SettleDisks();
      if ((Turn + I) % 2 == 0)
        Unchecked = TimeUnchecked(SlowUrl, Token, Out + "/plain.bin", SlowSize);
      else
        Checked = TimeChecked(Auth, Slow, Out + "/checked.bin", Commit);
    }
    if (Checked <= 0 || Unchecked <= 0) {
      Ready = false;
      break;
    }
    CheckedRates.push_back(SlowSize / 1e6 / Checked);
    UncheckedRates.push_back(SlowSize / 1e6 / Unchecked);
    std::printf(
        "  100 MB/s run %d: checked %.2f MB/s (%.3f s, of which commit %.3f s), unchecked %.2f MB/s (%.3f s), "
        "ratio %.4f\n",
        I + 1, CheckedRates.back(), Checked, Commit, UncheckedRates.back(), Unchecked,
        CheckedRates.back() / UncheckedRates.back());
  }
  const double SlowRatio = Ready ? Median(CheckedRates) / Median(UncheckedRates) : 0;
  std::printf("server at %.0f MB/s, %lld MiB, %d runs: checked %.2f MB/s, unchecked %.2f MB/s (medians), ratio %.4f\n",
              ServerRate / 1e6, static_cast<long long>(SlowSize / MiB), SlowRuns, Median(CheckedRates),
              Median(UncheckedRates), SlowRatio);
  const bool SlowMet = Ready && SlowRatio >= 0.97;
  std::printf("%s checked rate at least 0.97x the unchecked one at 100 MB/s: %.4f\n", Verdict(SlowMet), SlowRatio);

  // The broken transfer, resumed with the product's own backoff (a wait of up to a second).
  cloudsim::TFault Cut;
  Cut.Kind = cloudsim::TFaultKind::ShortBody;
  Cut.PathPrefix = MediaPrefix;
  Cut.CutAfter = Random.Size * 9 / 10;
  Cut.Times = 1;
  Ready = Sim.ClearFaults() && Sim.ResetCounts() && Sim.AddFault(Cut);
  bool ResumeOk = false;
  double ResumeSeconds = 0;
  const std::string Resumed = Out + "/resumed.bin";
  if (Ready) {
    TGoogleDrive Drive(Auth);
    const auto Start = Clock::now();
    try {
      Drive.DownloadTo(Random, Resumed, {});
      ResumeOk = true;
    } catch (const std::exception& E) {
      std::fprintf(stderr, "DownloadTo after a cut: %s\n", E.what());
    }
    ResumeSeconds = Since(Start);
  }
  const int64_t Served = Sim.MediaBytesServed();
  const int64_t Requests = Sim.RequestCountWithPrefix(MediaPrefix);
  std::error_code Error;
  const int64_t ResumedSize =
      ResumeOk ? static_cast<int64_t>(std::filesystem::file_size(Resumed, Error)) : static_cast<int64_t>(-1);
  const bool Identical = ResumeOk && ResumedSize == Random.Size && SameContent(Resumed, RandomPath);
  std::filesystem::remove(Resumed, Error);
  std::printf(
      "resume: 1 GiB cut after %lld bytes once (ShortBody); DownloadTo %s in %.2f s, %lld requests, "
      "file %lld bytes, %s; served %lld bytes = %.4f GiB (%.4f of the file)\n",
      static_cast<long long>(Cut.CutAfter), ResumeOk ? "succeeded" : "FAILED", ResumeSeconds,
      static_cast<long long>(Requests), static_cast<long long>(ResumedSize),
      Identical ? "identical to the server's" : "NOT identical to the server's", static_cast<long long>(Served),
      Served / double(GiB), Served / double(Random.Size));
  const bool ResumeMet = Identical && Served >= 0 && Served <= GiB * 11 / 10;
  std::printf("%s resume served at most 1.1 GiB and the file is whole: %.4f GiB\n", Verdict(ResumeMet),
              Served / double(GiB));

  // Cancel at full speed, a quarter into the file.
  Ready = Sim.ClearFaults();
  std::vector<TCancelRun> FullSpeed;
  for (int I = 0; Ready && I < CancelRuns; ++I)
    FullSpeed.push_back(CancelOnce(Auth, Random, Out, Random.Size / 4, std::chrono::milliseconds(0)));
  const bool FullSpeedMet = ReportCancels("at full speed", FullSpeed);

  // Cancel while the server holds the reply: 64 MiB sent, then nothing for 30 s; the click comes
  // half a second into the silence.
  cloudsim::TFault Stall;
  Stall.Kind = cloudsim::TFaultKind::StallMidBody;
  Stall.PathPrefix = MediaPrefix;
  Stall.CutAfter = 64 * MiB;
  Stall.Delay = std::chrono::seconds(30);
  Stall.Times = 1;
  std::vector<TCancelRun> Stalled;
  for (int I = 0; I < CancelRuns; ++I) {
    if (!Sim.ClearFaults() || !Sim.AddFault(Stall)) break;
    Stalled.push_back(CancelOnce(Auth, Random, Out, Stall.CutAfter, std::chrono::milliseconds(500)));
  }
  const bool StalledMet = ReportCancels("while stalled", Stalled);

  Sim.Stop();
  std::filesystem::remove_all(Dir);
  return SlowMet && ResumeMet && FullSpeedMet && StalledMet ? 0 : 1;
}
