#pragma once
// Token directory and sign-in tests against an in-process cloudsim: the account tests' cloud (the
// database emulator, the service account, the shared clock, every cache forgotten between tests)
// with Turkish regional settings, and a customer account "acme" signed in.
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

  void SetUp() override {
    CloudFixture::SetUp();
    Process.UseTurkishRegionalSettings();
  }
  // The directories' caches, forgotten mid-test.
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
