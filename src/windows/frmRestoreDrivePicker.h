#pragma once
// The cloud backup download window: pick a SQL Server or Firebird plan, list its backups in the
// account's Drive folder and download some or all of them into a local folder. The queue window
// takes the downloaded files when the window closes with result OK.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "windows/CloudTransferForm.h"

class QLabel;
class QPushButton;

namespace kelvo {

class TRestoreDrivePickerForm : public TCloudTransferForm {
 public:
  // Raises what reading the plan files raises.
  explicit TRestoreDrivePickerForm(QWidget* Owner = nullptr, std::shared_ptr<IDialogs> Dialogs = nullptr);
  ~TRestoreDrivePickerForm() override;

  void FillPlanCombo();
  void SyncCloudCatalogue(bool ShowDialog);
  void FillFileList();
  void UpdateButtons() override;
  // The bar shows the bytes of the file being downloaded.
  void DownloadProgress(int64_t BytesSent, int64_t TotalBytes) override;
  void ListBackups();
  void DownloadFiles(bool SelectedOnly);

  // Every file downloaded while the window was open, in order; the queue window takes them.
  std::vector<std::string> FDownloadedFiles;

 protected:
  // Escape does nothing while work runs; otherwise it closes like "Kapat", handing over what was
  // downloaded.
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  void BuildLayout();
  void CloseButtonClick();

  QFrame* FHeaderPanel = nullptr;
  QLabel* FTitleLabel = nullptr;
  QLabel* FPlanLabel = nullptr;
  QPushButton* FListButton = nullptr;
  QPushButton* FSyncButton = nullptr;
  QPushButton* FDownloadButton = nullptr;
  QPushButton* FDownloadAllButton = nullptr;
  QPushButton* FCancelButton = nullptr;
};

}  // namespace kelvo
