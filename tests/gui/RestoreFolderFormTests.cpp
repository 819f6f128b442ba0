// The folder restore window offscreen, against cloudsim serving a folder plan's tree.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <csignal>
#include <filesystem>

#include "../catalogue/CloudCatalogueFixture.h"
#include "GuiTestSupport.h"
#include "catalogue/uBackupPlans.h"
#include "core/FileIO.h"
#include "windows/frmRestoreDrivePicker.h"
#include "windows/frmRestoreFolder.h"
#include "windows/frmRestoreMain.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

class FolderRestoreTest : public test::CloudCatalogueFixture {
 protected:
  std::shared_ptr<test::ScriptedDialogs> Dialogs = std::make_shared<test::ScriptedDialogs>();
  std::string Target = Root / "hedef";
  std::string PlanFolder;

  // A cached folder plan whose source folder is Target, and its Drive tree.
  void SeedPlan(int Extra = 0, int Size = 10) {
    SaveCloudPlanList(ConfigDir(), R"([{"ID":"s1","Name":"Gece","BackupType":"sql","DatabaseName":"X"},)"
                                   R"({"ID":"f1","Name":"Belgeler","BackupType":"folder","DriveSubFolder":"Belge",)"
                                   R"("SourceFolder":")" +
                                       Target + R"("}])");
    PlanFolder = Sim.AddDriveFolder(AccountFolderId, "Belge");
    const std::string Y2024 = Sim.AddDriveFolder(Sim.AddDriveFolder(PlanFolder, "Belgeler"), "2024");
    Sim.AddDriveFile(Y2024, "a.xlsx", "yeni-a", At(3));
    Sim.AddDriveFile(PlanFolder, "not.txt", "yeni-not", At(2));
    Sim.AddDriveFile(PlanFolder, "x_restoreinfo.json", "{}", At(9));
    for (int I = 0; I < Extra; ++I)
      Sim.AddDriveFile(PlanFolder, "dosya" + std::to_string(I) + ".bin", std::string(Size, 'd'), At(1));
  }
  static std::string Status(TRestoreFolderForm& F) {
    return test::Child<QLabel>(F, "FStatusLabel")->text().toStdString();
  }
};

TEST_F(FolderRestoreTest, RestoresTheTreeBelowTheTargetWithOverwriteOnAndOff) {
  SeedPlan();
  Sim.AddDriveFile(PlanFolder, "..", "kotu", At(0));
  TRestoreFolderForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  ASSERT_EQ(Ui.Combo("FPlanCombo")->count(), 1);
  EXPECT_EQ(Ui.Combo("FPlanCombo")->itemText(0).toStdString(), "Belgeler  [" + Target + "]");
  EXPECT_EQ(Ui.Edit("FTargetEdit")->text().toStdString(), Target);
  EXPECT_TRUE(Ui.Check("FOverwriteCheck")->isChecked());
  EXPECT_FALSE(Ui.Button("FRestoreButton")->isEnabled());
  Ui.Button("FListButton")->click();
  EXPECT_EQ(Status(F), "3 dosya bulundu.");
  ASSERT_EQ(Ui.List("FListView")->topLevelItemCount(), 3);
  EXPECT_EQ(Ui.List("FListView")->topLevelItem(0)->text(0), "Belgeler\\2024\\a.xlsx");
  F.show();
  test::SaveScreenshot(&F, "folder_restore");

  test::WriteBytes(Target + "/not.txt", "eski");
  Ui.Button("FRestoreButton")->click();
  EXPECT_EQ(Dialogs->OfKind("confirm").at(0).Text,
            "3 dosya \"" + Target + "\" klasorune geri yuklenecek.\r\nDevam edilsin mi?");
  EXPECT_EQ(Status(F), "Tamamlandi: 2 dosya geri yuklendi, 0 atlandi, 1 hata.");
  EXPECT_EQ(test::ReadBytes(Target + "/Belgeler/2024/a.xlsx"), "yeni-a");
  EXPECT_EQ(test::ReadBytes(Target + "/not.txt"), "yeni-not");
  EXPECT_EQ(Dialogs->OfKind("warning").at(0).Text, "1 dosya geri yuklenemedi. Ayrintilar log dosyasinda.");
  EXPECT_FALSE(fs::exists(Root / "kotu"));

  // Overwrite off: existing files are skipped and kept.
  test::WriteBytes(Target + "/not.txt", "eski");
  Ui.Check("FOverwriteCheck")->setChecked(false);
  Ui.Button("FRestoreButton")->click();
  EXPECT_EQ(Status(F), "Tamamlandi: 0 dosya geri yuklendi, 2 atlandi, 1 hata.");
  EXPECT_EQ(test::ReadBytes(Target + "/not.txt"), "eski");

  // A blank target stops before anything is asked.
  const size_t Shown = Dialogs->Shown.size();
  Ui.Edit("FTargetEdit")->setText("  ");
  Ui.Button("FRestoreButton")->click();
  ASSERT_EQ(Dialogs->Shown.size(), Shown + 1);
  EXPECT_EQ(Dialogs->Shown.back().Kind, "warning");
  EXPECT_EQ(Dialogs->Shown.back().Text, "Hedef klasor secilmedi.");
  // A plan's folder as the Windows computer named it is no folder here: typed in, it is refused
  // before anything is created, and a plan offering it leaves the box empty.
  Ui.Edit("FTargetEdit")->setText("C:\\Belgeler");
  Ui.Button("FRestoreButton")->click();
  EXPECT_EQ(Dialogs->Shown.back().Text, "Hedef klasor tam bir yol olmali: C:\\Belgeler");
  SaveCloudPlanList(ConfigDir(), R"([{"ID":"f2","Name":"Eski","BackupType":"folder","SourceFolder":"C:\\Belgeler"}])");
  F.FillPlanCombo();
  EXPECT_EQ(Ui.Edit("FTargetEdit")->text().toStdString(), "");
  EXPECT_FALSE(fs::exists("C:\\Belgeler"));

  // The cloud gone mid-session: the listing fails with curl's own words in the status line.
  Sim.Stop();
  Ui.Button("FListButton")->click();
  EXPECT_NE(Status(F).find(": Sunucuya baglanilamadi (127.0.0.1:"), std::string::npos) << Status(F);
  F.grab();  // paints the one-line status: cut, with the whole text on hover
  EXPECT_EQ(Ui.Label("FStatusLabel")->toolTip().toStdString(), Status(F));
  test::SaveScreenshot(&F, "folder_restore_cloud_unreachable");
}

TEST_F(FolderRestoreTest, ClosingDuringARunCancelsTheTransferAndClosesTheWindow) {
  SeedPlan(3, 600000);
  TRestoreFolderForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  Ui.Button("FListButton")->click();
  ASSERT_EQ(F.FFiles.size(), 5u);
  cloudsim::TFault Slow;
  Slow.Kind = cloudsim::TFaultKind::Throttle;
  Slow.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/";
  Slow.BytesPerSecond = 150000;
  Sim.AddFault(Slow);
  F.show();
  std::chrono::steady_clock::time_point ClosedAt;
  QTimer Poll;
  QObject::connect(&Poll, &QTimer::timeout, [&] {
    if (ClosedAt == std::chrono::steady_clock::time_point{} && Ui.Label("FStatusLabel")->text().contains("(3/5)")) {
      ClosedAt = std::chrono::steady_clock::now();
      F.close();
    }
  });
  Poll.start(0);
  Ui.Button("FRestoreButton")->click();
  Poll.stop();
  ASSERT_NE(ClosedAt, std::chrono::steady_clock::time_point{});
  EXPECT_EQ(Status(F), "Durduruldu: 2 dosya geri yuklendi, 0 atlandi, 0 hata.");
  EXPECT_TRUE(Dialogs->OfKind("information").empty());
  EXPECT_TRUE(test::WaitUntil([&] { return !F.isVisible(); }, std::chrono::milliseconds(2000)));
  EXPECT_LT(std::chrono::steady_clock::now() - ClosedAt, std::chrono::seconds(2)) << "a 4 s transfer was cut short";
  EXPECT_EQ(F.result(), mrCancel);
  EXPECT_TRUE(test::PartFilesBelow(Target).empty());
}

TEST_F(FolderRestoreTest, AFullDiskAndAFileInAFoldersPlaceFailOnlyThoseFiles) {
  if (!test::ScopedFileSizeLimit::Applies()) GTEST_SKIP() << test::ScopedFileSizeLimit::WhyNot();
  SeedPlan();
  Sim.AddDriveFile(PlanFolder, "buyuk.bin", std::string(300000, 'b'), At(20));
  Sim.AddDriveFile(PlanFolder, "kutu", "bir dosya", At(19));
  Sim.AddDriveFile(Sim.AddDriveFolder(PlanFolder, "kutu"), "ic.txt", "ic", At(18));
  TRestoreFolderForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  Ui.Button("FListButton")->click();
  ASSERT_EQ(F.FFiles.size(), 5u);
  {
    test::ScopedFileSizeLimit Full(100000);
    Ui.Button("FRestoreButton")->click();
  }
  EXPECT_EQ(Status(F), "Tamamlandi: 3 dosya geri yuklendi, 0 atlandi, 2 hata.");
  EXPECT_EQ(Dialogs->OfKind("warning").at(0).Text, "2 dosya geri yuklenemedi. Ayrintilar log dosyasinda.");
  EXPECT_EQ(test::ReadBytes(Target + "/kutu"), "bir dosya");
  EXPECT_EQ(test::ReadBytes(Target + "/Belgeler/2024/a.xlsx"), "yeni-a");
  std::vector<std::string> Top;
  for (const auto& E : fs::directory_iterator(Target)) Top.push_back(E.path().filename().string());
  std::sort(Top.begin(), Top.end());
  EXPECT_EQ(Top, (std::vector<std::string>{"Belgeler", "kutu", "not.txt"}));
  // Room again: the same window restores the big file.
  EXPECT_TRUE(Ui.Button("FRestoreButton")->isEnabled());
  Ui.Button("FRestoreButton")->click();
  EXPECT_EQ(fs::file_size(Target + "/buyuk.bin"), 300000u);
}

TEST_F(FolderRestoreTest, QueueWindowOpensItAndItFetchesTheCatalogueWhenNoPlanIsKnown) {
  const std::string Meta = Sim.AddDriveFolder(AccountFolderId, "restoremeta");
  Sim.AddDriveFile(Meta, "plans.json", R"([{"ID":"f1","Name":"Belgeler","BackupType":"folder","SourceFolder":"/x"}])");
  TRestoreMainForm Main(nullptr, Dialogs);
  std::string Seen;
  test::WhenModal<TRestoreFolderForm> Drive([&](TRestoreFolderForm& F) {
    const test::WindowControls Ui{F};
    Seen = Ui.Label("FStatusLabel")->text().toStdString() + "|" + Ui.Edit("FTargetEdit")->text().toStdString();
    Ui.Button("FCloseButton")->click();
  });
  test::WindowControls{Main}.Button("FFolderRestoreButton")->click();
  EXPECT_EQ(Seen, "Plan listesi ve 0 yedek bilgi dosyasi buluttan alindi.|/x");
}

}  // namespace
