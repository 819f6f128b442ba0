#pragma once
// The two long cloud runs of restoring, as jobs without widgets: downloading chosen backups of a
// plan into a folder, and restoring a folder plan's files below a target folder. A job takes its
// inputs and a cancellation token, reports progress through one callback (bytes of the file and of
// the run, file n of N, a status line) and ends with one summary: an outcome per file (done,
// skipped or failed with a Turkish reason) and whether the run was stopped. Nothing is written in
// place of a file unless its content arrived whole and matched Drive's size and MD5.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/CancelToken.h"
#include "drive/uGoogleDrive.h"

namespace kelvo {

class TCloudBackupService;

enum class TFileOutcomeKind { Done, Skipped, Failed };

struct TFileOutcome {
  std::string Name;       // the Drive name, or the relative path of a folder restore
  std::string LocalPath;  // where the file now lies (done only)
  TFileOutcomeKind Kind = TFileOutcomeKind::Failed;
  std::string Reason;  // why it was skipped or failed
};

struct TCloudJobProgress {
  int Index = 0;  // 1-based number of the file under way
  int Count = 0;
  std::string Status;  // the line the window shows
  int64_t FileBytes = 0;
  int64_t FileTotal = 0;  // 0 when unknown
  int64_t RunBytes = 0;
  int64_t RunTotal = 0;
};

struct TCloudJobSummary {
  std::vector<TFileOutcome> Files;  // in the order they were handled; files never reached are absent
  int Done = 0;
  int Skipped = 0;
  int Failed = 0;
  bool Stopped = false;  // the token was cancelled before the run ended
};

using TCloudJobProgressHandler = std::function<void(const TCloudJobProgress&)>;

class TCloudJob {
 public:
  virtual ~TCloudJob();
  TCloudJob(const TCloudJob&) = delete;
  TCloudJob& operator=(const TCloudJob&) = delete;

  // Runs the job once, on any thread; OnProgress is called on that thread. Later calls return the
  // same summary without running again.
  const TCloudJobSummary& Run(const TCloudJobProgressHandler& OnProgress);
  const TCloudJobSummary& Summary() const { return FSummary; }
  const std::shared_ptr<TCancelToken>& Cancel() const { return FCancel; }

 protected:
  // The service is created here, on the caller's thread; the Drive work runs in Run.
  TCloudJob(std::vector<TDriveFileInfo> Files, std::string Folder);

  // Handles one file; raises for a failure (its message is the reason) and EOperationCancelled.
  virtual TFileOutcome Handle(const TDriveFileInfo& File, const platform::TFolder& Root) = 0;
  virtual std::string StatusLine(int Index, int Count, const TDriveFileInfo& File) const = 0;
  // The name shown for a file in outcomes.
  virtual std::string DisplayName(const TDriveFileInfo& File) const { return File.Name; }
  // The log line of a failed file: a template with the name and the reason.
  virtual const char* FailureLogTemplate() const = 0;

  // Downloads File into a checked temporary file in Folder, reporting its bytes.
  platform::TTempFile Fetch(const TDriveFileInfo& File, const platform::TFolder& Folder, const std::string& Stem);

  std::string FFolder;

 private:
  void Report();

  std::vector<TDriveFileInfo> FFiles;
  std::shared_ptr<TCancelToken> FCancel = std::make_shared<TCancelToken>();
  std::unique_ptr<TCloudBackupService> FService;
  TCloudJobSummary FSummary;
  bool FRan = false;
  TCloudJobProgress FProgress;
  const TCloudJobProgressHandler* FOnProgress = nullptr;
  int64_t FRunDoneBytes = 0;
};

// A plan's chosen backups into Folder: each under its Drive name, or, when that name is taken,
// under the name with the local time stamp before its extension (see TimeStampedName). Nothing
// that is there already is replaced.
class TPlanDownloadJob : public TCloudJob {
 public:
  TPlanDownloadJob(std::vector<TDriveFileInfo> Files, std::string Folder);

 protected:
  TFileOutcome Handle(const TDriveFileInfo& File, const platform::TFolder& Root) override;
  std::string StatusLine(int Index, int Count, const TDriveFileInfo& File) const override;
  const char* FailureLogTemplate() const override { return "Drive yedek indirme hatasi: %s | %s"; }
};

// A folder plan's files below Target at their relative paths, without following a link anywhere
// below Target. Of several files with one relative path the first (the listing is newest first)
// is restored and the others are skipped. An existing file is replaced only with Overwrite, and
// only by a complete, checked one.
class TFolderRestoreJob : public TCloudJob {
 public:
  TFolderRestoreJob(std::vector<TDriveFileInfo> Files, std::string Target, bool Overwrite);

 protected:
  TFileOutcome Handle(const TDriveFileInfo& File, const platform::TFolder& Root) override;
  std::string StatusLine(int Index, int Count, const TDriveFileInfo& File) const override;
  std::string DisplayName(const TDriveFileInfo& File) const override;
  const char* FailureLogTemplate() const override { return "Klasor geri yukleme indirme hatasi: %s | %s"; }

 private:
  bool FOverwrite;
  std::set<std::string> FSeen;  // relative paths handled so far, separators as "/"
};

// The relative path of a listed file: RelativePath, or Name when that is blank.
std::string RelativePathOf(const TDriveFileInfo& File);
// "<stem>_<yyyymmdd_hhnnss><ext>" of Name at the local time Stamp; with N > 1 "_<N>" follows the
// time (two Drive files of one name within a second must not overwrite each other).
std::string TimeStampedName(const std::string& Name, TDateTime Stamp, int N = 1);

}  // namespace kelvo
