#include "windows/frmRestoreMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "catalogue/uRestoreMetadata.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "windows/BackgroundWork.h"
#include "windows/FormStyle.h"
#include "windows/frmRestoreDrivePicker.h"
#include "windows/frmRestoreFolder.h"

namespace kelvo {

namespace {

const QColor RunningColour(0, 106, 179);

QLabel* Caption(QWidget* Parent, const char* Text, int Left, int Top) {
  auto* L = new QLabel(QString::fromUtf8(Text), Parent);
  L->move(Left, Top);
  L->adjustSize();
  return L;
}

QLineEdit* Edit(QWidget* Parent, int Left, int Top, int Width, int Height) {
  auto* E = new QLineEdit(Parent);
  E->setGeometry(Left, Top, Width, Height);
  return E;
}

// "Buluttan Indir...": the downloaded files join the queue with their cached restore information.
void OpenDrivePicker(TRestoreMainForm& Form, const std::shared_ptr<IDialogs>& Dialogs) {
  auto Picker = std::make_unique<TRestoreDrivePickerForm>(&Form, Dialogs);
  if (Picker->exec() != mrOk) return;
  for (const std::string& Path : Picker->FDownloadedFiles) Form.AddFile(Path);
  Form.RefreshList();
  Form.SetStatus(
      Fmt("%d dosya buluttan indirildi ve listeye eklendi.", static_cast<int>(Picker->FDownloadedFiles.size())));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window

TRestoreMainForm::TRestoreMainForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : QWidget(Owner, Qt::Window), FDialogs(Dialogs ? std::move(Dialogs) : std::make_shared<TQtDialogs>()) {
  BuildLayout();
  LoadConnectionFromConfig();
  UpdateButtons();
}

TRestoreMainForm::~TRestoreMainForm() {
  // A window torn down mid-run (only in tests and at forced exit) lets the current item finish.
  if (FWorker) {
    FStopRequested = true;
    FWorker->WaitFor();
  }
}

void TRestoreMainForm::BuildLayout() {
  setWindowTitle("Kelvo Geri Yukleme");
  resize(1080, 780);
  setMinimumSize(900, 640);
  SetFormAppearance(this, QColor(248, 245, 243));
  CentreOnScreen(this);

  auto* Root = new QVBoxLayout(this);
  Root->setContentsMargins(0, 0, 0, 0);
  Root->setSpacing(0);

  FHeaderPanel = MakePanel(this, QColor(34, 47, 62));
  FHeaderPanel->setFixedHeight(84);
  FTitleLabel = MakeLabel(FHeaderPanel, "Kelvo Geri Yukleme", 24, 16, SemiboldFont(25), Qt::white);
  FSubtitleLabel = MakeLabel(FHeaderPanel,
                             "SQL Server / Firebird yedeklerini tek tusla geri yukleyin. Klasor yedekleri icin "
                             "\"Klasor Yedegi Geri Yukle\" secenegini kullanin.",
                             26, 52, UiFont(14), QColor(209, 216, 225));
  Root->addWidget(FHeaderPanel);

  FConnGroup = new QGroupBox(" Microsoft SQL Server Baglantisi ", this);
  FConnGroup->setFixedHeight(118);
  Caption(FConnGroup, "Server adi:", 16, 28);
  Caption(FConnGroup, "Port:", 292, 28);
  Caption(FConnGroup, "Kullanici adi:", 378, 28);
  Caption(FConnGroup, "Sifre:", 564, 28);
  FServerEdit = Edit(FConnGroup, 16, 48, 260, 24);
  FPortEdit = Edit(FConnGroup, 292, 48, 70, 24);
  FPortEdit->setPlaceholderText("1433");
  FUserEdit = Edit(FConnGroup, 378, 48, 170, 24);
  FPasswordEdit = Edit(FConnGroup, 564, 48, 170, 24);
  MaskWithStars(FPasswordEdit);
  FTestButton = MakeButton(FConnGroup, "Baglanmayi Dene", 752, 46, 150, 28);
  // One line: a longer answer (sqlcmd's errors run long) is cut, with the whole text on hover.
  FConnStatusLabel = new TFittedLabel("Baglanti bilgileri yedekleme ayarlarindan otomatik dolduruldu.", FConnGroup);
  FConnStatusLabel->setGeometry(16, 84, 900, 20);
  SetTextColour(FConnStatusLabel, GreyTextColour());
  auto* ConnBox = new QVBoxLayout();
  ConnBox->setContentsMargins(16, 12, 16, 4);
  ConnBox->addWidget(FConnGroup);
  Root->addLayout(ConnBox);

  auto* Middle = new QHBoxLayout();
  Middle->setContentsMargins(16, 8, 0, 8);
  Middle->setSpacing(0);
  FListView = new QTreeWidget(this);
  FListView->setColumnCount(5);
  FListView->setHeaderLabels({"Yedek Dosyasi", "Veritabani", "Tur", "Durum", "Aciklama"});
  const int Widths[] = {360, 150, 80, 100, 320};
  for (int C = 0; C < 5; ++C) FListView->setColumnWidth(C, Widths[C]);
  FListView->setRootIsDecorated(false);
  FListView->setItemsExpandable(false);
  FListView->setUniformRowHeights(true);
  FListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  FListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  KeepSelectionVisible(FListView);
  Middle->addWidget(FListView, 1);
  FSidePanel = MakePanel(this, QColor());
  FSidePanel->setFixedWidth(190);
  FAddButton = MakeButton(FSidePanel, "Ekle...", 16, 16, 158, 34);
  FRemoveButton = MakeButton(FSidePanel, "Cikart", 16, 58, 158, 34);
  FCloudButton = MakeButton(FSidePanel, "Buluttan Indir...", 16, 112, 158, 34);
  FFolderRestoreButton = MakeButton(FSidePanel, "Klasor Yedegi...", 16, 166, 158, 34);
  Middle->addWidget(FSidePanel);
  Root->addLayout(Middle, 1);

  FOptionsPanel = MakePanel(this, QColor());
  FOptionsPanel->setFixedHeight(64);
  FOriginalPathsCheck = new QCheckBox("Orijinal dosya yollarina geri yukle", FOptionsPanel);
  FOriginalPathsCheck->setGeometry(20, 6, 320, 22);
  FOverwriteCheck = new QCheckBox("Mevcut veritabanlarinin uzerine yaz", FOptionsPanel);
  FOverwriteCheck->setGeometry(20, 32, 320, 22);
  FRarPassLabel = new QLabel("RAR parolasi (sifreli yedekler icin):", FOptionsPanel);
  FRarPassLabel->setGeometry(380, 8, 220, 20);
  FRarPassEdit = Edit(FOptionsPanel, 380, 30, 220, 24);
  MaskWithStars(FRarPassEdit);
  Root->addWidget(FOptionsPanel);

  FBottomPanel = MakePanel(this, Qt::white);
  FBottomPanel->setFixedHeight(96);
  FProgressBar = new QProgressBar(FBottomPanel);
  FProgressBar->setTextVisible(false);
  FProgressBar->setRange(0, 0);
  FProgressBar->setMaximum(100);
  FProgressBar->setValue(0);
  FStatusLabel = new TFittedLabel("Hazir. Geri yuklenecek yedek dosyalarini ekleyin.", FBottomPanel);
  FStartButton = new QPushButton("Geri Yuklemeyi Baslat", FBottomPanel);
  FStartButton->setFont(BoldFont(13));
  FStopButton = new QPushButton("Durdur", FBottomPanel);
  FStopButton->setEnabled(false);
  Root->addWidget(FBottomPanel);
  PlaceBottomControls();
  NameControls({KELVO_CONTROL(FHeaderPanel), KELVO_CONTROL(FTitleLabel), KELVO_CONTROL(FSubtitleLabel),
                KELVO_CONTROL(FConnGroup), KELVO_CONTROL(FServerEdit), KELVO_CONTROL(FPortEdit),
                KELVO_CONTROL(FUserEdit), KELVO_CONTROL(FPasswordEdit), KELVO_CONTROL(FTestButton),
                KELVO_CONTROL(FConnStatusLabel)});
  NameControls({KELVO_CONTROL(FListView), KELVO_CONTROL(FSidePanel), KELVO_CONTROL(FAddButton),
                KELVO_CONTROL(FRemoveButton), KELVO_CONTROL(FCloudButton), KELVO_CONTROL(FFolderRestoreButton)});
  NameControls({KELVO_CONTROL(FOptionsPanel), KELVO_CONTROL(FOriginalPathsCheck), KELVO_CONTROL(FOverwriteCheck),
                KELVO_CONTROL(FRarPassLabel), KELVO_CONTROL(FRarPassEdit), KELVO_CONTROL(FBottomPanel),
                KELVO_CONTROL(FProgressBar), KELVO_CONTROL(FStatusLabel), KELVO_CONTROL(FStartButton),
                KELVO_CONTROL(FStopButton)});

  auto Wire = [this](QPushButton* B, void (TRestoreMainForm::*Handler)()) {
    connect(B, &QPushButton::clicked, this,
            [this, Handler] { RunHandler(*FDialogs, this, [&] { (this->*Handler)(); }); });
  };
  Wire(FTestButton, &TRestoreMainForm::TestButtonClick);
  Wire(FAddButton, &TRestoreMainForm::AddButtonClick);
  Wire(FRemoveButton, &TRestoreMainForm::RemoveButtonClick);
  Wire(FStartButton, &TRestoreMainForm::StartButtonClick);
  Wire(FStopButton, &TRestoreMainForm::StopButtonClick);
  connect(FCloudButton, &QPushButton::clicked, this,
          [this] { RunHandler(*FDialogs, this, [&] { OpenDrivePicker(*this, FDialogs); }); });
  connect(FFolderRestoreButton, &QPushButton::clicked, this,
          [this] { RunHandler(*FDialogs, this, [&] { TRestoreFolderForm(this, FDialogs).exec(); }); });
  connect(FListView, &QTreeWidget::itemDoubleClicked, this,
          [this] { RunHandler(*FDialogs, this, [&] { ListDoubleClick(); }); });
  connect(FListView, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
}

void TRestoreMainForm::PlaceBottomControls() {
  // Laid out for a 1080-pixel window; the bar and the status line stretch, the buttons keep their
  // distance to the right edge.
  const int W = width();
  FProgressBar->setGeometry(20, 12, W - 60, 20);
  FStatusLabel->setGeometry(20, 38, W - 380, 20);
  FStartButton->setGeometry(W - 356, 52, 190, 36);
  FStopButton->setGeometry(W - 156, 52, 130, 36);
}

void TRestoreMainForm::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  if (FBottomPanel) PlaceBottomControls();
}

void TRestoreMainForm::LoadConnectionFromConfig() {
  const TMSSQLBackupConfig C = TAppConfig::Instance().GetMSSQLBackupConfig();
  std::string Server = Trim(C.Server);
  const size_t Comma = Server.find(',');
  if (Comma != std::string::npos) {
    FPortEdit->setText(Q(Trim(Server.substr(Comma + 1))));
    Server = Trim(Server.substr(0, Comma));
  }
  FServerEdit->setText(Q(Server));
  FUserEdit->setText(Q(C.UserName));
  FPasswordEdit->setText(Q(C.Password));
  if (FServerEdit->text().isEmpty() && FUserEdit->text().isEmpty())
    FConnStatusLabel->setText("Baglanti bilgilerini girin ve \"Baglanmayi Dene\" ile kontrol edin.");
}

TSqlRestoreConnection TRestoreMainForm::ReadConnection() const {
  TSqlRestoreConnection C;
  C.Server = Trim(FServerEdit->text().toStdString());
  C.Port = StrToIntDef(Trim(FPortEdit->text().toStdString()), 1433);
  C.UserName = Trim(FUserEdit->text().toStdString());
  C.Password = FPasswordEdit->text().toStdString();
  return C;
}

std::string TRestoreMainForm::ValidateConnection() const {
  if (Trim(FServerEdit->text().toStdString()).empty()) return "Server adi bos olamaz.";
  if (Trim(FUserEdit->text().toStdString()).empty()) return "Kullanici adi bos olamaz.";
  return {};
}

std::string TRestoreMainForm::KindText(TBackupFileKind Kind) {
  switch (Kind) {
    case bfkSqlBak:
      return "SQL";
    case bfkRar:
      return "RAR";
    case bfkFirebird:
      return "Firebird";
    default:
      return "?";
  }
}

std::string TRestoreMainForm::StatusText(TRestoreItemStatus Status) {
  switch (Status) {
    case risPending:
      return "Bekliyor";
    case risRunning:
      return "Isleniyor";
    case risSuccess:
      return "Basarili";
    case risError:
      return "HATA";
    case risCancelled:
      return "Iptal";
  }
  return {};
}

void TRestoreMainForm::AddFile(const std::string& Path) {
  for (const TRestoreItem& Item : FItems)
    if (SameText(Item.FilePath, Path)) return;
  TRestoreItem Item;
  Item.FilePath = Path;
  Item.Kind = TRestoreEngine::DetectFileKind(Path);
  Item.Status = risPending;
  TRestoreMetadata Meta;
  if (FindRestoreMetadataForBackup(TAppConfig::Instance().GetConfigDir(), Path, Meta)) {
    Item.DatabaseName = Meta.DatabaseName;
    if (SameText(Meta.BackupType, "firebird")) Item.TargetDatabasePath = Meta.DatabaseName;
  }
  FItems.push_back(std::move(Item));
}

void TRestoreMainForm::ApplyRowColour(QTreeWidgetItem* Row, TRestoreItemStatus Status) const {
  QColor Colour;
  switch (Status) {
    case risRunning:
      Colour = RunningColour;
      break;
    case risSuccess:
      Colour = SuccessColour();
      break;
    case risError:
      Colour = ErrorColour();
      break;
    case risCancelled:
      Colour = GreyTextColour();
      break;
    default:
      Colour = palette().color(QPalette::WindowText);
      break;
  }
  for (int C = 0; C < Row->columnCount(); ++C) Row->setForeground(C, Colour);
}

void TRestoreMainForm::RefreshList() {
  FListView->setUpdatesEnabled(false);
  FListView->clear();
  for (size_t I = 0; I < FItems.size(); ++I) {
    const TRestoreItem& Item = FItems[I];
    auto* Row = new QTreeWidgetItem({Q(FileNameOf(Item.FilePath)), Q(Item.DatabaseName), Q(KindText(Item.Kind)),
                                     Q(StatusText(Item.Status)), Q(Item.Message)});
    Row->setData(0, Qt::UserRole, static_cast<int>(I));
    // The whole path and the whole message on hover: both are often wider than their column.
    Row->setToolTip(0, Q(Item.FilePath));
    Row->setToolTip(4, Q(Item.Message));
    ApplyRowColour(Row, Item.Status);
    FListView->addTopLevelItem(Row);
  }
  FListView->setUpdatesEnabled(true);
  UpdateButtons();
}

void TRestoreMainForm::UpdateButtons() {
  FStartButton->setEnabled(!FRunning && !FItems.empty());
  FStopButton->setEnabled(FRunning);
  FAddButton->setEnabled(!FRunning);
  FCloudButton->setEnabled(!FRunning);
  FFolderRestoreButton->setEnabled(!FRunning);
  FTestButton->setEnabled(!FRunning);
  FRemoveButton->setEnabled(!FRunning && !FListView->selectedItems().isEmpty());
}

void TRestoreMainForm::SetStatus(const std::string& Text) { FStatusLabel->setText(Q(Text)); }

void TRestoreMainForm::TestButtonClick() {
  const std::string Problem = ValidateConnection();
  if (!Problem.empty()) {
    FDialogs->Warning(this, Problem);
    return;
  }
  const TBusyButton Busy(FTestButton);
  FConnStatusLabel->setText("Baglanti deneniyor...");
  FConnStatusLabel->repaint();
  std::string Message;
  bool Ok = false;
  {
    TRestoreEngine Engine(ReadConnection());
    RunOffGuiThread([&] { Ok = Engine.TestConnection(Message); });
  }
  if (Ok) {
    FConnStatusLabel->setText(Q(Message));
    SetTextColour(FConnStatusLabel, SuccessColour());
  } else {
    FConnStatusLabel->setText(Q("Baglanti basarisiz: " + Message));
    SetTextColour(FConnStatusLabel, ErrorColour());
  }
}

void TRestoreMainForm::AddButtonClick() {
  const std::vector<std::string> Files = FDialogs->OpenFiles(
      this, "Geri yuklenecek yedek dosyalarini secin",
      "Yedek dosyalari (*.bak;*.bkf;*.rar;*.fbk)|*.bak;*.bkf;*.rar;*.fbk|SQL yedekleri (*.bak;*.bkf)|*.bak;*.bkf|"
      "RAR arsivleri (*.rar)|*.rar|Firebird yedekleri (*.fbk)|*.fbk|Tum dosyalar (*.*)|*.*");
  if (Files.empty()) return;
  for (const std::string& F : Files) AddFile(F);
  RefreshList();
  SetStatus(Fmt("%d dosya listede.", FItems.size()));
}

void TRestoreMainForm::RemoveButtonClick() {
  const QList<QTreeWidgetItem*> Selected = FListView->selectedItems();
  if (Selected.isEmpty()) return;
  std::vector<bool> Drop(FItems.size(), false);
  for (QTreeWidgetItem* Row : Selected) {
    const int I = Row->data(0, Qt::UserRole).toInt();
    if (I >= 0 && static_cast<size_t>(I) < Drop.size()) Drop[static_cast<size_t>(I)] = true;
  }
  std::vector<TRestoreItem> Kept;
  for (size_t I = 0; I < FItems.size(); ++I)
    if (!Drop[I]) Kept.push_back(std::move(FItems[I]));
  FItems = std::move(Kept);
  RefreshList();
}

void TRestoreMainForm::StartButtonClick() {
  if (FRunning || FItems.empty()) return;
  const bool NeedsSqlServer =
      std::any_of(FItems.begin(), FItems.end(), [](const TRestoreItem& I) { return I.Kind != bfkFirebird; });
  if (NeedsSqlServer) {
    const std::string Problem = ValidateConnection();
    if (!Problem.empty()) {
      FDialogs->Warning(this, Problem);
      return;
    }
  }
  if (!FDialogs->Confirm(this,
                         "Secili yedekler geri yuklenecek. Devam edilsin mi?\r\nNot: \"Mevcut veritabanlarinin uzerine "
                         "yaz\" secenegi isaretliyse ayni isimli veritabanlari TAMAMEN degistirilir."))
    return;
  for (TRestoreItem& Item : FItems)
    if (Item.Status != risSuccess) {
      Item.Status = risPending;
      Item.Message.clear();
    }
  RefreshList();
  FStopRequested = false;
  FRunning = true;
  FProgressBar->setMaximum(static_cast<int>(FItems.size()));
  FProgressBar->setValue(0);
  SetStatus("Geri yukleme basladi...");
  UpdateButtons();
  FWorker = std::make_unique<TRestoreWorker>(this, ReadConnection(), FOriginalPathsCheck->isChecked(),
                                             FOverwriteCheck->isChecked(), FRarPassEdit->text().toStdString());
}

void TRestoreMainForm::StopButtonClick() {
  FStopRequested = true;
  FStopButton->setEnabled(false);
  SetStatus("Durduruluyor... Devam eden islem bittiginde kalanlar iptal edilecek.");
}

TRestoreItem TRestoreMainForm::ItemSnapshot(size_t Index) const {
  std::lock_guard<std::mutex> Guard(FItemLock);
  return FItems[Index];
}

void TRestoreMainForm::UpdateItemStatus(int ItemIndex, TRestoreItemStatus Status, const std::string& Text) {
  if (ItemIndex < 0 || static_cast<size_t>(ItemIndex) >= FItems.size()) return;
  TRestoreItem& Item = FItems[static_cast<size_t>(ItemIndex)];
  {
    std::lock_guard<std::mutex> Guard(FItemLock);
    Item.Status = Status;
    Item.Message = Text;
  }
  if (QTreeWidgetItem* Row = FListView->topLevelItem(ItemIndex)) {
    Row->setText(3, Q(StatusText(Status)));
    Row->setText(4, Q(Text));
    Row->setToolTip(4, Q(Text));
    ApplyRowColour(Row, Status);
  }
  const auto Done = std::count_if(FItems.begin(), FItems.end(), [](const TRestoreItem& I) {
    return I.Status == risSuccess || I.Status == risError || I.Status == risCancelled;
  });
  FProgressBar->setValue(static_cast<int>(Done));
  if (Status == risRunning)
    SetStatus("Geri yukleniyor: " + FileNameOf(Item.FilePath));
  else if (Status == risError)
    SetStatus("HATA: " + FileNameOf(Item.FilePath) + " - detay icin satira cift tiklayin.");
}

void TRestoreMainForm::RestoreFinished() {
  if (FWorker) {
    FWorker->WaitFor();
    FWorker.reset();
  }
  FRunning = false;
  const auto S =
      std::count_if(FItems.begin(), FItems.end(), [](const TRestoreItem& I) { return I.Status == risSuccess; });
  const auto E =
      std::count_if(FItems.begin(), FItems.end(), [](const TRestoreItem& I) { return I.Status == risError; });
  SetStatus(Fmt("Geri yukleme tamamlandi: %d basarili, %d hatali.", S, E));
  UpdateButtons();
  if (E > 0)
    FDialogs->Warning(
        this, Fmt("%d yedek geri yuklenemedi. Kirmizi satirlara cift tiklayarak hata detaylarini gorebilirsiniz.", E));
  else if (S > 0)
    FDialogs->Information(this, "Tum yedekler basariyla geri yuklendi.");
}

void TRestoreMainForm::ListDoubleClick() {
  const QList<QTreeWidgetItem*> Selected = FListView->selectedItems();
  if (Selected.isEmpty()) return;
  // The first selected row in list order.
  int Index = -1;
  for (int R = 0; R < FListView->topLevelItemCount() && Index < 0; ++R)
    if (FListView->topLevelItem(R)->isSelected()) Index = FListView->topLevelItem(R)->data(0, Qt::UserRole).toInt();
  if (Index < 0 || static_cast<size_t>(Index) >= FItems.size()) return;
  TRestoreItem& Item = FItems[static_cast<size_t>(Index)];
  if (Item.Status == risError) {
    FDialogs->Error(this, "Hata detayi:\r\n\r\n" + Item.Message);
  } else if (Item.Kind == bfkFirebird && !FRunning) {
    std::string Value = Item.TargetDatabasePath;
    if (FDialogs->InputQuery(this, "Firebird Hedef Veritabani",
                             "Geri yuklenecek hedef veritabani dosya yolu (.fdb):", Value)) {
      Item.TargetDatabasePath = Trim(Value);
      Item.DatabaseName = Item.TargetDatabasePath;
      RefreshList();
    }
  } else if (!Item.Message.empty()) {
    FDialogs->Information(this, Item.Message);
  }
}

void TRestoreMainForm::closeEvent(QCloseEvent* Event) {
  if (FRunning) {
    FDialogs->Warning(this, "Geri yukleme devam ediyor. Once \"Durdur\" ile islemi durdurun.");
    Event->ignore();
    return;
  }
  QWidget::closeEvent(Event);
}

}  // namespace kelvo
