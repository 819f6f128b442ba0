#pragma once
// The restore engine: classifies backup files, runs the two restore scripts through the script bridge
// (JSON exchange files in a private working folder, a result file read back), and unpacks RAR archives.
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace kelvo {

enum TBackupFileKind : uint8_t { bfkSqlBak, bfkRar, bfkFirebird, bfkUnknown };

struct TSqlRestoreConnection {
  std::string Server;
  int32_t Port = 0;
  std::string UserName;
  std::string Password;
};

// Raised by the script bridge when a script cannot be found or gives no usable result.
class ERestoreScriptError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

class TRestoreEngine {
 public:
  explicit TRestoreEngine(const TSqlRestoreConnection& Connection);

  // Kind of a backup file from the extension of its name; both "\" and "/" end a folder name.
  static TBackupFileKind DetectFileKind(const std::string& FilePath);

  // The three database operations. Each blocks until its script has ended; script failures come back
  // as false with the script's message, bridge failures as exceptions.
  bool TestConnection(std::string& ResultMessage);
  bool RestoreSqlBackup(const std::string& BackupFilePath, const std::string& TargetDatabaseName,
                        bool RestoreToOriginal, bool OverwriteExisting, std::string& ResultMessage);
  bool RestoreFirebirdBackup(const std::string& BackupFilePath, const std::string& TargetDatabasePath,
                             bool OverwriteExisting, std::string& ResultMessage);

  // RAR: the program folder's "rar"/"unrar", then the usual system folders, then PATH.
  static bool FindRarExecutable(std::string& RarPath);
  // Unpacks ArchivePath into DestDir and picks the backup file out of it. Refuses before unpacking
  // when the archive's unpacked size is known and exceeds the free space at DestDir. Never raises.
  static bool ExtractRarArchive(const std::string& ArchivePath, const std::string& Password, const std::string& DestDir,
                                std::string& ExtractedFile, std::string& ErrorMessage);
  // The sum of the sizes of the files in the archive, from the RAR program's technical listing or
  // from lsar; false when it cannot be learnt (no lister, wrong password, unreadable answer).
  static bool ReadRarUnpackedSize(const std::string& ArchivePath, const std::string& Password, uint64_t& Size);
  // A RAR item of the restore queue: a new folder inside GetRarWorkDir() that the database service
  // users may read, the archive unpacked into it, and the unpacked files opened to them too. Folder is
  // set as soon as the folder exists, so the caller removes it however the unpacking ends. Never raises.
  static bool UnpackRarForRestore(const std::string& ArchivePath, const std::string& Password, std::string& Folder,
                                  std::string& ExtractedFile, std::string& ErrorMessage);
  // Text between double quotes, inner quotes preceded by a backslash (for command lines shown as text).
  static std::string QuoteArgument(const std::string& Text);

  // Script bridge: the host and scripts of ScriptHostFor(the platform of this build); the name is kept
  // because the bridge is the same on every platform.
  static std::string GetPowerShellPath();
  static std::string GetSqlScriptPath();
  static std::string GetFirebirdScriptPath();
  // Runs one script with its exchange files; takes ownership of Config and Payload (none = "{}").
  static bool RunRestoreScript(const std::string& ScriptPath, nlohmann::ordered_json Config, const std::string& Mode,
                               std::optional<nlohmann::ordered_json> Payload, nlohmann::ordered_json& ResultObject,
                               std::string& ResultMessage);

 private:
  nlohmann::ordered_json BuildSqlConnectionConfig() const;
  static nlohmann::ordered_json BuildFirebirdConnectionConfig();

  TSqlRestoreConnection FConnection;
};

// How the restore scripts are run on a platform: the program, the switches before the script's path
// (the script's own parameters follow it), and the scripts' names in the program folder's "sql" folder.
enum class TScriptPlatform : uint8_t { Posix, Windows };
struct TScriptHost {
  std::string Program;
  std::vector<std::string> Switches;
  std::string SqlScript;
  std::string FirebirdScript;
};
// Posix: /bin/sh with the .sh scripts. Windows: %SystemRoot%'s Windows PowerShell (the bare name when
// that is missing) with -NoProfile -NonInteractive -ExecutionPolicy Bypass -File and the .ps1 scripts.
TScriptHost ScriptHostFor(TScriptPlatform Platform);

// An 11-character random name (digits, capitals, small letters) for one run's files or folder.
std::string MakeRestoreToken();
// The private folder of the exchange files (they carry passwords) and of unar's private files:
// PrivateTempDir()/KorvessaRestore.
std::string GetRestoreWorkDir();
// The folder of this user's RAR unpack folders, on disk where the database service can reach it:
// <[Restore] WorkFolder, else /var/tmp>/kelvo-restore-<uid>.
std::string GetRarWorkDir();

// Tests start another script host program (a missing one, to see the start failure); empty returns to
// the platform's own.
void SetScriptHostForTests(const std::string& Path);
// Tests replace the system folders searched for RAR programs (none = the real ones).
void SetRarSystemFoldersForTests(std::optional<std::vector<std::string>> Folders);

}  // namespace kelvo
