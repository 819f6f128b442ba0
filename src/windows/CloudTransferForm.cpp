#include "windows/CloudTransferForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "catalogue/uCloudBackup.h"
#include "core/TextFormat.h"
#include "core/uAppConfig.h"
#include "platform/Regional.h"
#include "windows/BackgroundWork.h"
#include "windows/FormStyle.h"

namespace kelvo {

namespace {

std::string Two(int V) { return (V < 10 ? "0" : "") + std::to_string(V); }

}  // namespace

TCloudTransferForm::TCloudTransferForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs)
    : QDialog(Owner), FDialogs(Dialogs ? std::move(Dialogs) : std::make_shared<TQtDialogs>()) {}

TCloudTransferForm::~TCloudTransferForm() = default;

QVBoxLayout* TCloudTransferForm::SetUpWindow(const char* Title, int Width, int Height) {
  setWindowTitle(QString::fromUtf8(Title));
  setModal(true);
  resize(Width, Height);
  SetFormAppearance(this, QColor(248, 245, 243));
  setFont(UiFont(13));
  CentreOnScreen(this);
  auto* Root = new QVBoxLayout(this);
  Root->setContentsMargins(0, 0, 0, 0);
  Root->setSpacing(0);
  return Root;
}

void TCloudTransferForm::AddFileList(QVBoxLayout* Root, const QStringList& Headers, const std::vector<int>& Widths,
                                     bool MultiSelect) {
  FListView = new QTreeWidget(this);
  FListView->setColumnCount(static_cast<int>(Headers.size()));
  FListView->setHeaderLabels(Headers);
  for (size_t C = 0; C < Widths.size(); ++C) FListView->setColumnWidth(static_cast<int>(C), Widths[C]);
  FListView->setRootIsDecorated(false);
  FListView->setItemsExpandable(false);
  FListView->setUniformRowHeights(true);
  FListView->setSelectionMode(MultiSelect ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
  FListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  FListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  KeepSelectionVisible(FListView);
  NameControls({KELVO_CONTROL(FListView)});
  auto* ListBox = new QVBoxLayout();
  ListBox->setContentsMargins(16, 4, 16, 4);
  ListBox->addWidget(FListView);
  Root->addLayout(ListBox, 1);
}

void TCloudTransferForm::AddBottomPanel(QVBoxLayout* Root, const char* Status) {
  FBottomPanel = MakePanel(this, Qt::white);
  FBottomPanel->setFixedHeight(104);
  FProgressBar = new QProgressBar(FBottomPanel);
  FProgressBar->setTextVisible(false);
  FStatusLabel = new TFittedLabel(QString::fromUtf8(Status), FBottomPanel);
  FCloseButton = MakeButton(FBottomPanel, "Kapat", 0, BottomButtonTop, 110, 34);
  NameControls({KELVO_CONTROL(FBottomPanel), KELVO_CONTROL(FProgressBar), KELVO_CONTROL(FStatusLabel),
                KELVO_CONTROL(FCloseButton)});
  Root->addWidget(FBottomPanel);
  PlaceBottomControls();
}

void TCloudTransferForm::OnClick(QPushButton* Button, std::function<void()> Handler) {
  connect(Button, &QPushButton::clicked, this,
          [this, Handler = std::move(Handler)] { RunHandler(*FDialogs, this, Handler); });
}

void TCloudTransferForm::PlaceBottomControls() {
  const int W = width();
  FProgressBar->setGeometry(20, 10, W - 60, 18);
  FStatusLabel->setGeometry(20, 34, W - 60, 20);
  FCloseButton->setGeometry(W - 150, BottomButtonTop, 110, 34);
}

void TCloudTransferForm::resizeEvent(QResizeEvent* Event) {
  QDialog::resizeEvent(Event);
  if (FBottomPanel) PlaceBottomControls();
}

void TCloudTransferForm::SetStatus(const std::string& Text) { FStatusLabel->setText(QString::fromStdString(Text)); }

void TCloudTransferForm::SetStatusNow(const std::string& Text) {
  SetStatus(Text);
  FStatusLabel->repaint();
}

void TCloudTransferForm::LoadPlans(bool FolderPlans, const std::function<std::string(const TBackupPlan&)>& Caption) {
  FPlans.clear();
  for (const TBackupPlan& Plan : LoadAvailablePlans(TAppConfig::Instance().GetConfigDir()))
    if (IsFolderPlan(Plan) == FolderPlans) FPlans.push_back(Plan);
  const QSignalBlocker Quiet(FPlanCombo);
  FPlanCombo->clear();
  for (const TBackupPlan& Plan : FPlans) FPlanCombo->addItem(QString::fromStdString(Caption(Plan)));
  if (!FPlans.empty()) FPlanCombo->setCurrentIndex(0);
}

int TCloudTransferForm::SelectedPlanIndex() const {
  const int I = FPlanCombo->currentIndex();
  return I >= 0 && I < static_cast<int>(FPlans.size()) ? I : -1;
}

std::string TCloudTransferForm::FormatFileSize(int64_t Size) { return kelvo::FormatFileSize(Size); }

std::string TCloudTransferForm::FormatModifiedTime(TDateTime Value) {
  if (Value == 0) return "-";
  std::string Separator = ":";
  const std::string TimeFormat = platform::GetRegionalSettings().LongTimeFormat;
  const size_t Hour = TimeFormat.find("%H");
  if (Hour != std::string::npos && Hour + 2 < TimeFormat.size() && TimeFormat[Hour + 2] != '%')
    Separator = TimeFormat.substr(Hour + 2, 1);
  const TDateTimeParts T = DecodeDateTime(Value);
  return Two(T.Day) + "." + Two(T.Month) + "." + std::to_string(T.Year) + " " + Two(T.Hour) + Separator + Two(T.Minute);
}

void TCloudTransferForm::DownloadProgress(int64_t, int64_t) {}

void TCloudTransferForm::JobProgress(const TCloudJobProgress& Progress) {
  if (!Progress.Status.empty() && FStatusLabel->text().toStdString() != Progress.Status) SetStatus(Progress.Status);
  DownloadProgress(Progress.FileBytes, Progress.FileTotal);
}

void TCloudTransferForm::RequestCancel() {
  FCancelRequested = true;
  if (FCancel) FCancel->Cancel();
}

bool TCloudTransferForm::FetchCloudCatalogue(std::string& Message) {
  TBusyScope Busy(*this);
  TWaitCursor Wait;
  SetStatusNow("Bulut geri yukleme bilgileri indiriliyor...");
  bool Ok = false;
  TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
  RunService(Service, [&] { Ok = Service.DownloadAccountRestoreData(Message); });
  return Ok;
}

bool TCloudTransferForm::FetchPlanFiles(const TBackupPlan& Plan, std::string& Message) {
  TWaitCursor Wait;
  SetStatusNow("Bulut dosyalari okunuyor...");
  bool Ok = false;
  TCloudBackupService Service(TAppConfig::Instance().GetMSSQLBackupConfig());
  std::vector<TDriveFileInfo> Files;
  RunService(Service, [&] { Ok = Service.ListPlanDriveBackups(Plan, Files, Message); });
  FFiles = Ok ? std::move(Files) : std::vector<TDriveFileInfo>{};
  return Ok;
}

void TCloudTransferForm::RunService(TCloudBackupService& Service, const std::function<void()>& Work) {
  auto Cancel = std::make_shared<TCancelToken>();
  Service.SetCancelToken(Cancel);
  RunInBackground([&](const TCloudJobProgressHandler&) { Work(); }, Cancel);
}

const TCloudJobSummary& TCloudTransferForm::RunJob(TCloudJob& Job) {
  RunInBackground([&](const TCloudJobProgressHandler& Progress) { Job.Run(Progress); }, Job.Cancel());
  return Job.Summary();
}

void TCloudTransferForm::RunInBackground(const std::function<void(const TCloudJobProgressHandler&)>& Work,
                                         std::shared_ptr<TCancelToken> Cancel) {
  FCancel = std::move(Cancel);
  // A close asked for before the work started (a close while the window was opening) holds.
  if (FCancel && FCloseWhenIdle) FCancel->Cancel();
  struct TForget {
    std::shared_ptr<TCancelToken>& Token;
    ~TForget() { Token.reset(); }
  } Forget{FCancel};
  // Before the window is shown (the catalogue fetch while it opens) no modality guards the other
  // windows yet: their clicks wait until the work is done.
  RunOffGuiThread(
      Work, [this](const TCloudJobProgress& Progress) { JobProgress(Progress); }, isVisible());
}

TCloudTransferForm::TBusyScope::TBusyScope(TCloudTransferForm& Form, std::function<void()> Refresh)
    : FForm(Form), FRefresh(std::move(Refresh)) {
  FForm.FBusy = true;
  FForm.UpdateButtons();
}

TCloudTransferForm::TBusyScope::~TBusyScope() {
  FForm.FBusy = false;
  if (FRefresh)
    FRefresh();
  else
    FForm.UpdateButtons();
  // A close asked for while busy happens now that the work has ended (after the caller has
  // written its summary).
  if (FForm.FCloseWhenIdle)
    QTimer::singleShot(0, &FForm, [Form = &FForm] {
      if (!Form->FBusy) Form->done(mrCancel);
    });
}

void TCloudTransferForm::reject() {
  if (FBusy) {
    FCloseWhenIdle = true;
    RequestCancel();
    return;
  }
  done(mrCancel);
}

void TCloudTransferForm::closeEvent(QCloseEvent* Event) {
  if (FBusy) {
    FCloseWhenIdle = true;
    RequestCancel();
    Event->ignore();
    return;
  }
  QDialog::closeEvent(Event);
}

}  // namespace kelvo
