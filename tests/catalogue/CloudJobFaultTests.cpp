// The two cloud jobs against cloudsim with faults injected: every case checks that what the job
// reports per file and for the run matches the disk, that no temporary file remains, that nothing
// that was there before is lost or changed unless a complete, checked file replaced it, and that
// passing faults end in success.
#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CloudCatalogueFixture.h"
#include "catalogue/uCloudBackup.h"
#include "catalogue/uCloudJobs.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using cloudsim::TFault;
using cloudsim::TFaultKind;
using Kind = TFileOutcomeKind;

constexpr int64_t Size = 1 << 20;

std::string Bytes(int64_t Count, uint32_t Seed) {
  std::string Out(static_cast<size_t>(Count), '\0');
  for (char& C : Out) C = static_cast<char>((Seed = Seed * 1103515245 + 12345) >> 23);
  return Out;
}

TFault Body(TFaultKind K, int64_t CutAfter, int Times = 1) {
  TFault F;
  F.Kind = K;
  F.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/";
  F.CutAfter = CutAfter;
  F.Times = Times;
  return F;
}

TFault OnMedia(TFault F) {
  F.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/";
  return F;
}

class CloudJobFaultTest : public test::CloudCatalogueFixture {
 protected:
  std::string Out = Root / "indirilen";
  std::string PlanFolder;
  std::string Content = Bytes(Size, 7);

  void SetUp() override {
    CloudCatalogueFixture::SetUp();
    PlanFolder = Sim.AddDriveFolder(AccountFolderId, "Muhasebe");
    fs::create_directories(Out);
  }

  // The plan folder's entries as the Drive lists them (newest first), with size and MD5.
  std::vector<TDriveFileInfo> Listed() {
    TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
    std::vector<TDriveFileInfo> Files = Service.FGoogleDrive->ListFolder(PlanFolder);
    std::stable_sort(Files.begin(), Files.end(),
                     [](const auto& A, const auto& B) { return A.ModifiedTime > B.ModifiedTime; });
    return Files;
  }

  static std::vector<Kind> Kinds(const TCloudJobSummary& S) {
    std::vector<Kind> K;
    for (const auto& F : S.Files) K.push_back(F.Kind);
    return K;
  }

  // What every case asserts about the disk.
  void ExpectClean(const std::string& What) {
    EXPECT_EQ(test::PartFilesBelow(Root.path()), std::vector<std::string>{}) << What;
  }
};

TEST_F(CloudJobFaultTest, DownloadOutcomesMatchTheDiskUnderEveryFault) {
  Sim.AddDriveFile(PlanFolder, "x.bak", Content, At(5));
  TFault HtmlBusy = OnMedia(cloudsim::DriveStatusFault(502, 1));
  HtmlBusy.ContentType = "text/html; charset=UTF-8";
  HtmlBusy.Body = "<html><body>502 Bad Gateway</body></html>";
  TFault HtmlDenied = HtmlBusy;
  HtmlDenied.Status = 403;
  HtmlDenied.Times = -1;
  TFault Stall = Body(TFaultKind::StallMidBody, Size / 3);
  Stall.Delay = std::chrono::seconds(10);
  struct TCase {
    const char* What;
    std::vector<TFault> Faults;
    Kind Expected;
    std::string Reason;  // a part of the failure's reason
    int64_t MaxServed = Size + Size / 10;
  } Cases[] = {
      {"no fault", {}, Kind::Done, ""},
      {"403 rate limit three times", {OnMedia(cloudsim::DriveRateLimitFault(3))}, Kind::Done, ""},
      {"403 rate limit for good",
       {OnMedia(cloudsim::DriveRateLimitFault())},
       Kind::Failed,
       "(403 userRateLimitExceeded)"},
      {"429 with Retry-After twice", {OnMedia(cloudsim::DriveStatusFault(429, 2, "1"))}, Kind::Done, ""},
      {"500 once", {OnMedia(cloudsim::DriveStatusFault(500, 1))}, Kind::Done, ""},
      {"502 twice", {OnMedia(cloudsim::DriveStatusFault(502, 2))}, Kind::Done, ""},
      {"503 three times", {OnMedia(cloudsim::DriveStatusFault(503, 3))}, Kind::Done, ""},
      {"504 once", {OnMedia(cloudsim::DriveStatusFault(504, 1))}, Kind::Done, ""},
      {"500 for good", {OnMedia(cloudsim::DriveStatusFault(500))}, Kind::Failed, "(500 backendError)"},
      {"404", {OnMedia(cloudsim::DriveStatusFault(404))}, Kind::Failed, "(404 notFound)"},
      {"HTML 502 page once", {HtmlBusy}, Kind::Done, ""},
      {"HTML 403 page", {HtmlDenied}, Kind::Failed, "(403)"},
      {"cut mid-body once: resumed", {Body(TFaultKind::CutMidBody, Size * 9 / 10)}, Kind::Done, ""},
      {"cut mid-body every time",
       {Body(TFaultKind::CutMidBody, Size / 2, -1)},
       Kind::Failed,
       "HTTP istegi basarisiz",
       5 * Size},
      {"short body once: resumed", {Body(TFaultKind::ShortBody, Size / 2)}, Kind::Done, ""},
      {"wrong bytes at the right length", {Body(TFaultKind::CorruptBody, Size / 2)}, Kind::Failed, "MD5"},
      {"200 where 206 was asked: starts again",
       {Body(TFaultKind::CutMidBody, Size / 4), Body(TFaultKind::IgnoreRange, 0)},
       Kind::Done,
       "",
       Size + Size / 4},
      {"stall past the low-speed limit once: resumed", {Stall}, Kind::Done, ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.What);
    fs::remove_all(Out);
    Sim.ClearFaults();
    for (const TFault& F : C.Faults) Sim.AddFault(F);
    Sim.ResetCounts();
    TPlanDownloadJob Job(Listed(), Out);
    const TCloudJobSummary& S = Job.Run({});
    ASSERT_EQ(Kinds(S), std::vector<Kind>{C.Expected});
    EXPECT_FALSE(S.Stopped);
    EXPECT_EQ(S.Done + S.Failed, 1);
    if (C.Expected == Kind::Done) {
      EXPECT_EQ(S.Files[0].LocalPath, Out + "/x.bak");
      EXPECT_TRUE(test::ReadBytes(Out + "/x.bak") == Content);
    } else {
      EXPECT_THAT(S.Files[0].Reason, ::testing::HasSubstr(C.Reason));
      EXPECT_TRUE(fs::is_empty(Out)) << "nothing new at the destination";
    }
    EXPECT_LE(Sim.MediaBytesServed(), C.MaxServed);
    ExpectClean(C.What);
  }
}

TEST_F(CloudJobFaultTest, FilesThatWereThereStayUnlessACheckedFileMayReplaceThem) {
  Sim.AddDriveFile(PlanFolder, "x.bak", Content, At(5));
  test::WriteBytes(Out + "/x.bak", "benim");
  test::WriteBytes(Out + "/x.bak.part", "benim de");
  // A corrupt download leaves both alone; a good one goes beside them with a time stamp.
  Sim.AddFault(Body(TFaultKind::CorruptBody, 10));
  TPlanDownloadJob Bad(Listed(), Out);
  EXPECT_EQ(Kinds(Bad.Run({})), std::vector<Kind>{Kind::Failed});
  TPlanDownloadJob Good(Listed(), Out);
  const TCloudJobSummary& S = Good.Run({});
  ASSERT_EQ(Kinds(S), std::vector<Kind>{Kind::Done});
  EXPECT_NE(S.Files[0].LocalPath, Out + "/x.bak");
  EXPECT_TRUE(test::ReadBytes(S.Files[0].LocalPath) == Content);
  EXPECT_EQ(test::ReadBytes(Out + "/x.bak"), "benim");
  EXPECT_EQ(test::ReadBytes(Out + "/x.bak.part"), "benim de");
  EXPECT_EQ(fs::status(S.Files[0].LocalPath).permissions() & fs::perms::others_read, fs::perms::others_read)
      << "readable like any restored file once complete";

  // A full disk fails the file and leaves no temporary file.
  if (!test::ScopedFileSizeLimit::Applies()) GTEST_SKIP() << test::ScopedFileSizeLimit::WhyNot();
  fs::remove(S.Files[0].LocalPath);
  fs::remove(Out + "/x.bak.part");
  {
    test::ScopedFileSizeLimit Full(Size / 2);
    TPlanDownloadJob Job(Listed(), Out);
    const TCloudJobSummary& Disk = Job.Run({});
    ASSERT_EQ(Kinds(Disk), std::vector<Kind>{Kind::Failed});
    EXPECT_THAT(Disk.Files[0].Reason, ::testing::HasSubstr("Dosyaya yazilamadi"));
  }
  EXPECT_EQ(test::ReadBytes(Out + "/x.bak"), "benim");
  EXPECT_EQ(std::distance(fs::directory_iterator(Out), fs::directory_iterator()), 1);
}

TEST_F(CloudJobFaultTest, ACancelEndsTheTransferOrTheWaitWithinASecond) {
  Sim.AddDriveFile(PlanFolder, "a.bak", Content, At(6));
  Sim.AddDriveFile(PlanFolder, "b.bak", Content, At(5));
  TFault Slow = Body(TFaultKind::Throttle, 0, -1);
  Slow.BytesPerSecond = Size / 4;
  TFault Stall = Body(TFaultKind::StallMidBody, Size / 8, -1);
  Stall.Delay = std::chrono::seconds(20);
  TRetryPolicy Patient = TRetryPolicy::Default();
  Patient.FirstDelay = Patient.MaxDelay = std::chrono::seconds(20);
  for (const auto& [What, Fault, Retry] :
       {std::tuple{"mid-file", Slow, false}, std::tuple{"stalled server", Stall, false},
        std::tuple{"retry wait", OnMedia(cloudsim::DriveStatusFault(503)), true}}) {
    SCOPED_TRACE(What);
    fs::remove_all(Out);
    Sim.ClearFaults();
    Sim.AddFault(Fault);
    const TRetryPolicy Before = TRetryPolicy::Default();
    if (Retry) TRetryPolicy::SetDefault(Patient);
    TPlanDownloadJob Job(Listed(), Out);
    TRetryPolicy::SetDefault(Before);
    std::thread Clicker([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      Job.Cancel()->Cancel();
    });
    const auto Start = std::chrono::steady_clock::now();
    const TCloudJobSummary& S = Job.Run({});
    const auto Took = std::chrono::steady_clock::now() - Start;
    Clicker.join();
    EXPECT_TRUE(S.Stopped);
    EXPECT_TRUE(S.Files.empty()) << "the interrupted file is neither done nor failed";
    EXPECT_LT(Took, std::chrono::milliseconds(1500)) << "cancelled 500 ms in";
    EXPECT_TRUE(fs::is_empty(Out));
    ExpectClean(What);
  }
}

TEST_F(CloudJobFaultTest, FolderRestoreKeepsToTheTargetTakesTheNewestAndSkipsWhatItMayNotReplace) {
  KELVO_SKIP_UNDER_WINE(test::kNoLinksUnderWine);
  const std::string Docs = Sim.AddDriveFolder(PlanFolder, "docs");
  Sim.AddDriveFile(Docs, "gizli.txt", "disari", At(9));
  Sim.AddDriveFile(PlanFolder, "rapor.txt", "yeni", At(8));
  Sim.AddDriveFile(PlanFolder, "rapor.txt", "eski", At(2));
  Sim.AddDriveFile(PlanFolder, "not.txt", "bulut", At(1));
  const std::string Target = Root / "hedef";
  const std::string Outside = Root / "disarisi";
  fs::create_directories(Target);
  fs::create_directories(Outside);
  fs::create_directory_symlink(Outside, Target + "/docs");
  test::WriteBytes(Target + "/not.txt", "yerel");

  TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
  std::vector<TDriveFileInfo> Files;
  std::string Message;
  TBackupPlan Plan;
  Plan.BackupType = "folder";
  Plan.DriveSubFolder = "Muhasebe";
  ASSERT_TRUE(Service.ListPlanDriveBackups(Plan, Files, Message)) << Message;
  ASSERT_EQ(Files.size(), 4u);

  for (const bool Overwrite : {false, true}) {
    SCOPED_TRACE(Overwrite ? "overwrite on" : "overwrite off");
    TFolderRestoreJob Job(Files, Target, Overwrite);
    const TCloudJobSummary& S = Job.Run({});
    ASSERT_EQ(S.Files.size(), 4u);
    EXPECT_EQ(S.Files[0].Name, "docs\\gizli.txt");
    EXPECT_EQ(S.Files[0].Kind, Kind::Failed);
    EXPECT_THAT(S.Files[0].Reason, ::testing::HasSubstr("sembolik baglanti"));
    EXPECT_TRUE(fs::is_empty(Outside)) << "nothing is carried out of the target";
    EXPECT_EQ(S.Files[1].Kind, Kind::Done) << "rapor.txt: the newer one";
    EXPECT_EQ(test::ReadBytes(Target + "/rapor.txt"), "yeni");
    EXPECT_EQ(S.Files[2].Kind, Kind::Skipped) << "the older rapor.txt";
    EXPECT_THAT(S.Files[2].Reason, ::testing::HasSubstr("daha yeni"));
    EXPECT_EQ(S.Files[3].Kind, Overwrite ? Kind::Done : Kind::Skipped);
    EXPECT_EQ(test::ReadBytes(Target + "/not.txt"), Overwrite ? "bulut" : "yerel");
    ExpectClean("folder restore");
  }
}

TEST_F(CloudJobFaultTest, ListingsAndTheCatalogueFailWholeAndNeverListWithoutAParent) {
  for (int I = 0; I < 1005; ++I) Sim.AddDriveFile(PlanFolder, Fmt("MUHASEBE_%d.bak", I), "x", At(1));
  TBackupPlan Plan;
  Plan.BackupType = "sql";
  Plan.DatabaseName = "MUHASEBE";
  Plan.DriveSubFolder = "Muhasebe";
  TFault Page2 = cloudsim::DriveRateLimitFault();
  Page2.PathPrefix = cloudsim::DriveFilesPath;
  Page2.Skip = 3;  // account folder, plan folder, page 1
  Sim.AddFault(Page2);
  TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
  std::vector<TDriveFileInfo> Files;
  std::string Message;
  EXPECT_FALSE(Service.ListPlanDriveBackups(Plan, Files, Message));
  EXPECT_EQ(Message, "Drive listesi alinamadi (403 userRateLimitExceeded)");
  EXPECT_TRUE(Files.empty());

  // restoremeta can be neither found nor made: the catalogue fetch stops there.
  Sim.ClearFaults();
  TFault Search = cloudsim::DriveStatusFault(503);
  Search.PathPrefix = cloudsim::DriveFilesPath;
  Search.Skip = 1;  // the account folder is found
  Sim.AddFault(Search);
  Sim.ResetCounts();
  TCloudBackupService Catalogue(TAppConfig::Instance().GetMSSQLBackupConfig());
  EXPECT_FALSE(Catalogue.DownloadAccountRestoreData(Message));
  EXPECT_THAT(Message, ::testing::HasSubstr("restoremeta"));
  for (const auto& R : Sim.Requests()) {
    if (R.Method == "GET" && R.Path == cloudsim::DriveFilesPath) {
      EXPECT_NE(R.Target.find("parents"), std::string::npos) << R.Target;
    }
  }
  EXPECT_FALSE(fs::exists(ConfigDir() + "/plans.json"));
}

TEST_F(CloudJobFaultTest, ARefreshTokenAloneServesAndARevokedLinkSaysWhatToDo) {
  Sim.AddDriveFile(PlanFolder, "MUHASEBE_1.bak", "x", At(1));
  TBackupPlan Plan;
  Plan.BackupType = "sql";
  Plan.DatabaseName = "MUHASEBE";
  Plan.DriveSubFolder = "Muhasebe";
  auto List = [&](std::string& Message) {
    TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
    std::vector<TDriveFileInfo> Files;
    const bool Ok = Service.ListPlanDriveBackups(Plan, Files, Message);
    return Ok ? static_cast<int>(Files.size()) : -1;
  };
  // The central directory may hand over a refresh token without an access token.
  TGoogleAuth Auth("client", "secret", 8080, false);
  Auth.SetTokenData({"", "1//refresh", 0});
  Auth.SaveTokens(TAppConfig::Instance().GetGoogleTokenCachePath());
  std::string Message;
  EXPECT_EQ(List(Message), 1) << Message;

  Sim.RevokeAccessTokens();
  EXPECT_EQ(List(Message), 1) << "a refused access token is renewed: " << Message;
  Sim.RevokeAccessTokens();
  Sim.RemoveRefreshToken("1//refresh");
  EXPECT_EQ(List(Message), -1);
  EXPECT_THAT(Message, ::testing::HasSubstr("Google baglantisi yenilenemedi"));
}

}  // namespace
}  // namespace kelvo
