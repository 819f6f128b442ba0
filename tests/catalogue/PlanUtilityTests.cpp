#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "catalogue/uBackupPlans.h"
#include "core/FileIO.h"
#include "support/TempDir.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

TBackupPlan Plan(const std::string& Type, const std::string& Database, const std::string& Source = "",
                 const std::string& Name = "") {
  TBackupPlan P;
  P.BackupType = Type;
  P.DatabaseName = Database;
  P.SourceFolder = Source;
  P.Name = Name;
  return P;
}

}  // namespace

TEST(PlanUtilities, BackupTypesAndLabels) {
  EXPECT_EQ(NormalizeBackupType(" Folder "), "folder");
  EXPECT_EQ(NormalizeBackupType("\tFIREBIRD\r\n"), "firebird");
  for (const char* Other : {"", "mysql", "sql", "folders", "f\xC3\xB6lder"})
    EXPECT_EQ(NormalizeBackupType(Other), "sql");
  EXPECT_EQ(BackupTypeLabel(Plan(" folder", "")), "Klasor");
  EXPECT_EQ(BackupTypeLabel(Plan("Firebird", "")), "Firebird");
  EXPECT_EQ(BackupTypeLabel(Plan("", "")), "SQL");
  EXPECT_TRUE(IsFolderPlan(Plan("FOLDER", "")));
  EXPECT_FALSE(IsFirebirdPlan(Plan("FOLDER", "")));
}

TEST(PlanUtilities, SqlPlanNamesAndPrefixes) {
  EXPECT_EQ(PlanFilePrefix(Plan("sql", "  MUHASEBE\r\n")), "MUHASEBE_");
  const TBackupPlan Two = Plan("", "A;B");
  EXPECT_EQ(PlanSourceText(Two), "A, B");
  EXPECT_EQ(PlanDisplayName(Two), "A, B");
  EXPECT_EQ(PlanFilePrefix(Two), "A,_B_");
  std::vector<std::string> PerDatabase;
  for (const std::string& Name : SplitDatabaseNames(Two)) {
    TBackupPlan Copy = Two;
    Copy.DatabaseName = Name;
    PerDatabase.push_back(PlanFilePrefix(Copy));
  }
  EXPECT_EQ(PerDatabase, (std::vector<std::string>{"A_", "B_"}));
  EXPECT_EQ(PlanFilePrefix(Plan("sql", "", "", " Gece Plani ")), "Gece_Plani_") << "the name when nothing else";
  EXPECT_EQ(PlanFilePrefix(Plan("sql", "", "", "")), "backup_");
  EXPECT_EQ(PlanFilePrefix(Plan("sql", "SRV:DB/x\\y")), "SRV_DB_x_y_");
}

TEST(PlanUtilities, SplitDatabaseNamesAtSemicolonsAndLineBreaks) {
  EXPECT_EQ(SplitDatabaseNames(Plan("sql", " A;B\r\nC\rD\n\nE; ;\t")),
            (std::vector<std::string>{"A", "B", "C", "D", "E"}));
  EXPECT_TRUE(SplitDatabaseNames(Plan("sql", " \r\n ")).empty());
  EXPECT_TRUE(SplitDatabaseNames(Plan("sql", ";;")).empty());
}

TEST(PlanUtilities, FolderPlansTakeTheLastComponentOfAWindowsPath) {
  for (const char* Source :
       {"D:\\Yedek Dosyalar\\", "D:/Yedek Dosyalar/", " D:\\Veri\\Yedek Dosyalar ", "Yedek Dosyalar"}) {
    EXPECT_EQ(PlanDisplayName(Plan("folder", "", Source)), "Yedek Dosyalar") << Source;
    EXPECT_EQ(PlanFilePrefix(Plan("folder", "", Source)), "Yedek_Dosyalar_") << Source;
  }
  // A drive root has no component of its own, as on Windows: the plan's name stands in.
  EXPECT_EQ(PlanFilePrefix(Plan("folder", "STOK", "D:\\", "Tam Disk")), "Tam_Disk_");
  EXPECT_EQ(PlanSourceText(Plan("folder", "STOK", " D:\\Veri ")), "D:\\Veri");
  EXPECT_EQ(PlanFilePrefix(Plan("folder", "", "")), "backup_");
}

TEST(PlanUtilities, FirebirdPlansOfFilesAndOfAbsentPaths) {
  const TBackupPlan File = Plan("firebird", " D:\\FB\\MUHASEBE.FDB ");
  EXPECT_EQ(PlanDisplayName(File), "MUHASEBE");
  EXPECT_EQ(PlanFilePrefix(File), "MUHASEBE_");
  EXPECT_FALSE(IsFirebirdFolderPlan(File));
  EXPECT_EQ(ListFirebirdDatabases(File), (std::vector<std::string>{"D:\\FB\\MUHASEBE.FDB"}));
  EXPECT_EQ(PlanDisplayName(Plan("firebird", "/srv/fb/stok.v3.fdb")), "stok.v3");
  EXPECT_EQ(PlanDisplayName(Plan("firebird", "C:MUHASEBE.FDB")), "MUHASEBE");
  EXPECT_EQ(PlanDisplayName(Plan("firebird", "D:\\FB\\.fdb")), "D:\\FB\\.fdb") << "no name without extension";
  EXPECT_EQ(PlanFilePrefix(Plan("firebird", "", "", "Ad")), "Ad_");
  EXPECT_TRUE(ListFirebirdDatabases(Plan("firebird", "  ")).empty());
  EXPECT_TRUE(ListFirebirdDatabases(Plan("sql", "D:\\FB\\MUHASEBE.FDB")).empty());
}

TEST(PlanUtilities, FirebirdFolderOnThisComputer) {
  test::TempDir Root;
  const std::string Folder = Root / "Firma Veri";
  for (const char* Name : {"a.FDB", "b.gdb", "c.ib", "d.txt", "e.fdb.bak", "noext"})
    test::WriteBytes(Folder + "/" + Name, "x");
  fs::create_directories(Folder + "/sub.fdb");
  test::WriteBytes(Folder + "/sub.fdb/f.fdb", "x");

  const TBackupPlan P = Plan("Firebird", " " + Folder + "/ ");
  EXPECT_TRUE(IsFirebirdFolderPlan(P));
  EXPECT_EQ(PlanDisplayName(P), "Firma Veri");
  EXPECT_EQ(PlanFilePrefix(P), "Firma_Veri_");
  std::vector<std::string> Files = ListFirebirdDatabases(P);
  std::sort(Files.begin(), Files.end());
  EXPECT_EQ(Files, (std::vector<std::string>{Folder + "/a.FDB", Folder + "/b.gdb", Folder + "/c.ib"}));
  EXPECT_FALSE(IsFirebirdFolderPlan(Plan("sql", Folder)));
  EXPECT_FALSE(IsFirebirdFolderPlan(Plan("firebird", Folder + "/a.FDB")));
  EXPECT_EQ(PlanDisplayName(Plan("firebird", Folder + "/a.FDB")), "a");
}
