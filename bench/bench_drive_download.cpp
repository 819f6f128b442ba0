// The Drive client's downloads against curl, from a cloudsim server that runs in a copy of this
// process of its own (made before anything else starts), for a 128 MiB and a 1 GiB file (sparse, made in
// a temporary folder and removed afterwards). Each download runs in a fresh process, so its peak
// RSS is its own; runs rotate the order of the clients. Two comparisons:
//   - DownloadFile (which asks the Drive for size and MD5 first) against "curl -s -o";
//   - the checked download as a restore does it, DownloadTo with the listing's size and MD5 (no
//     further request), against the same check done by hand: "curl -s -o FILE" and then
//     "md5sum FILE", timed together.
// The listing at the start has the server work out both MD5 sums, and the disk is settled (sync)
// before each download, so neither is ever timed. At the end the pieces of a checked download are
// timed alone over 1 GiB, in this process (MD5, writes to the page cache, writes through a
// temporary file flushed to disk) and behind the client's own transfer from the server (nothing
// kept, MD5 only, temporary file only), to show which one dominates.
//   bench_drive_download [runs]      (default 3 per client and size)
// Exit status 0 only when every download succeeded and every target was met.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "core/FileIO.h"
#include "core/Md5.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "drive/uGoogleDrive.h"
#include "platform/Paths.h"
#include "platform/SafeFiles.h"
#include "support/ChildProcess.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"

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
  double CommitSeconds = 0;  // checked downloads: from every byte in and checked to the return
};

// Runs Work in a copy of this process and collects its result and peak RSS.
template <typename F>
TRun InChild(F Work) {
  kelvo::test::CopiedProcess Child([&](kelvo::test::CopiedProcess::TLink& Parent) {
    TRun R = Work();
    R.PeakKiB = kelvo::test::PeakResidentKiB();
    return Parent.Write(&R, sizeof R) ? 0 : 1;
  });
  TRun R;
  if (!Child.Read(&R, sizeof R)) R = {};
  Child.Wait();
  return R;
}

TRun RunCurl(const std::string& Url, const std::string& Token, const std::string& Dest) {
  const std::string Header = "Authorization: Bearer " + Token;
  const auto Start = Clock::now();
  kelvo::test::ChildProcess Curl("curl", {"-s", "-o", Dest, "-H", Header, Url});
  const int Code = Curl.Wait();
  TRun R;
  R.Seconds = Since(Start);
  R.Ok = Code == 0;
  R.PeakKiB = Curl.PeakKiB();
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

// The check by hand: "curl -s -o Dest" and then "md5sum Dest", timed together. Ok only when both
// succeed and the sum is the Drive's; the peak RSS is the larger of the two.
TRun RunByHand(const std::string& Url, const std::string& Token, const std::string& Dest, const std::string& Md5) {
  const auto Start = Clock::now();
  TRun R = RunCurl(Url, Token, Dest);
  if (!R.Ok) return R;
  R.Ok = false;
  kelvo::test::TChildOptions Piped;
  Piped.PipeOutput = true;
  kelvo::test::ChildProcess Md5sum("md5sum", {Dest}, Piped);
  const std::string Output = Md5sum.ReadAll();
  const int Code = Md5sum.Wait();
  R.Seconds = Since(Start);
  std::string Expected = Md5;
  for (char& C : Expected) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  R.Ok = Code == 0 && !Expected.empty() && Output.rfind(Expected, 0) == 0;
  R.PeakKiB = std::max(R.PeakKiB, Md5sum.PeakKiB());
  return R;
}

// The checked download of a restore: DownloadTo with the listing's size and MD5. Its last progress
// report comes when every byte is in and checked; what follows is the commit (flush and rename).
TRun RunChecked(const std::string& Token, const kelvo::TDriveFileInfo& File, const std::string& Dest) {
  return InChild([&] {
    kelvo::TGoogleAuth Auth("bench", "bench", 0, false);
    Auth.SetTokenData({Token, "", kelvo::Now() + 1.0});
    kelvo::TGoogleDrive Drive(Auth);
    TRun R;
    Clock::time_point Checked{};
    const auto Start = Clock::now();
    try {
      Drive.DownloadTo(File, Dest, [&](int64_t Done, int64_t Total) {
        ++R.ProgressCalls;
        if (Done == File.Size && Total == File.Size) Checked = Clock::now();
      });
      R.Ok = true;
    } catch (const std::exception& E) {
      std::fprintf(stderr, "DownloadTo: %s\n", E.what());
    }
    R.Seconds = Since(Start);
    if (Checked != Clock::time_point{}) R.CommitSeconds = Since(Checked);
    return R;
  });
}

// Takes a download's bytes for one piece of the checked download alone: nothing kept, the MD5
// only, or the temporary file only.
class TPieceSink : public kelvo::IHttpBodySink {
 public:
  TPieceSink(kelvo::TMd5* Hash, kelvo::platform::TTempFile* Temp) : FHash(Hash), FTemp(Temp) {}
  void Begin(int64_t) override {}
  void Write(const char* Data, size_t Size) override {
    if (FHash) FHash->Update(Data, Size);
    if (FTemp) FTemp->Write(Data, Size);
    FBytes += static_cast<int64_t>(Size);
  }
  int64_t Bytes() const { return FBytes; }

 private:
  kelvo::TMd5* FHash;
  kelvo::platform::TTempFile* FTemp;
  int64_t FBytes = 0;
};

// One download of Url through THttpClient into a piece sink, in a fresh process; with Temp the
// file is committed at the end (CommitSeconds) and removed afterwards.
TRun RunPiece(const std::string& Url, const std::string& Token, const std::string& Dir, int64_t Size, bool Hash,
              bool Temp) {
  TRun R = InChild([&] {
    TRun Piece;
    try {
      kelvo::THttpClient Http;
      kelvo::TMd5 Md5;
      const kelvo::platform::TFolder Folder = kelvo::platform::TFolder::Open(Dir, false);
      std::optional<kelvo::platform::TTempFile> File;
      if (Temp) File.emplace(kelvo::platform::TTempFile::Create(Folder, "piece"));
      TPieceSink Sink(Hash ? &Md5 : nullptr, File ? &*File : nullptr);
      const auto Start = Clock::now();
      const kelvo::THttpResponse Reply = Http.Download(Url, {{"Authorization", "Bearer " + Token}}, Sink);
      const bool Digested = !Hash || Md5.HexDigest().size() == 32;
      const auto Received = Clock::now();
      if (File) File->Commit("piece.bin", true);
      Piece.Seconds = Since(Start);
      if (File) Piece.CommitSeconds = Since(Received);
      Piece.Ok = Reply.Status == 200 && Sink.Bytes() == Size && Digested;
    } catch (const std::exception& E) {
      std::fprintf(stderr, "piece: %s\n", E.what());
    }
    return Piece;
  });
  std::error_code Error;
  std::filesystem::remove(Dir + "/piece.bin", Error);
  return R;
}

// The pieces of a checked download, each timed alone over Size bytes fed in 64 KiB pieces.
struct TPieces {
  double Md5Rate = 0;    // MB/s of TMd5 in memory
  double CacheRate = 0;  // MB/s of plain writes to a new file, never flushed
  double TempRate = 0;   // MB/s of TTempFile writes (write-back started as it goes) and its commit
  double TempWriteSeconds = 0, TempCommitSeconds = 0;
};

TPieces TimePieces(const std::string& Dir, int64_t Size) {
  TPieces P;
  std::vector<char> Piece(64 * 1024);
  std::mt19937_64 Rng(1);
  for (char& C : Piece) C = static_cast<char>(Rng());
  const int64_t Count = Size / static_cast<int64_t>(Piece.size());
  {
    kelvo::TMd5 Hash;
    const auto Start = Clock::now();
    for (int64_t I = 0; I < Count; ++I) Hash.Update(Piece.data(), Piece.size());
    const std::string Digest = Hash.HexDigest();
    P.Md5Rate = Digest.size() == 32 ? Size / 1e6 / Since(Start) : 0;
  }
  const std::string Plain = Dir + "/pieces-plain.bin";
  {
    const auto Start = Clock::now();
    std::ofstream Out;
    Out.rdbuf()->pubsetbuf(nullptr, 0);  // each piece goes to the system as one write
    Out.open(Plain, std::ios::binary | std::ios::trunc);
    bool Ok = static_cast<bool>(Out);
    for (int64_t I = 0; Ok && I < Count; ++I)
      Ok = static_cast<bool>(Out.write(Piece.data(), static_cast<std::streamsize>(Piece.size())));
    Out.close();
    Ok = Ok && Out;
    P.CacheRate = Ok ? Size / 1e6 / Since(Start) : 0;
    std::filesystem::remove(Plain);
  }
  try {
    const kelvo::platform::TFolder Folder = kelvo::platform::TFolder::Open(Dir, false);
    auto Start = Clock::now();
    kelvo::platform::TTempFile Temp = kelvo::platform::TTempFile::Create(Folder, "pieces");
    for (int64_t I = 0; I < Count; ++I) Temp.Write(Piece.data(), Piece.size());
    P.TempWriteSeconds = Since(Start);
    Start = Clock::now();
    Temp.Commit("pieces-temp.bin", true);
    P.TempCommitSeconds = Since(Start);
    P.TempRate = Size / 1e6 / (P.TempWriteSeconds + P.TempCommitSeconds);
  } catch (const std::exception& E) {
    std::fprintf(stderr, "temporary file: %s\n", E.what());
  }
  std::filesystem::remove(Dir + "/pieces-temp.bin");
  return P;
}

const char* Verdict(bool Met) { return Met ? "PASS" : "FAIL"; }

}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  const std::string Dir = kelvo::test::MakeUniqueTempFolder("kelvo-bench-download-");
  if (Dir.empty()) return 1;
  const std::string Seed = Dir + "/seed";
  std::filesystem::create_directories(Seed + "/drive");
  kelvo::WriteFileAtomic(Seed + "/oauth.json", R"({"refreshTokens":["1//bench"]})");
  const std::pair<std::string, int64_t> Files[] = {{"f128.bin", 128 * MiB}, {"f1024.bin", 1024 * MiB}};
  for (const auto& [Name, Size] : Files) {
    if (!kelvo::bench::MakeSparseFile(Seed + "/drive/" + Name, Size)) return 1;
  }

  int Port = 0;
  kelvo::bench::TServer Server = kelvo::bench::StartServer(Seed, Port);
  if (!Server || Port <= 0) {
    std::fprintf(stderr, "cloudsim did not start\n");
    return 1;
  }
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);

  // The program reads its endpoints from config.ini; the access token comes from a real refresh.
  kelvo::test::SetEnv("PROGRAMDATA", (Dir + "/programdata").c_str());
  kelvo::test::SetEnv("APPDATA", (Dir + "/appdata").c_str());
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
  if (Token.empty() || Listing.size() != 2 || Listing.front().MD5.empty() || Listing.back().MD5.empty()) {
    std::fprintf(stderr, "no token or listing from cloudsim\n");
    kelvo::bench::StopServer(Server);
    return 1;
  }

  std::printf("server: cloudsim in a child process (TCloudSim, port %d); %d runs per client and size\n", Port, Runs);
  struct TSizeResult {
    int64_t Size = 0;
    double ClientRate = 0, CurlRate = 0, CheckedRate = 0, ByHandRate = 0;
    long ClientPeak = 0, CurlPeak = 0, CheckedPeak = 0, ByHandPeak = 0;
    int Progress = 0, CheckedProgress = 0;
  };
  std::vector<TSizeResult> Results;
  for (const auto& Entry : Listing) {
    TSizeResult Result;
    const int64_t Size = Result.Size = Entry.Size;
    const std::string Url = Base + "/drive/v3/files/" + Entry.FileID + "?alt=media";
    const std::string Dest = Dir + "/out.bin";
    std::vector<double> ClientRates, CurlRates, CheckedRates, ByHandRates;
    for (int I = 0; I < Runs; ++I) {
      // Rotating which goes first evens out what the previous run left in the page cache.
      TRun ByClient[4];
      bool Complete[4] = {};
      for (int Turn = 0; Turn < 4; ++Turn) {
        const int Which = (Turn + I) % 4;
        // The disk settles first: what the last run removed or left dirty is never flushed inside
        // a measurement.
        kelvo::test::SettleDisks();
        switch (Which) {
          case 0:
            ByClient[Which] = RunCurl(Url, Token, Dest);
            break;
          case 1:
            ByClient[Which] = RunClient(Token, Entry.FileID, Dest);
            break;
          case 2:
            ByClient[Which] = RunByHand(Url, Token, Dest, Entry.MD5);
            break;
          default:
            ByClient[Which] = RunChecked(Token, Entry, Dest);
            break;
        }
        std::error_code Error;
        Complete[Which] = ByClient[Which].Ok && std::filesystem::file_size(Dest, Error) == static_cast<uintmax_t>(Size);
        std::filesystem::remove(Dest, Error);
      }
      if (!Complete[0] || !Complete[1] || !Complete[2] || !Complete[3]) {
        std::fprintf(stderr, "download failed (curl %d, DownloadFile %d, by hand %d, DownloadTo %d)\n", Complete[0],
                     Complete[1], Complete[2], Complete[3]);
        kelvo::bench::StopServer(Server);
        std::filesystem::remove_all(Dir);
        return 1;
      }
      CurlRates.push_back(Size / 1e6 / ByClient[0].Seconds);
      ClientRates.push_back(Size / 1e6 / ByClient[1].Seconds);
      ByHandRates.push_back(Size / 1e6 / ByClient[2].Seconds);
      CheckedRates.push_back(Size / 1e6 / ByClient[3].Seconds);
      Result.CurlPeak = std::max(Result.CurlPeak, ByClient[0].PeakKiB);
      Result.ClientPeak = std::max(Result.ClientPeak, ByClient[1].PeakKiB);
      Result.ByHandPeak = std::max(Result.ByHandPeak, ByClient[2].PeakKiB);
      Result.CheckedPeak = std::max(Result.CheckedPeak, ByClient[3].PeakKiB);
      Result.Progress = ByClient[1].ProgressCalls;
      Result.CheckedProgress = ByClient[3].ProgressCalls;
      std::printf(
          "  %4lld MiB run %d: curl %.1f, DownloadFile %.1f, by hand %.1f, DownloadTo %.1f MB/s (commit %.3f s)\n",
          static_cast<long long>(Size / MiB), I + 1, CurlRates.back(), ClientRates.back(), ByHandRates.back(),
          CheckedRates.back(), ByClient[3].CommitSeconds);
    }
    Result.ClientRate = Median(ClientRates);
    Result.CurlRate = Median(CurlRates);
    Result.CheckedRate = Median(CheckedRates);
    Result.ByHandRate = Median(ByHandRates);
    Results.push_back(Result);
  }

  std::printf("DownloadFile (asks the Drive for size and MD5 first) against curl -s -o, medians:\n");
  std::printf("%-10s %14s %14s %8s %12s %12s %9s\n", "size", "client MB/s", "curl MB/s", "ratio", "client RSS",
              "curl RSS", "progress");
  for (const auto& R : Results)
    std::printf("%-10s %14.1f %14.1f %8.3f %9.1f MiB %8.1f MiB %9d\n", (std::to_string(R.Size / MiB) + " MiB").c_str(),
                R.ClientRate, R.CurlRate, R.ClientRate / R.CurlRate, R.ClientPeak / 1024.0, R.CurlPeak / 1024.0,
                R.Progress);
  std::printf("client peak RSS, 1 GiB minus 128 MiB: %+.1f MiB\n",
              (Results.back().ClientPeak - Results.front().ClientPeak) / 1024.0);

  std::printf("checked DownloadTo (listing's size and MD5) against curl -s -o then md5sum, medians:\n");
  std::printf("%-10s %14s %14s %8s %12s %12s %9s\n", "size", "checked MB/s", "by hand MB/s", "ratio", "checked RSS",
              "by hand RSS", "progress");
  bool RatesMet = true, RssMet = true;
  for (const auto& R : Results) {
    const double Ratio = R.CheckedRate / R.ByHandRate;
    RatesMet = RatesMet && Ratio >= 1.2;
    RssMet = RssMet && R.CheckedPeak < 40 * 1024;
    std::printf("%-10s %14.1f %14.1f %8.3f %9.1f MiB %8.1f MiB %9d\n", (std::to_string(R.Size / MiB) + " MiB").c_str(),
                R.CheckedRate, R.ByHandRate, Ratio, R.CheckedPeak / 1024.0, R.ByHandPeak / 1024.0, R.CheckedProgress);
  }
  const double CheckedGrowth = (Results.back().CheckedPeak - Results.front().CheckedPeak) / 1024.0;
  std::printf("checked peak RSS, 1 GiB minus 128 MiB: %+.1f MiB\n", CheckedGrowth);

  // The pieces, over the larger size, with the server idle.
  const TPieces Pieces = TimePieces(Dir, Results.back().Size);
  std::printf(
      "pieces over %lld MiB in this process: MD5 %.1f MB/s; writes to the page cache %.1f MB/s; "
      "temporary file %.1f MB/s (writes %.2f s, commit with fsync %.2f s)\n",
      static_cast<long long>(Results.back().Size / MiB), Pieces.Md5Rate, Pieces.CacheRate, Pieces.TempRate,
      Pieces.TempWriteSeconds, Pieces.TempCommitSeconds);
  // The same pieces behind the client's own transfer, from the server, each in a fresh process.
  {
    const auto& Largest = Listing.back();
    const std::string Url = Base + "/drive/v3/files/" + Largest.FileID + "?alt=media";
    TRun Alone[3];
    for (int Which = 0; Which < 3; ++Which) {
      kelvo::test::SettleDisks();
      Alone[Which] = RunPiece(Url, Token, Dir, Largest.Size, Which == 1, Which == 2);
    }
    const auto Rate = [&](const TRun& R) { return R.Ok ? Largest.Size / 1e6 / R.Seconds : 0.0; };
    std::printf(
        "pieces over %lld MiB through THttpClient::Download: nothing kept %.1f MB/s; MD5 only %.1f MB/s; "
        "temporary file only %.1f MB/s (commit %.3f s)\n",
        static_cast<long long>(Largest.Size / MiB), Rate(Alone[0]), Rate(Alone[1]), Rate(Alone[2]),
        Alone[2].CommitSeconds);
  }

  std::string RatioText;
  for (const auto& R : Results) {
    char Text[64];
    std::snprintf(Text, sizeof Text, " %lld MiB %.3f", static_cast<long long>(R.Size / MiB),
                  R.CheckedRate / R.ByHandRate);
    RatioText += Text;
  }
  const bool GrowthMet = CheckedGrowth <= 5 && CheckedGrowth >= -5;
  std::printf("%s checked download at least 1.2x the rate of curl + md5sum:%s\n", Verdict(RatesMet), RatioText.c_str());
  std::printf("%s checked download peak RSS below 40 MiB: %.1f and %.1f MiB\n", Verdict(RssMet),
              Results.front().CheckedPeak / 1024.0, Results.back().CheckedPeak / 1024.0);
  std::printf("%s checked download peak RSS, 1 GiB minus 128 MiB, within 5 MiB: %+.1f MiB\n", Verdict(GrowthMet),
              CheckedGrowth);

  kelvo::bench::StopServer(Server);
  std::filesystem::remove_all(Dir);
  return RatesMet && RssMet && GrowthMet ? 0 : 1;
}
