// The script bridge: exchange files in the private working folder, the script run as a hidden child
// of the script host, and the result file read back.
#include <array>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>

#include "core/AsciiJson.h"
#include "core/FileIO.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "restore/RestoreResult.h"
#include "restore/uRestoreEngine.h"

namespace kelvo {

namespace fs = std::filesystem;

namespace {

// The platform this build runs its restore scripts on; everything else follows from ScriptHostFor.
#ifdef _WIN32
constexpr TScriptPlatform kScriptPlatform = TScriptPlatform::Windows;
#else
constexpr TScriptPlatform kScriptPlatform = TScriptPlatform::Posix;
#endif

constexpr char kWorkDirName[] = "KorvessaRestore";

std::mutex GHostLock;
std::string GHostOverride;

// One generator for the process, seeded once; runs on two threads may ask for tokens at once.
std::mutex GTokenLock;

std::mt19937& TokenGenerator() {
  static std::mt19937 Generator = [] {
    std::random_device Device;
    const auto Clock = static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
    std::seed_seq Seed{Device(), Device(), static_cast<uint32_t>(Clock), static_cast<uint32_t>(Clock >> 32)};
    return std::mt19937(Seed);
  }();
  return Generator;
}

// Removes the exchange files of one run however the run ends.
class ExchangeFiles {
 public:
  explicit ExchangeFiles(std::array<std::string, 3> Paths) : FPaths(std::move(Paths)) {}
  ~ExchangeFiles() {
    std::error_code Ec;
    for (const std::string& Path : FPaths) fs::remove(Path, Ec);
  }
  ExchangeFiles(const ExchangeFiles&) = delete;
  ExchangeFiles& operator=(const ExchangeFiles&) = delete;

 private:
  std::array<std::string, 3> FPaths;
};

std::string ScriptPathInProgramDir(const std::string& Name, const char* MissingText) {
  const std::string Path = JoinPath(JoinPath(platform::ProgramDir(), "sql"), Name);
  if (!FileExists(Path)) throw ERestoreScriptError(MissingText + Path);
  return Path;
}

}  // namespace

TScriptHost ScriptHostFor(TScriptPlatform Platform) {
  if (Platform == TScriptPlatform::Posix) return {"/bin/sh", {}, "RestoreDatabase.sh", "BackupFirebird.sh"};
  // The system's own Windows PowerShell rather than whatever "powershell.exe" PATH finds first; the
  // name only when the system folder is unknown or lacks it.
  std::string Program = "powershell.exe";
  const std::string SystemRoot = platform::GetEnv("SystemRoot");
  if (!SystemRoot.empty()) {
    const std::string Full = SystemRoot + "\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
    if (FileExists(Full)) Program = Full;
  }
  return {Program,
          {"-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass", "-File"},
          "RestoreDatabase.ps1",
          "BackupFirebird.ps1"};
}

void SetScriptHostForTests(const std::string& Path) {
  std::lock_guard<std::mutex> Guard(GHostLock);
  GHostOverride = Path;
}

std::string MakeRestoreToken() {
  static constexpr std::array<std::string_view, 3> kRanges = {"0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
                                                              "abcdefghijklmnopqrstuvwxyz"};
  std::lock_guard<std::mutex> Guard(GTokenLock);
  std::mt19937& Generator = TokenGenerator();
  std::string Token;
  Token.reserve(11);
  for (int I = 0; I < 11; ++I) {
    const std::string_view Range = kRanges[std::uniform_int_distribution<size_t>(0, kRanges.size() - 1)(Generator)];
    Token += Range[std::uniform_int_distribution<size_t>(0, Range.size() - 1)(Generator)];
  }
  return Token;
}

std::string GetRestoreWorkDir() { return JoinPath(platform::PrivateTempDir(), kWorkDirName); }

std::string TRestoreEngine::GetPowerShellPath() {
  std::lock_guard<std::mutex> Guard(GHostLock);
  return GHostOverride.empty() ? ScriptHostFor(kScriptPlatform).Program : GHostOverride;
}

std::string TRestoreEngine::GetSqlScriptPath() {
  return ScriptPathInProgramDir(ScriptHostFor(kScriptPlatform).SqlScript, "SQL restore script dosyasi bulunamadi: ");
}

std::string TRestoreEngine::GetFirebirdScriptPath() {
  return ScriptPathInProgramDir(ScriptHostFor(kScriptPlatform).FirebirdScript, "Firebird script dosyasi bulunamadi: ");
}

bool TRestoreEngine::RunRestoreScript(const std::string& ScriptPath, nlohmann::ordered_json Config,
                                      const std::string& Mode, std::optional<nlohmann::ordered_json> Payload,
                                      nlohmann::ordered_json& ResultObject, std::string& ResultMessage) {
  ResultMessage.clear();
  ResultObject = nullptr;

  const std::string Host = GetPowerShellPath();
  const std::string WorkDir = GetRestoreWorkDir();
  std::error_code Ec;
  fs::create_directories(WorkDir, Ec);
  if (!DirectoryExists(WorkDir))
    throw EFileError("Klasor olusturulamadi: " + WorkDir + " (" + (Ec ? Ec.message() : "?") + ")");

  const std::string Token = MakeRestoreToken();
  const std::string ConfigPath = JoinPath(WorkDir, "config_" + Token + ".json");
  const std::string PayloadPath = JoinPath(WorkDir, "payload_" + Token + ".json");
  const std::string ResultPath = JoinPath(WorkDir, "result_" + Token + ".json");
  const ExchangeFiles Cleanup({ConfigPath, PayloadPath, ResultPath});

  // The files carry passwords: readable by this user only, whatever the umask.
  WriteTextFileWithBom(ConfigPath, ToAsciiJson(Config), 0600, true);
  Config = nullptr;
  WriteTextFileWithBom(PayloadPath, Payload ? ToAsciiJson(*Payload) : std::string("{}"), 0600, true);
  Payload.reset();

  // Every path is absolute, so no value can be taken for a switch of the script host.
  const std::string Script =
      ScriptPath.empty() || fs::path(ScriptPath).is_absolute() ? ScriptPath : fs::absolute(ScriptPath).string();
  std::vector<std::string> Args = ScriptHostFor(kScriptPlatform).Switches;
  Args.insert(Args.end(), {Script, "-Mode", Mode, "-ConfigPath", ConfigPath, "-PayloadPath", PayloadPath, "-ResultPath",
                           ResultPath});
  const int ExitCode = platform::RunHiddenProcess(Host, Args, "PowerShell baslatilamadi: ");

  if (!FileExists(ResultPath))
    throw ERestoreScriptError("Restore script sonucu uretmedi. Cikis kodu: " + std::to_string(ExitCode));

  const uintmax_t ResultSize = fs::file_size(ResultPath, Ec);
  if (!Ec && ResultSize > MaxRestoreResultSize + 3)
    throw ERestoreScriptError("Restore script sonucu okunamadi.");
  return ReadRestoreResult(ReadFileBytes(ResultPath), ResultObject, ResultMessage);
}

}  // namespace kelvo
