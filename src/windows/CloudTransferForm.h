#pragma once
// What the two cloud windows share: the plan box, the file list, the white bottom panel with its
// progress bar, status line and "Kapat" button on the right, the busy state during which a cancel
// ends the running transfer at once (closing cancels and then closes), and the way cloud work
// runs: on a thread of its own while this window's event loop keeps running, so the window
// repaints, its buttons answer and the job's progress reaches the window however slow the network
// is.
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/uBackupPlans.h"
#include "catalogue/uCloudJobs.h"
#include "core/CancelToken.h"
#include "core/DateTimes.h"
#include "drive/uGoogleDrive.h"
#include "windows/Dialogs.h"

class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;

namespace kelvo {

// Modal results of the cloud windows.
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

class TCloudBackupService;

class TCloudTransferForm : public QDialog {
 public:
  ~TCloudTransferForm() override;

  int SelectedPlanIndex() const;
  // "1023 B", "1,0 KB", "1,5 MB", "1,0 GB" with the regional decimal separator.
  static std::string FormatFileSize(int64_t Size);
  // "dd.MM.yyyy hh:nn" with the regional time separator, "-" for zero.
  static std::string FormatModifiedTime(TDateTime Value);
  virtual void UpdateButtons() = 0;
  // Bytes of the file being downloaded, on this window's thread while the download runs. The
  // event loop keeps running on its own, so there is nothing to do unless a window shows bytes.
  virtual void DownloadProgress(int64_t BytesSent, int64_t TotalBytes);
  // A running job's progress, on this window's thread (the latest report, a few times a second):
  // the status line, then DownloadProgress with the file's bytes.
  virtual void JobProgress(const TCloudJobProgress& Progress);

  // Ends the running work: the transfer under way stops at once and its temporary file goes.
  void RequestCancel();
  // Closing while work runs cancels it and closes the window when it has ended.
  void reject() override;

  std::vector<TBackupPlan> FPlans;
  std::vector<TDriveFileInfo> FFiles;
  bool FCancelRequested = false;
  bool FBusy = false;

 protected:
  TCloudTransferForm(QWidget* Owner, std::shared_ptr<IDialogs> Dialogs);

  // The controls both windows have; the plan box is the window's own to place. Each carries its
  // member's name.
  QComboBox* FPlanCombo = nullptr;
  QTreeWidget* FListView = nullptr;
  QFrame* FBottomPanel = nullptr;
  QProgressBar* FProgressBar = nullptr;
  QLabel* FStatusLabel = nullptr;
  QPushButton* FCloseButton = nullptr;

  void closeEvent(QCloseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

  // Title, size, colours and font of a cloud window; returns the window's column layout.
  QVBoxLayout* SetUpWindow(const char* Title, int Width, int Height);
  // The file list below the top panel, with its headers and column widths.
  void AddFileList(QVBoxLayout* Root, const QStringList& Headers, const std::vector<int>& Widths, bool MultiSelect);
  // The bottom panel with bar, status line and "Kapat"; the caller adds its own buttons to it.
  void AddBottomPanel(QVBoxLayout* Root, const char* Status);
  // Where the buttons of the bottom panel stand, below the progress bar and the status line.
  static constexpr int BottomButtonTop = 58;
  // Runs Handler on a click, with errors shown through the dialogs.
  void OnClick(QPushButton* Button, std::function<void()> Handler);
  void SetStatus(const std::string& Text);
  void SetStatusNow(const std::string& Text);
  // The available plans of one kind into FPlans and their captions into the plan box.
  void LoadPlans(bool FolderPlans, const std::function<std::string(const TBackupPlan&)>& Caption);

  // The account's catalogue (plan list and restore information) into the local cache, the window
  // busy meanwhile; false with the service's message.
  bool FetchCloudCatalogue(std::string& Message);
  // The plan's files in the cloud into FFiles (emptied on failure); false with the service's
  // message. The caller keeps the window busy and refills the list.
  bool FetchPlanFiles(const TBackupPlan& Plan, std::string& Message);

  // Runs Work away from this window's thread and returns when it has ended, passing on what it
  // raised. What Work reports through the handler it is given reaches JobProgress on this thread.
  // Cancel (may be null) is what RequestCancel cancels meanwhile.
  void RunInBackground(const std::function<void(const TCloudJobProgressHandler&)>& Work,
                       std::shared_ptr<TCancelToken> Cancel);
  // Runs the job in the background; its summary.
  const TCloudJobSummary& RunJob(TCloudJob& Job);
  // Runs a service operation in the background, cancellable like a job.
  void RunService(TCloudBackupService& Service, const std::function<void()>& Work);

  // FBusy for the length of a scope; UpdateButtons (or the given refresh) at its end.
  class TBusyScope {
   public:
    explicit TBusyScope(TCloudTransferForm& Form, std::function<void()> Refresh = {});
    ~TBusyScope();
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;

   private:
    TCloudTransferForm& FForm;
    std::function<void()> FRefresh;
  };

  std::shared_ptr<IDialogs> FDialogs;

 private:
  void PlaceBottomControls();

  std::shared_ptr<TCancelToken> FCancel;  // of the work running now
  bool FCloseWhenIdle = false;
};

}  // namespace kelvo
