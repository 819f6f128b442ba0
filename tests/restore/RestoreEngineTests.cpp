// The engine's three operations against stand-ins at the shipped script names: the exact objects each
// hands over, the log lines, and the errors it passes on.
#include <gtest/gtest.h>

#include "RestoreTestSupport.h"
#include "core/uLogger.h"

namespace kelvo {
namespace {

using test::Contains;
using test::ReadBytes;
using test::ScopedEnv;
using test::WriteBytes;

const std::string kBom = "\xEF\xBB\xBF";

TEST(RestoreEngineKind, ExtensionOfTheFileNamePartOnly) {
  const std::vector<std::pair<std::string, TBackupFileKind>> Cases = {
      {"D:\\Yedek\\DB.BAK", bfkSqlBak},
      {"x.Bkf", bfkSqlBak},
      {"/srv/yedek/arsiv.RAR", bfkRar},
      {"firma.GBK", bfkFirebird},
      {"C:/Yedek/firma.fbk", bfkFirebird},
      {"db.bak.zip", bfkUnknown},
      {"C:\\a.b\\yedek", bfkUnknown},
      {"/a.bak/yedek", bfkUnknown},
      {"C:x.bak", bfkSqlBak},
      {"C:.bak\\x", bfkUnknown},
      {"yedek.", bfkUnknown},
      {"yedek", bfkUnknown},
      {"", bfkUnknown},
      {".bak", bfkSqlBak},
      {"yedek.bakk", bfkUnknown},
  };
  for (const auto& [Path, Kind] : Cases) EXPECT_EQ(TRestoreEngine::DetectFileKind(Path), Kind) << Path;
  static_assert(bfkSqlBak == 0 && bfkRar == 1 && bfkFirebird == 2 && bfkUnknown == 3 && sizeof(TBackupFileKind) == 1);
}

class RestoreEngineTest : public test::RestoreTest {
 protected:
  std::string Capture = Root / "capture";
  ScopedEnv CaptureEnv{"KELVO_CAPTURE", Capture.c_str()};
  TSqlRestoreConnection Connection{"SRV\\SQLEXPRESS", 1433, "sa", "p\"ass \xC5\x9F"};

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_WITHOUT_SHELL_STAND_INS();
    std::filesystem::create_directories(Capture);
    for (const char* Name : {"RestoreDatabase.sh", "BackupFirebird.sh"})
      WriteBytes(ProgramDir + "/sql/" + Name,
                 "while [ $# -ge 2 ]; do case $1 in -Mode) mode=$2;; -ConfigPath) cfg=$2;; -PayloadPath) pl=$2;;"
                 " -ResultPath) res=$2;; esac; shift 2; done\n"
                 "printf '%s' \"$mode\" >\"$KELVO_CAPTURE/mode\"\n"
                 "printf '%s' \"$0\" >\"$KELVO_CAPTURE/script\"\n"
                 "cp \"$cfg\" \"$KELVO_CAPTURE/config\"; cp \"$pl\" \"$KELVO_CAPTURE/payload\"\n"
                 "[ -z \"${KELVO_ANSWER-}\" ] || printf '%s' \"$KELVO_ANSWER\" >\"$res\"\n"
                 "exit 3\n");
  }
  std::string Captured(const std::string& Name) { return ReadBytes(Capture + "/" + Name); }
};

TEST_F(RestoreEngineTest, ConnectionTestSendsTheConnectionAndAnEmptyPayload) {
  ScopedEnv Answer("KELVO_ANSWER", R"({"success":true,"message":"SQL Server 2022"})");
  TRestoreEngine Engine(Connection);
  std::string Message = "stale";
  EXPECT_TRUE(Engine.TestConnection(Message));
  EXPECT_EQ(Message, "SQL Server 2022");
  EXPECT_EQ(Captured("script"), ProgramDir + "/sql/RestoreDatabase.sh");
  EXPECT_EQ(Captured("mode"), "test");
  EXPECT_EQ(Captured("config"),
            kBom + R"({"server":"SRV\\SQLEXPRESS","port":1433,"userName":"sa","password":"p\"ass \u015F"})");
  EXPECT_EQ(Captured("payload"), kBom + "{}");
  EXPECT_TRUE(WorkDirEntries().empty());
}

TEST_F(RestoreEngineTest, SqlRestoreSendsEveryMemberAsJsonOfItsType) {
  ScopedEnv Answer("KELVO_ANSWER", R"({"success":"True","message":"Veritabani geri yuklendi: Muhasebe"})");
  TRestoreEngine Engine({"srv", 1533, "", ""});
  std::string Message;
  EXPECT_TRUE(Engine.RestoreSqlBackup("C:\\Yedek\\Muhasebe 2024\\db.bak", "", true, false, Message));
  EXPECT_EQ(Message, "Veritabani geri yuklendi: Muhasebe");
  EXPECT_EQ(Captured("mode"), "restore");
  EXPECT_EQ(Captured("config"), kBom + R"({"server":"srv","port":1533,"userName":"","password":""})");
  EXPECT_EQ(Captured("payload"), kBom +
                                     R"({"backupFilePath":"C:\\Yedek\\Muhasebe 2024\\db.bak",)"
                                     R"("targetDatabaseName":"","restoreToOriginal":true,"overwriteExisting":false})");

  EXPECT_TRUE(
      Engine.RestoreSqlBackup("/yedek/ka\xC5\x9F"
                              "a.bak",
                              "Kasa", false, true, Message));
  EXPECT_EQ(Captured("payload"),
            kBom + R"({"backupFilePath":"\/yedek\/ka\u015Fa.bak",)"
                   R"("targetDatabaseName":"Kasa","restoreToOriginal":false,"overwriteExisting":true})");
}

TEST_F(RestoreEngineTest, FirebirdRestoreReadsTheSettingsAtEachCall) {
  ScopedEnv Answer("KELVO_ANSWER", R"({"success":true})");
  TRestoreEngine Engine(Connection);
  std::string Message = "stale";
  EXPECT_TRUE(Engine.RestoreFirebirdBackup("/yedek/firma.fbk", "/data/firma.fdb", false, Message));
  EXPECT_EQ(Message, "");
  EXPECT_EQ(Captured("script"), ProgramDir + "/sql/BackupFirebird.sh");
  EXPECT_EQ(Captured("mode"), "restore");
  // No [FirebirdBackup] section: the defaults; the SQL Server connection plays no part.
  EXPECT_EQ(Captured("config"), kBom + R"({"server":"localhost","port":3050,"userName":"SYSDBA","password":"",)"
                                       R"("gbackPath":"","backupOutputDir":""})");
  EXPECT_EQ(Captured("payload"), kBom + R"({"backupFilePath":"\/yedek\/firma.fbk",)"
                                        R"("targetDatabasePath":"\/data\/firma.fdb","overwriteExisting":false})");

  WriteConfigIni(
      "[FirebirdBackup]\r\nServer=fb.local\r\nPort=3051\r\nUserName=YEDEK\r\nPassword=gizli\r\n"
      "GBackPath=  /opt/firebird/bin/gbak  \r\nBackupOutputDir= /yedek \r\n");
  EXPECT_TRUE(Engine.RestoreFirebirdBackup("/yedek/firma.fbk", "/data/firma.fdb", true, Message));
  EXPECT_EQ(Captured("config"), kBom + R"({"server":"fb.local","port":3051,"userName":"YEDEK","password":"gizli",)"
                                       R"("gbackPath":"\/opt\/firebird\/bin\/gbak","backupOutputDir":"\/yedek"})");
  EXPECT_TRUE(Contains(Captured("payload"), R"("overwriteExisting":true})"));

  // Edited while the program runs: the next call sees it.
  WriteConfigIni("[FirebirdBackup]\r\nServer=fb2\r\nPort=3052\r\n");
  EXPECT_TRUE(Engine.RestoreFirebirdBackup("/yedek/firma.fbk", "/data/firma.fdb", true, Message));
  EXPECT_TRUE(Contains(Captured("config"), R"({"server":"fb2","port":3052,"userName":"SYSDBA")")) << Captured("config");
}

TEST_F(RestoreEngineTest, RestoresLogTheirOutcome) {
  TAppConfig::Instance();  // applies its own log settings first
  TLogSettings Log;
  Log.Enabled = true;
  Log.FilePath = Root / "log.txt";
  Log.OldFilePath = Root / "log.old.txt";
  ConfigureLog(Log);
  TRestoreEngine Engine(Connection);
  std::string Message;
  {
    ScopedEnv Answer("KELVO_ANSWER", R"({"success":false})");
    EXPECT_FALSE(Engine.RestoreSqlBackup("D:\\Yedek\\db.bak", "", false, false, Message));
    EXPECT_EQ(Message, "Restore script basarisiz oldu.");
    EXPECT_FALSE(Engine.RestoreFirebirdBackup("/y/f.fbk", "/d/f.fdb", false, Message));
  }
  {
    ScopedEnv Answer("KELVO_ANSWER", R"({"success":true,"message":"tamam"})");
    EXPECT_TRUE(Engine.RestoreSqlBackup("D:\\Yedek\\db2.bak", "", false, false, Message));
    EXPECT_TRUE(Engine.RestoreFirebirdBackup("/y/f2.fbk", "/d/f.fdb", false, Message));
    EXPECT_TRUE(Engine.TestConnection(Message));
  }
  const std::string Text = ReadBytes(Log.FilePath);
  EXPECT_TRUE(
      Contains(Text, " [WARN ] SQL geri yukleme basarisiz (D:\\Yedek\\db.bak): Restore script basarisiz oldu.\r\n"))
      << Text;
  EXPECT_TRUE(
      Contains(Text, " [WARN ] Firebird geri yukleme basarisiz (/y/f.fbk): Restore script basarisiz oldu.\r\n"));
  EXPECT_TRUE(Contains(Text, " [INFO ] SQL geri yukleme tamamlandi: D:\\Yedek\\db2.bak\r\n"));
  EXPECT_TRUE(Contains(Text, " [INFO ] Firebird geri yukleme tamamlandi: /y/f2.fbk\r\n"));
  // Four lines: the connection test writes none.
  EXPECT_EQ(std::count(Text.begin(), Text.end(), '\n'), 4) << Text;
}

TEST_F(RestoreEngineTest, BridgeErrorsLeaveTheOperationsUnchangedAndUnlogged) {
  TAppConfig::Instance();
  TLogSettings Log;
  Log.Enabled = true;
  Log.FilePath = Root / "log.txt";
  ConfigureLog(Log);
  TRestoreEngine Engine(Connection);
  std::string Message = "stale";
  try {
    Engine.RestoreSqlBackup("/y/db.bak", "", false, false, Message);
    ADD_FAILURE() << "expected the bridge's error";
  } catch (const ERestoreScriptError& E) {
    EXPECT_STREQ(E.what(), "Restore script sonucu uretmedi. Cikis kodu: 3");
  }
  EXPECT_EQ(Message, "");
  EXPECT_FALSE(std::filesystem::exists(Log.FilePath));

  std::filesystem::remove(ProgramDir + "/sql/RestoreDatabase.sh");
  std::filesystem::remove(ProgramDir + "/sql/BackupFirebird.sh");
  try {
    Engine.TestConnection(Message);
    ADD_FAILURE() << "expected a missing-script error";
  } catch (const ERestoreScriptError& E) {
    EXPECT_EQ(std::string(E.what()),
              "SQL restore script dosyasi bulunamadi: " + ProgramDir + "/sql/RestoreDatabase.sh");
  }
  try {
    Engine.RestoreFirebirdBackup("/y/f.fbk", "/d/f.fdb", false, Message);
    ADD_FAILURE() << "expected a missing-script error";
  } catch (const ERestoreScriptError& E) {
    EXPECT_EQ(std::string(E.what()), "Firebird script dosyasi bulunamadi: " + ProgramDir + "/sql/BackupFirebird.sh");
  }
  EXPECT_TRUE(WorkDirEntries().empty());
  EXPECT_FALSE(std::filesystem::exists(Log.FilePath));
}

}  // namespace
}  // namespace kelvo
