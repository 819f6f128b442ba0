// The script bridge's own cost: a script that writes its result and exits at once, run through
// RunRestoreScript (exchange files written, result read, files removed) and started directly with
// the same arguments. Runs alternate so both see the same machine load.
//   bench_script_bridge [runs]      (default 200)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/FileIO.h"
#include "platform/Process.h"
#include "restore/uRestoreEngine.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::ordered_json;

double Ms(Clock::duration D) { return std::chrono::duration<double, std::milli>(D).count(); }

}  // namespace

int main(int argc, char** argv) {
  const int Runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const std::string Dir = kelvo::test::MakeUniqueTempFolder("kelvo-bench-bridge-");
  if (Dir.empty()) return 1;
  const std::string Script = Dir + "/answer.sh";
  kelvo::WriteFileAtomic(Script,
                         "while [ $# -ge 2 ]; do case $1 in -ResultPath) res=$2;; esac; shift 2; done\n"
                         "printf '{\"success\":true,\"message\":\"tamam\"}' >\"$res\"\n");
  const std::string Config = Dir + "/config.json";
  const std::string Payload = Dir + "/payload.json";
  const std::string Result = Dir + "/result.json";
  kelvo::WriteTextFileWithBom(Config, R"({"server":"SRV","port":1433,"userName":"sa","password":"pw"})", 0600, true);
  kelvo::WriteTextFileWithBom(Payload, R"({"backupFilePath":"\/yedek\/db.bak","targetDatabaseName":""})", 0600, true);

  auto Direct = [&] {
    const int Code = kelvo::platform::RunHiddenProcess(
        "/bin/sh", {Script, "-Mode", "restore", "-ConfigPath", Config, "-PayloadPath", Payload, "-ResultPath", Result},
        "sh: ");
    std::error_code Ignored;
    std::filesystem::remove(Result, Ignored);
    return Code == 0;
  };
  auto Bridge = [&] {
    json ConfigObject = {{"server", "SRV"}, {"port", 1433}, {"userName", "sa"}, {"password", "pw"}};
    json PayloadObject = {{"backupFilePath", "/yedek/db.bak"}, {"targetDatabaseName", ""}};
    json ResultObject;
    std::string Message;
    return kelvo::TRestoreEngine::RunRestoreScript(Script, std::move(ConfigObject), "restore", std::move(PayloadObject),
                                                   ResultObject, Message);
  };

  for (int I = 0; I < 5; ++I)
    if (!Direct() || !Bridge()) {
      std::fprintf(stderr, "warm-up run failed\n");
      return 1;
    }
  Clock::duration DirectTime{}, BridgeTime{};
  for (int I = 0; I < Runs; ++I) {
    auto T0 = Clock::now();
    const bool A = Direct();
    auto T1 = Clock::now();
    const bool B = Bridge();
    auto T2 = Clock::now();
    if (!A || !B) {
      std::fprintf(stderr, "run %d failed\n", I);
      return 1;
    }
    DirectTime += T1 - T0;
    BridgeTime += T2 - T1;
  }
  std::filesystem::remove_all(Dir);

  const double DirectMs = Ms(DirectTime) / Runs;
  const double BridgeMs = Ms(BridgeTime) / Runs;
  const long PeakKiB = kelvo::test::PeakResidentKiB();
  std::printf("runs:                      %d\n", Runs);
  std::printf("script started directly:   %.3f ms/run (reference)\n", DirectMs);
  std::printf("through RunRestoreScript:  %.3f ms/run\n", BridgeMs);
  std::printf("bridge overhead:           %.3f ms/run\n", BridgeMs - DirectMs);
  std::printf("ratio bridge/direct:       %.3f\n", BridgeMs / DirectMs);
  std::printf("peak RSS:                  %ld KiB\n", PeakKiB);
  return 0;
}
