#include "catalogue/uCloudBackup.h"

#include <algorithm>
#include <filesystem>

#include "account/uFirebaseActiveAccount.h"
#include "catalogue/uAccountDriveContext.h"
#include "catalogue/uLocalPathCheck.h"
#include "catalogue/uRestoreMetadata.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "platform/Paths.h"

namespace kelvo {

namespace {

// Folder trees deeper than this are not followed: a Drive can hold cycles through shortcuts or a
// hostile tree, and no backup plan writes that deep.
constexpr int MaxFolderDepth = 64;

bool IsFolderEntry(const TDriveFileInfo& Entry) { return Entry.MimeType == DriveFolderMimeType; }

// Removes a temporary download on every path out of the scope.
class TTempFileGuard {
 public:
  explicit TTempFileGuard(std::string Path) : FPath(std::move(Path)) {}
  ~TTempFileGuard() {
    std::error_code Ignored;
    std::filesystem::remove(FPath, Ignored);
  }
  TTempFileGuard(const TTempFileGuard&) = delete;
  TTempFileGuard& operator=(const TTempFileGuard&) = delete;

 private:
  std::string FPath;
};

}  // namespace

TCloudBackupService::TCloudBackupService(const TMSSQLBackupConfig& Config) : FConfig(Config) {
  FAppConfig = &TAppConfig::Instance();
  FFirebirdConfig = FAppConfig->GetFirebirdBackupConfig();
  std::string ClientID = FAppConfig->GetClientID();
  std::string ClientSecret = FAppConfig->GetClientSecret();
  TFirebaseManagedAccount Account;
  std::string Ignored;
  if (GetActiveAccount(Account, Ignored)) {
    if (!Trim(Account.OAuthClientID).empty()) ClientID = Trim(Account.OAuthClientID);
    if (!Trim(Account.OAuthClientSecret).empty()) ClientSecret = Trim(Account.OAuthClientSecret);
  }
  FGoogleAuth = std::make_unique<TGoogleAuth>(ClientID, ClientSecret, FAppConfig->GetAuthPort(), false);
  FGoogleAuth->LoadTokens(FAppConfig->GetGoogleTokenCachePath());
  FGoogleDrive = std::make_unique<TGoogleDrive>(*FGoogleAuth);
}

TCloudBackupService::~TCloudBackupService() = default;

void TCloudBackupService::EnsureGoogleToken() {
  // A refresh token alone is enough: the first use refreshes it.
  if (FGoogleAuth->GetTokenData().AccessToken.empty() && FGoogleAuth->GetTokenData().RefreshToken.empty())
    throw EDriveError("Google yetkilendirme tokeni bulunamadi. Masaustu uygulamadan yeniden yetkilendirme yapin.");
  if (FGoogleAuth->GetValidToken().empty()) {
    if (FGoogleAuth->RefreshRefused()) throw EGoogleLinkError();
    throw EDriveError("Google erisim tokeni yenilenemedi.");
  }
}

std::string TCloudBackupService::GetAccountFolderID() {
  std::string FolderID, Error;
  if (!EnsureAccountDriveFolder(*FGoogleDrive, Trim(FAppConfig->GetRootFolderID()), FolderID, Error))
    throw EDriveError(Error);
  return FolderID;
}

std::string TCloudBackupService::GetPlanFolderID(const TBackupPlan& Plan) {
  const std::string AccountFolder = GetAccountFolderID();
  if (Trim(Plan.DriveSubFolder).empty()) return AccountFolder;
  return FGoogleDrive->EnsureFolderPath(AccountFolder, Plan.DriveSubFolder);
}

std::string TCloudBackupService::GetRestoreMetaFolderID() {
  const std::string FolderID = FGoogleDrive->EnsureFolderPath(GetAccountFolderID(), "restoremeta");
  // Never list without a parent: that would be the whole Drive, other customers' folders included.
  if (FolderID.empty()) throw EDriveError("Drive'da \"restoremeta\" klasoru bulunamadi ve olusturulamadi.");
  return FolderID;
}

void TCloudBackupService::SetCancelToken(std::shared_ptr<const TCancelToken> Token) {
  FGoogleDrive->SetCancelToken(std::move(Token));
}

bool TCloudBackupService::DownloadAccountRestoreData(std::string& ResultMessage) {
  ResultMessage.clear();
  int Stored = 0;
  bool PlanListSeen = false;
  try {
    EnsureGoogleToken();
    const std::string FolderID = GetRestoreMetaFolderID();
    const std::vector<TDriveFileInfo> Entries = FGoogleDrive->ListFolder(FolderID);
    const std::string ConfigDir = FAppConfig->GetConfigDir();
    for (const TDriveFileInfo& Entry : Entries) {
      if (Entry.FileID.empty() || Entry.Name.empty() || IsFolderEntry(Entry)) continue;
      if (!EndsText(Entry.Name, ".json")) continue;
      std::string TempPath, PathError;
      if (!BuildSafeLocalPath(platform::PrivateTempDir(), Entry.Name, TempPath, PathError)) {
        LogWarnFmt("Restore bilgi dosyasi indirilemedi: %s | %s", Entry.Name, PathError);
        continue;
      }
      TTempFileGuard Guard(TempPath);
      std::string Message;
      if (!DownloadDriveBackupFile(Entry, TempPath, Message)) {
        LogWarnFmt("Restore bilgi dosyasi indirilemedi: %s | %s", Entry.Name, Message);
        continue;
      }
      const std::string Text = ReadTextFile(TempPath);
      if (SameText(Entry.Name, "plans.json")) {
        SaveCloudPlanList(ConfigDir, Text);
        PlanListSeen = true;
      } else if (EndsText(Entry.Name, "restoreinfo.json")) {
        TRestoreMetadata Metadata;
        if (ParseRestoreMetadata(Text, Metadata)) {
          SaveRestoreMetadata(ConfigDir, Entry.Name.substr(0, Entry.Name.size() - 16), Metadata);
          ++Stored;
        }
      }
    }
    const bool Result = PlanListSeen || Stored > 0;
    if (!Result)
      ResultMessage =
          "Bulutta restoremeta klasorunde bilgi dosyasi bulunamadi. Bilgiler ilk yedek alindiginda otomatik olusur.";
    else if (PlanListSeen)
      ResultMessage = Fmt("Plan listesi ve %d yedek bilgi dosyasi buluttan alindi.", Stored);
    else
      ResultMessage = Fmt("%d yedek bilgi dosyasi buluttan alindi.", Stored);
    return Result;
  } catch (const std::exception& E) {
    ResultMessage = E.what();
    LogException("Hesap restore bilgisi indirme hatasi", E);
    return false;
  }
}

bool TCloudBackupService::IsBackupFileName(const TDriveFileInfo& Entry) {
  if (Entry.FileID.empty() || Entry.Name.empty() || IsFolderEntry(Entry)) return false;
  const std::string& N = Entry.Name;
  if (EndsText(N, ".failed.bak") || EndsText(N, ".failed.rar") || EndsText(N, ".failed.fbk")) return false;
  return EndsText(N, ".bak") || EndsText(N, ".rar") || EndsText(N, ".fbk");
}

bool TCloudBackupService::IsPlanBackupFile(const TBackupPlan& Plan, const TDriveFileInfo& Entry) {
  if (!IsBackupFileName(Entry) || IsFolderPlan(Plan)) return false;
  auto Matches = [&](const std::string& DatabaseName) {
    TBackupPlan Copy = Plan;
    Copy.DatabaseName = DatabaseName;
    return StartsText(Entry.Name, PlanFilePrefix(Copy));
  };
  if (IsFirebirdFolderPlan(Plan)) {
    for (const std::string& Path : ListFirebirdDatabases(Plan))
      if (Matches(Path)) return true;
    return false;
  }
  const std::vector<std::string> Names = SplitDatabaseNames(Plan);
  if (Names.size() > 1) {
    for (const std::string& Name : Names)
      if (Matches(Name)) return true;
    return false;
  }
  return StartsText(Entry.Name, PlanFilePrefix(Plan));
}

void TCloudBackupService::CollectPlanBackups(const TBackupPlan& Plan, const std::string& FolderID,
                                             std::vector<TDriveFileInfo>& Files) {
  const std::vector<TDriveFileInfo> Entries = FGoogleDrive->ListFolder(FolderID);
  bool Any = false;
  for (const TDriveFileInfo& Entry : Entries) {
    if (!IsPlanBackupFile(Plan, Entry)) continue;
    Files.push_back(Entry);
    Files.back().RelativePath = Entry.Name;
    Any = true;
  }
  if (Any) return;
  for (const TDriveFileInfo& Entry : Entries) {
    if (!IsBackupFileName(Entry)) continue;
    Files.push_back(Entry);
    Files.back().RelativePath = Entry.Name;
  }
}

void TCloudBackupService::ListFolderFilesRecursive(const std::string& FolderID, const std::string& RelativePrefix,
                                                   std::vector<TDriveFileInfo>& Files, int Depth) {
  if (Depth > MaxFolderDepth) {
    LogWarnFmt("Drive klasor agaci cok derin, atlandi: %s", RelativePrefix);
    return;
  }
  for (const TDriveFileInfo& Entry : FGoogleDrive->ListFolder(FolderID)) {
    if (Entry.FileID.empty() || Entry.Name.empty()) continue;
    const std::string Relative = RelativePrefix.empty() ? Entry.Name : RelativePrefix + "\\" + Entry.Name;
    if (IsFolderEntry(Entry)) {
      ListFolderFilesRecursive(Entry.FileID, Relative, Files, Depth + 1);
    } else {
      Files.push_back(Entry);
      Files.back().RelativePath = Relative;
    }
  }
}

bool TCloudBackupService::ListPlanDriveBackups(const TBackupPlan& Plan, std::vector<TDriveFileInfo>& Files,
                                               std::string& ResultMessage) {
  Files.clear();
  ResultMessage.clear();
  try {
    EnsureGoogleToken();
    const std::string AccountFolder = GetAccountFolderID();
    const std::string PlanFolder = GetPlanFolderID(Plan);
    if (PlanFolder.empty()) {
      ResultMessage = "Drive hedef klasoru bulunamadi.";
      LogWarnFmt("Drive plan dosya listeleme hatasi: %s", ResultMessage);
      return false;
    }
    auto ListIn = [&](const std::string& FolderID) {
      if (IsFolderPlan(Plan))
        ListFolderFilesRecursive(FolderID, "", Files);
      else
        CollectPlanBackups(Plan, FolderID, Files);
    };
    ListIn(PlanFolder);
    bool Fallback = false;
    if (Files.empty() && !Trim(Plan.DriveSubFolder).empty() && !AccountFolder.empty() &&
        !SameText(AccountFolder, PlanFolder)) {
      Fallback = true;
      ListIn(AccountFolder);
    }
    std::stable_sort(Files.begin(), Files.end(), [](const TDriveFileInfo& A, const TDriveFileInfo& B) {
      if (A.ModifiedTime != B.ModifiedTime) return A.ModifiedTime > B.ModifiedTime;
      return AsciiLower(A.Name) < AsciiLower(B.Name);
    });
    if (Files.empty())
      ResultMessage = "Bu plan icin Drive tarafinda yedek dosyasi bulunamadi (.bak/.rar/.fbk).";
    else if (Fallback)
      ResultMessage = "Alt klasorde dosya bulunamadi; root klasordeki yedekler listelendi.";
    return true;
  } catch (const std::exception& E) {
    Files.clear();
    ResultMessage = E.what();
    LogException("Drive plan dosya listeleme hatasi", E);
    return false;
  }
}

bool TCloudBackupService::DownloadDriveBackupFile(const TDriveFileInfo& FileInfo, const std::string& DestPath,
                                                  std::string& ResultMessage) {
  ResultMessage.clear();
  try {
    const std::string FileID = Trim(FileInfo.FileID);
    if (FileID.empty() || Trim(DestPath).empty()) {
      ResultMessage = FileID.empty() ? "Indirilecek Drive dosya ID bos." : "Indirme hedef yolu bos.";
      return false;
    }
    TDriveFileInfo File = FileInfo;
    File.FileID = FileID;
    try {
      FGoogleDrive->DownloadTo(File, DestPath, FOnDownloadProgress);
    } catch (const EOperationCancelled&) {
      throw;
    } catch (const std::exception& E) {
      LogException("Indirme istisna: " + DestPath, E);
      throw EDriveError("Drive dosyasi indirilemedi: " + FileInfo.Name);
    }
    ResultMessage = "Dosya indirildi: " + DestPath;
    return true;
  } catch (const std::exception& E) {
    ResultMessage = E.what();
    LogException("Drive secili dosya indirme hatasi", E);
    return false;
  }
}

}  // namespace kelvo
