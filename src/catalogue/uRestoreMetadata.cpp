#include "catalogue/uRestoreMetadata.h"

#include <filesystem>
#include <utility>

#include "catalogue/CatalogueJson.h"
#include "core/AsciiJson.h"
#include "core/FileIO.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uLogger.h"

namespace kelvo {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

constexpr char CacheFolderName[] = "restoremeta";
constexpr char FileNameSuffix[] = "restoreinfo.json";

[[noreturn]] void RaiseWrongKind(const char* Key) {
  throw ECatalogueDataError(Fmt("Yedek bilgisi okunamadi: %s alaninin turu gecersiz", Key));
}

// Missing or null: empty. Scalars give their text form; containers cannot stand for text.
std::string ReadText(const Json& Object, const char* Key) {
  const auto It = Object.find(Key);
  if (It == Object.end() || It->is_null()) return {};
  if (IsJsonContainer(*It)) RaiseWrongKind(Key);
  return JsonTextForm(*It);
}

// Missing or null: false. Besides true/false, the text true (any letter case) counts as true.
bool ReadFlag(const Json& Object, const char* Key) {
  const auto It = Object.find(Key);
  if (It == Object.end() || It->is_null()) return false;
  if (It->is_boolean()) return It->get<bool>();
  if (IsJsonContainer(*It)) RaiseWrongKind(Key);
  return SameText(JsonTextForm(*It), "true");
}

TRestoreDbFile ReadDbFile(const Json& Element) {
  TRestoreDbFile File;
  if (!Element.is_object()) return File;
  File.LogicalName = ReadText(Element, "LogicalName");
  File.PhysicalName = ReadText(Element, "PhysicalName");
  File.FileType = ReadText(Element, "FileType");
  return File;
}

// The name after the last folder separator (either kind: records come from Windows machines),
// without its extension.
std::string FileStem(const std::string& Path) {
  const std::string Name = FileNameOf(Path);
  const size_t Dot = Name.rfind('.');
  return Dot == std::string::npos ? Name : Name.substr(0, Dot);
}

}  // namespace

std::string GetRestoreMetadataDir(const std::string& BaseFolder) { return JoinPath(BaseFolder, CacheFolderName); }

std::string GetRestoreMetadataFileName(const std::string& Prefix) { return Prefix + FileNameSuffix; }

nlohmann::ordered_json RestoreMetadataToJson(const TRestoreMetadata& Metadata) {
  Json Object = Json::object();
  Object["PlanID"] = Metadata.PlanID;
  Object["PlanName"] = Metadata.PlanName;
  Object["BackupType"] = Metadata.BackupType;
  Object["DatabaseName"] = Metadata.DatabaseName;
  Object["SourceFolder"] = Metadata.SourceFolder;
  Object["DriveSubFolder"] = Metadata.DriveSubFolder;
  Object["Server"] = Metadata.Server;
  Object["BackupFileName"] = Metadata.BackupFileName;
  Object["RarEncrypted"] = Metadata.RarEncrypted;
  Object["UseCompression"] = Metadata.UseCompression;
  Object["CreatedAt"] = FormatFixedDateTime(Metadata.CreatedAt);
  Object["ComputerName"] = Metadata.ComputerName;
  Json Files = Json::array();
  for (const TRestoreDbFile& File : Metadata.DbFiles) {
    Json Entry = Json::object();
    Entry["LogicalName"] = File.LogicalName;
    Entry["PhysicalName"] = File.PhysicalName;
    Entry["FileType"] = File.FileType;
    Files.push_back(std::move(Entry));
  }
  Object["DbFiles"] = std::move(Files);
  return Object;
}

TRestoreMetadata ReadRestoreMetadata(const nlohmann::ordered_json* Object) {
  TRestoreMetadata Metadata;
  if (Object == nullptr || !Object->is_object()) return Metadata;
  const Json& O = *Object;
  Metadata.PlanID = ReadText(O, "PlanID");
  Metadata.PlanName = ReadText(O, "PlanName");
  Metadata.BackupType = ReadText(O, "BackupType");
  Metadata.DatabaseName = ReadText(O, "DatabaseName");
  Metadata.SourceFolder = ReadText(O, "SourceFolder");
  Metadata.DriveSubFolder = ReadText(O, "DriveSubFolder");
  Metadata.Server = ReadText(O, "Server");
  Metadata.BackupFileName = ReadText(O, "BackupFileName");
  Metadata.RarEncrypted = ReadFlag(O, "RarEncrypted");
  Metadata.UseCompression = ReadFlag(O, "UseCompression");
  Metadata.ComputerName = ReadText(O, "ComputerName");

  // Only the fixed form: regional or day-first texts would be read differently on each computer.
  const std::string CreatedAt = ReadText(O, "CreatedAt");
  if (!CreatedAt.empty() && !TryParseFixedDateTime(CreatedAt, Metadata.CreatedAt)) Metadata.CreatedAt = 0;

  const auto Files = O.find("DbFiles");
  if (Files != O.end() && Files->is_array()) {
    Metadata.DbFiles.reserve(Files->size());
    for (const Json& Element : *Files) Metadata.DbFiles.push_back(ReadDbFile(Element));
  }
  return Metadata;
}

TRestoreMetadata ReadRestoreMetadata(const nlohmann::ordered_json& Object) { return ReadRestoreMetadata(&Object); }

bool ParseRestoreMetadata(const std::string& Text, TRestoreMetadata& Metadata) {
  Metadata = TRestoreMetadata{};
  Json Parsed;
  if (!TryParseCatalogueJson(Text, Parsed) || !Parsed.is_object()) return false;
  Metadata = ReadRestoreMetadata(&Parsed);
  return true;
}

void SaveRestoreMetadata(const std::string& BaseFolder, const std::string& Prefix, const TRestoreMetadata& Metadata) {
  // The prefix comes from a cloud file name: it must not lead out of the cache folder.
  if (Prefix.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
    throw ECatalogueDataError("Gecersiz yedek bilgi dosya adi: " + GetRestoreMetadataFileName(Prefix));
  const std::string Dir = GetRestoreMetadataDir(BaseFolder);
  if (!ForceDirectories(Dir)) throw EFileError("Klasor olusturulamadi: " + Dir);
  WriteTextFileWithBom(JoinPath(Dir, GetRestoreMetadataFileName(Prefix)), ToAsciiJson(RestoreMetadataToJson(Metadata)));
}

std::vector<TRestoreMetadata> LoadRestoreMetadataList(const std::string& BaseFolder) {
  std::vector<TRestoreMetadata> Result;
  const std::string Dir = GetRestoreMetadataDir(BaseFolder);
  if (!DirectoryExists(Dir)) return Result;
  std::error_code Ec;
  for (fs::directory_iterator It(Dir, Ec), End; !Ec && It != End; It.increment(Ec)) {
    const std::string Name = It->path().filename().string();
    // Names are matched ignoring case, as the cloud side stores them.
    if (!EndsText(Name, FileNameSuffix)) continue;
    std::error_code KindEc;
    if (!It->is_regular_file(KindEc)) continue;
    try {
      TRestoreMetadata Metadata;
      if (ParseRestoreMetadata(ReadTextFile(It->path().string()), Metadata)) Result.push_back(std::move(Metadata));
    } catch (const std::exception& E) {
      // An unreadable or malformed cached file only means no record for it.
      LogException("Yedek bilgi dosyasi okunamadi: " + It->path().string(), E);
    }
  }
  return Result;
}

bool FindRestoreMetadataForBackup(const std::string& BaseFolder, const std::string& BackupPath,
                                  TRestoreMetadata& Metadata) {
  Metadata = TRestoreMetadata{};
  const std::string Path = Trim(BackupPath);
  if (Path.empty()) return false;
  const std::string Stem = FileStem(Path);
  for (TRestoreMetadata& Candidate : LoadRestoreMetadataList(BaseFolder)) {
    const std::string CandidateStem = FileStem(Trim(Candidate.BackupFileName));
    if (CandidateStem.empty() || !SameText(CandidateStem, Stem)) continue;
    Metadata = std::move(Candidate);
    return true;
  }
  return false;
}

}  // namespace kelvo
