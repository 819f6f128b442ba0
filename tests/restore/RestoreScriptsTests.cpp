// The two shipped restore scripts, run through the engine: the SQL Server one against a stand-in
// sqlcmd that records what it is asked, the Firebird one against the real server with gbak.
#include <gtest/gtest.h>

#include <fstream>

#include "RestoreTestSupport.h"
#include "core/FileIO.h"
#include "platform/Process.h"
#include "support/Sockets.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;
using test::Contains;
using test::ReadBytes;
using test::ScopedEnv;
using test::WriteBytes;
using test::WriteExecutable;

bool HaveJq() { return fs::exists("/usr/bin/jq") || fs::exists("/usr/local/bin/jq"); }

// Plays sqlcmd: records each call (arguments NUL-separated, the -i file, SQLCMDPASSWORD when set)
// into $KELVO_SQL/callN and answers from the files in $KELVO_SQL.
const char kStandInSqlcmd[] = R"SH(#!/bin/sh
d=$KELVO_SQL
n=$(( $(cat "$d/count" 2>/dev/null || echo 0) + 1 )); echo "$n" >"$d/count"
c=$d/call$n; mkdir -p "$c"
printf '%s\0' "$@" >"$c/args"
[ -z "${SQLCMDPASSWORD+set}" ] || printf '%s' "$SQLCMDPASSWORD" >"$c/password"
in=; prev=
for a; do [ "$prev" = -i ] && in=$a; prev=$a; done
cp "$in" "$c/input"
if [ -f "$d/login_error" ]; then cat "$d/login_error"; exit 1; fi
q=$(cat "$in")
case $q in
  *MULTI_USER*) ;;
  *"RESTORE DATABASE"*) if [ -f "$d/restore_error" ]; then cat "$d/restore_error"; exit 1; fi ;;
  *HEADERONLY*) printf 'Tam yedek\t\t1\tNULL\t0\t1\t2\tsa\tSRV\t%s\t1\n' "$(cat "$d/original")" ;;
  *FILELISTONLY*) cat "$d/files" ;;
  *DB_ID*) printf '%s\t%s\t%s\n' "$(cat "$d/exists")" "$(cat "$d/datadir")" "$(cat "$d/logdir")" ;;
  *@@VERSION*) printf 'Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64)\n\tOct  8 2022 05:58:25\n' ;;
  *) echo "Msg 102, Level 15, State 1: Incorrect syntax"; exit 1 ;;
esac
exit 0
)SH";

struct SqlCall {
  std::vector<std::string> Args;
  std::string Input;
  bool HasPassword = false;
  std::string Password;
};

class SqlScriptTest : public test::RestoreTest {
 protected:
  std::string Sql = Root / "sql-state";
  std::string Bin = Root / "bin";
  ScopedEnv SqlEnv{"KELVO_SQL", Sql.c_str()};
  ScopedEnv PathEnv{"PATH", (Bin + ":" + platform::GetEnv("PATH")).c_str()};

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_ON_WINDOWS("the SQL Server restore script for Linux runs under /bin/sh with jq");
    if (!HaveJq()) GTEST_SKIP() << "jq is not installed (scripts/setup installs it)";
    InstallShippedScript("RestoreDatabase.sh");
    WriteExecutable(Bin + "/sqlcmd", kStandInSqlcmd);
    Server("Muhasebe", "0", "D:\\SQLData\\", "D:\\SQLLog");
    WriteBytes(Sql + "/files",
               "Muhasebe\tD:\\Eski\\Muhasebe.mdf\tD\tPRIMARY\t1048576\n"
               "Muhasebe_2\tD:\\Eski\\Muhasebe_2.ndf\tD\tEK\t1048576\n"
               "Muhasebe_log\tD:\\Eski\\Muhasebe_log.ldf\tL\tNULL\t1048576\n");
  }
  void Server(const std::string& Original, const std::string& Exists, const std::string& DataDir,
              const std::string& LogDir) {
    WriteBytes(Sql + "/original", Original);
    WriteBytes(Sql + "/exists", Exists);
    WriteBytes(Sql + "/datadir", DataDir);
    WriteBytes(Sql + "/logdir", LogDir);
  }
  std::vector<SqlCall> Calls() {
    std::vector<SqlCall> Result;
    for (int N = 1; fs::exists(Sql + "/call" + std::to_string(N)); ++N) {
      const std::string Dir = Sql + "/call" + std::to_string(N);
      SqlCall C;
      C.Args = test::SplitNul(ReadBytes(Dir + "/args"));
      C.Input = ReadBytes(Dir + "/input");
      C.HasPassword = fs::exists(Dir + "/password");
      if (C.HasPassword) C.Password = ReadBytes(Dir + "/password");
      Result.push_back(C);
    }
    fs::remove_all(Sql + "/count");
    for (int N = 1; fs::remove_all(Sql + "/call" + std::to_string(N)) > 0; ++N) {
    }
    return Result;
  }
  static std::string ArgAfter(const SqlCall& C, const std::string& Switch) {
    for (size_t I = 0; I + 1 < C.Args.size(); ++I)
      if (C.Args[I] == Switch) return C.Args[I + 1];
    return "<none>";
  }
  static bool HasArg(const SqlCall& C, const std::string& Arg) {
    return std::find(C.Args.begin(), C.Args.end(), Arg) != C.Args.end();
  }
};

TEST_F(SqlScriptTest, ConnectionTestReportsTheVersionAndKeepsThePasswordOffTheCommandLine) {
  const std::string Password = "gizli 'p\"w \xC5\x9F";
  TRestoreEngine Engine({"SRV", 1533, "sa", Password});
  std::string Message;
  EXPECT_TRUE(Engine.TestConnection(Message));
  EXPECT_EQ(Message, "SQL Server baglantisi basarili. Microsoft SQL Server 2022 (RTM) - 16.0.1000.6 (X64)");
  std::vector<SqlCall> C = Calls();
  ASSERT_EQ(C.size(), 1u);
  EXPECT_EQ(C[0].Input, "SET NOCOUNT ON; SELECT @@VERSION;\n");
  EXPECT_EQ(ArgAfter(C[0], "-S"), "SRV,1533");
  EXPECT_EQ(ArgAfter(C[0], "-U"), "sa");
  EXPECT_TRUE(HasArg(C[0], "-b") && HasArg(C[0], "-x"));
  EXPECT_TRUE(C[0].HasPassword);
  EXPECT_EQ(C[0].Password, Password);
  for (const std::string& Arg : C[0].Args) EXPECT_FALSE(Contains(Arg, "gizli")) << Arg;

  // A named instance on the default port is left to the browser service; another port is given.
  TRestoreEngine Named({"SRV\\SQLEXPRESS", 1433, "", "unused"});
  EXPECT_TRUE(Named.TestConnection(Message));
  C = Calls();
  EXPECT_EQ(ArgAfter(C[0], "-S"), "SRV\\SQLEXPRESS");
  EXPECT_TRUE(HasArg(C[0], "-E")) << "no login name: integrated sign-in";
  EXPECT_FALSE(C[0].HasPassword);
  TRestoreEngine NamedPort({"SRV\\SQLEXPRESS", 1533, "sa", ""});
  EXPECT_TRUE(NamedPort.TestConnection(Message));
  EXPECT_EQ(ArgAfter(Calls()[0], "-S"), "SRV\\SQLEXPRESS,1533");

  WriteBytes(Sql + "/login_error",
             "Sqlcmd: Error: Microsoft ODBC Driver 18 for SQL Server : Login failed for user 'sa'..\n");
  EXPECT_FALSE(Engine.TestConnection(Message));
  EXPECT_EQ(
      Message,
      "SQL Server baglantisi kurulamadi: Sqlcmd: Error: Microsoft ODBC Driver 18 for SQL Server : Login failed for "
      "user 'sa'..");
  EXPECT_TRUE(WorkDirEntries().empty());
}

TEST_F(SqlScriptTest, RestoreMovesTheFilesUnderTheTargetNameWithQuotedNames) {
  TRestoreEngine Engine({"SRV", 1433, "sa", "pw"});
  std::string Message;
  ASSERT_TRUE(Engine.RestoreSqlBackup("/yedek/it's \xC5\x9F.bak", "Muh]asebe'24", false, false, Message)) << Message;
  EXPECT_EQ(Message, "Veritabani geri yuklendi: Muh]asebe'24");
  const std::vector<SqlCall> C = Calls();
  ASSERT_EQ(C.size(), 4u);
  EXPECT_EQ(C[0].Input, "SET NOCOUNT ON; RESTORE HEADERONLY FROM DISK = N'/yedek/it''s \xC5\x9F.bak';\n");
  EXPECT_TRUE(Contains(C[1].Input, "DB_ID(N'Muh]asebe''24')")) << C[1].Input;
  EXPECT_EQ(C[2].Input, "SET NOCOUNT ON; RESTORE FILELISTONLY FROM DISK = N'/yedek/it''s \xC5\x9F.bak';\n");
  EXPECT_EQ(C[3].Input,
            "SET NOCOUNT ON; RESTORE DATABASE [Muh]]asebe'24] FROM DISK = N'/yedek/it''s \xC5\x9F.bak' WITH RECOVERY, "
            "MOVE N'Muhasebe' TO N'D:\\SQLData\\Muh]asebe''24.mdf', "
            "MOVE N'Muhasebe_2' TO N'D:\\SQLData\\Muh]asebe''24_2.ndf', "
            "MOVE N'Muhasebe_log' TO N'D:\\SQLLog\\Muh]asebe''24_log.ldf';\n");
  for (const SqlCall& Call : C) {
    EXPECT_EQ(Call.Password, "pw");
    for (const std::string& Arg : Call.Args) EXPECT_NE(Arg, "pw");
  }
}

TEST_F(SqlScriptTest, AnExistingDatabaseIsReplacedOnlyWhenAllowed) {
  Server("Muhasebe", "1", "/var/opt/mssql/data/", "");
  TRestoreEngine Engine({"SRV", 1433, "sa", "pw"});
  std::string Message;
  // Empty target: the name in the backup.
  EXPECT_FALSE(Engine.RestoreSqlBackup("/y/db.bak", "", false, false, Message));
  EXPECT_EQ(Message,
            "Veritabani zaten var: Muhasebe. Uzerine yazmak icin \"Mevcut veritabanlarinin uzerine yaz\" secenegini "
            "isaretleyin.");
  for (const SqlCall& Call : Calls()) EXPECT_FALSE(Contains(Call.Input, "RESTORE DATABASE")) << Call.Input;

  ASSERT_TRUE(Engine.RestoreSqlBackup("/y/db.bak", "", false, true, Message)) << Message;
  const std::vector<SqlCall> C = Calls();
  ASSERT_EQ(C.size(), 4u);
  // No log folder named: the log stays in its original folder, under the new name.
  EXPECT_EQ(C[3].Input,
            "SET NOCOUNT ON; ALTER DATABASE [Muhasebe] SET SINGLE_USER WITH ROLLBACK IMMEDIATE; "
            "RESTORE DATABASE [Muhasebe] FROM DISK = N'/y/db.bak' WITH RECOVERY, "
            "MOVE N'Muhasebe' TO N'/var/opt/mssql/data/Muhasebe.mdf', "
            "MOVE N'Muhasebe_2' TO N'/var/opt/mssql/data/Muhasebe_2.ndf', "
            "MOVE N'Muhasebe_log' TO N'D:\\Eski\\Muhasebe_log.ldf', REPLACE;\n");
}

TEST_F(SqlScriptTest, RestoreToTheOriginalPathsMovesNothing) {
  TRestoreEngine Engine({"SRV", 1433, "sa", "pw"});
  std::string Message;
  ASSERT_TRUE(Engine.RestoreSqlBackup("/y/db.bak", "", true, false, Message)) << Message;
  const std::vector<SqlCall> C = Calls();
  ASSERT_EQ(C.size(), 3u) << "no file list is needed";
  EXPECT_EQ(C[2].Input, "SET NOCOUNT ON; RESTORE DATABASE [Muhasebe] FROM DISK = N'/y/db.bak' WITH RECOVERY;\n");
}

TEST_F(SqlScriptTest, AFailedReplaceReportsTheServerAndReopensTheDatabase) {
  Server("Muhasebe", "1", "D:\\SQLData\\", "D:\\SQLLog\\");
  WriteBytes(Sql + "/restore_error",
             "Msg 3101, Level 16, State 1, Server SRV, Line 1\r\nExclusive access could not be obtained because the "
             "database is in use.\r\nMsg 3013, Level 16, State 1\r\nRESTORE DATABASE is terminating abnormally.\r\n");
  TRestoreEngine Engine({"SRV", 1433, "sa", "pw"});
  std::string Message;
  EXPECT_FALSE(Engine.RestoreSqlBackup("/y/db.bak", "", false, true, Message));
  EXPECT_EQ(Message,
            "Geri yukleme basarisiz (Muhasebe): Msg 3101, Level 16, State 1, Server SRV, Line 1 Exclusive access could "
            "not be obtained because the database is in use. Msg 3013, Level 16, State 1 RESTORE DATABASE is "
            "terminating abnormally.");
  const std::vector<SqlCall> C = Calls();
  ASSERT_EQ(C.size(), 5u);
  EXPECT_EQ(C[4].Input, "IF DB_ID(N'Muhasebe') IS NOT NULL ALTER DATABASE [Muhasebe] SET MULTI_USER;\n");
}

TEST_F(SqlScriptTest, BadInputGetsAFailureResultNeverAnError) {
  TRestoreEngine Engine({"SRV", 1433, "sa", "pw"});
  std::string Message;
  // A line break would let text reach sqlcmd's own command parser.
  EXPECT_FALSE(Engine.RestoreSqlBackup("/y/db.bak", "Kasa\n:!! rm -rf /", false, false, Message));
  EXPECT_EQ(Message, "Yedek dosyasi yolu veya veritabani adi gecersiz karakter iceriyor.");
  EXPECT_TRUE(Calls().empty());
  EXPECT_FALSE(Engine.RestoreSqlBackup("", "Kasa", false, false, Message));
  EXPECT_EQ(Message, "Yedek dosyasi belirtilmedi.");
  TRestoreEngine Dash({"-S", 1433, "sa", "pw"});
  EXPECT_FALSE(Dash.TestConnection(Message));
  EXPECT_EQ(Message, "Gecersiz SQL Server adi: -S");

  // Files that are not objects, and a mode the script does not know.
  const std::string Script = TRestoreEngine::GetSqlScriptPath();
  json Result;
  EXPECT_FALSE(TRestoreEngine::RunRestoreScript(Script, json::array(), "test", std::nullopt, Result, Message));
  EXPECT_TRUE(Message.rfind("Baglanti bilgileri okunamadi: ", 0) == 0) << Message;
  json Config = {{"server", "SRV"}, {"port", "x"}, {"userName", 5}, {"password", nullptr}};
  EXPECT_FALSE(TRestoreEngine::RunRestoreScript(Script, Config, "yok", json::object(), Result, Message));
  EXPECT_EQ(Message, "Bilinmeyen islem: yok");
  EXPECT_FALSE(TRestoreEngine::RunRestoreScript(Script, Config, "restore", json::array(), Result, Message));
  EXPECT_TRUE(Message.rfind("Geri yukleme bilgileri okunamadi: ", 0) == 0) << Message;
  EXPECT_TRUE(WorkDirEntries().empty());
}

TEST_F(SqlScriptTest, MissingToolsAreNamedInTheResult) {
  // A PATH with the script's tools but neither sqlcmd nor jq.
  const std::string Tools = Root / "tools";
  fs::create_directories(Tools);
  for (const char* Tool : {"sh", "tr", "sed", "awk", "mktemp", "rm", "cat", "cut", "cp", "mkdir"}) {
    const std::string Real =
        fs::exists(std::string("/usr/bin/") + Tool) ? std::string("/usr/bin/") + Tool : std::string("/bin/") + Tool;
    fs::create_symlink(Real, Tools + "/" + Tool);
  }
  ScopedEnv Path("PATH", Tools.c_str());
  TRestoreEngine Engine({"SRV", 1433, "sa", "pw"});
  std::string Message;
  EXPECT_FALSE(Engine.TestConnection(Message));
  EXPECT_EQ(Message, "jq bulunamadi. Restore scripti icin jq kurulu olmali.");

  fs::create_symlink(fs::exists("/usr/bin/jq") ? "/usr/bin/jq" : "/usr/local/bin/jq", Tools + "/jq");
  if (fs::exists("/opt/mssql-tools18/bin/sqlcmd") || fs::exists("/opt/mssql-tools/bin/sqlcmd"))
    GTEST_SKIP() << "sqlcmd is installed under /opt";
  EXPECT_FALSE(Engine.TestConnection(Message));
  EXPECT_EQ(Message, "sqlcmd bulunamadi. SQL Server komut satiri araclari (mssql-tools18) kurulu olmali.");
  EXPECT_TRUE(WorkDirEntries().empty());
}

// ---- Firebird, against the real server ----

std::string SysdbaPassword() {
  std::ifstream In("/etc/firebird/3.0/SYSDBA.password");
  std::string Line;
  while (std::getline(In, Line)) {
    if (Line.rfind("ISC_PASSWORD=", 0) != 0) continue;
    std::string Value = Line.substr(13);
    if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'')) Value = Value.substr(1, Value.size() - 2);
    return Value;
  }
  return {};
}

bool FirebirdListening() { return test::LoopbackPortAccepts(3050); }

class FirebirdScriptTest : public test::RestoreTest {
 protected:
  std::string Password;
  std::string Data = Root / "fb data";

  void SetUp() override {
    RestoreTest::SetUp();
    KELVO_SKIP_ON_WINDOWS("the Firebird restore script for Linux runs under /bin/sh with jq, gbak and isql-fb");
    if (!HaveJq()) GTEST_SKIP() << "jq is not installed (scripts/setup installs it)";
    if (!fs::exists("/usr/bin/gbak") || !fs::exists("/usr/bin/isql-fb"))
      GTEST_SKIP() << "gbak or isql-fb missing (firebird3.0-utils)";
    Password = SysdbaPassword();
    if (Password.empty()) GTEST_SKIP() << "SYSDBA password not readable in /etc/firebird/3.0/SYSDBA.password";
    if (!FirebirdListening()) GTEST_SKIP() << "no Firebird server on 127.0.0.1:3050 (scripts/start-services starts it)";
    InstallShippedScript("BackupFirebird.sh");
    // The server process writes the databases: it must reach and write the folder whoever it runs as.
    fs::create_directories(Data);
    fs::permissions(Root.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(Data, fs::perms::all);
    UseSettings(Password, "");
  }
  void UseSettings(const std::string& Pass, const std::string& Gbak) {
    WriteConfigIni("[FirebirdBackup]\r\nServer=localhost\r\nPort=3050\r\nUserName=SYSDBA\r\nPassword=" + Pass +
                   "\r\nGBackPath=" + Gbak + "\r\n");
  }
  // Runs isql-fb on a script; the output of the run.
  std::string Isql(const std::string& Sql, const std::string& Database = "") {
    const std::string In = Data + "/run.sql";
    const std::string Out = Data + "/run.out";
    WriteBytes(In, "SET NAMES UTF8;\n" + Sql);
    fs::remove(Out);
    ScopedEnv User("ISC_USER", "SYSDBA");
    ScopedEnv Pass("ISC_PASSWORD", Password.c_str());
    std::vector<std::string> Args{"-q", "-m", "-i", In, "-o", Out};
    if (!Database.empty()) Args.push_back("localhost/3050:" + Database);
    const int Code = platform::RunHiddenProcess("/usr/bin/isql-fb", Args, "isql: ");
    const std::string Text = fs::exists(Out) ? ReadBytes(Out) : "";
    EXPECT_EQ(Code, 0) << Text;
    return Text;
  }
  // A small database with one row, backed up with gbak into Backup.
  void MakeBackup(const std::string& Backup, const std::string& Name) {
    const std::string Source = Data + "/source-" + Name + ".fdb";
    Isql("CREATE DATABASE 'localhost/3050:" + Source + "' USER 'SYSDBA' PASSWORD '" + Password +
         "' DEFAULT CHARACTER SET UTF8;\nCREATE TABLE KASA (ID INTEGER, AD VARCHAR(40));\n"
         "INSERT INTO KASA VALUES (1, '" +
         Name + "');\nCOMMIT;\n");
    ScopedEnv User("ISC_USER", "SYSDBA");
    ScopedEnv Pass("ISC_PASSWORD", Password.c_str());
    ASSERT_EQ(platform::RunHiddenProcess("/usr/bin/gbak", {"-b", "localhost/3050:" + Source, Backup}, "gbak: "), 0);
    ASSERT_TRUE(fs::exists(Backup));
  }
  std::string Rows(const std::string& Database) { return Isql("SELECT AD FROM KASA;\n", Database); }
};

TEST_F(FirebirdScriptTest, RestoresARealBackupAndReplacesOnlyWhenAllowed) {
  const std::string First = Data + "/-rf ilk yedek.fbk";
  const std::string Second = Data + "/ikinci.fbk";
  MakeBackup(First,
             "Kasa \xC5\x9F"
             "ube");
  MakeBackup(Second, "Ikinci yedek");
  const std::string Target = Data + "/geri y\xC3\xBCklenen.fdb";
  TRestoreEngine Engine({"unused", 1433, "", ""});
  std::string Message;

  ASSERT_TRUE(Engine.RestoreFirebirdBackup(First, Target, false, Message)) << Message;
  EXPECT_EQ(Message, "Firebird veritabani geri yuklendi: " + Target);
  EXPECT_TRUE(Contains(Rows(Target),
                       "Kasa \xC5\x9F"
                       "ube"));

  EXPECT_FALSE(Engine.RestoreFirebirdBackup(Second, Target, false, Message));
  EXPECT_EQ(Message, "Hedef veritabani zaten var: " + Target +
                         ". Uzerine yazmak icin \"Mevcut veritabanlarinin uzerine yaz\" secenegini isaretleyin.");
  EXPECT_TRUE(Contains(Rows(Target),
                       "Kasa \xC5\x9F"
                       "ube"));

  ASSERT_TRUE(Engine.RestoreFirebirdBackup(Second, Target, true, Message)) << Message;
  const std::string After = Rows(Target);
  EXPECT_TRUE(Contains(After, "Ikinci yedek"));
  EXPECT_FALSE(Contains(After, "Kasa")) << After;
  EXPECT_TRUE(WorkDirEntries().empty()) << "the password file and the script's folder are gone";
}

TEST_F(FirebirdScriptTest, WrongPasswordMissingFilesAndToolsFail) {
  const std::string Backup = Data + "/yedek.fbk";
  MakeBackup(Backup, "Kasa");
  const std::string Target = Data + "/hedef.fdb";
  TRestoreEngine Engine({"", 0, "", ""});
  std::string Message;

  // The configured login counts, not one the environment happens to carry.
  UseSettings("yanlis-parola", "");
  {
    ScopedEnv Pass("ISC_PASSWORD", Password.c_str());
    EXPECT_FALSE(Engine.RestoreFirebirdBackup(Backup, Target, false, Message));
  }
  EXPECT_EQ(Message.rfind("Firebird kullanici adi veya parolasi hatali. (", 0), 0u) << Message;
  EXPECT_FALSE(fs::exists(Target));

  UseSettings(Password, "");
  EXPECT_FALSE(Engine.RestoreFirebirdBackup(Data + "/yok.fbk", Target, false, Message));
  EXPECT_EQ(Message, "Yedek dosyasi bulunamadi: " + Data + "/yok.fbk");
  EXPECT_FALSE(Engine.RestoreFirebirdBackup(Backup, Data + "/yok/hedef.fdb", false, Message));
  EXPECT_EQ(Message, "Hedef klasor bulunamadi: " + Data + "/yok");
  EXPECT_FALSE(Engine.RestoreFirebirdBackup(Backup, "", false, Message));
  EXPECT_EQ(Message, "Hedef veritabani yolu belirtilmedi.");

  UseSettings(Password, "/nonexistent/gbak");
  EXPECT_FALSE(Engine.RestoreFirebirdBackup(Backup, Target, false, Message));
  EXPECT_EQ(Message, "gbak bulunamadi: /nonexistent/gbak");
  // The folder of the tools is good enough.
  UseSettings(Password, "/usr/bin");
  ASSERT_TRUE(Engine.RestoreFirebirdBackup(Backup, Target, false, Message)) << Message;
  EXPECT_TRUE(Contains(Rows(Target), "Kasa"));
  EXPECT_TRUE(WorkDirEntries().empty());
}

}  // namespace
}  // namespace kelvo
