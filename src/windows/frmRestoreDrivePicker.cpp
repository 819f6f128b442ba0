#include "windows/frmRestoreDrivePicker.h"

#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "catalogue/uCloudBackup.h"
#include "catalogue/uLocalPathCheck.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "windows/FormStyle.h"

namespace kelvo {

namespace {

std::string Extension(const std::string& Name) {
  const size_t Dot = Name.rfind('.');
  return Dot == std::string::npos || Dot == 0 ? std::string() : Name.substr(Dot);
}

}  // namespace

TRestoreDrivePickerForm::TRestoreDrivePickerForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : TCloudTransferForm(Owner, std::move(Dialogs)) {
  BuildLayout();
  FillPlanCombo();
  if (FPlans.empty()) SyncCloudCatalogue(false);
}

TRestoreDrivePickerForm::~TRestoreDrivePickerForm() = default;

void TRestoreDrivePickerForm::BuildLayout() {
  QVBoxLayout* Root = SetUpWindow("Buluttan Yedek Indir", 900, 620);
  FHeaderPanel = MakePanel(this, QColor());
  FHeaderPanel->setFixedHeight(92);
  FTitleLabel = MakeLabel(FHeaderPanel, "Yedekleme plani secin ve buluttaki yedekleri listeleyin.", 20, 10,
                          BoldFont(13), palette().color(QPalette::WindowText));
  FPlanLabel = MakeLabel(FHeaderPanel, "Plan:", 20, 38, UiFont(13), palette().color(QPalette::WindowText));
  FPlanCombo = new QComboBox(FHeaderPanel);
  FPlanCombo->setEditable(false);
  FPlanCombo->setGeometry(60, 34, 520, 24);
  FListButton = MakeButton(FHeaderPanel, "Yedekleri Listele", 596, 32, 150, 30);
  FSyncButton = MakeButton(FHeaderPanel, "Bulut Bilgilerini Al", 596, 66, 150, 26);
  Root->addWidget(FHeaderPanel);

  AddFileList(Root, {"Dosya", "Boyut", "Degistirilme", "Tip"}, {430, 120, 170, 90}, true);

  AddBottomPanel(Root, "Plan secip yedekleri listeleyin.");
  FProgressBar->setRange(0, 1000);
  FProgressBar->setValue(0);
  FDownloadButton = MakeButton(FBottomPanel, "Secilenleri Indir", 20, BottomButtonTop, 160, 34);
  FDownloadAllButton = MakeButton(FBottomPanel, "Tumunu Indir", 190, BottomButtonTop, 140, 34);
  FCancelButton = MakeButton(FBottomPanel, "Iptal Et", 340, BottomButtonTop, 110, 34);
  FDownloadButton->setEnabled(false);
  FDownloadAllButton->setEnabled(false);
  FCancelButton->setEnabled(false);
  NameControls({KELVO_CONTROL(FHeaderPanel), KELVO_CONTROL(FTitleLabel), KELVO_CONTROL(FPlanLabel),
                KELVO_CONTROL(FPlanCombo), KELVO_CONTROL(FListButton), KELVO_CONTROL(FSyncButton),
                KELVO_CONTROL(FDownloadButton), KELVO_CONTROL(FDownloadAllButton), KELVO_CONTROL(FCancelButton)});

  OnClick(FListButton, [this] { ListBackups(); });
  OnClick(FSyncButton, [this] { SyncCloudCatalogue(true); });
  OnClick(FDownloadButton, [this] { DownloadFiles(true); });
  OnClick(FDownloadAllButton, [this] { DownloadFiles(false); });
  OnClick(FCancelButton, [this] { RequestCancel(); });
  OnClick(FCloseButton, [this] { CloseButtonClick(); });
  connect(FListView, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
}

void TRestoreDrivePickerForm::FillPlanCombo() {
  LoadPlans(false, [](const TBackupPlan& Plan) {
    return Fmt("%s  [%s - %s]", Plan.Name, BackupTypeLabel(Plan), PlanDisplayName(Plan));
  });
  if (FPlans.empty())
    SetStatus("Kayitli SQL/Firebird plani yok. \"Bulut Bilgilerini Al\" ile hesabin plan listesini indirebilirsiniz.");
  UpdateButtons();
}

void TRestoreDrivePickerForm::SyncCloudCatalogue(bool ShowDialog) {
  std::string Message;
  const bool Ok = FetchCloudCatalogue(Message);
  SetStatus(Message);
  if (Ok)
    FillPlanCombo();
  else if (ShowDialog)
    FDialogs->Warning(this, Message);
}

void TRestoreDrivePickerForm::FillFileList() {
  FListView->clear();
  for (size_t I = 0; I < FFiles.size(); ++I) {
    const TDriveFileInfo& F = FFiles[I];
    std::string Type = Extension(F.Name);
    if (!Type.empty()) Type = AsciiUpper(Type.substr(1));
    auto* Row = new QTreeWidgetItem(
        FListView, {Q(F.Name), Q(FormatFileSize(F.Size)), Q(FormatModifiedTime(F.ModifiedTime)), Q(Type)});
    Row->setData(0, Qt::UserRole, static_cast<int>(I));
  }
  UpdateButtons();
}

void TRestoreDrivePickerForm::UpdateButtons() {
  FSyncButton->setEnabled(!FBusy);
  FCloseButton->setEnabled(!FBusy);
  FPlanCombo->setEnabled(!FBusy);
  FListButton->setEnabled(!FBusy && FPlanCombo->count() > 0);
  FDownloadButton->setEnabled(!FBusy && !FListView->selectedItems().isEmpty());
  FDownloadAllButton->setEnabled(!FBusy && !FFiles.empty());
  FCancelButton->setEnabled(FBusy);
}

void TRestoreDrivePickerForm::DownloadProgress(int64_t BytesSent, int64_t TotalBytes) {
  if (TotalBytes > 0) {
    FProgressBar->setRange(0, 1000);
    FProgressBar->setValue(
        static_cast<int>(std::llround(static_cast<double>(BytesSent) / static_cast<double>(TotalBytes) * 1000.0)));
  }
}

void TRestoreDrivePickerForm::ListBackups() {
  const int Index = SelectedPlanIndex();
  if (Index < 0) return;
  TBusyScope Busy(*this, [this] { FillFileList(); });
  std::string Message;
  const bool Ok = FetchPlanFiles(FPlans[Index], Message);
  SetStatus(Ok && Message.empty() ? Fmt("%d yedek dosyasi bulundu.", static_cast<int>(FFiles.size())) : Message);
}

void TRestoreDrivePickerForm::DownloadFiles(bool SelectedOnly) {
  if (SelectedPlanIndex() < 0 || FFiles.empty()) return;
  std::vector<int> Work;
  if (SelectedOnly) {
    for (int R = 0; R < FListView->topLevelItemCount(); ++R) {
      QTreeWidgetItem* Row = FListView->topLevelItem(R);
      if (Row->isSelected()) Work.push_back(Row->data(0, Qt::UserRole).toInt());
    }
  } else {
    for (size_t I = 0; I < FFiles.size(); ++I) Work.push_back(static_cast<int>(I));
  }
  if (Work.empty()) return;
  std::string Folder;
  if (!FDialogs->BrowseFolder(this, "Yedeklerin indirilecegi klasoru secin", Folder)) return;
  if (!ForceDirectories(Folder)) throw EFileError("Klasor olusturulamadi: " + Folder);

  std::vector<TDriveFileInfo> Files;
  for (const int Index : Work)
    if (Index >= 0 && Index < static_cast<int>(FFiles.size())) Files.push_back(FFiles[Index]);
  FCancelRequested = false;
  TPlanDownloadJob Job(std::move(Files), Folder);
  {
    TBusyScope Busy(*this, [this] {
      UpdateButtons();
      FProgressBar->setValue(0);
    });
    RunJob(Job);
  }
  const TCloudJobSummary& Summary = Job.Summary();
  for (const TFileOutcome& File : Summary.Files)
    if (File.Kind == TFileOutcomeKind::Done) FDownloadedFiles.push_back(File.LocalPath);
  if (Summary.Stopped)
    SetStatus(Fmt("Iptal edildi. %d dosya indirildi.", Summary.Done));
  else
    SetStatus(Fmt("%d dosya indirildi, %d hata. Klasor: %s", Summary.Done, Summary.Failed, Folder));
  if (Summary.Done > 0 && !Summary.Stopped && Summary.Failed == 0) done(mrOk);
}

void TRestoreDrivePickerForm::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() != Qt::Key_Escape) {
    TCloudTransferForm::keyPressEvent(Event);
    return;
  }
  Event->accept();
  if (!FBusy) CloseButtonClick();
}

void TRestoreDrivePickerForm::CloseButtonClick() {
  if (FBusy) return;
  done(FDownloadedFiles.empty() ? mrCancel : mrOk);
}

}  // namespace kelvo
