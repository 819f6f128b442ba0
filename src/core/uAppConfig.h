#pragma once
// Process-wide configuration: the configuration folder that holds every local file of the product,
// and the settings in its config.ini (shared with the backup side). Every known value is stored in
// protected form; the first construction in a process rewrites plain values accordingly.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kelvo {

struct TMSSQLBackupConfig {
  bool Enabled = false;
  std::string Server;
  std::string UserName;
  std::string Password;
  std::string BackupOutputDir;
};

struct TFirebirdBackupConfig {
  bool Enabled = false;
  std::string Server;
  int32_t Port = 0;
  std::string UserName;
  std::string Password;
  std::string GBackPath;
  std::string BackupOutputDir;
};

// Replacement service addresses from [Endpoints]; empty where not set.
struct TEndpointsConfig {
  std::string FirebaseAuthUrl;
  std::string FirebaseDatabaseUrl;
  std::string GoogleTokenUrl;
  std::string GoogleDriveUrl;
};

// Mode for a file that holds secrets at Path: 0660 in the machine folder, whose group shares it, and
// 0600 (the owner's alone) in any other configuration folder.
uint32_t SecretFileModeFor(const std::string& Path);

class TAppConfig {
 public:
  // The single instance, created on first use.
  static TAppConfig& Instance();
  // Forgets the instance so the next Instance() chooses its folder again (tests only).
  static void ResetInstanceForTests();
  // Lets callers write either Instance().X or Instance()->X.
  TAppConfig* operator->() { return this; }

  std::string GetConfigDir() const { return FConfigDir; }
  std::string GetSettingsPath() const { return FSettingsPath; }
  std::string GetGoogleTokenCachePath() const;

  std::string GetClientID() const;
  std::string GetClientSecret() const;
  std::string GetRootFolderID() const;
  int32_t GetAuthPort() const;
  TMSSQLBackupConfig GetMSSQLBackupConfig() const;
  TFirebirdBackupConfig GetFirebirdBackupConfig() const;
  TEndpointsConfig GetEndpointsConfig() const;
  // [Restore] WorkFolder: where RAR archives are unpacked for the database server; empty when not set
  // (the restore side then takes its default).
  std::string GetRestoreWorkFolder() const;
  // [Restore] WorkFolderReaders: the users (comma-separated names) the database services run as, who
  // may read what is unpacked there; "mssql,firebird" when not set.
  std::vector<std::string> GetRestoreWorkFolderReaders() const;

  // Settings readers; every call reads the file anew.
  std::string ReadRawValue(const std::string& Section, const std::string& Key) const;
  std::string ReadString(const std::string& Section, const std::string& Key, const std::string& Default) const;
  int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;
  bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;

  TAppConfig(const TAppConfig&) = delete;
  TAppConfig& operator=(const TAppConfig&) = delete;
  ~TAppConfig();

 private:
  TAppConfig();
  static std::string GetDefaultConfigDir();
  static std::string GetLegacyConfigDir();
  static void EnsureConfigDir(const std::string& Dir);
  void MigrateLegacyFiles() const;
  void ProtectStoredValues();
  void ApplyLogSettings() const;

  std::string FConfigDir;
  std::string FSettingsPath;
};

}  // namespace kelvo
