// The cloud restore service against cloudsim's Drive: the catalogue fetch, the listing rules of
// plans, and single downloads; plus the checks on local paths built from cloud names.
#include <filesystem>
#include <string>
#include <vector>

#include "CloudCatalogueFixture.h"
#include "catalogue/uAccountDriveContext.h"
#include "catalogue/uBackupPlans.h"
#include "catalogue/uCloudBackup.h"
#include "catalogue/uLocalPathCheck.h"
#include "catalogue/uRestoreMetadata.h"
#include "core/FileIO.h"
#include "core/TextRules.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

TEST(LocalPathCheck, RejectsEveryNameThatCouldLeaveTheFolderOrCannotBeStored) {
  std::string Path, Message;
  for (const std::string& Bad :
       {std::string("..\\..\\x"), std::string("/etc/passwd"), std::string("\\server\\x"), std::string("a/../../b"),
        std::string("a\\.\\b"), std::string("a\\\\b"), std::string("a\\"), std::string(""), std::string("CON"),
        std::string("lpt1.txt"), std::string("C:x.bak"), std::string("a*b"), std::string("x."),
        std::string("ok\0bad", 6), std::string(300, 'a')}) {
    EXPECT_FALSE(BuildSafeLocalPath("/base", Bad, Path, Message)) << Bad;
    EXPECT_EQ(Path, "");
    EXPECT_TRUE(StartsText(Message, "Gecersiz dosya yolu: ")) << Message;
  }
  ASSERT_TRUE(BuildSafeLocalPath("/base", "Belgeler\\2024/a.xlsx", Path, Message));
  EXPECT_EQ(Path, "/base/Belgeler/2024/a.xlsx");
  EXPECT_TRUE(IsSafeLocalName("CONSOLE.bak"));
  EXPECT_TRUE(IsSafeLocalName("Muhasebe ÇŞ.bak"));
  EXPECT_FALSE(IsSafeLocalName(".."));
}

TEST(AccountFolderName, ListedCharactersBecomeDashesAndBlankBecomesHesap) {
  EXPECT_EQ(SanitizeAccountFolderName("Muhasebe / Merkez: 2"), "Muhasebe - Merkez- 2");
  EXPECT_EQ(SanitizeAccountFolderName(" \t a\\b*c?d\"e<f>g|h \r\n"), "a-b-c-d-e-f-g-h");
  EXPECT_EQ(SanitizeAccountFolderName(" \t "), "Hesap");
}

TDriveFileInfo Entry(const std::string& Id, const std::string& Name) {
  TDriveFileInfo F;
  F.FileID = Id;
  F.Name = Name;
  return F;
}

class CloudBackupServiceTest : public test::CloudCatalogueFixture {
 protected:
  TCloudBackupService Service() { return TCloudBackupService(TAppConfig::Instance().GetMSSQLBackupConfig()); }

  std::vector<std::string> Listed(const TBackupPlan& Plan, std::string& Message) {
    TCloudBackupService S(TAppConfig::Instance().GetMSSQLBackupConfig());
    std::vector<TDriveFileInfo> Files{TDriveFileInfo{}};
    EXPECT_TRUE(S.ListPlanDriveBackups(Plan, Files, Message)) << Message;
    std::vector<std::string> Names;
    for (const auto& F : Files) Names.push_back(F.RelativePath);
    return Names;
  }

  static TBackupPlan SqlPlan(const std::string& Databases, const std::string& SubFolder = "") {
    TBackupPlan P;
    P.ID = "p1";
    P.Name = "Gece";
    P.BackupType = "sql";
    P.DatabaseName = Databases;
    P.DriveSubFolder = SubFolder;
    return P;
  }
};

TEST_F(CloudBackupServiceTest, CatalogueFetchStoresPlanListAndRestoreInformationOnly) {
  const std::string Meta = Sim.AddDriveFolder(AccountFolderId, "restoremeta");
  Sim.AddDriveFile(Meta, "Plans.JSON", R"([{"ID":"c1","Name":"Bulut","BackupType":"sql","DatabaseName":"STOK"}])");
  Sim.AddDriveFile(Meta, "a_restoreinfo.json", R"({"PlanID":"c1","DatabaseName":"STOK","BackupFileName":"x.bak"})");
  Sim.AddDriveFile(Meta, "restoreinfo.json", R"({"DatabaseName":"BOS"})");
  Sim.AddDriveFile(Meta, "b_restoreinfo.json", R"([1,2])");  // not an object: skipped
  Sim.AddDriveFile(Meta, "readme.txt", "x");
  Sim.AddDriveFile(Meta, "..", "{}");
  const std::string Sub = Sim.AddDriveFolder(Meta, "eski_restoreinfo.json");
  Sim.AddDriveFile(Sub, "c_restoreinfo.json", R"({"DatabaseName":"C"})");
  const std::string ReadmeId = Sim.DriveEntries().back().Id;

  auto S = Service();
  std::string Message = "stale";
  ASSERT_TRUE(S.DownloadAccountRestoreData(Message)) << Message;
  EXPECT_EQ(Message, "Plan listesi ve 2 yedek bilgi dosyasi buluttan alindi.");
  const std::string Cache = GetRestoreMetadataDir(ConfigDir());
  EXPECT_TRUE(FileExists(Cache + "/plans.json"));
  EXPECT_TRUE(FileExists(Cache + "/a_restoreinfo.json"));
  EXPECT_TRUE(FileExists(Cache + "/restoreinfo.json"));
  EXPECT_FALSE(FileExists(Cache + "/b_restoreinfo.json"));
  EXPECT_FALSE(FileExists(Cache + "/c_restoreinfo.json"));
  ASSERT_EQ(LoadCloudPlanList(ConfigDir()).size(), 1u);
  EXPECT_EQ(LoadRestoreMetadataList(ConfigDir()).size(), 2u);
  // Nothing but .json files was fetched, and no temporary download stays behind.
  EXPECT_EQ(Sim.RequestCount(std::string(cloudsim::DriveFilesPath) + "/" + ReadmeId), 0);
  EXPECT_TRUE(fs::is_empty(PrivateTempFolder()));
}

TEST_F(CloudBackupServiceTest, CatalogueFailuresComeBackAsMessages) {
  auto S = Service();
  std::string Message;
  // An empty (freshly created) restoremeta folder.
  EXPECT_FALSE(S.DownloadAccountRestoreData(Message));
  EXPECT_EQ(Message,
            "Bulutta restoremeta klasorunde bilgi dosyasi bulunamadi. Bilgiler ilk yedek alindiginda otomatik olusur.");
  // Only restore information: the shorter text.
  Sim.AddDriveFile(Sim.DriveFileId("Acme Ltd/restoremeta"), "x_restoreinfo.json", "{}");
  ASSERT_TRUE(S.DownloadAccountRestoreData(Message));
  EXPECT_EQ(Message, "1 yedek bilgi dosyasi buluttan alindi.");

  fs::remove(TAppConfig::Instance().GetGoogleTokenCachePath());
  auto NoToken = Service();
  EXPECT_FALSE(NoToken.DownloadAccountRestoreData(Message));
  EXPECT_EQ(Message, "Google yetkilendirme tokeni bulunamadi. Masaustu uygulamadan yeniden yetkilendirme yapin.");

  WriteTokenCache();
  Sim.SetDatabase(nlohmann::ordered_json::parse(R"({"Lisanslar":{}})"));
  ResetAccountCacheForTests();
  auto NoAccount = Service();
  std::vector<TDriveFileInfo> Files;
  EXPECT_FALSE(NoAccount.ListPlanDriveBackups(SqlPlan("X"), Files, Message));
  EXPECT_FALSE(Message.empty());
}

TEST_F(CloudBackupServiceTest, SqlPlansListTheirOwnPrefixesWithASecondPassForOthers) {
  std::string Message;
  EXPECT_EQ(Listed(SqlPlan("MUHASEBE"), Message).size(), 0u);
  EXPECT_EQ(Message, "Bu plan icin Drive tarafinda yedek dosyasi bulunamadi (.bak/.rar/.fbk).");
  const std::string Own = Sim.AddDriveFolder(AccountFolderId, "Muhasebe");
  Sim.AddDriveFile(Own, "MUHASEBE_FULL_1.bak", "1", At(1));
  Sim.AddDriveFile(Own, "MUHASEBE_FULL_1.failed.bak", "1", At(2));
  Sim.AddDriveFile(Own, "STOK_FULL_1.bak", "1", At(3));
  EXPECT_EQ(Listed(SqlPlan("MUHASEBE", "Muhasebe"), Message), std::vector<std::string>{"MUHASEBE_FULL_1.bak"});
  EXPECT_EQ(Message, "");

  const std::string Other = Sim.AddDriveFolder(AccountFolderId, "Stok");
  Sim.AddDriveFile(Other, "STOK_FULL_1.bak", "1");
  Sim.AddDriveFile(Other, "notes.txt", "1");
  EXPECT_EQ(Listed(SqlPlan("MUHASEBE", "Stok"), Message), std::vector<std::string>{"STOK_FULL_1.bak"});

  const std::string Multi = Sim.AddDriveFolder(AccountFolderId, "Coklu");
  Sim.AddDriveFile(Multi, "A_x.bak", "1", At(5));
  Sim.AddDriveFile(Multi, "B_y.rar", "1", At(5));
  Sim.AddDriveFile(Multi, "AB_z.bak", "1", At(9));
  EXPECT_EQ(Listed(SqlPlan("A;B", "Coklu"), Message), (std::vector<std::string>{"A_x.bak", "B_y.rar"}));
}

TEST_F(CloudBackupServiceTest, EmptySubfolderFallsBackToTheAccountFolderNewestFirst) {
  Sim.AddDriveFile(AccountFolderId, "DB_b.bak", "1", At(10));
  Sim.AddDriveFile(AccountFolderId, "db_A.bak", "1", At(10));
  Sim.AddDriveFile(AccountFolderId, "DB_new.fbk", "1", At(20));
  std::string Message;
  // The subfolder is created on the way and is empty.
  EXPECT_EQ(Listed(SqlPlan("DB", "Yeni\\Alt"), Message),
            (std::vector<std::string>{"DB_new.fbk", "db_A.bak", "DB_b.bak"}));
  EXPECT_EQ(Message, "Alt klasorde dosya bulunamadi; root klasordeki yedekler listelendi.");
  EXPECT_FALSE(Sim.DriveFileId("Acme Ltd/Yeni/Alt").empty());

  EXPECT_EQ(Listed(SqlPlan("YOK"), Message), (std::vector<std::string>{"DB_new.fbk", "db_A.bak", "DB_b.bak"}));
  EXPECT_EQ(Message, "");
  Sim.AddDriveFolder(AccountFolderId, "Bos");
  TBackupPlan Empty = SqlPlan("X", "Bos");
  Empty.BackupType = "folder";
  const std::string Bos = Sim.DriveFileId("Acme Ltd/Bos");
  Sim.AddDriveFile(Bos, "x_restoreinfo.json", "{}");
  EXPECT_EQ(Listed(Empty, Message), std::vector<std::string>{"x_restoreinfo.json"});
}

TEST_F(CloudBackupServiceTest, FolderPlansListTheWholeTreeWithBackslashPaths) {
  const std::string Plan = Sim.AddDriveFolder(AccountFolderId, "Belge");
  const std::string Y2024 = Sim.AddDriveFolder(Sim.AddDriveFolder(Plan, "Belgeler"), "2024");
  Sim.AddDriveFile(Y2024, "a.xlsx", "1", At(1));
  Sim.AddDriveFile(Plan, "x.failed.bak", "1", At(2));
  TBackupPlan P = SqlPlan("", "Belge");
  P.BackupType = "folder";
  std::string Message;
  EXPECT_EQ(Listed(P, Message), (std::vector<std::string>{"x.failed.bak", "Belgeler\\2024\\a.xlsx"}));

  P.DriveSubFolder = "Hic";
  EXPECT_EQ(Listed(P, Message), (std::vector<std::string>{"Belge\\x.failed.bak", "Belge\\Belgeler\\2024\\a.xlsx"}));
  EXPECT_EQ(Message, "Alt klasorde dosya bulunamadi; root klasordeki yedekler listelendi.");
}

TEST_F(CloudBackupServiceTest, DownloadsReportProgressAndFailuresPlainly) {
  const std::string Id = Sim.AddDriveFile(AccountFolderId, "x.bak", std::string(300000, 'z'));
  auto S = Service();
  int64_t Last = -1;
  S.FOnDownloadProgress = [&](int64_t Sent, int64_t Total) { Last = Sent == Total ? Sent : Last; };
  std::string Message;
  const std::string Dest = Root / "out.bak";
  ASSERT_TRUE(S.DownloadDriveBackupFile(Entry(Id, "x.bak"), Dest, Message));
  EXPECT_EQ(Message, "Dosya indirildi: " + Dest);
  EXPECT_EQ(Last, 300000);
  EXPECT_EQ(fs::file_size(Dest), 300000u);

  EXPECT_FALSE(S.DownloadDriveBackupFile(Entry(Id, "x.bak"), "  ", Message));
  EXPECT_EQ(Message, "Indirme hedef yolu bos.");
  EXPECT_FALSE(S.DownloadDriveBackupFile(Entry(" ", "x.bak"), Dest, Message));
  EXPECT_EQ(Message, "Indirilecek Drive dosya ID bos.");
  EXPECT_FALSE(S.DownloadDriveBackupFile(Entry("missing", "kayip.bak"), Dest, Message));
  EXPECT_EQ(Message, "Drive dosyasi indirilemedi: kayip.bak");
  EXPECT_EQ(fs::file_size(Dest), 300000u);
}

}  // namespace
}  // namespace kelvo
