#include "windows/frmRestoreDrivePicker.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

#include "catalogue/uCloudBackup.h"
#include "catalogue/uLocalPathCheck.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "platform/Regional.h"
#include "windows/FormStyle.h"

namespace kelvo {

namespace {

QString Q(const std::string& S) { return QString::fromStdString(S); }

QPushButton* Button(QWidget* Parent, const char* Text, int Left, int Top, int Width, int Height) {
  auto* B = new QPushButton(QString::fromUtf8(Text), Parent);
  B->setGeometry(Left, Top, Width, Height);
  return B;
}

// Hourglass for the length of a scope.
struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

std::string OneDecimal(double Value) {
  std::string Text = Fmt("%s", std::to_string(std::llround(Value * 10)));
  if (Text.size() < 2) Text.insert(0, 1, '0');
  return Text.substr(0, Text.size() - 1) + platform::GetRegionalSettings().DecimalSeparator + Text.back();
}

std::string Two(int V) { return (V < 10 ? "0" : "") + std::to_string(V); }

std::string Extension(const std::string& Name) {
  const size_t Dot = Name.rfind('.');
  return Dot == std::string::npos || Dot == 0 ? std::string() : Name.substr(Dot);
}

}  // namespace

std::string TimeStampedTarget(const std::string& Folder, const std::string& Name) {
  const std::string Ext = Extension(Name);
  const std::string Stem = Name.substr(0, Name.size() - Ext.size());
  const TDateTimeParts T = DecodeDateTime(Now());
  const std::string Stamp =
      std::to_string(T.Year) + Two(T.Month) + Two(T.Day) + "_" + Two(T.Hour) + Two(T.Minute) + Two(T.Second);
  std::string Target = JoinPath(Folder, Stem + "_" + Stamp + Ext);
  for (int N = 2; FileExists(Target); ++N)
    Target = JoinPath(Folder, Stem + "_" + Stamp + "_" + std::to_string(N) + Ext);
  return Target;
}

TRestoreDrivePickerForm::TRestoreDrivePickerForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : QDialog(Owner), FDialogs(Dialogs ? std::move(Dialogs) : std::make_shared<TQtDialogs>()) {
  BuildLayout();
  FillPlanCombo();
  if (FPlans.empty()) SyncCloudCatalogue(false);
}

TRestoreDrivePickerForm::~TRestoreDrivePickerForm() = default;

void TRestoreDrivePickerForm::BuildLayout() {
  setWindowTitle("Buluttan Yedek Indir");
  setModal(true);
  resize(900, 620);
  SetFormAppearance(this, QColor(248, 245, 243));
  setFont(UiFont(13));
  CentreOnScreen(this);

  auto* Root = new QVBoxLayout(this);
  Root->setContentsMargins(0, 0, 0, 0);
  Root->setSpacing(0);

  FHeaderPanel = MakePanel(this, QColor());
  FHeaderPanel->setFixedHeight(92);
  FTitleLabel = MakeLabel(FHeaderPanel, "Yedekleme plani secin ve buluttaki yedekleri listeleyin.", 20, 10,
                          BoldFont(13), palette().color(QPalette::WindowText));
  FPlanLabel = MakeLabel(FHeaderPanel, "Plan:", 20, 38, UiFont(13), palette().color(QPalette::WindowText));
  FPlanCombo = new QComboBox(FHeaderPanel);
  FPlanCombo->setEditable(false);
  FPlanCombo->setGeometry(60, 34, 520, 24);
  FListButton = Button(FHeaderPanel, "Yedekleri Listele", 596, 32, 150, 30);
  FSyncButton = Button(FHeaderPanel, "Bulut Bilgilerini Al", 596, 66, 150, 26);
  Root->addWidget(FHeaderPanel);

  FListView = new QTreeWidget(this);
  FListView->setColumnCount(4);
  FListView->setHeaderLabels({"Dosya", "Boyut", "Degistirilme", "Tip"});
  const int Widths[] = {430, 120, 170, 90};
  for (int C = 0; C < 4; ++C) FListView->setColumnWidth(C, Widths[C]);
  FListView->setRootIsDecorated(false);
  FListView->setItemsExpandable(false);
  FListView->setUniformRowHeights(true);
  FListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
  FProgressBar->setRange(0, 1000);
  FProgressBar->setValue(0);
  FStatusLabel = new QLabel("Plan secip yedekleri listeleyin.", FBottomPanel);
  FDownloadButton = Button(FBottomPanel, "Secilenleri Indir", 20, 58, 160, 34);
  FDownloadAllButton = Button(FBottomPanel, "Tumunu Indir", 190, 58, 140, 34);
  FCancelButton = Button(FBottomPanel, "Iptal Et", 340, 58, 110, 34);
  FCloseButton = Button(FBottomPanel, "Kapat", 0, 58, 110, 34);
  FDownloadButton->setEnabled(false);
  FDownloadAllButton->setEnabled(false);
  FCancelButton->setEnabled(false);
  Root->addWidget(FBottomPanel);
  PlaceBottomControls();

  auto Wire = [this](QPushButton* B, auto Handler) {
    connect(B, &QPushButton::clicked, this, [this, Handler] { RunHandler(*FDialogs, this, Handler); });
  };
  Wire(FListButton, [this] { ListBackups(); });
  Wire(FSyncButton, [this] { SyncCloudCatalogue(true); });
  Wire(FDownloadButton, [this] { DownloadFiles(true); });
  Wire(FDownloadAllButton, [this] { DownloadFiles(false); });
  Wire(FCancelButton, [this] { FCancelRequested = true; });
  Wire(FCloseButton, [this] { CloseButtonClick(); });
  connect(FListView, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
}

void TRestoreDrivePickerForm::PlaceBottomControls() {
  const int W = width();
  FProgressBar->setGeometry(20, 10, W - 60, 18);
  FStatusLabel->setGeometry(20, 34, W - 60, 20);
  FCloseButton->setGeometry(W - 150, 58, 110, 34);
}

void TRestoreDrivePickerForm::resizeEvent(QResizeEvent* Event) {
  QDialog::resizeEvent(Event);
  if (FBottomPanel) PlaceBottomControls();
}

void TRestoreDrivePickerForm::SetStatusNow(const std::string& Text) {
  FStatusLabel->setText(Q(Text));
  FStatusLabel->repaint();
}

void TRestoreDrivePickerForm::FillPlanCombo() {
  FPlans.clear();
  for (const TBackupPlan& Plan : LoadAvailablePlans(TAppConfig::Instance().GetConfigDir()))
    if (!IsFolderPlan(Plan)) FPlans.push_back(Plan);
  FPlanCombo->clear();
  for (const TBackupPlan& Plan : FPlans)
    FPlanCombo->addItem(Q(Fmt("%s  [%s - %s]", Plan.Name, BackupTypeLabel(Plan), PlanDisplayName(Plan))));
  if (FPlans.empty())
    FStatusLabel->setText(
        "Kayitli SQL/Firebird plani yok. \"Bulut Bilgilerini Al\" ile hesabin plan listesini indirebilirsiniz.");
  else
    FPlanCombo->setCurrentIndex(0);
  UpdateButtons();
}

void TRestoreDrivePickerForm::SyncCloudCatalogue(bool ShowDialog) {
  FBusy = true;
  UpdateButtons();
  struct TIdle {
    TRestoreDrivePickerForm* Form;
    ~TIdle() {
      Form->FBusy = false;
      Form->UpdateButtons();
    }
  } Idle{this};
  TWaitCursor Wait;
  SetStatusNow("Bulut geri yukleme bilgileri indiriliyor...");
  std::string Message;
  bool Ok;
  {
    TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
    Ok = Service.DownloadAccountRestoreData(Message);
  }
  FStatusLabel->setText(Q(Message));
  if (Ok)
    FillPlanCombo();
  else if (ShowDialog)
    FDialogs->Warning(this, Message);
}

int TRestoreDrivePickerForm::SelectedPlanIndex() const {
  const int I = FPlanCombo->currentIndex();
  return I >= 0 && I < static_cast<int>(FPlans.size()) ? I : -1;
}

std::string TRestoreDrivePickerForm::FormatFileSize(int64_t Size) {
  if (Size >= 1073741824) return OneDecimal(static_cast<double>(Size) / 1073741824.0) + " GB";
  if (Size >= 1048576) return OneDecimal(static_cast<double>(Size) / 1048576.0) + " MB";
  if (Size < 1024) return std::to_string(Size) + " B";
  return OneDecimal(static_cast<double>(Size) / 1024.0) + " KB";
}

std::string TRestoreDrivePickerForm::FormatModifiedTime(TDateTime Value) {
  if (Value == 0) return "-";
  std::string Separator = ":";
  const std::string TimeFormat = platform::GetRegionalSettings().LongTimeFormat;
  const size_t Hour = TimeFormat.find("%H");
  if (Hour != std::string::npos && Hour + 2 < TimeFormat.size() && TimeFormat[Hour + 2] != '%')
    Separator = TimeFormat.substr(Hour + 2, 1);
  const TDateTimeParts T = DecodeDateTime(Value);
  return Two(T.Day) + "." + Two(T.Month) + "." + std::to_string(T.Year) + " " + Two(T.Hour) + Separator + Two(T.Minute);
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
  QApplication::processEvents();
}

void TRestoreDrivePickerForm::ListBackups() {
  const int Index = SelectedPlanIndex();
  if (Index < 0) return;
  FBusy = true;
  UpdateButtons();
  struct TIdle {
    TRestoreDrivePickerForm* Form;
    ~TIdle() {
      Form->FBusy = false;
      Form->FillFileList();
    }
  } Idle{this};
  TWaitCursor Wait;
  SetStatusNow("Bulut dosyalari okunuyor...");
  std::string Message;
  TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
  if (!Service.ListPlanDriveBackups(FPlans[Index], FFiles, Message)) {
    FFiles.clear();
    FStatusLabel->setText(Q(Message));
  } else if (!Message.empty()) {
    FStatusLabel->setText(Q(Message));
  } else {
    FStatusLabel->setText(Q(Fmt("%d yedek dosyasi bulundu.", static_cast<int>(FFiles.size()))));
  }
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

  FBusy = true;
  FCancelRequested = false;
  UpdateButtons();
  int Downloaded = 0, Failed = 0;
  {
    struct TIdle {
      TRestoreDrivePickerForm* Form;
      ~TIdle() {
        Form->FBusy = false;
        Form->UpdateButtons();
        Form->FProgressBar->setValue(0);
      }
    } Idle{this};
    TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
    Service.FOnDownloadProgress = [this](int64_t Sent, int64_t Total) { DownloadProgress(Sent, Total); };
    const int Count = static_cast<int>(Work.size());
    for (int K = 1; K <= Count && !FCancelRequested; ++K) {
      const int Index = Work[K - 1];
      if (Index < 0 || Index >= static_cast<int>(FFiles.size())) continue;
      const TDriveFileInfo File = FFiles[Index];
      SetStatusNow(Fmt("Indiriliyor (%d/%d): %s", K, Count, File.Name));
      QApplication::processEvents();
      std::string Message;
      bool Ok = false;
      if (!IsSafeLocalName(File.Name)) {
        Message = "Gecersiz dosya adi: " + File.Name;
      } else {
        std::string Target = JoinPath(Folder, File.Name);
        if (FileExists(Target)) Target = TimeStampedTarget(Folder, File.Name);
        Ok = Service.DownloadDriveBackupFile(File, Target, Message);
        if (Ok) FDownloadedFiles.push_back(Target);
      }
      if (Ok) {
        ++Downloaded;
      } else {
        ++Failed;
        LogWarnFmt("Drive yedek indirme hatasi: %s | %s", File.Name, Message);
      }
    }
  }
  const bool Cancelled = FCancelRequested;
  if (Cancelled)
    FStatusLabel->setText(Q(Fmt("Iptal edildi. %d dosya indirildi.", Downloaded)));
  else
    FStatusLabel->setText(Q(Fmt("%d dosya indirildi, %d hata. Klasor: %s", Downloaded, Failed, Folder)));
  if (Downloaded > 0 && !Cancelled && Failed == 0) done(mrOk);
}

void TRestoreDrivePickerForm::CloseButtonClick() {
  if (FBusy) return;
  done(FDownloadedFiles.empty() ? mrCancel : mrOk);
}

void TRestoreDrivePickerForm::reject() {
  if (FBusy) {
    FCancelRequested = true;
    return;
  }
  done(mrCancel);
}

void TRestoreDrivePickerForm::closeEvent(QCloseEvent* Event) {
  if (FBusy) {
    FCancelRequested = true;
    Event->ignore();
    return;
  }
  QDialog::closeEvent(Event);
}

}  // namespace kelvo
