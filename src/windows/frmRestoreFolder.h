#pragma once
// The folder restore window: pick a folder plan, list its files in the account's Drive folder and
// download every one of them to the same relative path below a target folder.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "windows/CloudTransferForm.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvo {

class TRestoreFolderForm : public TCloudTransferForm {
 public:
  // Raises what reading the plan files raises.
  explicit TRestoreFolderForm(QWidget* Owner = nullptr, std::shared_ptr<IDialogs> Dialogs = nullptr);
  ~TRestoreFolderForm() override;

  void FillPlanCombo();
  void SyncCloudCatalogue();
  void PlanChanged();
  void FillFileList();
  void UpdateButtons() override;
  void ListFolderFiles();
  void RestoreFiles();
  void JobProgress(const TCloudJobProgress& Progress) override;

 private:
  void BuildLayout();
  void BrowseButtonClick();

  QFrame* FTopPanel = nullptr;
  QLabel* FPlanLabel = nullptr;
  QPushButton* FListButton = nullptr;
  QLabel* FTargetLabel = nullptr;
  QLineEdit* FTargetEdit = nullptr;
  QPushButton* FBrowseButton = nullptr;
  QCheckBox* FOverwriteCheck = nullptr;
  QPushButton* FRestoreButton = nullptr;
  QPushButton* FCancelButton = nullptr;
};

}  // namespace kelvo
