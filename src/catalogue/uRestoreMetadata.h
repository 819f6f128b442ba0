#pragma once
// Restore information: the small JSON record the backup side leaves beside each plan's latest backup
// ("<prefix>restoreinfo.json" in the account's cloud folder "restoremeta"), its local cache folder,
// and the lookup that finds the record of a queued backup file.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/DateTimes.h"

namespace kelvo {

struct TRestoreDbFile {
  std::string LogicalName;
  std::string PhysicalName;
  std::string FileType;

  bool operator==(const TRestoreDbFile&) const = default;
};

struct TRestoreMetadata {
  std::string PlanID;
  std::string PlanName;
  std::string BackupType;
  std::string DatabaseName;
  std::string SourceFolder;
  std::string DriveSubFolder;
  std::string Server;
  std::string BackupFileName;
  bool RarEncrypted = false;
  bool UseCompression = false;
  std::vector<TRestoreDbFile> DbFiles;
  TDateTime CreatedAt = 0;
  std::string ComputerName;

  bool operator==(const TRestoreMetadata&) const = default;
};

// BaseFolder joined with "restoremeta"; no file-system access.
std::string GetRestoreMetadataDir(const std::string& BaseFolder);
// Prefix followed by "restoreinfo.json".
std::string GetRestoreMetadataFileName(const std::string& Prefix);

// The record in its file form, every key present, in the file's key order.
nlohmann::ordered_json RestoreMetadataToJson(const TRestoreMetadata& Metadata);

// Reads a record from a JSON object; no object (nullptr, or a value that is not an object) gives the
// empty record. Missing or null keys give empty values. Raises ECatalogueDataError when a present
// value cannot be converted (an object or array where text or a Boolean belongs).
TRestoreMetadata ReadRestoreMetadata(const nlohmann::ordered_json* Json);
TRestoreMetadata ReadRestoreMetadata(const nlohmann::ordered_json& Json);

// True and the record when Text is a JSON object; false and the empty record for anything else.
// Raises only what ReadRestoreMetadata raises; Metadata stays empty then.
bool ParseRestoreMetadata(const std::string& Text, TRestoreMetadata& Metadata);

// Writes the record as GetRestoreMetadataFileName(Prefix) in the cache folder of BaseFolder (created
// with its parents), compact pure-ASCII JSON with a byte-order mark, replacing the file atomically.
// Raises EFileError when the folder or file cannot be written, ECatalogueDataError when Prefix
// holds a path separator or NUL (the name must stay inside the cache folder).
void SaveRestoreMetadata(const std::string& BaseFolder, const std::string& Prefix, const TRestoreMetadata& Metadata);

// Every readable "*restoreinfo.json" directly in the cache folder, in listing order; files that
// cannot be read or parsed are skipped silently.
std::vector<TRestoreMetadata> LoadRestoreMetadataList(const std::string& BaseFolder);

// The first cached record whose BackupFileName has the same stem (name without folder and extension,
// ASCII case ignored) as BackupPath. A blank path is false without reading the folder.
bool FindRestoreMetadataForBackup(const std::string& BaseFolder, const std::string& BackupPath,
                                  TRestoreMetadata& Metadata);

}  // namespace kelvo
