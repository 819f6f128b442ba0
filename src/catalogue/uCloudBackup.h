#pragma once
// The cloud side of restoring for the signed-in account: the account's catalogue (plan list and
// restore information of folder "restoremeta") fetched into the local restore cache, a plan's
// backup files listed in its Drive folder, and one Drive file downloaded to a local path. The
// windows create one service per operation; every public operation catches, logs and returns its
// errors.
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "catalogue/uBackupPlans.h"
#include "core/CancelToken.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "drive/uGoogleDrive.h"

namespace kelvo {

class TCloudBackupService {
 public:
  // Client ID and secret from the active account when it has its own, else from the settings;
  // tokens loaded from the local token cache.
  explicit TCloudBackupService(const TMSSQLBackupConfig& Config);
  virtual ~TCloudBackupService();
  TCloudBackupService(const TCloudBackupService&) = delete;
  TCloudBackupService& operator=(const TCloudBackupService&) = delete;

  // Stores the account's "plans.json" and "*restoreinfo.json" files in the restore cache.
  bool DownloadAccountRestoreData(std::string& ResultMessage);
  // The plan's backup files (every file of the tree for folder plans), newest first.
  bool ListPlanDriveBackups(const TBackupPlan& Plan, std::vector<TDriveFileInfo>& Files, std::string& ResultMessage);
  bool DownloadDriveBackupFile(const TDriveFileInfo& FileInfo, const std::string& DestPath, std::string& ResultMessage);
  // Every Drive request of this service ends (with a false result) once Token is cancelled.
  void SetCancelToken(std::shared_ptr<const TCancelToken> Token);

  TMSSQLBackupConfig FConfig;
  TFirebirdBackupConfig FFirebirdConfig;
  TAppConfig* FAppConfig = nullptr;
  std::unique_ptr<TGoogleAuth> FGoogleAuth;
  std::unique_ptr<TGoogleDrive> FGoogleDrive;
  TUploadProgress FOnUploadProgress;
  TUploadProgress FOnDownloadProgress;
  nlohmann::ordered_json FLastScriptData = nlohmann::ordered_json::object();

 private:
  void EnsureGoogleToken();
  std::string GetAccountFolderID();
  std::string GetPlanFolderID(const TBackupPlan& Plan);
  std::string GetRestoreMetaFolderID();
  static bool IsBackupFileName(const TDriveFileInfo& Entry);
  static bool IsPlanBackupFile(const TBackupPlan& Plan, const TDriveFileInfo& Entry);
  void CollectPlanBackups(const TBackupPlan& Plan, const std::string& FolderID, std::vector<TDriveFileInfo>& Files);
  void ListFolderFilesRecursive(const std::string& FolderID, const std::string& RelativePrefix,
                                std::vector<TDriveFileInfo>& Files, int Depth = 0);
};

}  // namespace kelvo
