#include <gtest/gtest.h>

#include <filesystem>

#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "core/uSecureString.h"
#include "platform/Paths.h"
#include "support/FileModes.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

// A program folder, PROGRAMDATA and APPDATA of the test's own, and a fresh configuration instance.
class AppConfigTest : public ::testing::Test {
 protected:
  test::TempDir Root;
  test::IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;
  std::string ProgramData = Root / "programdata";
  std::string AppData = Root / "appdata";
  std::string ConfigIni() const { return ProgramDir + "/config/config.ini"; }
  TAppConfig& Start(const std::string& Ini) {
    test::WriteBytes(ConfigIni(), Ini);
    return TAppConfig::Instance();
  }
  // A file where the folder should be: the folder cannot be created, even by root.
  void BlockConfigFolder() { test::WriteBytes(ProgramDir + "/config", "not a folder"); }
};

bool RunningAsRoot() { return test::IsRoot(); }
using test::ModeOf;

}  // namespace

TEST_F(AppConfigTest, FolderIsTheProgramsConfigSubfolderWhenWritable) {
  TAppConfig& C = TAppConfig::Instance();
  EXPECT_EQ(C.GetConfigDir(), ProgramDir + "/config");
  EXPECT_TRUE(DirectoryExists(C.GetConfigDir()));
  EXPECT_EQ(C->GetConfigDir(), C.GetConfigDir());
  EXPECT_EQ(&TAppConfig::Instance(), &C);
}

TEST_F(AppConfigTest, FallsBackToProgramDataThenAppData) {
  BlockConfigFolder();
  EXPECT_EQ(test::NativePath(TAppConfig::Instance().GetConfigDir()), test::NativePath(ProgramData + "/Korvessa"));

  TAppConfig::ResetInstanceForTests();
  test::ScopedEnv NoProgramData("PROGRAMDATA", (Root / "file-not-folder").c_str());
  test::WriteBytes(Root / "file-not-folder", "x");
  EXPECT_EQ(test::NativePath(TAppConfig::Instance().GetConfigDir()), test::NativePath(AppData + "/Korvessa"));
}

TEST_F(AppConfigTest, SecretsAreTheOwnersAloneOrTheMachineGroupsInTheMachineFolder) {
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  struct TCase {
    const char* Name;
    bool BlockProgramFolder;
    bool BlockMachineFolder;
    std::string Folder;
    unsigned FolderMode;
    unsigned OldFileMode;  // config.ini as an older version or the administrator left it
    unsigned FileMode;     // after the protecting rewrite
  };
  const TCase Cases[] = {
      {"program folder", false, false, ProgramDir + "/config", 0700, 0644, 0600},
      {"machine folder", true, false, ProgramData + "/Korvessa", 02770, 0664, 0660},
      {"machine folder narrowed by the administrator", true, false, ProgramData + "/Korvessa", 02770, 0640, 0640},
      {"user's folder", true, true, AppData + "/Korvessa", 0700, 0644, 0600},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    test::TempDir Scratch;
    const std::string MachineData = Case.BlockMachineFolder ? Scratch / "file" : ProgramData;
    test::ScopedEnv MachineDataEnv("PROGRAMDATA", MachineData.c_str());
    if (Case.BlockMachineFolder) test::WriteBytes(Scratch / "file", "not a folder");
    if (Case.BlockProgramFolder && fs::is_directory(ProgramDir + "/config")) {
      fs::remove_all(ProgramDir + "/config");
      BlockConfigFolder();
    }

    TAppConfig::ResetInstanceForTests();
    EXPECT_EQ(TAppConfig::Instance().GetConfigDir(), Case.Folder);
    EXPECT_EQ(ModeOf(Case.Folder), Case.FolderMode);

    const std::string Ini = Case.Folder + "/config.ini";
    test::WriteBytes(Ini, "[MSSQLBackup]\r\nPassword=plain\r\n");
    ASSERT_TRUE(test::SetMode(Ini, Case.OldFileMode));
    TAppConfig::ResetInstanceForTests();
    TAppConfig& C = TAppConfig::Instance();
    EXPECT_TRUE(IsProtectedString(C.ReadRawValue("MSSQLBackup", "Password")));
    EXPECT_EQ(ModeOf(Ini), Case.FileMode);
    fs::remove(Ini);
  }
}

TEST_F(AppConfigTest, PlainValuesAreProtectedOnceAndReadBackPlain) {
  TAppConfig& C = Start(
      "[MSSQLBackup]\r\nEnabled=1\r\nServer=SRV\\SQL, 1435\r\nUserName=sa\r\nPassword=P@ss \xC5\x9F\r\n"
      "BackupOutputDir=  D:\\Yedek  "
      "\r\n[Custom]\r\nOther=plain\r\n[Endpoints]\r\nGoogleDriveUrl=http://127.0.0.1:1/drive\r\n");
  const std::string Text = ReadTextFile(ConfigIni());
  EXPECT_EQ(Text.find("P@ss"), std::string::npos) << "the password must not stay readable";
  EXPECT_NE(Text.find("Password=dpapi:"), std::string::npos);
  EXPECT_NE(Text.find("Enabled=dpapi:"), std::string::npos) << "flags are protected too";
  EXPECT_NE(Text.find("Other=plain"), std::string::npos) << "unknown keys stay as they are";
  EXPECT_NE(Text.find("GoogleDriveUrl=http://127.0.0.1:1/drive"), std::string::npos);
  const TMSSQLBackupConfig M = C.GetMSSQLBackupConfig();
  EXPECT_TRUE(M.Enabled);
  EXPECT_EQ(M.Server, "SRV\\SQL, 1435");
  EXPECT_EQ(M.UserName, "sa");
  EXPECT_EQ(M.Password, "P@ss \xC5\x9F");
  EXPECT_EQ(M.BackupOutputDir, "D:\\Yedek");
  EXPECT_EQ(C.GetEndpointsConfig().GoogleDriveUrl, "http://127.0.0.1:1/drive");

  // A second process start re-protects: the values change but still read the same.
  TAppConfig::ResetInstanceForTests();
  const TMSSQLBackupConfig Again = TAppConfig::Instance().GetMSSQLBackupConfig();
  EXPECT_EQ(Again.Password, M.Password);
  EXPECT_NE(ReadTextFile(ConfigIni()), Text);
}

TEST_F(AppConfigTest, DefaultsAndTypedRules) {
  TAppConfig& C =
      Start("[firebirdbackup]\nPort=abc\nEnabled=yes\nGBackPath= /usr/bin/gbak \n[Google]\nAuthPort=9090\n");
  const TFirebirdBackupConfig F = C.GetFirebirdBackupConfig();
  EXPECT_FALSE(F.Enabled);
  EXPECT_EQ(F.Port, 3050);
  EXPECT_EQ(F.Server, "localhost");
  EXPECT_EQ(F.UserName, "SYSDBA");
  EXPECT_EQ(F.GBackPath, "/usr/bin/gbak");
  EXPECT_EQ(C.GetAuthPort(), 9090);
  EXPECT_EQ(C.GetClientID().size(), 72u);
  EXPECT_EQ(C.GetClientSecret().size(), 35u);
  EXPECT_EQ(C.GetRootFolderID(), "");
  for (const char* True : {"1", "TRUE", "true", "True"}) {
    TAppConfig::ResetInstanceForTests();
    EXPECT_TRUE(Start(std::string("[MSSQLBackup]\nEnabled=") + True + "\n").GetMSSQLBackupConfig().Enabled) << True;
  }
  TAppConfig::ResetInstanceForTests();
  EXPECT_FALSE(Start("[MSSQLBackup]\n").GetMSSQLBackupConfig().Enabled);
}

TEST_F(AppConfigTest, RestoreWorkFolderAndItsReaders) {
  using Names = std::vector<std::string>;
  const Names Default{"mssql", "firebird"};
  struct Case {
    std::string Section;
    std::string Folder;
    Names Readers;
  };
  const std::vector<Case> Cases = {
      {"", "", Default},
      {"[Restore]\nWorkFolder=\nWorkFolderReaders=  \n", "", Default},
      {"[restore]\nWorkFolder= /srv/kelvo work/ \nWorkFolderReaders=mssql\n", "/srv/kelvo work", Names{"mssql"}},
      {"[Restore]\nWorkFolderReaders= sqlsrv , ,fb2,\n", "", Names{"sqlsrv", "fb2"}},
      {"[Other]\nWorkFolder=/elsewhere\n", "", Default},
  };
  for (const Case& C : Cases) {
    TAppConfig::ResetInstanceForTests();
    TAppConfig& Config = Start(C.Section);
    EXPECT_EQ(Config.GetRestoreWorkFolder(), C.Folder) << C.Section;
    EXPECT_EQ(Config.GetRestoreWorkFolderReaders(), C.Readers) << C.Section;
    // Folder and user names are no secrets: they stay as written, for whoever edits the file.
    EXPECT_EQ(test::ReadBytes(ConfigIni()), C.Section);
  }
}

TEST_F(AppConfigTest, TwoLineValuesAndForeignProtectedValues) {
  const std::string Foreign = "dpapi:" + std::string(40, 'A');
  TAppConfig& C =
      Start("[Google]\nClientSecret=abc\n   def\n[FirebirdBackup]\nPassword=" + Foreign + "\nPort=" + Foreign + "\n");
  EXPECT_EQ(C.GetClientSecret(), "abcdef");
  const TFirebirdBackupConfig F = C.GetFirebirdBackupConfig();
  EXPECT_EQ(F.Password, "");
  EXPECT_EQ(F.Port, 3050);
  // Values that cannot be opened here are left untouched for the computer they came from.
  EXPECT_NE(ReadTextFile(ConfigIni()).find("Password=" + Foreign), std::string::npos);
  // The rewritten two-line value still reads whole on the next start.
  TAppConfig::ResetInstanceForTests();
  EXPECT_EQ(TAppConfig::Instance().GetClientSecret(), "abcdef");
}

TEST_F(AppConfigTest, BadFilesGiveDefaults) {
  std::string Garbage = "\xEF\xBB\xBF[FirebirdBackup]\r\nServer=fb\n\r\n[FirebirdBackup]\rPort=";
  for (int I = 0; I < 2000; ++I) Garbage += static_cast<char>((I * 37 + 11) % 256);
  Garbage += "\n" + std::string(100000, 'L') + "\nUserName=ok";
  TAppConfig& C = Start(Garbage);
  const TFirebirdBackupConfig F = C.GetFirebirdBackupConfig();
  EXPECT_EQ(F.Server, "fb");
  EXPECT_EQ(F.UserName, "ok");
  TAppConfig::ResetInstanceForTests();
  EXPECT_EQ(Start("").GetFirebirdBackupConfig().Port, 3050);
}

TEST_F(AppConfigTest, MigrationNeverOverwritesAndTokenCacheIsRenamed) {
  const std::string Legacy = AppData + "/Korvessa";
  test::WriteBytes(Legacy + "/backupplans.json", "legacy plans");
  test::WriteBytes(Legacy + "/projects.json", "legacy projects");
  test::WriteBytes(Legacy + "/unlisted.json", "not taken");
  test::WriteBytes(ProgramDir + "/config/projects.json", "current");
  TAppConfig& C = TAppConfig::Instance();
  EXPECT_EQ(test::ReadBytes(C.GetConfigDir() + "/backupplans.json"), "legacy plans");
  EXPECT_EQ(test::ReadBytes(C.GetConfigDir() + "/projects.json"), "current");
  EXPECT_FALSE(fs::exists(C.GetConfigDir() + "/unlisted.json"));
  // A copy gets no more rights than a secret of this folder may have.
  if (test::PosixModesApply()) {
    EXPECT_EQ(ModeOf(C.GetConfigDir() + "/backupplans.json"), 0600u);
  }

  test::WriteBytes(C.GetConfigDir() + "/google_tokens.dat", "tokens");
  EXPECT_EQ(C.GetGoogleTokenCachePath(), C.GetConfigDir() + "/syc.dat");
  EXPECT_EQ(test::ReadBytes(C.GetConfigDir() + "/syc.dat"), "tokens");
  EXPECT_FALSE(fs::exists(C.GetConfigDir() + "/google_tokens.dat"));
  // With both present nothing moves.
  test::WriteBytes(C.GetConfigDir() + "/google_tokens.dat", "older");
  C.GetGoogleTokenCachePath();
  EXPECT_EQ(test::ReadBytes(C.GetConfigDir() + "/syc.dat"), "tokens");
}

TEST_F(AppConfigTest, LogStaysOffUnlessSwitchedOn) {
  TAppConfig& C = Start("[MSSQLBackup]\nServer=x\n");
  LogInfo("olay");
  EXPECT_FALSE(LogEnabled());
  EXPECT_FALSE(fs::exists(C.GetConfigDir() + "/log.txt"));

  TAppConfig::ResetInstanceForTests();
  TAppConfig& On = Start("[Log]\nEnabled=1\nLevel=WARN\n");
  LogInfo("gorunmez");
  LogWarn("gorunur");
  const std::string Text = ReadTextFile(On.GetConfigDir() + "/log.txt");
  EXPECT_EQ(Text.find("gorunmez"), std::string::npos);
  EXPECT_NE(Text.find("[WARN ] gorunur"), std::string::npos);
  // The log switch is not a secret and stays readable for the operator.
  EXPECT_NE(ReadTextFile(ConfigIni()).find("Enabled=1"), std::string::npos);
}

TEST_F(AppConfigTest, UnwritableSettingsFileFailsConstructionNamingIt) {
  if (RunningAsRoot()) GTEST_SKIP() << "root can write a read-only folder";
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  test::WriteBytes(ConfigIni(), "[MSSQLBackup]\nPassword=plain\n");
  fs::permissions(ProgramDir + "/config", fs::perms::owner_read | fs::perms::owner_exec);
  try {
    TAppConfig::Instance();
    FAIL() << "expected an error";
  } catch (const EFileError& E) {
    EXPECT_NE(std::string(E.what()).find("config.ini"), std::string::npos) << E.what();
  }
  fs::permissions(ProgramDir + "/config", fs::perms::owner_all);
}
