#include "catalogue/uCloudJobs.h"

#include <optional>

#include "catalogue/uCloudBackup.h"
#include "catalogue/uLocalPathCheck.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"

namespace kelvo {

namespace {

std::string Two(int V) { return (V < 10 ? "0" : "") + std::to_string(V); }

TFileOutcome Outcome(std::string Name, TFileOutcomeKind Kind, std::string Reason, std::string LocalPath = {}) {
  TFileOutcome O;
  O.Name = std::move(Name);
  O.LocalPath = std::move(LocalPath);
  O.Kind = Kind;
  O.Reason = std::move(Reason);
  return O;
}

}  // namespace

std::string RelativePathOf(const TDriveFileInfo& File) {
  return Trim(File.RelativePath).empty() ? File.Name : File.RelativePath;
}

std::string TimeStampedName(const std::string& Name, TDateTime Stamp, int N) {
  const size_t Dot = Name.rfind('.');
  const std::string Ext = Dot == std::string::npos || Dot == 0 ? std::string() : Name.substr(Dot);
  const std::string Stem = Name.substr(0, Name.size() - Ext.size());
  const TDateTimeParts T = DecodeDateTime(Stamp);
  std::string Result = Stem + "_" + std::to_string(T.Year) + Two(T.Month) + Two(T.Day) + "_" + Two(T.Hour) +
                       Two(T.Minute) + Two(T.Second);
  if (N > 1) Result += "_" + std::to_string(N);
  return Result + Ext;
}

// ---- TCloudJob ----

TCloudJob::TCloudJob(std::vector<TDriveFileInfo> Files, std::string Folder)
    : FFolder(std::move(Folder)),
      FFiles(std::move(Files)),
      FService(std::make_unique<TCloudBackupService>(TAppConfig::Instance().GetMSSQLBackupConfig())) {}

TCloudJob::~TCloudJob() = default;

void TCloudJob::Report() {
  if (FOnProgress && *FOnProgress) (*FOnProgress)(FProgress);
}

platform::TTempFile TCloudJob::Fetch(const TDriveFileInfo& File, const platform::TFolder& Folder,
                                     const std::string& Stem) {
  return FService->FGoogleDrive->DownloadToTemp(File, Folder, Stem, [this](int64_t Done, int64_t Total) {
    FProgress.FileBytes = Done;
    if (Total > 0) FProgress.FileTotal = Total;
    FProgress.RunBytes = FRunDoneBytes + Done;
    Report();
  });
}

const TCloudJobSummary& TCloudJob::Run(const TCloudJobProgressHandler& OnProgress) {
  if (FRan) return FSummary;
  FRan = true;
  FOnProgress = &OnProgress;
  FService->SetCancelToken(FCancel);
  FProgress.Count = static_cast<int>(FFiles.size());
  for (const TDriveFileInfo& File : FFiles) FProgress.RunTotal += File.Size;

  std::optional<platform::TFolder> Root;
  std::string RootError;
  try {
    Root = platform::TFolder::Open(FFolder, true);
  } catch (const std::exception& E) {
    RootError = E.what();
  }

  for (size_t I = 0; I < FFiles.size(); ++I) {
    if (FCancel->Cancelled()) {
      FSummary.Stopped = true;
      break;
    }
    const TDriveFileInfo& File = FFiles[I];
    FProgress.Index = static_cast<int>(I) + 1;
    FProgress.Status = StatusLine(FProgress.Index, FProgress.Count, File);
    FProgress.FileBytes = 0;
    FProgress.FileTotal = File.Size;
    FProgress.RunBytes = FRunDoneBytes;
    Report();
    TFileOutcome Result;
    try {
      if (!Root) throw EFileError(RootError);
      Result = Handle(File, *Root);
    } catch (const EOperationCancelled&) {
      FSummary.Stopped = true;
      break;
    } catch (const std::exception& E) {
      Result = Outcome(DisplayName(File), TFileOutcomeKind::Failed, E.what());
    }
    switch (Result.Kind) {
      case TFileOutcomeKind::Done:
        ++FSummary.Done;
        break;
      case TFileOutcomeKind::Skipped:
        ++FSummary.Skipped;
        break;
      case TFileOutcomeKind::Failed:
        ++FSummary.Failed;
        LogWarnFmt(FailureLogTemplate(), Result.Name, Result.Reason);
        break;
    }
    FSummary.Files.push_back(std::move(Result));
    FRunDoneBytes += File.Size;
    FProgress.RunBytes = FRunDoneBytes;
  }
  Report();
  FOnProgress = nullptr;
  return FSummary;
}

// ---- TPlanDownloadJob ----

TPlanDownloadJob::TPlanDownloadJob(std::vector<TDriveFileInfo> Files, std::string Folder)
    : TCloudJob(std::move(Files), std::move(Folder)) {}

std::string TPlanDownloadJob::StatusLine(int Index, int Count, const TDriveFileInfo& File) const {
  return Fmt("Indiriliyor (%d/%d): %s", Index, Count, File.Name);
}

TFileOutcome TPlanDownloadJob::Handle(const TDriveFileInfo& File, const platform::TFolder& Root) {
  if (!IsSafeLocalName(File.Name)) throw EFileError("Gecersiz dosya adi: " + File.Name);
  platform::TTempFile Temp = Fetch(File, Root, File.Name);
  // A name that is taken keeps its file; the time stamp (and a counter) make a free one, and the
  // rename itself refuses a name taken meanwhile.
  const TDateTime Stamp = Now();
  for (int N = 0; N < 1000; ++N) {
    const std::string Name = N == 0 ? File.Name : TimeStampedName(File.Name, Stamp, N);
    if (Temp.Commit(Name, false)) return Outcome(File.Name, TFileOutcomeKind::Done, {}, JoinPath(FFolder, Name));
  }
  throw EFileError("Indirilen dosya icin bos bir ad bulunamadi: " + File.Name);
}

// ---- TFolderRestoreJob ----

TFolderRestoreJob::TFolderRestoreJob(std::vector<TDriveFileInfo> Files, std::string Target, bool Overwrite)
    : TCloudJob(std::move(Files), std::move(Target)), FOverwrite(Overwrite) {}

std::string TFolderRestoreJob::DisplayName(const TDriveFileInfo& File) const { return RelativePathOf(File); }

std::string TFolderRestoreJob::StatusLine(int Index, int Count, const TDriveFileInfo& File) const {
  return Fmt("Geri yukleniyor (%d/%d): %s", Index, Count, RelativePathOf(File));
}

TFileOutcome TFolderRestoreJob::Handle(const TDriveFileInfo& File, const platform::TFolder& Root) {
  const std::string Relative = RelativePathOf(File);
  std::vector<std::string> Parts;
  std::string Message;
  if (!SplitSafeRelativePath(Relative, Parts, Message)) throw EFileError(Message);
  std::string Key;
  for (const std::string& Part : Parts) Key = Key.empty() ? Part : Key + "/" + Part;
  if (!FSeen.insert(Key).second)
    return Outcome(Relative, TFileOutcomeKind::Skipped, "Ayni goreli yolda daha yeni bir dosya var; bu surum atlandi.");

  // Down to the file's folder one level at a time, never through a link.
  platform::TFolder Below;
  for (size_t I = 0; I + 1 < Parts.size(); ++I) {
    platform::TFolder Next = (Below.Valid() ? Below : Root).Child(Parts[I], true);
    Below = std::move(Next);
  }
  const platform::TFolder& Folder = Below.Valid() ? Below : Root;
  const std::string& Name = Parts.back();
  const platform::TEntryKind Existing = Folder.KindOf(Name);
  if (Existing == platform::TEntryKind::Folder) throw EFileError("Hedefte bu adda bir klasor var: " + Key);
  if (Existing != platform::TEntryKind::None && !FOverwrite)
    return Outcome(Relative, TFileOutcomeKind::Skipped, "Dosya zaten var; uzerine yazilmadi.");
  platform::TTempFile Temp = Fetch(File, Folder, Name);
  if (!Temp.Commit(Name, FOverwrite))
    return Outcome(Relative, TFileOutcomeKind::Skipped, "Dosya zaten var; uzerine yazilmadi.");
  return Outcome(Relative, TFileOutcomeKind::Done, {}, JoinPath(FFolder, Key));
}

}  // namespace kelvo
