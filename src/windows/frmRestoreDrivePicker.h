#pragma once
// The cloud backup download window: pick a SQL Server or Firebird plan, list its backups in the
// account's Drive folder and download some or all of them into a local folder. The queue window
// takes the downloaded files when the window closes with result OK.
#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/uBackupPlans.h"
#include "drive/uGoogleDrive.h"
#include "windows/Dialogs.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace kelvo {

// Modal results of the cloud windows.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

class TRestoreDrivePickerForm : public QDialog {
 public:
  // Raises what reading the plan files raises.
  explicit TRestoreDrivePickerForm(QWidget* Owner = nullptr, std::shared_ptr<IDialogs> Dialogs = nullptr);
  ~TRestoreDrivePickerForm() override;

  void FillPlanCombo();
  void SyncCloudCatalogue(bool ShowDialog);
  int SelectedPlanIndex() const;
  // "1023 B", "1,0 KB", "1,5 MB", "1,0 GB" with the regional decimal separator.
  static std::string FormatFileSize(int64_t Size);
  // "dd.MM.yyyy hh:nn" with the regional time separator, "-" for zero.
  static std::string FormatModifiedTime(TDateTime Value);
  void FillFileList();
  void UpdateButtons();
  void DownloadProgress(int64_t BytesSent, int64_t TotalBytes);
  void ListBackups();
  void DownloadFiles(bool SelectedOnly);

  // Closing while a download runs only asks it to stop; it ends after the current file.
  void reject() override;

  std::vector<TBackupPlan> FPlans;
  std::vector<TDriveFileInfo> FFiles;
  std::vector<std::string> FDownloadedFiles;
  bool FCancelRequested = false;
  bool FBusy = false;

  QFrame* FHeaderPanel = nullptr;
  QLabel* FTitleLabel = nullptr;
  QLabel* FPlanLabel = nullptr;
  QComboBox* FPlanCombo = nullptr;
  QPushButton* FListButton = nullptr;
  QPushButton* FSyncButton = nullptr;
  QTreeWidget* FListView = nullptr;
  QFrame* FBottomPanel = nullptr;
  QProgressBar* FProgressBar = nullptr;
  QLabel* FStatusLabel = nullptr;
  QPushButton* FDownloadButton = nullptr;
  QPushButton* FDownloadAllButton = nullptr;
  QPushButton* FCancelButton = nullptr;
  QPushButton* FCloseButton = nullptr;

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void BuildLayout();
  void PlaceBottomControls();
  void SetStatusNow(const std::string& Text);
  void CloseButtonClick();

  std::shared_ptr<IDialogs> FDialogs;
};

// A free name beside an existing file: the stem, "_", the local time as "yyyymmdd_hhnnss" and the
// extension; "_2", "_3"... after the time when that name is taken too (two Drive files of the same
// name within a second must not overwrite each other).
std::string TimeStampedTarget(const std::string& Folder, const std::string& Name);

}  // namespace kelvo
