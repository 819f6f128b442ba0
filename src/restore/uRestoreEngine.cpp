#include "restore/uRestoreEngine.h"

#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"

namespace kelvo {

TRestoreEngine::TRestoreEngine(const TSqlRestoreConnection& Connection) : FConnection(Connection) {}

TBackupFileKind TRestoreEngine::DetectFileKind(const std::string& FilePath) {
  // Paths may come from Windows machines: "\" and a drive's ":" end a folder name as "/" does.
  const size_t NameStart = [&] {
    const size_t Sep = FilePath.find_last_of("/\\:");
    return Sep == std::string::npos ? 0 : Sep + 1;
  }();
  const size_t Dot = FilePath.rfind('.');
  if (Dot == std::string::npos || Dot < NameStart) return bfkUnknown;
  const std::string Ext = AsciiLower(std::string_view(FilePath).substr(Dot));
  if (Ext == ".bak" || Ext == ".bkf") return bfkSqlBak;
  if (Ext == ".rar") return bfkRar;
  if (Ext == ".fbk" || Ext == ".gbk") return bfkFirebird;
  return bfkUnknown;
}

nlohmann::ordered_json TRestoreEngine::BuildSqlConnectionConfig() const {
  nlohmann::ordered_json Config = nlohmann::ordered_json::object();
  Config["server"] = FConnection.Server;
  Config["port"] = FConnection.Port;
  Config["userName"] = FConnection.UserName;
  Config["password"] = FConnection.Password;
  return Config;
}

nlohmann::ordered_json TRestoreEngine::BuildFirebirdConnectionConfig() {
  // Read at each call, so an edited config.ini takes effect with the next restore.
  const TFirebirdBackupConfig Settings = TAppConfig::Instance().GetFirebirdBackupConfig();
  nlohmann::ordered_json Config = nlohmann::ordered_json::object();
  Config["server"] = Settings.Server;
  Config["port"] = Settings.Port;
  Config["userName"] = Settings.UserName;
  Config["password"] = Settings.Password;
  Config["gbackPath"] = Settings.GBackPath;
  Config["backupOutputDir"] = Settings.BackupOutputDir;
  return Config;
}

bool TRestoreEngine::TestConnection(std::string& ResultMessage) {
  ResultMessage.clear();
  nlohmann::ordered_json Payload = nlohmann::ordered_json::object();
  const std::string Script = GetSqlScriptPath();
  nlohmann::ordered_json Result;
  return RunRestoreScript(Script, BuildSqlConnectionConfig(), "test", std::move(Payload), Result, ResultMessage);
}

bool TRestoreEngine::RestoreSqlBackup(const std::string& BackupFilePath, const std::string& TargetDatabaseName,
                                      bool RestoreToOriginal, bool OverwriteExisting, std::string& ResultMessage) {
  ResultMessage.clear();
  nlohmann::ordered_json Payload = nlohmann::ordered_json::object();
  Payload["backupFilePath"] = BackupFilePath;
  Payload["targetDatabaseName"] = TargetDatabaseName;
  Payload["restoreToOriginal"] = RestoreToOriginal;
  Payload["overwriteExisting"] = OverwriteExisting;
  const std::string Script = GetSqlScriptPath();
  nlohmann::ordered_json Result;
  const bool Ok =
      RunRestoreScript(Script, BuildSqlConnectionConfig(), "restore", std::move(Payload), Result, ResultMessage);
  if (Ok)
    LogInfoFmt("SQL geri yukleme tamamlandi: %s", BackupFilePath);
  else
    LogWarnFmt("SQL geri yukleme basarisiz (%s): %s", BackupFilePath, ResultMessage);
  return Ok;
}

bool TRestoreEngine::RestoreFirebirdBackup(const std::string& BackupFilePath, const std::string& TargetDatabasePath,
                                           bool OverwriteExisting, std::string& ResultMessage) {
  ResultMessage.clear();
  nlohmann::ordered_json Payload = nlohmann::ordered_json::object();
  Payload["backupFilePath"] = BackupFilePath;
  Payload["targetDatabasePath"] = TargetDatabasePath;
  Payload["overwriteExisting"] = OverwriteExisting;
  const std::string Script = GetFirebirdScriptPath();
  nlohmann::ordered_json Result;
  const bool Ok =
      RunRestoreScript(Script, BuildFirebirdConnectionConfig(), "restore", std::move(Payload), Result, ResultMessage);
  if (Ok)
    LogInfoFmt("Firebird geri yukleme tamamlandi: %s", BackupFilePath);
  else
    LogWarnFmt("Firebird geri yukleme basarisiz (%s): %s", BackupFilePath, ResultMessage);
  return Ok;
}

}  // namespace kelvo
