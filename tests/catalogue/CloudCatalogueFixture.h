#pragma once
// Cloud restore tests against an in-process cloudsim: the account directory with a signed-in
// account "acme" ("Acme Ltd"), the token endpoint and the Drive named in config.ini, a live token
// cache, and Turkish regional settings. The account's Drive folder is created in memory; tests add
// plan folders and files to it.
#include <chrono>
#include <string>

#include "../account/CloudFixture.h"
#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "core/DateTimes.h"
#include "drive/uGoogleAuth.h"
#include "platform/Paths.h"
#include "support/FileModes.h"

namespace kelvo::test {

class CloudCatalogueFixture : public CloudFixture {
 protected:
  std::string AccountFolderId;

  void SetUp() override {
    CloudFixture::SetUp();
    Process.UseTurkishRegionalSettings();
    Sim.SetDatabase(nlohmann::ordered_json::parse(
        R"({"Lisanslar":{"acme":{"LoginName":"acme","Sifre":"pw","Musteri":"Acme Ltd"}}})"));
    Sim.AddRefreshToken("1//refresh");
    WriteBytes(ProgramDir + "/config/config.ini",
               "[Endpoints]\r\nGoogleTokenUrl=" + Sim.TokenUrl() + "\r\nGoogleDriveUrl=" + Sim.DriveUrl() + "\r\n");
    TAppConfig::ResetInstanceForTests();
    SaveSavedSignIn({"acme", "pw", "Acme Ltd"});
    WriteTokenCache();
    AccountFolderId = Sim.AddDriveFolder(Sim.DriveRootId(), "Acme Ltd");
  }

  void WriteTokenCache() {
    TGoogleAuth Auth("client", "secret", 8080, false);
    Auth.SetTokenData({Sim.IssueAccessToken(3600), "1//refresh", Now() + 1.0 / 24});
    Auth.SaveTokens(TAppConfig::Instance().GetGoogleTokenCachePath());
  }

  // Drive modification time: minutes after 2025-01-01 00:00 UTC.
  static std::chrono::system_clock::time_point At(int Minutes) {
    return std::chrono::system_clock::time_point{} + std::chrono::seconds(1735689600 + Minutes * 60);
  }

  static std::string PrivateTempFolder() { return platform::PrivateTempDir(); }
};

}  // namespace kelvo::test
