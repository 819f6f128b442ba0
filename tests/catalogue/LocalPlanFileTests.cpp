#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "catalogue/uBackupPlans.h"
#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "core/uSecureString.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "support/FileModes.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

void UseMachine(const std::string& Identity) {
  platform::SetMachineIdentitySource([Identity] { return Identity; });
}

class LocalPlanFileTest : public ::testing::Test {
 protected:
  test::TempDir Config;
  std::string PlanFile = Config / "backupplans.json";
  test::IsolatedProcessState Process;

  void SetUp() override { UseMachine("machine-a-0123456789abcdef"); }

  void WritePlans(const std::string& Text) const { test::WriteBytes(PlanFile, std::string(Utf8Bom) + Text); }
  std::vector<TBackupPlan> Load() const { return TBackupPlanStore(Config.path()).LoadPlans(); }
  // The one plan of a file holding [Object].
  TBackupPlan LoadOne(const std::string& Object) const {
    WritePlans("[" + Object + "]");
    const std::vector<TBackupPlan> Plans = Load();
    EXPECT_EQ(Plans.size(), 1u) << Object;
    return Plans.empty() ? TBackupPlan{} : Plans[0];
  }
};

}  // namespace

TEST_F(LocalPlanFileTest, PlainFileIsReadThenStoredProtected) {
  const std::string Text = R"([{"ID":"{P1}","DatabaseName":"MUHASEBE"},{"ID":"{P2}","DatabaseName":"STOK"}])";
  WritePlans(Text);
  const std::vector<TBackupPlan> Plans = Load();
  ASSERT_EQ(Plans.size(), 2u);
  EXPECT_EQ(Plans[0].ID, "{P1}");
  EXPECT_EQ(Plans[1].Name, "STOK");

  const std::string Stored = test::ReadBytes(PlanFile);
  ASSERT_EQ(Stored.compare(0, 3, Utf8Bom), 0);
  EXPECT_TRUE(IsProtectedString(Stored.substr(3)));
  EXPECT_EQ(Stored.find("MUHASEBE"), std::string::npos);
  if (test::PosixModesApply()) {
    EXPECT_EQ(test::ModeOf(PlanFile), 0600u) << "the passwords in it are the owner's alone";
  }
  std::string Plain;
  UnprotectString(Stored.substr(3), Plain);
  EXPECT_EQ(Plain, Text);

  EXPECT_EQ(Load(), Plans) << "the protected file reads the same";
  EXPECT_EQ(test::ReadBytes(PlanFile), Stored) << "a protected file is not rewritten";
}

TEST_F(LocalPlanFileTest, MissingOrEmptyFileGivesNoPlansAndIsLeftAlone) {
  EXPECT_TRUE(Load().empty());
  EXPECT_FALSE(fs::exists(PlanFile));
  for (const std::string& Bytes : {std::string(), std::string(Utf8Bom)}) {
    test::WriteBytes(PlanFile, Bytes);
    EXPECT_TRUE(Load().empty());
    EXPECT_EQ(test::ReadBytes(PlanFile), Bytes);
  }
  EXPECT_TRUE(TBackupPlanStore(Config / "missing-folder").LoadPlans().empty());
  EXPECT_EQ(TBackupPlanStore(Config.path()).GetFilePath(), PlanFile);
}

TEST_F(LocalPlanFileTest, TextThatIsNotAnArrayGivesNoPlans) {
  std::string Deep(100000, '[');
  for (const std::string& Text : {std::string("not json"), std::string(R"({"ID":"x"})"), std::string("[{\"ID\":1}"),
                                  std::string("[\"\xFF\"]"), Deep}) {
    WritePlans(Text);
    EXPECT_TRUE(Load().empty()) << Text.substr(0, 20);
    EXPECT_TRUE(IsProtectedString(StripUtf8Bom(test::ReadBytes(PlanFile)))) << "protected all the same";
  }
}

TEST_F(LocalPlanFileTest, FileOfAnotherComputerIsSetAside) {
  UseMachine("machine-b-fedcba9876543210");
  const std::string Foreign = ProtectString(R"([{"ID":"{B}"}])");
  UseMachine("machine-a-0123456789abcdef");
  for (const std::string& Text : {Foreign, std::string("dpapi:!!not base64!!")}) {
    WritePlans(Text);
    test::WriteBytes(PlanFile + ".corrupt", "older corrupt file");
    EXPECT_TRUE(Load().empty());
    EXPECT_FALSE(fs::exists(PlanFile));
    EXPECT_EQ(test::ReadBytes(PlanFile + ".corrupt"), std::string(Utf8Bom) + Text);
    EXPECT_TRUE(Load().empty()) << "the next load finds no file";
  }
}

TEST_F(LocalPlanFileTest, ErrorsThatEndTheLoad) {
  WritePlans(R"([{"ID":"{A}"},1])");
  EXPECT_THROW(Load(), std::runtime_error) << "an element that is not an object";
  WritePlans(R"([{"ID":"{A}","RarPasswordProtected":"dpapi:AAAA"}])");
  try {
    Load();
    FAIL() << "no error";
  } catch (const std::runtime_error& E) {
    EXPECT_STREQ(E.what(), "Gizli bilgi okunamadi: Veri gecersiz");
  }
  // A plain file that cannot be protected (no machine identity).
  WritePlans("[]");
  UseMachine("");
  try {
    Load();
    FAIL() << "no error";
  } catch (const std::runtime_error& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Gizli bilgi sifrelenemedi: ", 0), 0u) << E.what();
  }
  UseMachine("machine-a-0123456789abcdef");
  if (test::PosixModesApply() && !test::IsRoot()) {  // root reads a file of mode 0
    test::SetMode(PlanFile, 0);
    EXPECT_THROW(Load(), EFileError);
  }
}

TEST_F(LocalPlanFileTest, EveryKeyIsRead) {
  const TBackupPlan Plan = LoadOne(
      R"({"ID":"{P1}","Name":"Gece","Description":"d","Enabled":true,"BackupType":" Firebird ",)"
      R"("DatabaseName":"D:\\FB\\MUHASEBE.FDB","SourceFolder":"s","TempDirectory":"t","DriveSubFolder":"Yedek/FB",)"
      R"("AutoRun":false,"ScheduleType":"weekly","ScheduleTime":"03:30","WeeklyDays":"1,3","IntervalMinutes":15,)"
      R"("RunOnServiceStart":true,"UseCompression":false,"UseRarEncryption":true,"RarPasswordProtected":")" +
      ProtectString("gizli \xC5\x9Fifre") +
      R"(","ReportEmailAddresses":"a@b","DeleteLocalAfterUpload":true,"LocalBackupRetentionDays":7,)"
      R"("UploadRetryCount":5,"CleanupFailedFiles":false,"FailedFileRetentionHours":48,"EnableDifferential":true,)"
      R"("FullBackupIntervalMinutes":720,"LastFullBackupAt":"2024-01-05 02:00:00","LastRunAt":"2024-01-06T03:04:05",)"
      R"("LastStatus":"OK","LastMessage":"m","LastBackupFile":"f.fbk"})");
  TBackupPlan E;
  E.ID = "{P1}";
  E.Name = "Gece";
  E.Description = "d";
  E.Enabled = true;
  E.BackupType = "firebird";
  E.DatabaseName = "D:\\FB\\MUHASEBE.FDB";
  E.SourceFolder = "s";
  E.TempDirectory = "t";
  E.DriveSubFolder = "Yedek/FB";
  E.AutoRun = false;
  E.ScheduleType = "weekly";
  E.ScheduleTime = "03:30";
  E.WeeklyDays = "1,3";
  E.IntervalMinutes = 15;
  E.RunOnServiceStart = true;
  E.UseCompression = false;
  E.UseRarEncryption = true;
  E.RarPassword = "gizli \xC5\x9Fifre";
  E.ReportEmailAddresses = "a@b";
  E.DeleteLocalAfterUpload = true;
  E.LocalBackupRetentionDays = 7;
  E.UploadRetryCount = 5;
  E.CleanupFailedFiles = false;
  E.FailedFileRetentionHours = 48;
  E.EnableDifferential = true;
  E.FullBackupIntervalMinutes = 720;
  E.LastFullBackupAt = EncodeDateTime(2024, 1, 5, 2);
  E.LastRunAt = EncodeDateTime(2024, 1, 6, 3, 4, 5);
  E.LastStatus = "OK";
  E.LastMessage = "m";
  E.LastBackupFile = "f.fbk";
  EXPECT_EQ(Plan, E);
}

TEST_F(LocalPlanFileTest, DefaultsOfAPlanWithOnlyIdAndEnabled) {
  const TBackupPlan P = LoadOne(R"({"ID":"{P}","Enabled":true})");
  EXPECT_TRUE(P.AutoRun);
  EXPECT_TRUE(P.UseCompression);
  EXPECT_TRUE(P.CleanupFailedFiles);
  EXPECT_EQ(P.UploadRetryCount, 2);
  EXPECT_EQ(P.IntervalMinutes, 60);
  EXPECT_EQ(P.FailedFileRetentionHours, 24);
  EXPECT_EQ(P.FullBackupIntervalMinutes, 43200);
  EXPECT_EQ(P.LocalBackupRetentionDays, 0);
  EXPECT_EQ(P.ScheduleType, "periodic");
  EXPECT_EQ(P.ScheduleTime, "02:00");
  EXPECT_EQ(P.BackupType, "sql");
  EXPECT_EQ(P.Name, "");
  EXPECT_EQ(P.LastRunAt, 0);
  EXPECT_FALSE(LoadOne(R"({"Enabled":false})").AutoRun);
  // Present but empty texts take the defaults too.
  const TBackupPlan Empty = LoadOne(R"({"ScheduleType":"","ScheduleTime":"","BackupType":""})");
  EXPECT_EQ(Empty.ScheduleType, "periodic");
  EXPECT_EQ(Empty.ScheduleTime, "02:00");
  EXPECT_EQ(Empty.BackupType, "sql");
}

TEST_F(LocalPlanFileTest, LegacyKeysAreReadOnlyWhenTheCurrentOnesAreMissing) {
  const TBackupPlan Old =
      LoadOne(R"({"Database":"ESKI","RarPassword":"acik","ReportEmail":"r@x","FullBackupIntervalDays":7})");
  EXPECT_EQ(Old.DatabaseName, "ESKI");
  EXPECT_EQ(Old.Name, "ESKI");
  EXPECT_EQ(Old.RarPassword, "acik");
  EXPECT_EQ(Old.ReportEmailAddresses, "r@x");
  EXPECT_EQ(Old.FullBackupIntervalMinutes, 10080);

  const TBackupPlan Both = LoadOne(
      R"({"DatabaseName":"YENI","Database":"ESKI","RarPasswordProtected":"","RarPassword":"acik",)"
      R"("ReportEmailAddresses":"","ReportEmail":"r@x","FullBackupIntervalMinutes":"x","FullBackupIntervalDays":7})");
  EXPECT_EQ(Both.DatabaseName, "YENI");
  EXPECT_EQ(Both.RarPassword, "");
  EXPECT_EQ(Both.ReportEmailAddresses, "");
  EXPECT_EQ(Both.FullBackupIntervalMinutes, 43200);
  EXPECT_EQ(LoadOne(R"({"DatabaseName":"","Database":"ESKI"})").DatabaseName, "ESKI");
  EXPECT_EQ(LoadOne(R"({"FullBackupIntervalDays":"x"})").FullBackupIntervalMinutes, 43200);
  // Days beyond the 32-bit minute range are held at the largest interval, not wrapped around.
  EXPECT_EQ(LoadOne(R"({"FullBackupIntervalDays":2000000})").FullBackupIntervalMinutes, 2147483647);
  EXPECT_EQ(LoadOne(R"({"FullBackupIntervalDays":-2000000})").FullBackupIntervalMinutes, 43200);
  EXPECT_EQ(LoadOne(R"({"RarPasswordProtected":"plain"})").RarPassword, "plain");
}

TEST_F(LocalPlanFileTest, ValuesAreReadThroughTheirTextForm) {
  EXPECT_TRUE(LoadOne(R"({"Enabled":"TRUE"})").Enabled);
  EXPECT_FALSE(LoadOne(R"({"Enabled":1})").Enabled);
  EXPECT_FALSE(LoadOne(R"({"Enabled":" true"})").Enabled);
  EXPECT_EQ(LoadOne(R"({"Name":null})").Name, "null");
  EXPECT_EQ(LoadOne(R"({"Name":12.50,"DatabaseName":"X"})").Name, "12.5");
  EXPECT_EQ(LoadOne(R"({"Name":{"a":1},"DatabaseName":"X"})").Name, "X") << "an object is empty text";
  EXPECT_EQ(LoadOne(R"({"IntervalMinutes":"abc"})").IntervalMinutes, 60);
  EXPECT_EQ(LoadOne(R"({"IntervalMinutes":" 15"})").IntervalMinutes, 15);
  EXPECT_EQ(LoadOne(R"({"IntervalMinutes":7.0})").IntervalMinutes, 60);
  EXPECT_EQ(LoadOne(R"({"IntervalMinutes":99999999999})").IntervalMinutes, 60);
  EXPECT_EQ(LoadOne(R"({"IntervalMinutes":0})").IntervalMinutes, 60);
  EXPECT_EQ(LoadOne(R"({"UploadRetryCount":-3})").UploadRetryCount, 0);
  EXPECT_EQ(LoadOne(R"({"UploadRetryCount":"x"})").UploadRetryCount, 2);
  EXPECT_EQ(LoadOne(R"({"LocalBackupRetentionDays":-5})").LocalBackupRetentionDays, 0);
  EXPECT_EQ(LoadOne(R"({"FailedFileRetentionHours":-1})").FailedFileRetentionHours, 24);
  EXPECT_EQ(LoadOne(R"({"FullBackupIntervalMinutes":0})").FullBackupIntervalMinutes, 43200);
  EXPECT_EQ(LoadOne(R"({"BackupType":" Folder "})").BackupType, "folder");
  EXPECT_EQ(LoadOne(R"({"BackupType":"mysql"})").BackupType, "sql");
  EXPECT_EQ(LoadOne(R"({"LastRunAt":"2024-01-05T02:00:00"})").LastRunAt, EncodeDateTime(2024, 1, 5, 2));
  EXPECT_EQ(LoadOne(R"({"LastRunAt":"yesterday"})").LastRunAt, 0);
  EXPECT_EQ(LoadOne(R"({"ID":"old","ID":"new"})").ID, "new") << "a repeated key: the last value wins";
}

TEST_F(LocalPlanFileTest, DatabaseNameFromTheLegacyConfigurationKey) {
  const std::string Ini = Config / "config.ini";
  test::WriteBytes(Ini, std::string(Utf8Bom) + "[Google]\r\nDatabase=YANLIS\r\n[MSSQLBackup]\r\nDatabase=  STOK \r\n");
  TBackupPlan P = LoadOne(R"({"ID":"{P}"})");
  EXPECT_EQ(P.DatabaseName, "STOK");
  EXPECT_EQ(P.Name, "STOK");
  EXPECT_EQ(LoadOne(R"({"Name":"Ad","BackupType":"folder"})").DatabaseName, "STOK") << "for every backup type";
  EXPECT_EQ(LoadOne(R"({"DatabaseName":"KENDI"})").DatabaseName, "KENDI");

  test::WriteBytes(Ini, "[mssqlbackup]\nDatabase=" + ProtectString("GIZLI") + "\n");
  EXPECT_EQ(LoadOne("{}").DatabaseName, "GIZLI");
  test::WriteBytes(Ini, "[MSSQLBackup]\nDatabase=dpapi:AAAA\n");
  P = LoadOne("{}");
  EXPECT_EQ(P.DatabaseName, "") << "a value that does not decode";
  EXPECT_EQ(P.Name, "");
}

TEST(PlanDateTime, FixedIsoAndRegionalForms) {
  TDateTime V = 1;
  EXPECT_TRUE(TryParsePlanDateTime(" 2024-01-05 02:00:00 ", V));
  EXPECT_EQ(V, EncodeDateTime(2024, 1, 5, 2));
  EXPECT_TRUE(TryParsePlanDateTime("2024-01-05T02:00:00", V));
  EXPECT_EQ(V, EncodeDateTime(2024, 1, 5, 2));
  const platform::TRegionalSettings Turkish{',', "%d.%m.%Y", "%H:%M:%S"};
  platform::SetRegionalSettingsForTests(&Turkish);
  EXPECT_TRUE(TryParsePlanDateTime("05.01.2024 02:00:00", V));
  EXPECT_EQ(V, EncodeDateTime(2024, 1, 5, 2));
  for (const char* Bad :
       {"", "   ", "yesterday", "2024-01-05t02:00:00", "2024-13-05 02:00:00", "2024-01-05T25:00:00"}) {
    V = 1;
    EXPECT_FALSE(TryParsePlanDateTime(Bad, V)) << Bad;
    EXPECT_EQ(V, 0) << Bad;
  }
  platform::SetRegionalSettingsForTests(nullptr);
}

TEST(ConfigurationFolderPlans, LocalAndCloudPlansOfTheFolderTheConfigurationChooses) {
  test::TempDir Root;
  test::ScopedEnv ProgramData("PROGRAMDATA", (Root / "programdata").c_str());
  test::ScopedEnv AppData("APPDATA", (Root / "appdata").c_str());
  UseMachine("machine-a-0123456789abcdef");
  platform::SetProgramDirForTests(Root / "program");
  TAppConfig::ResetInstanceForTests();
  test::WriteBytes(Root / "program/config/config.ini", "[MSSQLBackup]\r\nServer=SRV\r\nDatabase=STOK\r\n");
  test::WriteBytes(Root / "program/config/backupplans.json", R"([{"ID":"{L}"}])");

  const std::string Dir = TAppConfig::Instance().GetConfigDir();
  SaveCloudPlanList(Dir, R"([{"ID":"{l}","Name":"cloud copy"},{"ID":"{C}","DatabaseName":"MUHASEBE"}])");
  const std::vector<TBackupPlan> Plans = LoadAvailablePlans(Dir);
  EXPECT_TRUE(fs::exists(Root / "program/config/restoremeta/plans.json"));
  ASSERT_EQ(Plans.size(), 2u);
  EXPECT_EQ(Plans[0].Name, "STOK");
  EXPECT_EQ(Plans[1].Name, "MUHASEBE");

  TAppConfig::ResetInstanceForTests();
  platform::SetProgramDirForTests("");
  platform::SetMachineIdentitySource({});
}
