#include "support/ProcessState.h"

#include <filesystem>
#include <optional>

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "account/uFirebaseServiceAuth.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "drive/uFirebaseGoogleTokenStore.h"
#include "drive/uGoogleAuth.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "platform/SecretFiles.h"
#include "restore/uRestoreEngine.h"

namespace kelvo::test {

IsolatedProcessState::IsolatedProcessState() { Reset(); }

IsolatedProcessState::IsolatedProcessState(const TempDir& Root) : ProgramDir(Root / "program") {
  Reset();
  SetEnv("PROGRAMDATA", (Root / "programdata").c_str());
  SetEnv("APPDATA", (Root / "appdata").c_str());
  // The private temporary folder goes below "run": XDG_RUNTIME_DIR on Linux, TMP and TEMP on Windows.
  SetEnv("XDG_RUNTIME_DIR", (Root / "run").c_str());
  SetEnv("TMP", (Root / "run").c_str());
  SetEnv("TEMP", (Root / "run").c_str());
  std::filesystem::create_directories(Root / "run");
  std::filesystem::create_directories(ProgramDir);
  platform::SetProgramDirForTests(ProgramDir);
}

IsolatedProcessState::~IsolatedProcessState() {
  Reset();
  while (!FEnv.empty()) FEnv.pop_back();  // the last set first, should a name come twice
}

void IsolatedProcessState::SetEnv(const std::string& Name, const char* Value) { FEnv.emplace_back(Name, Value); }

void IsolatedProcessState::UseShortCloudWaits() {
  THttpTimeouts Short = FHttpTimeouts;
  Short.ConnectMs = 2000;
  Short.TotalMs = 1500;
  Short.LowSpeedSeconds = 1;
  THttpClient::SetDefaultTimeouts(Short);
  TRetryPolicy Quick = FRetryPolicy;
  Quick.FirstDelay = std::chrono::milliseconds(1);
  Quick.MaxDelay = std::chrono::milliseconds(4);
  Quick.MaxRetryAfter = std::chrono::milliseconds(20);
  TRetryPolicy::SetDefault(Quick);
}

void IsolatedProcessState::UseTurkishRegionalSettings() const {
  const platform::TRegionalSettings Turkish{',', "%d.%m.%Y", "%H:%M:%S"};
  platform::SetRegionalSettingsForTests(&Turkish);
}

void IsolatedProcessState::Reset() const {
  platform::SetProgramDirForTests("");
  platform::SetClock({});
  platform::SetRegionalSettingsForTests(nullptr);
  platform::SetMachineIdentitySource({});
  platform::SetMachineGroupNameForTests("");
  TAppConfig::ResetInstanceForTests();
  platform::SetProtectionWarningSink({});
  ConfigureLog({});
  THttpClient::SetDefaultTimeouts(FHttpTimeouts);
  TRetryPolicy::SetDefault(FRetryPolicy);
  ResetAccountCacheForTests();
  ResetSavedSignInCacheForTests();
  ResetServiceTokenCacheForTests();
  SetSavedSignInSleepForTests(nullptr);
  SetSavedSignInReaderForTests(nullptr);
  ResetGoogleAccountPoolCacheForTests();
  ResetGoogleAccountLinksCacheForTests();
  SetGoogleUserMessageSink({});
  SetScriptHostForTests("");
  SetRarSystemFoldersForTests(std::nullopt);
}

}  // namespace kelvo::test
