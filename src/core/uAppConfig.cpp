#include "core/uAppConfig.h"

#include <filesystem>
#include <mutex>

#include "core/FileIO.h"
#include "core/IniFile.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "core/uSecureString.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "platform/SecretFiles.h"

namespace kelvo {

namespace {

std::unique_ptr<TAppConfig> GInstance;
std::mutex GInstanceMutex;

const char* const ProductFolder = "Korvessa";

// Files the earlier configuration folder may hold, taken over once (never overwriting).
const char* const LegacyFiles[] = {"config.ini",       "projects.json",     "versions.json", "korvessa.db",
                                   "backupplans.json", "planactivity.json", "log.txt",       "log.old.txt"};

struct TKnownKey {
  const char* Section;
  const char* Key;
};

// The keys the protecting rewrite visits, in this order.
const TKnownKey KnownKeys[] = {{"Google", "ClientID"},
                               {"Google", "ClientSecret"},
                               {"Google", "RootFolderID"},
                               {"Google", "AuthPort"},
                               {"MSSQLBackup", "Enabled"},
                               {"MSSQLBackup", "Server"},
                               {"MSSQLBackup", "UserName"},
                               {"MSSQLBackup", "Password"},
                               {"MSSQLBackup", "BackupOutputDir"},
                               {"FirebirdBackup", "Enabled"},
                               {"FirebirdBackup", "Server"},
                               {"FirebirdBackup", "Port"},
                               {"FirebirdBackup", "UserName"},
                               {"FirebirdBackup", "Password"},
                               {"FirebirdBackup", "GBackPath"},
                               {"FirebirdBackup", "BackupOutputDir"}};

constexpr char DefaultWorkFolderReaders[] = "mssql,firebird";

constexpr int64_t DefaultLogSizeLimit = 5 * 1024 * 1024;

TLogLevel ParseLogLevel(const std::string& Text) {
  const std::string T = Trim(Text);
  if (SameText(T, "DEBUG") || T == "0") return TLogLevel::Debug;
  if (SameText(T, "WARN") || T == "2") return TLogLevel::Warn;
  if (SameText(T, "ERROR") || T == "3") return TLogLevel::Error;
  return TLogLevel::Info;
}

}  // namespace

TAppConfig& TAppConfig::Instance() {
  // The workers ask for the settings too; the first caller creates them, once.
  std::lock_guard Lock(GInstanceMutex);
  if (!GInstance) GInstance.reset(new TAppConfig());
  return *GInstance;
}

void TAppConfig::ResetInstanceForTests() {
  std::lock_guard Lock(GInstanceMutex);
  GInstance.reset();
  ConfigureLog({});
}

TAppConfig::~TAppConfig() = default;

uint32_t SecretFileModeFor(const std::string& Path) {
  return platform::SecretFileMode(platform::SecretScopeOf(FolderOf(Path)));
}

TAppConfig::TAppConfig() {
  // A secret protected without the machine key leaves a trace for the operator.
  platform::SetProtectionWarningSink([](const std::string& Text) { LogWarn(Text); });
  FConfigDir = GetDefaultConfigDir();
  EnsureConfigDir(FConfigDir);
  // A folder this user may not enter (the machine folder of a group the user is not in) is passed
  // over like a missing one.
  if (!platform::CanEnterFolder(FConfigDir)) {
    // Program folder not writable: the machine-wide folder, else the user's own.
    FConfigDir = platform::MachineDataDir();
    EnsureConfigDir(FConfigDir);
    if (!platform::CanEnterFolder(FConfigDir)) {
      FConfigDir = JoinPath(platform::WithoutTrailingSlashes(platform::AppDataDir()), ProductFolder);
      EnsureConfigDir(FConfigDir);
    }
  }
  FSettingsPath = JoinPath(FConfigDir, "config.ini");
  MigrateLegacyFiles();
  ProtectStoredValues();
  ApplyLogSettings();
}

std::string TAppConfig::GetDefaultConfigDir() { return JoinPath(platform::ProgramDir(), "config"); }

std::string TAppConfig::GetLegacyConfigDir() {
  return JoinPath(platform::WithoutTrailingSlashes(platform::AppDataDir()), ProductFolder);
}

void TAppConfig::EnsureConfigDir(const std::string& Dir) {
  platform::PrepareSecretFolder(Dir, platform::SecretScopeOf(Dir));
}

void TAppConfig::MigrateLegacyFiles() const {
  const std::string Legacy = GetLegacyConfigDir();
  if (SameText(platform::WithoutTrailingSlashes(Legacy), platform::WithoutTrailingSlashes(FConfigDir)) ||
      !DirectoryExists(Legacy))
    return;
  for (const char* Name : LegacyFiles) {
    const std::string From = JoinPath(Legacy, Name);
    const std::string To = JoinPath(FConfigDir, Name);
    if (!FileExists(From) || std::filesystem::exists(To)) continue;
    std::error_code Ec;
    std::filesystem::copy_file(From, To, std::filesystem::copy_options::none, Ec);
    if (Ec) throw EFileError("Dosya kopyalanamadi: " + From + " -> " + To + " (" + Ec.message() + ")");
    // The copy keeps the old file's mode; secrets get no more rights here than their folder gives.
    const auto Mode = std::filesystem::status(To, Ec).permissions();
    if (!Ec)
      std::filesystem::permissions(To, Mode & static_cast<std::filesystem::perms>(SecretFileModeFor(To)),
                                   std::filesystem::perm_options::replace, Ec);
  }
}

void TAppConfig::ProtectStoredValues() {
  TIniWriter Writer(FSettingsPath, SecretFileModeFor(FSettingsPath));
  for (const TKnownKey& K : KnownKeys) {
    const std::string Raw = ReadRawValue(K.Section, K.Key);
    if (Raw.empty()) continue;
    if (IsProtectedString(Raw)) {
      std::string Plain;
      // Values that cannot be unprotected here (brought from another computer) stay as they are.
      if (TryUnprotectString(Raw, Plain)) Writer.WriteString(K.Section, K.Key, ProtectString(Plain));
    } else if (!Trim(Raw).empty()) {
      Writer.WriteString(K.Section, K.Key, ProtectString(Raw));
    }
  }
  Writer.Flush();
}

void TAppConfig::ApplyLogSettings() const {
  TLogSettings S;
  S.Enabled = ReadBool("Log", "Enabled", false);
  if (S.Enabled) {
    S.MinLevel = ParseLogLevel(ReadString("Log", "Level", "INFO"));
    S.FilePath = JoinPath(FConfigDir, "log.txt");
    S.OldFilePath = JoinPath(FConfigDir, "log.old.txt");
    S.SizeLimit = DefaultLogSizeLimit;
  }
  ConfigureLog(S);
}

std::string TAppConfig::ReadRawValue(const std::string& Section, const std::string& Key) const {
  if (!FileExists(FSettingsPath)) return {};
  std::string Text;
  try {
    Text = ReadTextFile(FSettingsPath);
  } catch (const EFileError& E) {
    // An unreadable settings file reads as the defaults; the reason goes to the log (when it is on).
    LogException("Ayar dosyasi okunamadi", E);
    return {};
  }
  return ReadIniRawValue(SplitLines(Text), Section, Key);
}

std::string TAppConfig::ReadString(const std::string& Section, const std::string& Key,
                                   const std::string& Default) const {
  const std::string Raw = ReadRawValue(Section, Key);
  if (Raw.empty()) return Default;
  std::string Plain;
  if (!TryUnprotectString(Raw, Plain)) return Default;
  return Plain;
}

int32_t TAppConfig::ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const {
  const std::string Text = ReadString(Section, Key, "");
  return Text.empty() ? Default : StrToIntDef(Text, Default);
}

bool TAppConfig::ReadBool(const std::string& Section, const std::string& Key, bool Default) const {
  const std::string Text = ReadString(Section, Key, "");
  if (Text.empty()) return Default;
  return SameText(Text, "true") || Text == "1";
}

std::string TAppConfig::GetGoogleTokenCachePath() const {
  const std::string Path = JoinPath(FConfigDir, "syc.dat");
  const std::string Older = JoinPath(FConfigDir, "google_tokens.dat");
  if (!FileExists(Path) && FileExists(Older)) {
    std::error_code Ec;
    std::filesystem::rename(Older, Path, Ec);  // a failed move is ignored
  }
  return Path;
}

std::string TAppConfig::GetClientID() const { return ReadString("Google", "ClientID", KELVO_OAUTH_CLIENT_ID); }
std::string TAppConfig::GetClientSecret() const {
  return ReadString("Google", "ClientSecret", KELVO_OAUTH_CLIENT_SECRET);
}
std::string TAppConfig::GetRootFolderID() const { return ReadString("Google", "RootFolderID", ""); }
int32_t TAppConfig::GetAuthPort() const { return ReadInteger("Google", "AuthPort", 8080); }

TMSSQLBackupConfig TAppConfig::GetMSSQLBackupConfig() const {
  TMSSQLBackupConfig C;
  C.Enabled = ReadBool("MSSQLBackup", "Enabled", false);
  C.Server = ReadString("MSSQLBackup", "Server", "");
  C.UserName = ReadString("MSSQLBackup", "UserName", "");
  C.Password = ReadString("MSSQLBackup", "Password", "");
  C.BackupOutputDir = Trim(ReadString("MSSQLBackup", "BackupOutputDir", ""));
  return C;
}

TFirebirdBackupConfig TAppConfig::GetFirebirdBackupConfig() const {
  TFirebirdBackupConfig C;
  C.Enabled = ReadBool("FirebirdBackup", "Enabled", false);
  C.Server = ReadString("FirebirdBackup", "Server", "localhost");
  C.Port = ReadInteger("FirebirdBackup", "Port", 3050);
  C.UserName = ReadString("FirebirdBackup", "UserName", "SYSDBA");
  C.Password = ReadString("FirebirdBackup", "Password", "");
  C.GBackPath = Trim(ReadString("FirebirdBackup", "GBackPath", ""));
  C.BackupOutputDir = Trim(ReadString("FirebirdBackup", "BackupOutputDir", ""));
  return C;
}

TEndpointsConfig TAppConfig::GetEndpointsConfig() const {
  TEndpointsConfig C;
  C.FirebaseAuthUrl = Trim(ReadString("Endpoints", "FirebaseAuthUrl", ""));
  C.FirebaseDatabaseUrl = Trim(ReadString("Endpoints", "FirebaseDatabaseUrl", ""));
  C.GoogleTokenUrl = Trim(ReadString("Endpoints", "GoogleTokenUrl", ""));
  C.GoogleDriveUrl = Trim(ReadString("Endpoints", "GoogleDriveUrl", ""));
  return C;
}

std::string TAppConfig::GetRestoreWorkFolder() const {
  return platform::WithoutTrailingSlashes(Trim(ReadString("Restore", "WorkFolder", "")));
}

std::vector<std::string> TAppConfig::GetRestoreWorkFolderReaders() const {
  std::string Text = Trim(ReadString("Restore", "WorkFolderReaders", ""));
  if (Text.empty()) Text = DefaultWorkFolderReaders;
  std::vector<std::string> Names;
  size_t Start = 0;
  while (Start <= Text.size()) {
    size_t End = Text.find(',', Start);
    if (End == std::string::npos) End = Text.size();
    const std::string Name = Trim(Text.substr(Start, End - Start));
    if (!Name.empty()) Names.push_back(Name);
    Start = End + 1;
  }
  return Names;
}

}  // namespace kelvo
