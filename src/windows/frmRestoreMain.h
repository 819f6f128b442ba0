#pragma once
// The program's main window: the restore queue, the SQL Server connection, the run options, and the
// worker thread that restores the queued backups one after another.
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "restore/uRestoreEngine.h"
#include "windows/Dialogs.h"

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kelvo {

enum TRestoreItemStatus : uint8_t { risPending, risRunning, risSuccess, risError, risCancelled };

struct TRestoreItem {
  std::string FilePath;
  std::string DatabaseName;
  std::string TargetDatabasePath;
  TBackupFileKind Kind = bfkUnknown;
  TRestoreItemStatus Status = risPending;
  std::string Message;
};

class TRestoreMainForm;

// Walks the queue once on its own thread, which starts when the worker is constructed. It never
// touches a control: every change reaches the window through queued calls on the window's thread,
// the last one being RestoreFinished.
class TRestoreWorker {
 public:
  TRestoreWorker(TRestoreMainForm* AForm, const TSqlRestoreConnection& AConnection, bool ARestoreToOriginal,
                 bool AOverwriteExisting, const std::string& ARarPassword);
  // Waits for the thread to end.
  ~TRestoreWorker();
  TRestoreWorker(const TRestoreWorker&) = delete;
  TRestoreWorker& operator=(const TRestoreWorker&) = delete;
  void WaitFor();

 private:
  void Execute();
  void QueueItemUpdate(int ItemIndex, TRestoreItemStatus Status, const std::string& MessageText);

  TRestoreMainForm* FForm;
  TSqlRestoreConnection FConnection;
  bool FRestoreToOriginal;
  bool FOverwriteExisting;
  std::string FRarPassword;
  std::thread FThread;  // last: starts after every field is set
};

class TRestoreMainForm : public QWidget {
 public:
  explicit TRestoreMainForm(QWidget* Owner = nullptr, std::shared_ptr<IDialogs> Dialogs = nullptr);
  ~TRestoreMainForm() override;

  // Called on the window's thread through the worker's queued calls.
  void UpdateItemStatus(int ItemIndex, TRestoreItemStatus Status, const std::string& Text);
  void RestoreFinished();

  // Used by the cloud windows to hand downloaded files over.
  void AddFile(const std::string& Path);
  void RefreshList();
  void SetStatus(const std::string& Text);

  // Read-only views for the worker and for tests.
  const std::vector<TRestoreItem>& Items() const { return FItems; }
  // A copy of item Index, taken under the lock that UpdateItemStatus also holds, so the worker's
  // read and the window's later change of the same item are ordered for every observer.
  TRestoreItem ItemSnapshot(size_t Index) const;
  bool StopRequested() const { return FStopRequested.load(); }
  bool Running() const { return FRunning; }
  IDialogs& Dialogs() { return *FDialogs; }

  static std::string KindText(TBackupFileKind Kind);
  static std::string StatusText(TRestoreItemStatus Status);

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  friend class TRestoreWorker;

  void BuildLayout();
  void LoadConnectionFromConfig();
  TSqlRestoreConnection ReadConnection() const;
  std::string ValidateConnection() const;
  void UpdateButtons();
  void PlaceBottomControls();
  void ApplyRowColour(QTreeWidgetItem* Row, TRestoreItemStatus Status) const;

  void TestButtonClick();
  void AddButtonClick();
  void RemoveButtonClick();
  void StartButtonClick();
  void StopButtonClick();
  void ListDoubleClick();

  std::shared_ptr<IDialogs> FDialogs;
  std::vector<TRestoreItem> FItems;
  std::unique_ptr<TRestoreWorker> FWorker;
  std::atomic<bool> FStopRequested{false};
  mutable std::mutex FItemLock;
  bool FRunning = false;

  // Controls, named as the rest of the product refers to them; each carries its member's name.
  QFrame* FHeaderPanel = nullptr;
  QLabel* FTitleLabel = nullptr;
  QLabel* FSubtitleLabel = nullptr;
  QGroupBox* FConnGroup = nullptr;
  QLineEdit* FServerEdit = nullptr;
  QLineEdit* FPortEdit = nullptr;
  QLineEdit* FUserEdit = nullptr;
  QLineEdit* FPasswordEdit = nullptr;
  QPushButton* FTestButton = nullptr;
  QLabel* FConnStatusLabel = nullptr;
  QFrame* FBottomPanel = nullptr;
  QProgressBar* FProgressBar = nullptr;
  QLabel* FStatusLabel = nullptr;
  QPushButton* FStartButton = nullptr;
  QPushButton* FStopButton = nullptr;
  QFrame* FOptionsPanel = nullptr;
  QCheckBox* FOriginalPathsCheck = nullptr;
  QCheckBox* FOverwriteCheck = nullptr;
  QLabel* FRarPassLabel = nullptr;
  QLineEdit* FRarPassEdit = nullptr;
  QFrame* FSidePanel = nullptr;
  QPushButton* FAddButton = nullptr;
  QPushButton* FRemoveButton = nullptr;
  QPushButton* FCloudButton = nullptr;
  QPushButton* FFolderRestoreButton = nullptr;
  QTreeWidget* FListView = nullptr;
};

}  // namespace kelvo
