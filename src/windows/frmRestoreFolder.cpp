#include "windows/frmRestoreFolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
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

TRestoreFolderForm::TRestoreFolderForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : TCloudTransferForm(Owner, std::move(Dialogs)) {
  BuildLayout();
  FillPlanCombo();
  if (FPlans.empty()) SyncCloudCatalogue();
  UpdateButtons();
}

TRestoreFolderForm::~TRestoreFolderForm() = default;

void TRestoreFolderForm::BuildLayout() {
  QVBoxLayout* Root = SetUpWindow("Klasor Yedegi Geri Yukle", 960, 680);
  const QColor Text = palette().color(QPalette::WindowText);
  FTopPanel = MakePanel(this, QColor());
  FTopPanel->setFixedHeight(132);
  FPlanLabel = MakeLabel(FTopPanel, "Klasor plani:", 20, 16, UiFont(13), Text);
  FPlanCombo = new QComboBox(FTopPanel);
  FPlanCombo->setEditable(false);
  FPlanCombo->setGeometry(110, 12, 500, 24);
  FListButton = MakeButton(FTopPanel, "Dosyalari Listele", 626, 10, 150, 30);
  FTargetLabel = MakeLabel(FTopPanel, "Hedef klasor:", 20, 52, UiFont(13), Text);
  FTargetEdit = new QLineEdit(FTopPanel);
  FTargetEdit->setGeometry(110, 48, 500, 24);
  FBrowseButton = MakeButton(FTopPanel, "Gozat...", 626, 46, 100, 28);
  FOverwriteCheck = new QCheckBox("Var olan dosyalarin uzerine yaz", FTopPanel);
  FOverwriteCheck->setGeometry(110, 84, 420, 22);
  FOverwriteCheck->setChecked(true);
  Root->addWidget(FTopPanel);

  AddFileList(Root, {"Dosya (goreli yol)", "Boyut", "Degistirilme"}, {500, 120, 170}, false);

  AddBottomPanel(Root, "Plan secip dosyalari listeleyin.");
  FProgressBar->setRange(0, 1);
  FProgressBar->setValue(0);
  FRestoreButton = MakeButton(FBottomPanel, "Geri Yuklemeyi Baslat", 20, BottomButtonTop, 180, 34);
  FRestoreButton->setFont(BoldFont(13));
  FCancelButton = MakeButton(FBottomPanel, "Durdur", 210, BottomButtonTop, 110, 34);
  FRestoreButton->setEnabled(false);
  FCancelButton->setEnabled(false);
  NameControls({KELVO_CONTROL(FTopPanel), KELVO_CONTROL(FPlanLabel), KELVO_CONTROL(FPlanCombo),
                KELVO_CONTROL(FListButton), KELVO_CONTROL(FTargetLabel), KELVO_CONTROL(FTargetEdit),
                KELVO_CONTROL(FBrowseButton), KELVO_CONTROL(FOverwriteCheck), KELVO_CONTROL(FRestoreButton),
                KELVO_CONTROL(FCancelButton)});

  OnClick(FListButton, [this] { ListFolderFiles(); });
  OnClick(FBrowseButton, [this] { BrowseButtonClick(); });
  OnClick(FRestoreButton, [this] { RestoreFiles(); });
  OnClick(FCancelButton, [this] { RequestCancel(); });
  OnClick(FCloseButton, [this] { reject(); });
  connect(FPlanCombo, &QComboBox::currentIndexChanged, this,
          [this] { RunHandler(*FDialogs, this, [this] { PlanChanged(); }); });
}

void TRestoreFolderForm::FillPlanCombo() {
  LoadPlans(true, [](const TBackupPlan& Plan) { return Fmt("%s  [%s]", Plan.Name, Plan.SourceFolder); });
  if (FPlans.empty()) {
    SetStatus(
        "Kayitli klasor yedekleme plani yok. Bulut bilgileri icin once SQL geri yukleme ekranindaki \"Bulut "
        "Bilgilerini "
        "Al\" dugmesini kullanin.");
  } else {
    PlanChanged();
  }
}

void TRestoreFolderForm::SyncCloudCatalogue() {
  std::string Message;
  const bool Ok = FetchCloudCatalogue(Message);
  if (Ok) FillPlanCombo();
  SetStatus(Message);
}

void TRestoreFolderForm::PlanChanged() {
  const int Index = SelectedPlanIndex();
  // A plan made on a Windows computer names its folder there ("C:\Belgeler"); that is no folder
  // here, so the operator chooses one instead.
  if (Index >= 0) {
    const std::string& Source = FPlans[Index].SourceFolder;
    FTargetEdit->setText(Q(StartsText(Source, "/") ? Source : std::string()));
  }
  FFiles.clear();
  FillFileList();
}

void TRestoreFolderForm::FillFileList() {
  FListView->clear();
  for (size_t I = 0; I < FFiles.size(); ++I) {
    const TDriveFileInfo& F = FFiles[I];
    auto* Row = new QTreeWidgetItem(
        FListView, {Q(RelativePathOf(F)), Q(FormatFileSize(F.Size)), Q(FormatModifiedTime(F.ModifiedTime))});
    Row->setData(0, Qt::UserRole, static_cast<int>(I));
  }
  UpdateButtons();
}

void TRestoreFolderForm::UpdateButtons() {
  FListButton->setEnabled(!FBusy && FPlanCombo->count() > 0);
  FRestoreButton->setEnabled(!FBusy && !FFiles.empty());
  FCancelButton->setEnabled(FBusy);
  FCloseButton->setEnabled(!FBusy);
  FPlanCombo->setEnabled(!FBusy);
  FTargetEdit->setEnabled(!FBusy);
  FBrowseButton->setEnabled(!FBusy);
}

void TRestoreFolderForm::BrowseButtonClick() {
  std::string Folder = Trim(FTargetEdit->text().toStdString());
  if (!DirectoryExists(Folder)) Folder.clear();
  if (FDialogs->BrowseFolder(this, "Geri yukleme hedef klasorunu secin", Folder)) FTargetEdit->setText(Q(Folder));
}

void TRestoreFolderForm::ListFolderFiles() {
  const int Index = SelectedPlanIndex();
  if (Index < 0) return;
  TBusyScope Busy(*this, [this] { FillFileList(); });
  std::string Message;
  const bool Ok = FetchPlanFiles(FPlans[Index], Message);
  // Restore information travels with the backups but is no part of the user's folder.
  std::erase_if(FFiles, [](const TDriveFileInfo& F) { return EndsText(F.Name, "restoreinfo.json"); });
  SetStatus(Ok && Message.empty() ? Fmt("%d dosya bulundu.", static_cast<int>(FFiles.size())) : Message);
}

void TRestoreFolderForm::RestoreFiles() {
  if (SelectedPlanIndex() < 0 || FFiles.empty()) return;
  const std::string Target = Trim(FTargetEdit->text().toStdString());
  if (Target.empty()) {
    FDialogs->Warning(this, "Hedef klasor secilmedi.");
    return;
  }
  // A relative folder would land wherever the program happened to start.
  if (!StartsText(Target, "/")) {
    FDialogs->Warning(this, "Hedef klasor tam bir yol olmali: " + Target);
    return;
  }
  const int Count = static_cast<int>(FFiles.size());
  if (!FDialogs->Confirm(this,
                         Fmt("%d dosya \"%s\" klasorune geri yuklenecek.%sDevam edilsin mi?", Count, Target, "\r\n")))
    return;
  if (!ForceDirectories(Target)) throw EFileError("Klasor olusturulamadi: " + Target);
  FCancelRequested = false;
  FProgressBar->setRange(0, Count);
  FProgressBar->setValue(0);
  TFolderRestoreJob Job(FFiles, Target, FOverwriteCheck->isChecked());
  {
    TBusyScope Busy(*this);
    RunJob(Job);
  }
  const TCloudJobSummary& Summary = Job.Summary();
  FProgressBar->setValue(static_cast<int>(Summary.Files.size()));
  SetStatus(Fmt(Summary.Stopped ? "Durduruldu: %d dosya geri yuklendi, %d atlandi, %d hata."
                                : "Tamamlandi: %d dosya geri yuklendi, %d atlandi, %d hata.",
                Summary.Done, Summary.Skipped, Summary.Failed));
  if (Summary.Failed > 0)
    FDialogs->Warning(this, Fmt("%d dosya geri yuklenemedi. Ayrintilar log dosyasinda.", Summary.Failed));
  else if (Summary.Done > 0 && !Summary.Stopped)
    FDialogs->Information(this, "Klasor yedegi basariyla geri yuklendi.");
}

void TRestoreFolderForm::JobProgress(const TCloudJobProgress& Progress) {
  // The bar counts files here, not bytes.
  if (!Progress.Status.empty()) SetStatus(Progress.Status);
  if (Progress.Index > 0) FProgressBar->setValue(Progress.Index - 1);
}

}  // namespace kelvo
