#include "windows/frmRestoreFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
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
#include "windows/frmRestoreDrivePicker.h"

namespace kelvo {

namespace {

QString Q(const std::string& S) { return QString::fromStdString(S); }

QPushButton* Button(QWidget* Parent, const char* Text, int Left, int Top, int Width, int Height) {
  auto* B = new QPushButton(QString::fromUtf8(Text), Parent);
  B->setGeometry(Left, Top, Width, Height);
  return B;
}

struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

std::string RelativePathOf(const TDriveFileInfo& File) {
  return Trim(File.RelativePath).empty() ? File.Name : File.RelativePath;
}

}  // namespace

TRestoreFolderForm::TRestoreFolderForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : QDialog(Owner), FDialogs(Dialogs ? std::move(Dialogs) : std::make_shared<TQtDialogs>()) {
  BuildLayout();
  FillPlanCombo();
  if (FPlans.empty()) SyncCloudCatalogue();
  UpdateButtons();
}

TRestoreFolderForm::~TRestoreFolderForm() = default;

void TRestoreFolderForm::BuildLayout() {
  setWindowTitle("Klasor Yedegi Geri Yukle");
  setModal(true);
  resize(960, 680);
  SetFormAppearance(this, QColor(248, 245, 243));
  setFont(UiFont(13));
  CentreOnScreen(this);

  auto* Root = new QVBoxLayout(this);
  Root->setContentsMargins(0, 0, 0, 0);
  Root->setSpacing(0);

  const QColor Text = palette().color(QPalette::WindowText);
  FTopPanel = MakePanel(this, QColor());
  FTopPanel->setFixedHeight(132);
  FPlanLabel = MakeLabel(FTopPanel, "Klasor plani:", 20, 16, UiFont(13), Text);
  FPlanCombo = new QComboBox(FTopPanel);
  FPlanCombo->setEditable(false);
  FPlanCombo->setGeometry(110, 12, 500, 24);
  FListButton = Button(FTopPanel, "Dosyalari Listele", 626, 10, 150, 30);
  FTargetLabel = MakeLabel(FTopPanel, "Hedef klasor:", 20, 52, UiFont(13), Text);
  FTargetEdit = new QLineEdit(FTopPanel);
  FTargetEdit->setGeometry(110, 48, 500, 24);
  FBrowseButton = Button(FTopPanel, "Gozat...", 626, 46, 100, 28);
  FOverwriteCheck = new QCheckBox("Var olan dosyalarin uzerine yaz", FTopPanel);
  FOverwriteCheck->setGeometry(110, 84, 420, 22);
  FOverwriteCheck->setChecked(true);
  Root->addWidget(FTopPanel);

  FListView = new QTreeWidget(this);
  FListView->setColumnCount(3);
  FListView->setHeaderLabels({"Dosya (goreli yol)", "Boyut", "Degistirilme"});
  const int Widths[] = {500, 120, 170};
  for (int C = 0; C < 3; ++C) FListView->setColumnWidth(C, Widths[C]);
  FListView->setRootIsDecorated(false);
  FListView->setItemsExpandable(false);
  FListView->setUniformRowHeights(true);
  FListView->setSelectionMode(QAbstractItemView::SingleSelection);
  FListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  FListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  KeepSelectionVisible(FListView);
  auto* ListBox = new QVBoxLayout();
  ListBox->setContentsMargins(16, 4, 16, 4);
  ListBox->addWidget(FListView);
  Root->addLayout(ListBox, 1);

  FBottomPanel = MakePanel(this, Qt::white);
  FBottomPanel->setFixedHeight(104);
  FProgressBar = new QProgressBar(FBottomPanel);
  FProgressBar->setTextVisible(false);
  FProgressBar->setRange(0, 1);
  FProgressBar->setValue(0);
  FStatusLabel = new QLabel("Plan secip dosyalari listeleyin.", FBottomPanel);
  FRestoreButton = Button(FBottomPanel, "Geri Yuklemeyi Baslat", 20, 58, 180, 34);
  FRestoreButton->setFont(BoldFont(13));
  FCancelButton = Button(FBottomPanel, "Durdur", 210, 58, 110, 34);
  FCloseButton = Button(FBottomPanel, "Kapat", 0, 58, 110, 34);
  FRestoreButton->setEnabled(false);
  FCancelButton->setEnabled(false);
  Root->addWidget(FBottomPanel);
  PlaceBottomControls();

  auto Wire = [this](QPushButton* B, auto Handler) {
    connect(B, &QPushButton::clicked, this, [this, Handler] { RunHandler(*FDialogs, this, Handler); });
  };
  Wire(FListButton, [this] { ListFolderFiles(); });
  Wire(FBrowseButton, [this] { BrowseButtonClick(); });
  Wire(FRestoreButton, [this] { RestoreFiles(); });
  Wire(FCancelButton, [this] { FCancelRequested = true; });
  Wire(FCloseButton, [this] { reject(); });
  connect(FPlanCombo, &QComboBox::currentIndexChanged, this,
          [this] { RunHandler(*FDialogs, this, [this] { PlanChanged(); }); });
}

void TRestoreFolderForm::PlaceBottomControls() {
  const int W = width();
  FProgressBar->setGeometry(20, 10, W - 60, 18);
  FStatusLabel->setGeometry(20, 34, W - 60, 20);
  FCloseButton->setGeometry(W - 150, 58, 110, 34);
}

void TRestoreFolderForm::resizeEvent(QResizeEvent* Event) {
  QDialog::resizeEvent(Event);
  if (FBottomPanel) PlaceBottomControls();
}

void TRestoreFolderForm::SetStatusNow(const std::string& Text) {
  FStatusLabel->setText(Q(Text));
  FStatusLabel->repaint();
}

void TRestoreFolderForm::FillPlanCombo() {
  FPlans.clear();
  for (const TBackupPlan& Plan : LoadAvailablePlans(TAppConfig::Instance().GetConfigDir()))
    if (IsFolderPlan(Plan)) FPlans.push_back(Plan);
  {
    const QSignalBlocker Quiet(FPlanCombo);
    FPlanCombo->clear();
    for (const TBackupPlan& Plan : FPlans) FPlanCombo->addItem(Q(Fmt("%s  [%s]", Plan.Name, Plan.SourceFolder)));
  }
  if (FPlans.empty()) {
    FStatusLabel->setText(
        "Kayitli klasor yedekleme plani yok. Bulut bilgileri icin once SQL geri yukleme ekranindaki \"Bulut "
        "Bilgilerini "
        "Al\" dugmesini kullanin.");
  } else {
    FPlanCombo->setCurrentIndex(0);
    PlanChanged();
  }
}

void TRestoreFolderForm::SyncCloudCatalogue() {
  TWaitCursor Wait;
  SetStatusNow("Bulut geri yukleme bilgileri indiriliyor...");
  std::string Message;
  bool Ok;
  {
    TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
    Ok = Service.DownloadAccountRestoreData(Message);
  }
  if (Ok) FillPlanCombo();
  FStatusLabel->setText(Q(Message));
}

void TRestoreFolderForm::PlanChanged() {
  const int Index = SelectedPlanIndex();
  if (Index >= 0) FTargetEdit->setText(Q(FPlans[Index].SourceFolder));
  FFiles.clear();
  FillFileList();
}

int TRestoreFolderForm::SelectedPlanIndex() const {
  const int I = FPlanCombo->currentIndex();
  return I >= 0 && I < static_cast<int>(FPlans.size()) ? I : -1;
}

std::string TRestoreFolderForm::FormatFileSize(int64_t Size) { return TRestoreDrivePickerForm::FormatFileSize(Size); }

void TRestoreFolderForm::FillFileList() {
  FListView->clear();
  for (size_t I = 0; I < FFiles.size(); ++I) {
    const TDriveFileInfo& F = FFiles[I];
    auto* Row = new QTreeWidgetItem(FListView, {Q(RelativePathOf(F)), Q(FormatFileSize(F.Size)),
                                                Q(TRestoreDrivePickerForm::FormatModifiedTime(F.ModifiedTime))});
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

void TRestoreFolderForm::DownloadProgress(int64_t, int64_t) { QApplication::processEvents(); }

void TRestoreFolderForm::BrowseButtonClick() {
  std::string Folder = Trim(FTargetEdit->text().toStdString());
  if (!DirectoryExists(Folder)) Folder.clear();
  if (FDialogs->BrowseFolder(this, "Geri yukleme hedef klasorunu secin", Folder)) FTargetEdit->setText(Q(Folder));
}

void TRestoreFolderForm::ListFolderFiles() {
  const int Index = SelectedPlanIndex();
  if (Index < 0) return;
  FBusy = true;
  UpdateButtons();
  struct TIdle {
    TRestoreFolderForm* Form;
    ~TIdle() {
      Form->FBusy = false;
      Form->FillFileList();
    }
  } Idle{this};
  TWaitCursor Wait;
  SetStatusNow("Bulut dosyalari okunuyor...");
  std::string Message;
  TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
  if (Service.ListPlanDriveBackups(FPlans[Index], FFiles, Message)) {
    // Restore information travels with the backups but is no part of the user's folder.
    std::erase_if(FFiles, [](const TDriveFileInfo& F) { return EndsText(F.Name, "restoreinfo.json"); });
    FStatusLabel->setText(Q(Message.empty() ? Fmt("%d dosya bulundu.", static_cast<int>(FFiles.size())) : Message));
  } else {
    FFiles.clear();
    FStatusLabel->setText(Q(Message));
  }
}

void TRestoreFolderForm::RestoreFiles() {
  if (SelectedPlanIndex() < 0 || FFiles.empty()) return;
  const std::string Target = Trim(FTargetEdit->text().toStdString());
  if (Target.empty()) {
    FDialogs->Warning(this, "Hedef klasor secilmedi.");
    return;
  }
  const int Count = static_cast<int>(FFiles.size());
  if (!FDialogs->Confirm(this,
                         Fmt("%d dosya \"%s\" klasorune geri yuklenecek.%sDevam edilsin mi?", Count, Target, "\r\n")))
    return;
  if (!ForceDirectories(Target)) throw EFileError("Klasor olusturulamadi: " + Target);
  FBusy = true;
  FCancelRequested = false;
  UpdateButtons();
  int Restored = 0, Skipped = 0, Failed = 0;
  FProgressBar->setRange(0, Count);
  FProgressBar->setValue(0);
  {
    struct TIdle {
      TRestoreFolderForm* Form;
      ~TIdle() {
        Form->FBusy = false;
        Form->UpdateButtons();
      }
    } Idle{this};
    TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
    Service.FOnDownloadProgress = [this](int64_t Sent, int64_t Total) { DownloadProgress(Sent, Total); };
    const std::vector<TDriveFileInfo> Files = FFiles;
    for (int I = 1; I <= Count && !FCancelRequested; ++I) {
      const TDriveFileInfo& File = Files[I - 1];
      const std::string Relative = RelativePathOf(File);
      SetStatusNow(Fmt("Geri yukleniyor (%d/%d): %s", I, Count, Relative));
      QApplication::processEvents();
      std::string Destination, Message;
      if (!BuildSafeLocalPath(Target, Relative, Destination, Message)) {
        ++Failed;
        LogWarnFmt("Klasor geri yukleme indirme hatasi: %s | %s", Relative, Message);
      } else if (FileExists(Destination) && !FOverwriteCheck->isChecked()) {
        ++Skipped;
      } else {
        try {
          const std::string Folder = Destination.substr(0, Destination.rfind('/'));
          if (!ForceDirectories(Folder)) throw EFileError("Klasor olusturulamadi: " + Folder);
          if (Service.DownloadDriveBackupFile(File, Destination, Message)) {
            ++Restored;
          } else {
            ++Failed;
            LogWarnFmt("Klasor geri yukleme indirme hatasi: %s | %s", Relative, Message);
          }
        } catch (const std::exception& E) {
          ++Failed;
          LogException("Klasor geri yukleme hatasi: " + Relative, E);
        }
      }
      FProgressBar->setValue(I);
    }
  }
  const bool Stopped = FCancelRequested;
  FStatusLabel->setText(Q(Fmt(Stopped ? "Durduruldu: %d dosya geri yuklendi, %d atlandi, %d hata."
                                      : "Tamamlandi: %d dosya geri yuklendi, %d atlandi, %d hata.",
                              Restored, Skipped, Failed)));
  if (Failed > 0)
    FDialogs->Warning(this, Fmt("%d dosya geri yuklenemedi. Ayrintilar log dosyasinda.", Failed));
  else if (Restored > 0 && !Stopped)
    FDialogs->Information(this, "Klasor yedegi basariyla geri yuklendi.");
}

void TRestoreFolderForm::reject() {
  if (FBusy) {
    FCancelRequested = true;
    return;
  }
  done(mrCancel);
}

void TRestoreFolderForm::closeEvent(QCloseEvent* Event) {
  if (FBusy) {
    FCancelRequested = true;
    Event->ignore();
    return;
  }
  QDialog::closeEvent(Event);
}

}  // namespace kelvo
