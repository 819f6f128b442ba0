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

constexpr char kDefaultScriptHost[] = "/bin/sh";
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
  return GHostOverride.empty() ? std::string(kDefaultScriptHost) : GHostOverride;
}

std::string TRestoreEngine::GetSqlScriptPath() {
  return ScriptPathInProgramDir("RestoreDatabase.sh", "SQL restore script dosyasi bulunamadi: ");
}

std::string TRestoreEngine::GetFirebirdScriptPath() {
  return ScriptPathInProgramDir("BackupFirebird.sh", "Firebird script dosyasi bulunamadi: ");
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
      ScriptPath.empty() || ScriptPath[0] == '/' ? ScriptPath : fs::absolute(ScriptPath).string();
  const int ExitCode = platform::RunHiddenProcess(
      Host, {Script, "-Mode", Mode, "-ConfigPath", ConfigPath, "-PayloadPath", PayloadPath, "-ResultPath", ResultPath},
      "PowerShell baslatilamadi: ");

  if (!FileExists(ResultPath))
    throw ERestoreScriptError("Restore script sonucu uretmedi. Cikis kodu: " + std::to_string(ExitCode));

  const uintmax_t ResultSize = fs::file_size(ResultPath, Ec);
  if (!Ec && ResultSize > MaxRestoreResultSize + 3)
    throw ERestoreScriptError("Restore script sonucu okunamadi.");
  return ReadRestoreResult(ReadFileBytes(ResultPath), ResultObject, ResultMessage);
}

}  // namespace kelvo
