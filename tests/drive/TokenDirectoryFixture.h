#pragma once
// Token directory and sign-in tests against an in-process cloudsim: the account tests' cloud (the
// database emulator, the service account, the shared clock) with pinned regional settings, every
// cache of the directories forgotten between tests, and a customer account "acme" signed in.
#include <nlohmann/json.hpp>
#include <string>

#include "../account/CloudFixture.h"
#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "core/FileIO.h"
#include "core/uLogger.h"
#include "drive/uFirebaseGoogleTokenStore.h"
#include "drive/uGoogleAuth.h"
#include "platform/Regional.h"

namespace kelvo::test {

class TokenDirectoryFixture : public CloudFixture {
 protected:
  using Json = nlohmann::ordered_json;
  platform::TRegionalSettings Regional{',', "%d.%m.%Y", "%H:%M:%S"};

  void SetUp() override {
    CloudFixture::SetUp();
    platform::SetRegionalSettingsForTests(&Regional);
    ForgetCaches();
  }
  void TearDown() override {
    ConfigureLog({});
    ForgetCaches();
    platform::SetRegionalSettingsForTests(nullptr);
    CloudFixture::TearDown();
  }
  static void ForgetCaches() {
    ResetAccountCacheForTests();
    ResetSavedSignInCacheForTests();
    ResetGoogleAccountPoolCacheForTests();
    ResetGoogleAccountLinksCacheForTests();
  }

  std::string CachePath() { return TAppConfig::Instance().GetGoogleTokenCachePath(); }
  // The token set the cache file holds, as the Drive side will load it.
  TTokenData CachedTokens() {
    TGoogleAuth Auth("id", "secret", 0, false);
    Auth.LoadTokens(CachePath());
    return Auth.GetTokenData();
  }
  int64_t Gets(const std::string& Node) const { return Sim.RequestCount("GET", "/" + Node + ".json"); }

  // Switches the log on into a file of the test and returns its path.
  std::string StartLog() {
    ConfigDir();  // creating the configuration later would switch the log off again
    TLogSettings Settings;
    Settings.Enabled = true;
    Settings.FilePath = Root / "log.txt";
    Settings.OldFilePath = Root / "log.old.txt";
    ConfigureLog(Settings);
    return Settings.FilePath;
  }
};

}  // namespace kelvo::test
