#include "catalogue/uBackupPlans.h"

#include <filesystem>
#include <limits>
#include <utility>

#include "catalogue/CatalogueJson.h"
#include "catalogue/uRestoreMetadata.h"
#include "core/FileIO.h"
#include "core/IniFile.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "core/uSecureString.h"

namespace kelvo {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

namespace {

constexpr char PlanFileName[] = "backupplans.json";
constexpr char CloudPlanFileName[] = "plans.json";

constexpr int32_t DefaultIntervalMinutes = 60;
constexpr int32_t DefaultUploadRetryCount = 2;
constexpr int32_t DefaultFailedFileRetentionHours = 24;
constexpr int32_t DefaultFullBackupIntervalDays = 30;
constexpr int32_t MinutesPerDay = 1440;
constexpr int32_t DefaultFullBackupIntervalMinutes = DefaultFullBackupIntervalDays * MinutesPerDay;

// Separators of plan paths: plans are written on Windows, where the drive colon also ends a component.
constexpr char PlanPathDelimiters[] = "\\/:";

bool EndsWithSeparator(const std::string& Path) { return !Path.empty() && (Path.back() == '\\' || Path.back() == '/'); }

std::string ExcludeTrailingSeparator(const std::string& Path) {
  return EndsWithSeparator(Path) ? Path.substr(0, Path.size() - 1) : Path;
}

std::string LastPlanPathComponent(const std::string& Path) {
  const size_t Pos = Path.find_last_of(PlanPathDelimiters);
  return Pos == std::string::npos ? Path : Path.substr(Pos + 1);
}

std::string WithoutExtension(const std::string& Name) {
  const size_t Dot = Name.rfind('.');
  return Dot == std::string::npos ? Name : Name.substr(0, Dot);
}

std::string ReplaceAll(std::string Text, const std::string& From, const std::string& To) {
  for (size_t Pos = Text.find(From); Pos != std::string::npos; Pos = Text.find(From, Pos + To.size()))
    Text.replace(Pos, From.size(), To);
  return Text;
}

// Values of one plan object of the local plan file, all read through their text form.
class TLocalPlanObject {
 public:
  explicit TLocalPlanObject(const Json& Object) : FObject(Object) {}

  bool Has(const char* Key) const { return FObject.find(Key) != FObject.end(); }
  std::string Text(const char* Key) const {
    const auto It = FObject.find(Key);
    return It == FObject.end() ? std::string() : JsonTextForm(*It);
  }
  bool Flag(const char* Key, bool WhenMissing) const { return Has(Key) ? SameText(Text(Key), "true") : WhenMissing; }
  // NotWhole applies both to a missing key and to text that is not a 32-bit integer.
  int32_t Number(const char* Key, int32_t NotWhole) const {
    return Has(Key) ? StrToIntDef(Text(Key), NotWhole) : NotWhole;
  }

 private:
  const Json& FObject;
};

int32_t SaturatedMinutesFromDays(int32_t Days) {
  const int64_t Minutes = static_cast<int64_t>(Days) * MinutesPerDay;
  if (Minutes > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (Minutes < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(Minutes);
}

TDateTime PlanDateTime(const std::string& Text) {
  TDateTime Value = 0;
  return TryParsePlanDateTime(Text, Value) ? Value : 0;
}

// A plan of the cloud list read field by field; a scalar field holding an object or array makes the
// whole list unusable, which the reader notes instead of raising.
class TCloudPlanObject {
 public:
  explicit TCloudPlanObject(const Json& Object) : FObject(Object) {}

  std::string Text(const char* Key) {
    const auto It = FObject.find(Key);
    if (It == FObject.end() || It->is_null()) return {};
    if (IsJsonContainer(*It)) {
      FWrongKind = true;
      return {};
    }
    return JsonTextForm(*It);
  }
  bool Flag(const char* Key, bool WhenMissing) {
    const auto It = FObject.find(Key);
    if (It == FObject.end() || It->is_null()) return WhenMissing;
    if (It->is_boolean()) return It->get<bool>();
    if (IsJsonContainer(*It)) {
      FWrongKind = true;
      return WhenMissing;
    }
    return SameText(JsonTextForm(*It), "true");
  }
  bool HadWrongKind() const { return FWrongKind; }

 private:
  const Json& FObject;
  bool FWrongKind = false;
};

// False when a field holds the wrong kind of value.
bool ReadCloudPlan(const Json& Object, TBackupPlan& Plan) {
  TCloudPlanObject O(Object);
  Plan = {};
  Plan.ID = O.Text("ID");
  Plan.Name = O.Text("Name");
  Plan.Description = O.Text("Description");
  Plan.BackupType = NormalizeBackupType(O.Text("BackupType"));
  Plan.DatabaseName = O.Text("DatabaseName");
  Plan.SourceFolder = O.Text("SourceFolder");
  Plan.TempDirectory = O.Text("TempDirectory");
  Plan.DriveSubFolder = O.Text("DriveSubFolder");
  Plan.UseCompression = O.Flag("UseCompression", true);
  Plan.UseRarEncryption = O.Flag("UseRarEncryption", false);
  if (Plan.Name.empty()) Plan.Name = PlanDisplayName(Plan);
  return !O.HadWrongKind();
}

}  // namespace

// --- Local plan file -------------------------------------------------------------------------------

TBackupPlanStore::TBackupPlanStore(const std::string& ConfigDir) : FFilePath(JoinPath(ConfigDir, PlanFileName)) {}

std::vector<TBackupPlan> TBackupPlanStore::LoadPlans() {
  if (!FileExists(FFilePath)) return {};
  const std::string Text = ReadTextFile(FFilePath);
  // Older files hold the plans in plain text, passwords included: protect them on first sight.
  if (!Text.empty() && !IsProtectedString(Text))
    WriteTextFileWithBom(FFilePath, ProtectString(Text), SecretFileModeFor(FFilePath));
  std::string Plain;
  if (!TryUnprotectString(Text, Plain)) {
    // Protected on another computer: set it aside so the next load starts clean.
    const std::string Corrupt = FFilePath + ".corrupt";
    std::error_code Ec;
    fs::remove(Corrupt, Ec);
    fs::rename(FFilePath, Corrupt, Ec);
    return {};
  }
  return ReadPlanList(Plain);
}

std::vector<TBackupPlan> TBackupPlanStore::ReadPlanList(const std::string& PlainText) const {
  Json Parsed;
  if (!TryParseCatalogueJson(PlainText, Parsed) || !Parsed.is_array()) return {};
  std::vector<TBackupPlan> Plans;
  Plans.reserve(Parsed.size());
  for (const Json& Element : Parsed) {
    if (!Element.is_object()) throw ECatalogueDataError("Yedekleme plani okunamadi: plan kaydi bir JSON nesnesi degil");
    Plans.push_back(ReadPlan(Element));
  }
  return Plans;
}

TBackupPlan TBackupPlanStore::ReadPlan(const nlohmann::ordered_json& Object) const {
  const TLocalPlanObject O(Object);
  TBackupPlan Plan;
  Plan.ID = O.Text("ID");
  Plan.Name = O.Text("Name");
  Plan.Description = O.Text("Description");
  Plan.Enabled = O.Flag("Enabled", false);
  Plan.BackupType = NormalizeBackupType(O.Text("BackupType"));
  Plan.DatabaseName = O.Text("DatabaseName");
  if (Plan.DatabaseName.empty() && O.Has("Database")) Plan.DatabaseName = O.Text("Database");
  Plan.SourceFolder = O.Text("SourceFolder");
  Plan.TempDirectory = O.Text("TempDirectory");
  Plan.DriveSubFolder = O.Text("DriveSubFolder");
  Plan.AutoRun = O.Flag("AutoRun", Plan.Enabled);
  Plan.ScheduleType = O.Has("ScheduleType") ? O.Text("ScheduleType") : "periodic";
  Plan.ScheduleTime = O.Has("ScheduleTime") ? O.Text("ScheduleTime") : "02:00";
  Plan.WeeklyDays = O.Text("WeeklyDays");
  Plan.IntervalMinutes = O.Number("IntervalMinutes", DefaultIntervalMinutes);
  Plan.RunOnServiceStart = O.Flag("RunOnServiceStart", false);
  Plan.UseCompression = O.Flag("UseCompression", true);
  Plan.UseRarEncryption = O.Flag("UseRarEncryption", false);
  if (O.Has("RarPasswordProtected")) {
    // A protected password that does not decode here is an error of the whole load.
    UnprotectString(O.Text("RarPasswordProtected"), Plan.RarPassword);
  } else {
    Plan.RarPassword = O.Text("RarPassword");
  }
  Plan.ReportEmailAddresses = O.Has("ReportEmailAddresses") ? O.Text("ReportEmailAddresses") : O.Text("ReportEmail");
  Plan.DeleteLocalAfterUpload = O.Flag("DeleteLocalAfterUpload", false);
  Plan.LocalBackupRetentionDays = O.Number("LocalBackupRetentionDays", 0);
  Plan.UploadRetryCount = O.Number("UploadRetryCount", DefaultUploadRetryCount);
  Plan.CleanupFailedFiles = O.Flag("CleanupFailedFiles", true);
  Plan.FailedFileRetentionHours = O.Number("FailedFileRetentionHours", DefaultFailedFileRetentionHours);
  Plan.EnableDifferential = O.Flag("EnableDifferential", false);
  if (O.Has("FullBackupIntervalMinutes"))
    Plan.FullBackupIntervalMinutes = O.Number("FullBackupIntervalMinutes", DefaultFullBackupIntervalMinutes);
  else if (O.Has("FullBackupIntervalDays"))
    // Saturated rather than wrapped: a huge day count must not turn into a short interval.
    Plan.FullBackupIntervalMinutes =
        SaturatedMinutesFromDays(O.Number("FullBackupIntervalDays", DefaultFullBackupIntervalDays));
  else
    Plan.FullBackupIntervalMinutes = DefaultFullBackupIntervalMinutes;
  Plan.LastFullBackupAt = PlanDateTime(O.Text("LastFullBackupAt"));
  Plan.LastRunAt = PlanDateTime(O.Text("LastRunAt"));
  Plan.LastStatus = O.Text("LastStatus");
  Plan.LastMessage = O.Text("LastMessage");
  Plan.LastBackupFile = O.Text("LastBackupFile");

  if (Plan.IntervalMinutes <= 0) Plan.IntervalMinutes = DefaultIntervalMinutes;
  if (Plan.LocalBackupRetentionDays < 0) Plan.LocalBackupRetentionDays = 0;
  if (Plan.UploadRetryCount < 0) Plan.UploadRetryCount = 0;
  if (Plan.FailedFileRetentionHours <= 0) Plan.FailedFileRetentionHours = DefaultFailedFileRetentionHours;
  if (Plan.FullBackupIntervalMinutes <= 0) Plan.FullBackupIntervalMinutes = DefaultFullBackupIntervalMinutes;
  if (Plan.ScheduleType.empty()) Plan.ScheduleType = "periodic";
  if (Plan.BackupType.empty()) Plan.BackupType = "sql";
  if (Plan.ScheduleTime.empty()) Plan.ScheduleTime = "02:00";

  // Plans of older versions took their database from config.ini.
  if (Plan.DatabaseName.empty()) Plan.DatabaseName = ReadLegacyDatabaseName();
  if (Plan.Name.empty()) Plan.Name = PlanDisplayName(Plan);
  return Plan;
}

std::string TBackupPlanStore::ReadLegacyDatabaseName() const {
  const std::string IniPath = (fs::path(FFilePath).parent_path() / "config.ini").string();
  if (!FileExists(IniPath)) return {};
  std::string Text;
  try {
    Text = ReadTextFile(IniPath);
  } catch (const EFileError& E) {
    LogException("Eski ayar dosyasi okunamadi", E);
    return {};
  }
  std::string Plain;
  if (!TryUnprotectString(Trim(ReadIniRawValue(SplitLines(Text), "MSSQLBackup", "Database")), Plain)) return {};
  return Plain;
}

bool TryParsePlanDateTime(const std::string& Text, TDateTime& Value) {
  Value = 0;
  const std::string Trimmed = Trim(Text);
  if (Trimmed.empty()) return false;
  if (TryParseFixedDateTime(Trimmed, Value)) return true;
  const size_t T = Trimmed.find('T');
  if (T != std::string::npos) {
    std::string Spaced = Trimmed;
    Spaced[T] = ' ';
    if (TryParseFixedDateTime(Spaced, Value)) return true;
  }
  if (TryParseRegionalDateTime(Trimmed, Value)) return true;
  Value = 0;
  return false;
}

// --- Cloud plan list ------------------------------------------------------------------------------

bool ParseCloudPlanList(const std::string& Text, std::vector<TBackupPlan>& Plans) {
  Plans.clear();
  Json Parsed;
  if (!TryParseCatalogueJson(Text, Parsed) || !Parsed.is_array()) return false;
  std::vector<TBackupPlan> Result;
  Result.reserve(Parsed.size());
  for (const Json& Element : Parsed) {
    TBackupPlan& Plan = Result.emplace_back();
    if (Element.is_object() && !ReadCloudPlan(Element, Plan)) return false;
  }
  Plans = std::move(Result);
  return true;
}

void SaveCloudPlanList(const std::string& BaseFolder, const std::string& Text) {
  const std::string Dir = GetRestoreMetadataDir(BaseFolder);
  if (!ForceDirectories(Dir)) throw EFileError("Klasor olusturulamadi: " + Dir);
  // The file gets exactly one byte-order mark, whether or not the downloaded text had one.
  WriteTextFileWithBom(JoinPath(Dir, CloudPlanFileName), StripUtf8Bom(Text));
}

std::vector<TBackupPlan> LoadCloudPlanList(const std::string& BaseFolder) {
  const std::string Path = JoinPath(GetRestoreMetadataDir(BaseFolder), CloudPlanFileName);
  std::vector<TBackupPlan> Plans;
  if (!FileExists(Path)) return Plans;
  try {
    if (!ParseCloudPlanList(ReadTextFile(Path), Plans)) Plans.clear();
  } catch (const std::exception& E) {
    LogException("Plan listesi okunamadi: " + Path, E);
    Plans.clear();
  }
  return Plans;
}

std::vector<TBackupPlan> LoadAvailablePlans(const std::string& BaseFolder) {
  std::vector<TBackupPlan> Result = TBackupPlanStore(BaseFolder).LoadPlans();
  for (TBackupPlan& Cloud : LoadCloudPlanList(BaseFolder)) {
    const std::string ID = Trim(Cloud.ID);
    bool Known = false;
    if (!ID.empty())
      for (const TBackupPlan& Plan : Result)
        if (SameText(Trim(Plan.ID), ID)) {
          Known = true;
          break;
        }
    if (!Known) Result.push_back(std::move(Cloud));
  }
  return Result;
}

// --- Plan utilities -------------------------------------------------------------------------------

std::string NormalizeBackupType(const std::string& BackupType) {
  const std::string Type = Trim(BackupType);
  if (SameText(Type, "folder")) return "folder";
  if (SameText(Type, "firebird")) return "firebird";
  return "sql";
}

bool IsFolderPlan(const TBackupPlan& Plan) { return NormalizeBackupType(Plan.BackupType) == "folder"; }

bool IsFirebirdPlan(const TBackupPlan& Plan) { return NormalizeBackupType(Plan.BackupType) == "firebird"; }

std::string BackupTypeLabel(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan)) return "Klasor";
  if (IsFirebirdPlan(Plan)) return "Firebird";
  return "SQL";
}

std::string PlanSourceText(const TBackupPlan& Plan) {
  if (IsFolderPlan(Plan)) return Trim(Plan.SourceFolder);
  return ReplaceAll(Trim(Plan.DatabaseName), ";", ", ");
}

std::string PlanDisplayName(const TBackupPlan& Plan) {
  std::string Result;
  if (IsFolderPlan(Plan)) {
    Result = LastPlanPathComponent(ExcludeTrailingSeparator(PlanSourceText(Plan)));
  } else if (IsFirebirdPlan(Plan)) {
    const std::string Database = Trim(Plan.DatabaseName);
    if (DirectoryExists(Database)) {
      Result = LastPlanPathComponent(ExcludeTrailingSeparator(Database));
    } else {
      Result = WithoutExtension(LastPlanPathComponent(Database));
      if (Result.empty()) Result = Database;
    }
  } else {
    Result = PlanSourceText(Plan);
  }
  if (Result.empty()) Result = Trim(Plan.Name);
  return Result;
}

bool IsFirebirdFolderPlan(const TBackupPlan& Plan) {
  if (!IsFirebirdPlan(Plan)) return false;
  const std::string Database = Trim(Plan.DatabaseName);
  return !Database.empty() && DirectoryExists(Database);
}

std::vector<std::string> ListFirebirdDatabases(const TBackupPlan& Plan) {
  std::vector<std::string> Result;
  if (!IsFirebirdPlan(Plan)) return Result;
  const std::string Database = Trim(Plan.DatabaseName);
  if (Database.empty()) return Result;
  if (!DirectoryExists(Database)) {
    Result.push_back(Database);
    return Result;
  }
  std::error_code Ec;
  for (fs::directory_iterator It(Database, Ec), End; !Ec && It != End; It.increment(Ec)) {
    std::error_code KindEc;
    if (It->is_directory(KindEc)) continue;
    const std::string Name = It->path().filename().string();
    const size_t Dot = Name.rfind('.');
    if (Dot == std::string::npos) continue;
    const std::string Extension = AsciiLower(Name.substr(Dot));
    if (Extension == ".fdb" || Extension == ".gdb" || Extension == ".ib") Result.push_back(JoinPath(Database, Name));
  }
  return Result;
}

std::vector<std::string> SplitDatabaseNames(const TBackupPlan& Plan) {
  std::vector<std::string> Result;
  std::string Text = Trim(Plan.DatabaseName);
  if (Text.empty()) return Result;
  Text = ReplaceAll(Text, "\r\n", ";");
  for (char& C : Text)
    if (C == '\r' || C == '\n') C = ';';
  size_t Start = 0;
  for (;;) {
    const size_t End = Text.find(';', Start);
    const std::string Piece = Trim(std::string_view(Text).substr(Start, End == std::string::npos ? End : End - Start));
    if (!Piece.empty()) Result.push_back(Piece);
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  return Result;
}

std::string PlanFilePrefix(const TBackupPlan& Plan) {
  std::string Name = PlanDisplayName(Plan);
  for (char& C : Name)
    if (C == ' ' || C == ':' || C == '\\' || C == '/') C = '_';
  Name = Trim(Name);
  if (Name.empty()) Name = "backup";
  return Name + "_";
}

}  // namespace kelvo
