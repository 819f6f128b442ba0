// How the cloud backup download window behaves while it fetches one large file from cloudsim (in a
// child process of its own): the longest time its thread does not get to run its event loop, how
// often the progress bar moves, and the download rate against the Drive client downloading the
// same file with no window, measured in the same run. The window is the real one, offscreen, from
// the catalogue fetch through "Yedekleri Listele" to "Tumunu Indir".
//   bench_download_window [MiB] [runs] [MB/s]  (default 1024 MiB, 2 runs, the server's full speed;
//                                              a rate makes the server send file bodies no faster)
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "WindowBench.h"
#include "account/uFirebaseActiveAccount.h"
#include "core/Endpoints.h"
#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "drive/uGoogleDrive.h"
#include "platform/Paths.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"
#include "windows/frmRestoreDrivePicker.h"

namespace {

using namespace kelvo;
using bench::Clock;
using bench::MiB;
using bench::Since;

// Answers the folder question with the benchmark's output folder; everything else is recorded.
class TBenchDialogs : public IDialogs {
 public:
  explicit TBenchDialogs(std::string Folder) : FFolder(std::move(Folder)) {}
  void Information(QWidget*, const std::string& T) override { Said.push_back(T); }
  void Warning(QWidget*, const std::string& T) override { Said.push_back(T); }
  void Error(QWidget*, const std::string& T) override { Said.push_back(T); }
  void ShowException(QWidget*, const std::string& T) override { Said.push_back(T); }
  bool Confirm(QWidget*, const std::string&) override { return true; }
  bool InputQuery(QWidget*, const std::string&, const std::string&, std::string&) override { return false; }
  std::vector<std::string> OpenFiles(QWidget*, const std::string&, const std::string&) override { return {}; }
  bool BrowseFolder(QWidget*, const std::string&, std::string& Folder) override {
    Folder = FFolder;
    return true;
  }
  std::vector<std::string> Said;

 private:
  std::string FFolder;
};

struct TWindowRun {
  bool Ok = false;
  double Seconds = 0;
  double LongestStallMs = 0;
  double LongestStillMs = 0;  // longest time the bar did not move while bytes came in
  int Moves = 0;
};

TWindowRun RunWindow(const std::string& Out, int64_t Size) {
  auto Dialogs = std::make_shared<TBenchDialogs>(Out);
  TRestoreDrivePickerForm Form(nullptr, Dialogs);  // fetches the catalogue: nothing is cached
  Form.show();
  auto* Status = bench::Control<QLabel>(Form, "FStatusLabel");
  auto* Bar = bench::Control<QProgressBar>(Form, "FProgressBar");
  bench::Control<QPushButton>(Form, "FListButton")->click();
  TWindowRun R;
  if (Form.FFiles.size() != 1) {
    std::fprintf(stderr, "listing: %s\n", Status->text().toStdString().c_str());
    return R;
  }
  QElapsedTimer Clock;
  qint64 LastMove = -1;
  QObject::connect(Bar, &QProgressBar::valueChanged, [&](int Value) {
    const qint64 Now = Clock.nsecsElapsed();
    if (Value <= 0) return;  // the reset at the end
    if (LastMove >= 0) R.LongestStillMs = std::max(R.LongestStillMs, (Now - LastMove) / 1e6);
    LastMove = Now;
    ++R.Moves;
  });
  bench::TStallProbe Probe;
  Clock.start();
  Probe.Start();
  const auto Start = Clock::now();
  bench::Control<QPushButton>(Form, "FDownloadAllButton")->click();
  R.Seconds = Since(Start);
  Probe.Stop();
  R.LongestStallMs = Probe.Longest;
  const std::string File = Out + "/MUHASEBE_FULL_1.bak";
  R.Ok = Form.result() == mrOk && Form.FDownloadedFiles.size() == 1 && std::filesystem::exists(File) &&
         std::filesystem::file_size(File) == static_cast<uintmax_t>(Size);
  if (!R.Ok) std::fprintf(stderr, "window: %s\n", Status->text().toStdString().c_str());
  std::filesystem::remove(File);
  return R;
}

double RunPlainClient(const std::string& Out, int64_t Size) {
  TGoogleAuth Auth(TAppConfig::Instance().GetClientID(), TAppConfig::Instance().GetClientSecret(), 0, false);
  Auth.LoadTokens(TAppConfig::Instance().GetGoogleTokenCachePath());
  TGoogleDrive Drive(Auth);
  std::string Id;
  for (const auto& F : Drive.ListFiles("root"))
    if (F.Name == "Acme Ltd")
      for (const auto& P : Drive.ListFiles(F.FileID))
        if (P.Name == "Muhasebe") Id = Drive.ListFiles(P.FileID).at(0).FileID;
  const std::string File = Out + "/plain.bak";
  const auto Start = Clock::now();
  const bool Ok = Drive.DownloadFile(Id, File, {});
  const double Seconds = Since(Start);
  const bool Complete = Ok && std::filesystem::file_size(File) == static_cast<uintmax_t>(Size);
  std::filesystem::remove(File);
  return Complete ? Seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t Size = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024) * MiB;
  const int Runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2;
  const int64_t Rate = argc > 3 ? std::max(0, std::atoi(argv[3])) * 1000000LL : 0;
  const std::string Dir = kelvo::test::MakeUniqueTempFolder("kelvo-bench-window-");
  if (Dir.empty()) return 1;
  const std::string Seed = Dir + "/seed", Out = Dir + "/indirilen";
  const std::string Account = Seed + "/drive/Acme Ltd";
  std::filesystem::create_directories(Account + "/restoremeta");
  std::filesystem::create_directories(Account + "/Muhasebe");
  std::filesystem::create_directories(Out);
  WriteFileAtomic(Seed + "/users.json",
                  R"([{"email":")" + BuiltInServiceLogin() + R"(","password":")" + BuiltInServicePassword() + R"("}])");
  WriteFileAtomic(Seed + "/database.json",
                  R"({"Lisanslar":{"acme":{"LoginName":"acme","Sifre":"pw","Musteri":"Acme Ltd"}}})");
  WriteFileAtomic(Seed + "/oauth.json", R"({"refreshTokens":["1//bench"]})");
  WriteFileAtomic(Account + "/restoremeta/plans.json",
                  R"([{"ID":"p1","Name":"Gece","BackupType":"sql","DatabaseName":"MUHASEBE",)"
                  R"("DriveSubFolder":"Muhasebe"}])");
  if (!bench::MakeSparseFile(Account + "/Muhasebe/MUHASEBE_FULL_1.bak", Size)) return 1;

  int Port = 0;
  bench::TServer Server = bench::StartServer(Seed, Port, [Rate](cloudsim::TCloudSim& Sim) {
    if (Rate <= 0) return;
    cloudsim::TFault Slow;
    Slow.Kind = cloudsim::TFaultKind::Throttle;
    Slow.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/";
    Slow.BytesPerSecond = Rate;
    Sim.AddFault(Slow);
  });
  if (!Server || Port <= 0) {
    std::fprintf(stderr, "cloudsim did not start\n");
    return 1;
  }
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);
  bench::UseLocalCloud(Dir, Port);
  WriteFileAtomic(Dir + "/program/config/config.ini",
                  "[Endpoints]\r\nGoogleTokenUrl=" + Base + "/token\r\nGoogleDriveUrl=" + Base + "/drive/v3/files\r\n");
  SaveSavedSignIn({"acme", "pw", "Acme Ltd"});
  {
    TGoogleAuth Auth("bench", "bench", 0, false);
    Auth.SetTokenData({"expired", "1//bench", 0});
    Auth.SaveTokens(TAppConfig::Instance().GetGoogleTokenCachePath());
  }

  QApplication App(argc, argv);
  // The reference for the stall: the same probe with nothing to do.
  bench::TStallProbe Idle;
  Idle.Start();
  QTimer::singleShot(1000, &App, &QApplication::quit);
  App.exec();
  Idle.Stop();

  std::printf("server: cloudsim in a child process (port %d), %s; file %lld MiB; %d runs\n", Port,
              Rate > 0 ? ("bodies at " + std::to_string(Rate / 1000000) + " MB/s").c_str() : "full speed",
              static_cast<long long>(Size / MiB), Runs);
  std::printf("idle event loop: longest gap %.1f ms\n", Idle.Longest);
  std::printf("%4s %12s %12s %8s %14s %14s %8s\n", "run", "window MB/s", "plain MB/s", "ratio", "longest stall",
              "bar still max", "moves");
  int Failures = 0;
  for (int I = 1; I <= Runs; ++I) {
    // Alternating which goes first evens out what the previous run left in the page cache.
    double Plain = 0;
    TWindowRun W;
    if (I % 2 == 1) {
      Plain = RunPlainClient(Out, Size);
      W = RunWindow(Out, Size);
    } else {
      W = RunWindow(Out, Size);
      Plain = RunPlainClient(Out, Size);
    }
    if (!W.Ok || Plain <= 0) {
      ++Failures;
      continue;
    }
    const double WindowRate = Size / 1e6 / W.Seconds, PlainRate = Size / 1e6 / Plain;
    std::printf("%4d %12.1f %12.1f %8.3f %11.1f ms %11.1f ms %8d\n", I, WindowRate, PlainRate, WindowRate / PlainRate,
                W.LongestStallMs, W.LongestStillMs, W.Moves);
  }
  std::printf("limits: longest stall < 100 ms, bar still < 1000 ms\n");
  bench::StopServer(Server);
  std::filesystem::remove_all(Dir);
  return Failures == 0 ? 0 : 1;
}
