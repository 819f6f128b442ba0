// The cloud backup download window offscreen, against cloudsim serving the account's Drive folder,
// its plan list, restore information and backup files.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>

#include "../catalogue/CloudCatalogueFixture.h"
#include "GuiTestSupport.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "windows/frmRestoreDrivePicker.h"
#include "windows/frmRestoreMain.h"

using namespace kelvo;
namespace fs = std::filesystem;

namespace {

const char* const PlanList =
    R"([{"ID":"p1","Name":"Gece","BackupType":"sql","DatabaseName":"MUHASEBE","DriveSubFolder":"Muhasebe"},)"
    R"({"ID":"p2","Name":"Belgeler","BackupType":"folder","SourceFolder":"C:\\Belgeler"}])";

std::string Two(int V) { return (V < 10 ? "0" : "") + std::to_string(V); }

class DrivePickerTest : public test::CloudCatalogueFixture {
 protected:
  std::shared_ptr<test::ScriptedDialogs> Dialogs = std::make_shared<test::ScriptedDialogs>();
  std::string PlanFolder;
  std::string Out = Root / "indirilen";

  // The catalogue in restoremeta and a plan folder with Count backups, newest first by number.
  void SeedCloud(int Count, int Size = 1000) {
    std::string Meta = Sim.DriveFileId("Acme Ltd/restoremeta");  // a failed fetch has created it
    if (Meta.empty()) Meta = Sim.AddDriveFolder(AccountFolderId, "restoremeta");
    Sim.AddDriveFile(Meta, "plans.json", PlanList);
    Sim.AddDriveFile(Meta, "MUHASEBE_restoreinfo.json",
                     R"({"DatabaseName":"MUHASEBE","BackupFileName":"C:\\Y\\MUHASEBE_FULL_1.bak"})");
    PlanFolder = Sim.AddDriveFolder(AccountFolderId, "Muhasebe");
    for (int I = 1; I <= Count; ++I)
      Sim.AddDriveFile(PlanFolder, "MUHASEBE_FULL_" + std::to_string(I) + ".bak", std::string(Size, 'a' + I),
                       At(100 - I));
  }
  void FetchCatalogue(TRestoreDrivePickerForm& F) {
    const test::WindowControls Ui{F};
    Ui.Button("FSyncButton")->click();
    ASSERT_EQ(Ui.Combo("FPlanCombo")->count(), 1) << Ui.Label("FStatusLabel")->text().toStdString();
  }
  static std::string Status(TRestoreDrivePickerForm& F) {
    return test::Child<QLabel>(F, "FStatusLabel")->text().toStdString();
  }
};

TEST_F(DrivePickerTest, OpensWithACatalogueFetchAndOffersOnlyDatabasePlans) {
  TRestoreDrivePickerForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  // Nothing cached and nothing in the cloud: fetched at once, reported in the status line only.
  EXPECT_EQ(Status(F),
            "Bulutta restoremeta klasorunde bilgi dosyasi bulunamadi. Bilgiler ilk yedek alindiginda otomatik olusur.");
  EXPECT_TRUE(Dialogs->Shown.empty());
  EXPECT_EQ(F.windowTitle(), "Buluttan Yedek Indir");
  EXPECT_FALSE(Ui.Button("FListButton")->isEnabled());
  EXPECT_FALSE(Ui.Button("FDownloadAllButton")->isEnabled());
  // The sync button's failure also shows a dialog.
  Ui.Button("FSyncButton")->click();
  ASSERT_EQ(Dialogs->OfKind("warning").size(), 1u);

  SeedCloud(2);
  Ui.Button("FSyncButton")->click();
  ASSERT_EQ(Ui.Combo("FPlanCombo")->count(), 1);
  EXPECT_EQ(Ui.Combo("FPlanCombo")->itemText(0).toStdString(), "Gece  [SQL - MUHASEBE]");
  EXPECT_EQ(Status(F), "Plan listesi ve 1 yedek bilgi dosyasi buluttan alindi.");
  EXPECT_EQ(Ui.Bar("FProgressBar")->value(), 0);  // the catalogue's own files are no download to show
  Ui.Button("FListButton")->click();
  ASSERT_EQ(Ui.List("FListView")->topLevelItemCount(), 2);
  EXPECT_EQ(Status(F), "2 yedek dosyasi bulundu.");
  auto* Row = Ui.List("FListView")->topLevelItem(0);
  EXPECT_EQ(Row->text(0), "MUHASEBE_FULL_1.bak");
  EXPECT_EQ(Row->text(1), "1000 B");
  EXPECT_EQ(Row->text(3), "BAK");
  EXPECT_EQ(Row->text(2).size(), 16);
  EXPECT_FALSE(Ui.Button("FDownloadButton")->isEnabled());
  Row->setSelected(true);
  EXPECT_TRUE(Ui.Button("FDownloadButton")->isEnabled());
  F.show();
  test::SaveScreenshot(&F, "drive_picker");

  EXPECT_EQ(TRestoreDrivePickerForm::FormatFileSize(1023), "1023 B");
  EXPECT_EQ(TRestoreDrivePickerForm::FormatFileSize(1024), "1,0 KB");
  EXPECT_EQ(TRestoreDrivePickerForm::FormatFileSize(1572864), "1,5 MB");
  EXPECT_EQ(TRestoreDrivePickerForm::FormatFileSize(1073741824), "1,0 GB");
  EXPECT_EQ(TRestoreDrivePickerForm::FormatModifiedTime(0), "-");
  // Two Drive files of one name within a second never overwrite each other's copy.
  const TDateTime Stamp = EncodeDateTime(2024, 1, 5, 14, 30, 12);
  EXPECT_EQ(TimeStampedName("a.bak", Stamp), "a_20240105_143012.bak");
  EXPECT_EQ(TimeStampedName("a.bak", Stamp, 2), "a_20240105_143012_2.bak");
  EXPECT_EQ(TimeStampedName("yedek", Stamp), "yedek_20240105_143012");
  EXPECT_EQ(TRestoreDrivePickerForm::FormatModifiedTime(EncodeDateTime(2024, 1, 5, 14, 30, 12)), "05.01.2024 14:30");
}

TEST_F(DrivePickerTest, DownloadAllFromTheQueueWindowQueuesFilesWithTheirDatabaseNames) {
  SeedCloud(3);
  TRestoreMainForm Main(nullptr, Dialogs);
  Dialogs->FolderAnswers.push_back({true, Out});
  test::WhenModal<TRestoreDrivePickerForm> Drive([](TRestoreDrivePickerForm& F) {
    const test::WindowControls Ui{F};
    Ui.Button("FListButton")->click();
    Ui.Button("FDownloadAllButton")->click();  // closes the window with OK
  });
  test::WindowControls{Main}.Button("FCloudButton")->click();
  ASSERT_TRUE(Drive.Driven);
  ASSERT_EQ(Main.Items().size(), 3u);
  for (int I = 0; I < 3; ++I) {
    EXPECT_EQ(Main.Items()[I].FilePath, Out + "/MUHASEBE_FULL_" + std::to_string(I + 1) + ".bak");
    EXPECT_TRUE(fs::exists(Main.Items()[I].FilePath));
  }
  EXPECT_EQ(Main.Items()[0].DatabaseName, "MUHASEBE");
  EXPECT_EQ(test::WindowControls{Main}.Label("FStatusLabel")->text().toStdString(),
            "3 dosya buluttan indirildi ve listeye eklendi.");
  EXPECT_EQ(Dialogs->OfKind("folder").at(0).Text, "Yedeklerin indirilecegi klasoru secin");
}

TEST_F(DrivePickerTest, CancelDuringTheSecondOfFiveStopsItAtOnceAndHandsOverTheFirst) {
  SeedCloud(5, 60000);
  test::WriteBytes(Out + "/MUHASEBE_FULL_1.bak", "old");
  TRestoreDrivePickerForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  FetchCatalogue(F);
  Ui.Button("FListButton")->click();
  ASSERT_EQ(F.FFiles.size(), 5u);
  cloudsim::TFault Slow;
  Slow.Kind = cloudsim::TFaultKind::Throttle;
  Slow.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/";
  Slow.BytesPerSecond = 150000;
  Sim.AddFault(Slow);
  Dialogs->FolderAnswers.push_back({true, Out});
  F.show();
  QTimer Poll;
  int MaxProgress = 0;
  QObject::connect(&Poll, &QTimer::timeout, [&] {
    MaxProgress = std::max(MaxProgress, Ui.Bar("FProgressBar")->value());
    if (Ui.Label("FStatusLabel")->text().contains("(2/5)") && !F.FCancelRequested) Ui.Button("FCancelButton")->click();
  });
  Poll.start(10);
  // Escape while the run works does nothing.
  QTimer::singleShot(50, &F, [&F] { QTest::keyClick(&F, Qt::Key_Escape); });
  Ui.Button("FDownloadAllButton")->click();
  Poll.stop();
  EXPECT_EQ(Status(F), "Iptal edildi. 1 dosya indirildi.");
  QApplication::processEvents();
  EXPECT_TRUE(F.isVisible()) << "neither Escape nor the cancel closed it";
  EXPECT_GT(MaxProgress, 0);
  ASSERT_EQ(F.FDownloadedFiles.size(), 1u);
  EXPECT_FALSE(fs::exists(Out + "/MUHASEBE_FULL_2.bak")) << "the interrupted file never takes a name";
  for (const auto& E : fs::directory_iterator(Out)) EXPECT_NE(E.path().extension(), ".part") << E.path();
  // The existing file is untouched; the download went beside it with a time stamp.
  EXPECT_EQ(test::ReadBytes(Out + "/MUHASEBE_FULL_1.bak"), "old");
  const TDateTimeParts T = DecodeDateTime(Now());
  EXPECT_EQ(F.FDownloadedFiles[0], Out + Fmt("/MUHASEBE_FULL_1_%d%s%s_%s%s%s.bak", T.Year, Two(T.Month), Two(T.Day),
                                             Two(T.Hour), Two(T.Minute), Two(T.Second)));
  EXPECT_EQ(fs::file_size(F.FDownloadedFiles[0]), 60000u);
  EXPECT_FALSE(fs::exists(Out + "/MUHASEBE_FULL_3.bak"));
  EXPECT_TRUE(Ui.Button("FCloseButton")->isEnabled());
  Ui.Button("FCloseButton")->click();
  EXPECT_EQ(F.result(), mrOk);
}

TEST_F(DrivePickerTest, FailedAndUnsafeNamesAreCountedAndNothingLandsOutside) {
  SeedCloud(2);
  Sim.AddDriveFile(PlanFolder, "MUHASEBE_..\\..\\kacak.bak", "x", At(1));
  const std::string LostId = Sim.AddDriveFile(PlanFolder, "MUHASEBE_kayip.bak", "x", At(0));
  cloudsim::TFault Missing;
  Missing.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/" + LostId;
  Missing.Status = 404;
  Missing.Method = "GET";
  Sim.AddFault(Missing);
  TRestoreDrivePickerForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  FetchCatalogue(F);
  Ui.Button("FListButton")->click();
  ASSERT_EQ(F.FFiles.size(), 4u);
  Dialogs->FolderAnswers.push_back({true, Out});
  F.show();
  Ui.Button("FDownloadAllButton")->click();
  EXPECT_EQ(Status(F), "2 dosya indirildi, 2 hata. Klasor: " + Out);
  EXPECT_TRUE(F.isVisible());
  EXPECT_EQ(F.FDownloadedFiles.size(), 2u);
  EXPECT_FALSE(fs::exists(Root / "kacak.bak"));
  EXPECT_EQ(std::distance(fs::directory_iterator(Out), fs::directory_iterator()), 2);
  // Escape closes like "Kapat", handing over what arrived; the title bar hands nothing over.
  QTest::keyClick(&F, Qt::Key_Escape);
  EXPECT_FALSE(F.isVisible());
  EXPECT_EQ(F.result(), mrOk);
  F.show();
  F.close();
  EXPECT_EQ(F.result(), mrCancel);
}

TEST_F(DrivePickerTest, ThousandsOfEntriesDuplicateNamesAndFoldersNamedLikeBackups) {
  SeedCloud(2000, 10);
  const std::string Folder = Sim.AddDriveFolder(PlanFolder, "MUHASEBE_FULL_klasor.bak");
  Sim.AddDriveFile(Folder, "MUHASEBE_FULL_ic.bak", "ic", At(300));
  Sim.AddDriveFile(PlanFolder, "MUHASEBE_FULL_1.bak", "ikinci", At(200));
  TRestoreDrivePickerForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  FetchCatalogue(F);
  Ui.Button("FListButton")->click();
  ASSERT_EQ(Ui.List("FListView")->topLevelItemCount(), 2001);
  EXPECT_EQ(Status(F), "2001 yedek dosyasi bulundu.");
  for (int R = 0; R < Ui.List("FListView")->topLevelItemCount(); ++R)
    ASSERT_FALSE(Ui.List("FListView")->topLevelItem(R)->text(0).contains("klasor"));
  // The two files of one name are the two newest; both are kept, neither overwrites the other.
  ASSERT_EQ(Ui.List("FListView")->topLevelItem(0)->text(0), "MUHASEBE_FULL_1.bak");
  ASSERT_EQ(Ui.List("FListView")->topLevelItem(1)->text(0), "MUHASEBE_FULL_1.bak");
  Ui.List("FListView")->topLevelItem(0)->setSelected(true);
  Ui.List("FListView")->topLevelItem(1)->setSelected(true);
  Dialogs->FolderAnswers.push_back({true, Out});
  Ui.Button("FDownloadButton")->click();
  EXPECT_EQ(F.result(), mrOk);
  ASSERT_EQ(F.FDownloadedFiles.size(), 2u);
  EXPECT_EQ(test::ReadBytes(F.FDownloadedFiles[0]), "ikinci");
  EXPECT_EQ(test::ReadBytes(F.FDownloadedFiles[1]), std::string(10, 'b'));
}

TEST_F(DrivePickerTest, ADriveFailingHalfwayLeavesNoPartialFileAndTheWindowUsable) {
  SeedCloud(5, 300000);
  auto FaultOn = [&](const std::string& Name, cloudsim::TFaultKind Kind, int Status = 500) {
    cloudsim::TFault Fault;
    Fault.Kind = Kind;
    Fault.Status = Status;
    Fault.Method = "GET";
    Fault.PathPrefix = std::string(cloudsim::DriveFilesPath) + "/" + Sim.DriveFileId("Acme Ltd/Muhasebe/" + Name);
    Sim.AddFault(Fault);
  };
  // The second file comes shorter than announced (it changed while being sent), the third breaks
  // off, then the Drive answers only errors.
  FaultOn("MUHASEBE_FULL_2.bak", cloudsim::TFaultKind::ShortBody);
  FaultOn("MUHASEBE_FULL_3.bak", cloudsim::TFaultKind::CutMidBody);
  FaultOn("MUHASEBE_FULL_4.bak", cloudsim::TFaultKind::CannedReply, 500);
  FaultOn("MUHASEBE_FULL_5.bak", cloudsim::TFaultKind::CannedReply, 503);
  TRestoreDrivePickerForm F(nullptr, Dialogs);
  const test::WindowControls Ui{F};
  FetchCatalogue(F);
  Ui.Button("FListButton")->click();
  ASSERT_EQ(F.FFiles.size(), 5u);
  Dialogs->FolderAnswers.push_back({true, Out});
  F.show();
  Ui.Button("FDownloadAllButton")->click();
  EXPECT_EQ(Status(F), "1 dosya indirildi, 4 hata. Klasor: " + Out);
  EXPECT_TRUE(F.isVisible());
  test::SaveScreenshot(&F, "drive_picker_partly_failed");
  std::vector<std::string> Left;
  for (const auto& E : fs::directory_iterator(Out)) Left.push_back(E.path().filename().string());
  EXPECT_EQ(Left, std::vector<std::string>{"MUHASEBE_FULL_1.bak"});
  EXPECT_EQ(fs::file_size(Out + "/MUHASEBE_FULL_1.bak"), 300000u);
  // Usable afterwards: once the Drive is well again the same window fetches everything.
  EXPECT_TRUE(Ui.Button("FDownloadAllButton")->isEnabled());
  EXPECT_TRUE(Ui.Button("FCloseButton")->isEnabled());
  Sim.ClearFaults();
  Dialogs->FolderAnswers.push_back({true, Out});
  Ui.Button("FDownloadAllButton")->click();
  EXPECT_EQ(F.result(), mrOk);
  EXPECT_EQ(F.FDownloadedFiles.size(), 6u);
  EXPECT_EQ(std::distance(fs::directory_iterator(Out), fs::directory_iterator()), 6);
}

}  // namespace
