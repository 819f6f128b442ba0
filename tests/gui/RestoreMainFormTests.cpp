#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>

#include "GuiTestSupport.h"
#include "catalogue/uRestoreMetadata.h"
#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "platform/Paths.h"
#include "support/FileModes.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"
#include "windows/frmRestoreMain.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

// Stand-in restore script: records each call, fails backups whose path holds "fail", waits for a
// RELEASE file for paths holding "hold", answers the connection test with a version text, or for
// "badhost" with what the real script passes on from sqlcmd when the server cannot be reached.
const char* const StandInScript = R"SH(#!/bin/sh
while [ $# -gt 0 ]; do
  case "$1" in
    -Mode) mode=$2; shift 2;;
    -ConfigPath) cfg=$2; shift 2;;
    -PayloadPath) payload=$2; shift 2;;
    -ResultPath) result=$2; shift 2;;
    *) shift;;
  esac
done
dir=$(dirname "$0")
echo "$(basename "$0") $mode $(cat "$payload")" >> "$dir/calls.log"
if [ "$mode" = test ]; then
  unreachable="SQL Server baglantisi kurulamadi: Sqlcmd: Error: Microsoft ODBC Driver 18 for SQL Server : Login timeout expired. Sqlcmd: Error: Microsoft ODBC Driver 18 for SQL Server : TCP Provider: Error code 0x2749. Sqlcmd: Error: Microsoft ODBC Driver 18 for SQL Server : A network-related or instance-specific error has occurred while establishing a connection to SQL Server. Server is not found or not accessible. Check if instance name is correct and if SQL Server is configured to allow remote connections. For more information see SQL Server Books Online."
  if grep -q badhost "$cfg"; then printf '{"success":false,"message":"%s"}' "$unreachable" > "$result";
  else printf '{"success":true,"message":"SQL Server 16.0"}' > "$result"; fi
  exit 0
fi
if grep -q hold "$payload"; then
  while [ ! -f "$dir/RELEASE" ]; do sleep 0.02; done
fi
if grep -q fail "$payload"; then printf '{"success":false,"message":"yedek bozuk"}' > "$result";
else printf '{"success":true,"message":"geri yuklendi"}' > "$result"; fi
)SH";

// Stand-in RAR program: writes a text file and a backup in a subfolder of the destination.
const char* const StandInUnrar = R"SH(#!/bin/sh
for last; do :; done
mkdir -p "${last}sub" && echo x > "${last}readme.txt" && echo b > "${last}sub/db.bak"
)SH";

class RestoreMainFormTest : public ::testing::Test {
 protected:
  test::TempDir Root;
  test::IsolatedProcessState Process{Root};
  const std::string& Program = Process.ProgramDir;
  std::shared_ptr<test::ScriptedDialogs> Dialogs = std::make_shared<test::ScriptedDialogs>();

  void SetUp() override {
    fs::create_directories(Program + "/sql");
    for (const char* Name : {"RestoreDatabase.sh", "BackupFirebird.sh"})
      test::WriteBytes(Program + "/sql/" + Name, StandInScript);
    test::WriteBytes(Program + "/config/config.ini",
                     "[MSSQLBackup]\r\nServer=SRV\\SQL2019, 1435\r\nUserName=sa\r\nPassword=gizli\r\n");
  }
  std::string Backup(const std::string& Name) {
    const std::string Path = Root / ("backups/" + Name);
    test::WriteBytes(Path, "backup");
    return Path;
  }
  std::string Calls() {
    return fs::exists(Program + "/sql/calls.log") ? test::ReadBytes(Program + "/sql/calls.log") : "";
  }
  static void Release(const std::string& Program) { test::WriteBytes(Program + "/sql/RELEASE", ""); }
  static QString Cell(TRestoreMainForm& F, int Row, int Column) {
    return test::Child<QTreeWidget>(F, "FListView")->topLevelItem(Row)->text(Column);
  }
  static bool Finished(TRestoreMainForm& F) { return !F.Running(); }
};

}  // namespace

TEST_F(RestoreMainFormTest, LayoutTextsAndConnectionFromSettings) {
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.show();
  EXPECT_EQ(Form.windowTitle(), "Kelvo Geri Yukleme");
  EXPECT_EQ(Form.size(), QSize(1080, 780));
  EXPECT_EQ(Form.minimumSize(), QSize(900, 640));
  EXPECT_EQ(Ui.Panel("FHeaderPanel")->height(), 84);
  EXPECT_EQ(Ui.Group("FConnGroup")->title(), " Microsoft SQL Server Baglantisi ");
  EXPECT_EQ(Ui.Edit("FServerEdit")->text(), "SRV\\SQL2019");
  EXPECT_EQ(Ui.Edit("FPortEdit")->text(), "1435");
  EXPECT_EQ(Ui.Edit("FUserEdit")->text(), "sa");
  EXPECT_EQ(Ui.Edit("FPasswordEdit")->text(), "gizli");
  EXPECT_EQ(Ui.Edit("FPasswordEdit")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Ui.Edit("FRarPassEdit")->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Ui.Edit("FPortEdit")->placeholderText(), "1433");
  EXPECT_EQ(Ui.Edit("FServerEdit")->geometry(), QRect(16, 48, 260, 24));
  EXPECT_EQ(Ui.Button("FTestButton")->geometry(), QRect(752, 46, 150, 28));
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->text(), "Baglanti bilgileri yedekleme ayarlarindan otomatik dolduruldu.");
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Hazir. Geri yuklenecek yedek dosyalarini ekleyin.");
  EXPECT_EQ(Ui.Panel("FSidePanel")->width(), 190);
  EXPECT_EQ(Ui.Panel("FOptionsPanel")->height(), 64);
  EXPECT_EQ(Ui.Panel("FBottomPanel")->height(), 96);
  EXPECT_EQ(Ui.Bar("FProgressBar")->geometry(), QRect(20, 12, 1020, 20));
  EXPECT_EQ(Ui.Button("FStartButton")->geometry(), QRect(1080 - 356, 52, 190, 36));
  EXPECT_TRUE(Ui.Button("FStartButton")->font().bold());
  EXPECT_FALSE(Ui.Check("FOriginalPathsCheck")->isChecked());
  EXPECT_FALSE(Ui.Check("FOverwriteCheck")->isChecked());
  const QStringList Headers = {"Yedek Dosyasi", "Veritabani", "Tur", "Durum", "Aciklama"};
  const int Widths[] = {360, 150, 80, 100, 320};
  for (int C = 0; C < 5; ++C) {
    EXPECT_EQ(Ui.List("FListView")->headerItem()->text(C), Headers[C]);
    EXPECT_EQ(Ui.List("FListView")->columnWidth(C), Widths[C]);
  }
  // Nothing queued: only add, cloud, folder and test are usable.
  EXPECT_FALSE(Ui.Button("FStartButton")->isEnabled());
  EXPECT_FALSE(Ui.Button("FStopButton")->isEnabled());
  EXPECT_FALSE(Ui.Button("FRemoveButton")->isEnabled());
  EXPECT_TRUE(Ui.Button("FAddButton")->isEnabled());
  EXPECT_TRUE(Ui.Button("FCloudButton")->isEnabled());
  EXPECT_TRUE(Ui.Button("FFolderRestoreButton")->isEnabled());
  // Widening keeps the buttons at their distance from the right edge and stretches the bar.
  Form.resize(1280, 780);
  EXPECT_EQ(Ui.Button("FStopButton")->geometry(), QRect(1280 - 156, 52, 130, 36));
  EXPECT_EQ(Ui.Bar("FProgressBar")->width(), 1220);
  Form.resize(1080, 780);
  Form.AddFile(Backup("Muhasebe.bak"));
  Form.RefreshList();
  test::SaveScreenshot(&Form, "restore_main");
}

TEST_F(RestoreMainFormTest, EmptySettingsAskForTheConnection) {
  test::WriteBytes(Program + "/config/config.ini", "");
  TAppConfig::ResetInstanceForTests();
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->text(),
            "Baglanti bilgilerini girin ve \"Baglanmayi Dene\" ile kontrol edin.");
}

TEST_F(RestoreMainFormTest, AddingFilesDeduplicatesAndUsesCachedRestoreInformation) {
  TRestoreMetadata Sql;
  Sql.BackupType = "mssql";
  Sql.DatabaseName = "MUHASEBE";
  Sql.BackupFileName = "C:\\Yedek\\MUHASEBE_20250101.bak";
  SaveRestoreMetadata(TAppConfig::Instance().GetConfigDir(), "MUHASEBE_", Sql);
  TRestoreMetadata Fb;
  Fb.BackupType = "Firebird";
  Fb.DatabaseName = "/data/firma.fdb";
  Fb.BackupFileName = "firma_20250101.fbk";
  SaveRestoreMetadata(TAppConfig::Instance().GetConfigDir(), "firma_", Fb);

  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  const std::string A = Backup("MUHASEBE_20250101.bak");
  const std::string G = Backup("firma_20250101.gbk");
  Dialogs->OpenAnswers.push_back({A, G});
  Dialogs->OpenAnswers.push_back({Root / "backups/muhasebe_20250101.BAK"});
  Ui.Button("FAddButton")->click();
  Ui.Button("FAddButton")->click();
  const auto Opens = Dialogs->OfKind("open");
  ASSERT_EQ(Opens.size(), 2u);
  EXPECT_EQ(Opens[0].Text, "Geri yuklenecek yedek dosyalarini secin");
  EXPECT_EQ(Opens[0].Extra,
            "Yedek dosyalari (*.bak;*.bkf;*.rar;*.fbk)|*.bak;*.bkf;*.rar;*.fbk|SQL yedekleri (*.bak;*.bkf)|*.bak;*.bkf|"
            "RAR arsivleri (*.rar)|*.rar|Firebird yedekleri (*.fbk)|*.fbk|Tum dosyalar (*.*)|*.*");
  ASSERT_EQ(Form.Items().size(), 2u) << "the same file in other letter case is not queued twice";
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "2 dosya listede.");
  EXPECT_EQ(Cell(Form, 0, 0), "MUHASEBE_20250101.bak");
  EXPECT_EQ(Cell(Form, 0, 1), "MUHASEBE");
  EXPECT_EQ(Cell(Form, 0, 2), "SQL");
  EXPECT_EQ(Cell(Form, 0, 3), "Bekliyor");
  EXPECT_EQ(Form.Items()[0].TargetDatabasePath, "");
  EXPECT_EQ(Cell(Form, 1, 2), "Firebird");
  EXPECT_EQ(Form.Items()[1].TargetDatabasePath, "/data/firma.fdb");
  EXPECT_TRUE(Ui.Button("FStartButton")->isEnabled());

  // Removing the selected row keeps the other in its place.
  Ui.List("FListView")->topLevelItem(0)->setSelected(true);
  ASSERT_TRUE(Ui.Button("FRemoveButton")->isEnabled());
  Ui.Button("FRemoveButton")->click();
  ASSERT_EQ(Form.Items().size(), 1u);
  EXPECT_EQ(Form.Items()[0].FilePath, G);
  EXPECT_EQ(Ui.List("FListView")->topLevelItemCount(), 1);
  // Cancelling the dialog changes nothing.
  Ui.Button("FAddButton")->click();
  EXPECT_EQ(Form.Items().size(), 1u);
}

TEST_F(RestoreMainFormTest, StartValidatesOnlyWhenSqlServerIsNeeded) {
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Ui.Edit("FUserEdit")->setText("  ");
  Form.AddFile(Backup("only.fbk"));
  Form.RefreshList();
  Dialogs->ConfirmAnswers.push_back(false);
  Ui.Button("FStartButton")->click();
  ASSERT_EQ(Dialogs->OfKind("confirm").size(), 1u) << "a Firebird-only queue needs no SQL Server login";
  EXPECT_EQ(Dialogs->OfKind("confirm")[0].Text,
            "Secili yedekler geri yuklenecek. Devam edilsin mi?\r\nNot: \"Mevcut veritabanlarinin uzerine yaz\" "
            "secenegi isaretliyse ayni isimli veritabanlari TAMAMEN degistirilir.");
  EXPECT_FALSE(Form.Running()) << "No leaves the queue alone";

  Form.AddFile(Backup("db.bak"));
  Form.RefreshList();
  Ui.Button("FStartButton")->click();
  ASSERT_EQ(Dialogs->OfKind("warning").size(), 1u);
  EXPECT_EQ(Dialogs->OfKind("warning")[0].Text, "Kullanici adi bos olamaz.");
  Ui.Edit("FServerEdit")->clear();
  Ui.Button("FStartButton")->click();
  EXPECT_EQ(Dialogs->OfKind("warning").back().Text, "Server adi bos olamaz.");
  EXPECT_EQ(Dialogs->OfKind("confirm").size(), 1u);
  EXPECT_EQ(Calls(), "");
}

TEST_F(RestoreMainFormTest, RunReportsEveryItemAndSummarises) {
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Ui.Edit("FPortEdit")->clear();
  Ui.Check("FOverwriteCheck")->setChecked(true);
  Form.AddFile(Backup("ok.bak"));
  Form.AddFile(Backup("fail.bak"));
  Form.AddFile(Backup("firma.fbk"));  // no target path known
  Form.AddFile(Backup("notes.txt"));
  Form.RefreshList();
  Ui.Button("FStartButton")->click();
  EXPECT_TRUE(Form.Running());
  EXPECT_FALSE(Ui.Button("FStartButton")->isEnabled());
  EXPECT_FALSE(Ui.Button("FAddButton")->isEnabled());
  EXPECT_TRUE(Ui.Button("FStopButton")->isEnabled());
  EXPECT_EQ(Ui.Bar("FProgressBar")->maximum(), 4);
  ASSERT_TRUE(test::WaitUntil([&] { return Finished(Form); }));

  EXPECT_EQ(Cell(Form, 0, 3), "Basarili");
  EXPECT_EQ(Cell(Form, 0, 4), "geri yuklendi");
  EXPECT_EQ(Ui.List("FListView")->topLevelItem(0)->foreground(0).color(), QColor(34, 139, 34));
  EXPECT_EQ(Cell(Form, 1, 3), "HATA");
  EXPECT_EQ(Cell(Form, 1, 4), "yedek bozuk");
  EXPECT_EQ(Ui.List("FListView")->topLevelItem(1)->foreground(0).color(), QColor(255, 0, 0));
  EXPECT_EQ(Form.Items()[2].Message,
            "Firebird yedegi icin hedef veritabani dosya yolu bilinmiyor. (Yedek bu makinede alinmadiysa once "
            "\"Buluttan Indir\" ile bilgi dosyasini indirin veya dosyaya cift tiklayip yolu girin.)");
  EXPECT_EQ(Ui.List("FListView")->topLevelItem(2)->toolTip(4).toStdString(),
            Form.Items()[2].Message);  // wider than its column
  // An unknown kind goes to the SQL Server script, which judges it.
  EXPECT_EQ(Cell(Form, 3, 2), "?");
  EXPECT_EQ(Cell(Form, 3, 3), "Basarili");
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Geri yukleme tamamlandi: 2 basarili, 2 hatali.");
  EXPECT_EQ(Ui.Bar("FProgressBar")->value(), 4);
  ASSERT_EQ(Dialogs->OfKind("warning").size(), 1u);
  EXPECT_EQ(Dialogs->OfKind("warning")[0].Text,
            "2 yedek geri yuklenemedi. Kirmizi satirlara cift tiklayarak hata detaylarini gorebilirsiniz.");
  // The script saw an empty target name, the run's choices and the default port.
  const std::string Log = Calls();
  EXPECT_NE(Log.find("\"targetDatabaseName\":\"\",\"restoreToOriginal\":false,\"overwriteExisting\":true"),
            std::string::npos)
      << Log;
  EXPECT_EQ(Log.find("firma.fbk"), std::string::npos) << "no script runs without a Firebird target";

  // Double-click on an error row shows the detail.
  Ui.List("FListView")->topLevelItem(1)->setSelected(true);
  emit Ui.List("FListView")->itemDoubleClicked(Ui.List("FListView")->topLevelItem(1), 0);
  EXPECT_EQ(Dialogs->OfKind("error").back().Text, "Hata detayi:\r\n\r\nyedek bozuk");
  test::SaveScreenshot(&Form, "restore_main_after_run");

  // A second run restores only what did not succeed; the summary counts the earlier successes.
  fs::remove(Program + "/sql/calls.log");
  Ui.Button("FStartButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return Finished(Form); }));
  const std::string Second = Calls();
  EXPECT_EQ(Second.find("ok.bak"), std::string::npos);
  EXPECT_NE(Second.find("fail.bak"), std::string::npos);
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Geri yukleme tamamlandi: 2 basarili, 2 hatali.");
}

TEST_F(RestoreMainFormTest, StopLetsTheCurrentItemFinishAndCancelsTheRest) {
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.AddFile(Backup("hold.bak"));
  Form.AddFile(Backup("second.bak"));
  Form.AddFile(Backup("third.bak"));
  Form.RefreshList();
  Ui.Button("FStartButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return Form.Items()[0].Status == risRunning; }));
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Geri yukleniyor: hold.bak");
  // Closing is refused while the run goes on.
  EXPECT_FALSE(Form.close());
  EXPECT_EQ(Dialogs->OfKind("warning").back().Text, "Geri yukleme devam ediyor. Once \"Durdur\" ile islemi durdurun.");
  Ui.Button("FStopButton")->click();
  EXPECT_FALSE(Ui.Button("FStopButton")->isEnabled());
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Durduruluyor... Devam eden islem bittiginde kalanlar iptal edilecek.");
  Release(Program);
  ASSERT_TRUE(test::WaitUntil([&] { return Finished(Form); }));
  EXPECT_EQ(Form.Items()[0].Status, risSuccess);
  for (int I : {1, 2}) {
    EXPECT_EQ(Cell(Form, I, 3), "Iptal");
    EXPECT_EQ(Cell(Form, I, 4), "Kullanici durdurdu.");
  }
  EXPECT_EQ(Ui.Label("FStatusLabel")->text(), "Geri yukleme tamamlandi: 1 basarili, 0 hatali.");
  EXPECT_EQ(Dialogs->OfKind("information").back().Text, "Tum yedekler basariyla geri yuklendi.");
  EXPECT_EQ(Calls().find("second.bak"), std::string::npos);
  EXPECT_TRUE(Form.close());
}

TEST_F(RestoreMainFormTest, FirebirdTargetIsAskedOnDoubleClickButNotDuringARun) {
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.AddFile(Backup("firma.fbk"));
  Form.AddFile(Backup("hold.bak"));
  Form.RefreshList();
  Ui.List("FListView")->topLevelItem(0)->setSelected(true);
  Dialogs->InputAnswers.push_back({true, "  /srv/firma.fdb  "});
  emit Ui.List("FListView")->itemDoubleClicked(Ui.List("FListView")->topLevelItem(0), 0);
  ASSERT_EQ(Dialogs->OfKind("input").size(), 1u);
  EXPECT_EQ(Dialogs->OfKind("input")[0].Text, "Firebird Hedef Veritabani");
  EXPECT_EQ(Dialogs->OfKind("input")[0].Extra, "Geri yuklenecek hedef veritabani dosya yolu (.fdb):");
  EXPECT_EQ(Form.Items()[0].TargetDatabasePath, "/srv/firma.fdb");
  EXPECT_EQ(Cell(Form, 0, 1), "/srv/firma.fdb");

  // During a run the queue cannot be edited.
  Ui.List("FListView")->clearSelection();
  Ui.Button("FStartButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return Form.Items()[1].Status == risRunning; }));
  Ui.List("FListView")->topLevelItem(0)->setSelected(true);
  EXPECT_TRUE(Ui.Button("FStopButton")->isEnabled());
  EXPECT_FALSE(Ui.Button("FRemoveButton")->isEnabled());
  emit Ui.List("FListView")->itemDoubleClicked(Ui.List("FListView")->topLevelItem(0), 0);
  EXPECT_EQ(Dialogs->OfKind("input").size(), 1u);
  Release(Program);
  ASSERT_TRUE(test::WaitUntil([&] { return Finished(Form); }));
  EXPECT_NE(Calls().find("\"targetDatabasePath\":\"\\/srv\\/firma.fdb\""), std::string::npos) << Calls();
}

TEST_F(RestoreMainFormTest, ConnectionTestShowsTheScriptsAnswer) {
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Ui.Button("FTestButton")->click();
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->text(), "SQL Server 16.0");
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->palette().color(QPalette::WindowText), QColor(34, 139, 34));
  Ui.Edit("FServerEdit")->setText("badhost");
  Ui.Button("FTestButton")->click();
  const QString Unreachable = Ui.Label("FConnStatusLabel")->text();
  EXPECT_TRUE(Unreachable.startsWith("Baglanti basarisiz: SQL Server baglantisi kurulamadi: Sqlcmd: Error:"));
  EXPECT_TRUE(Unreachable.endsWith("SQL Server Books Online.")) << Unreachable.toStdString();
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  // Too long for its two lines: cut on screen, the whole answer on hover.
  Form.resize(1100, 700);
  Form.grab();  // lays the window out and paints it
  test::SaveScreenshot(&Form, "restore_main_connection_failure");
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->toolTip(), Unreachable);
  EXPECT_NE(Calls().find("test"), std::string::npos);

  // A missing script is an error for the application's error box; the button comes back.
  fs::remove(Program + "/sql/RestoreDatabase.sh");
  Ui.Button("FTestButton")->click();
  ASSERT_EQ(Dialogs->OfKind("exception").size(), 1u);
  EXPECT_EQ(Dialogs->OfKind("exception")[0].Text,
            "SQL restore script dosyasi bulunamadi: " + Program + "/sql/RestoreDatabase.sh");
  EXPECT_EQ(Ui.Label("FConnStatusLabel")->text(), "Baglanti deneniyor...");
  EXPECT_TRUE(Ui.Button("FTestButton")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  Ui.Edit("FUserEdit")->clear();
  Ui.Button("FTestButton")->click();
  EXPECT_EQ(Dialogs->OfKind("warning").back().Text, "Kullanici adi bos olamaz.");
}

TEST_F(RestoreMainFormTest, RarItemsAreUnpackedIntoAFolderThatIsRemovedAfterwards) {
  test::WriteBytes(Program + "/unrar", StandInUnrar);
  fs::permissions(Program + "/unrar", fs::perms::owner_all);
  const std::string Shared = Root / "shared";
  fs::create_directories(Shared);
  const std::string Ini = Program + "/config/config.ini";
  test::WriteBytes(Ini, test::ReadBytes(Ini) + "[Restore]\r\nWorkFolder=" + Shared + "\r\n");
  TRestoreMainForm Form(nullptr, Dialogs);
  const test::WindowControls Ui{Form};
  Form.AddFile(Backup("packed.rar"));
  Form.RefreshList();
  EXPECT_EQ(Cell(Form, 0, 2), "RAR");
  Ui.Button("FStartButton")->click();
  ASSERT_TRUE(test::WaitUntil([&] { return Finished(Form); }));
  EXPECT_EQ(Cell(Form, 0, 3), "Basarili") << Form.Items()[0].Message;
  EXPECT_NE(Calls().find("sub\\/db.bak"), std::string::npos) << "the backup, not the text file, is restored";
  const std::string Work = Root / "run";
  bool Found = false;
  for (const auto& E : fs::recursive_directory_iterator(Work)) {
    if (E.path().filename() == "KorvessaRestore") {
      Found = true;
      EXPECT_TRUE(fs::is_empty(E.path())) << "the exchange files are gone";
    }
  }
  EXPECT_TRUE(Found) << "the working folder itself stays";
  // Unpacked on disk in the configured work folder, not in the runtime folder, and removed after.
  const std::string RarWork = Shared + "/kelvo-restore-" + std::to_string(test::EffectiveUserId());
  ASSERT_TRUE(fs::is_directory(RarWork));
  EXPECT_TRUE(fs::is_empty(RarWork)) << "the per-item folder is gone";
}

TEST(QtTexts, QtsOwnButtonsSpeakTurkish) {
  QMessageBox Box;
  Box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(Box.button(QMessageBox::Yes)->text().remove('&'), "Evet");
  EXPECT_EQ(Box.button(QMessageBox::No)->text().remove('&'), QString::fromUtf8("Hayır"));
}
