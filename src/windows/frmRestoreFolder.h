#pragma once
// The folder restore window: pick a folder plan, list its files in the account's Drive folder and
// download every one of them to the same relative path below a target folder.
#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/uBackupPlans.h"
#include "drive/uGoogleDrive.h"
#include "windows/Dialogs.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace kelvo {

class TRestoreFolderForm : public QDialog {
 public:
  // Raises what reading the plan files raises.
  explicit TRestoreFolderForm(QWidget* Owner = nullptr, std::shared_ptr<IDialogs> Dialogs = nullptr);
  ~TRestoreFolderForm() override;

  void FillPlanCombo();
  void SyncCloudCatalogue();
  void PlanChanged();
  int SelectedPlanIndex() const;
  static std::string FormatFileSize(int64_t Size);
  void FillFileList();
  void UpdateButtons();
  void DownloadProgress(int64_t BytesSent, int64_t TotalBytes);
  void ListFolderFiles();
  void RestoreFiles();

  // While a restore runs, closing only asks it to stop after the current file.
  void reject() override;

  std::vector<TBackupPlan> FPlans;
  std::vector<TDriveFileInfo> FFiles;
  bool FCancelRequested = false;
  bool FBusy = false;

  QFrame* FTopPanel = nullptr;
  QLabel* FPlanLabel = nullptr;
  QComboBox* FPlanCombo = nullptr;
  QPushButton* FListButton = nullptr;
  QLabel* FTargetLabel = nullptr;
  QLineEdit* FTargetEdit = nullptr;
  QPushButton* FBrowseButton = nullptr;
  QCheckBox* FOverwriteCheck = nullptr;
  QTreeWidget* FListView = nullptr;
  QFrame* FBottomPanel = nullptr;
  QProgressBar* FProgressBar = nullptr;
  QLabel* FStatusLabel = nullptr;
  QPushButton* FRestoreButton = nullptr;
  QPushButton* FCancelButton = nullptr;
  QPushButton* FCloseButton = nullptr;

 protected:
  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void BuildLayout();
  void PlaceBottomControls();
  void SetStatusNow(const std::string& Text);
  void BrowseButtonClick();

  std::shared_ptr<IDialogs> FDialogs;
};

}  // namespace kelvo
