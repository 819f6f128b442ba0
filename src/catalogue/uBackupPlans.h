#pragma once
// Backup plans of the product's backup side, as this program reads them: the local plan file
// "backupplans.json" (protected in place), the cloud plan list "plans.json" cached in the restore
// cache folder, the merged list the cloud windows offer, and the texts, database lists and backup
// file prefixes derived from a plan. Plan values (folders, database paths) are Windows paths written
// on Windows machines; their components are taken with "\" and "/" as separators (and, for the
// last component, after a drive colon, as Windows does).
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/DateTimes.h"

namespace kelvo {

struct TBackupPlan {
  std::string ID;
  std::string Name;
  std::string Description;
  bool Enabled = false;
  std::string BackupType;
  std::string DatabaseName;
  std::string SourceFolder;
  std::string TempDirectory;
  std::string DriveSubFolder;
  bool AutoRun = false;
  std::string ScheduleType;
  std::string ScheduleTime;
  std::string WeeklyDays;
  int32_t IntervalMinutes = 0;
  bool RunOnServiceStart = false;
  bool UseCompression = false;
  bool UseRarEncryption = false;
  std::string RarPassword;
  std::string ReportEmailAddresses;
  bool DeleteLocalAfterUpload = false;
  int32_t LocalBackupRetentionDays = 0;
  int32_t UploadRetryCount = 0;
  bool CleanupFailedFiles = false;
  int32_t FailedFileRetentionHours = 0;
  bool EnableDifferential = false;
  int32_t FullBackupIntervalMinutes = 0;
  TDateTime LastFullBackupAt = 0;
  TDateTime LastRunAt = 0;
  std::string LastStatus;
  std::string LastMessage;
  std::string LastBackupFile;

  bool operator==(const TBackupPlan&) const = default;
};

// Reader of the local plan file "backupplans.json" of a configuration folder.
class TBackupPlanStore {
 public:
  explicit TBackupPlanStore(const std::string& ConfigDir);

  // Plans of the local plan file, in file order; empty when the file is missing, empty, not a JSON
  // array or protected on another computer (then renamed to "<file>.corrupt"). A plain file is
  // rewritten in protected form first. Raises on an array element that is not an object, on a
  // protected RAR password that does not decode, and on file read/write and protection failures.
  std::vector<TBackupPlan> LoadPlans();

  // Steps after decoding: the plans of a plain plan-file text (empty when it is not a JSON array).
  // Raises like LoadPlans for elements that are not objects and undecodable RAR passwords.
  std::vector<TBackupPlan> ReadPlanList(const std::string& PlainText) const;

  const std::string& GetFilePath() const { return FFilePath; }

 private:
  TBackupPlan ReadPlan(const nlohmann::ordered_json& Object) const;
  std::string ReadLegacyDatabaseName() const;

  std::string FFilePath;
};

// "yyyy-mm-dd hh:nn:ss", the same with "T" between date and time, or the regional date and time.
// False and zero otherwise.
bool TryParsePlanDateTime(const std::string& Text, TDateTime& Value);

// True and the plans when Text is a JSON array (elements that are not objects give empty plans);
// false and no plans when it is not, or when a plan holds an object or array in a scalar field.
bool ParseCloudPlanList(const std::string& Text, std::vector<TBackupPlan>& Plans);
// Stores Text as "plans.json" in the restore cache folder of BaseFolder (UTF-8 with a byte-order
// mark, replaced atomically). Raises EFileError when the folder or file cannot be written.
void SaveCloudPlanList(const std::string& BaseFolder, const std::string& Text);
// Plans of the cached "plans.json"; empty when it is missing or unusable.
std::vector<TBackupPlan> LoadCloudPlanList(const std::string& BaseFolder);
// Local plans first, then the cloud plans whose ID (trimmed, ASCII case ignored) is not taken yet.
// Raises what LoadPlans raises.
std::vector<TBackupPlan> LoadAvailablePlans(const std::string& BaseFolder);

// "folder", "firebird" or, for anything else, "sql".
std::string NormalizeBackupType(const std::string& BackupType);
bool IsFolderPlan(const TBackupPlan& Plan);
bool IsFirebirdPlan(const TBackupPlan& Plan);
// "Klasor", "Firebird" or "SQL".
std::string BackupTypeLabel(const TBackupPlan& Plan);
// The source folder (folder plans) or the database names joined with ", ".
std::string PlanSourceText(const TBackupPlan& Plan);
// Short name of what the plan backs up; the plan's name when nothing else is known.
std::string PlanDisplayName(const TBackupPlan& Plan);
// Firebird plan whose database path is a folder on this computer.
bool IsFirebirdFolderPlan(const TBackupPlan& Plan);
// Firebird database files of the plan: the .fdb/.gdb/.ib files of its folder, or its one path.
std::vector<std::string> ListFirebirdDatabases(const TBackupPlan& Plan);
// Database names separated by ";" or line breaks, trimmed, empty ones dropped.
std::vector<std::string> SplitDatabaseNames(const TBackupPlan& Plan);
// The start of the plan's backup file names: the display name made file-safe, then "_".
std::string PlanFilePrefix(const TBackupPlan& Plan);

}  // namespace kelvo
