#pragma once
// Drive tests against an in-process cloudsim: config.ini points the token endpoint and the Drive at
// the server, and the regional settings are Turkish.
#include <string>

#include "core/DateTimes.h"
#include "drive/uGoogleAuth.h"
#include "support/SimulatedCloud.h"

namespace kelvo::test {

inline constexpr char TestClientId[] = "123-test.apps.googleusercontent.com";
inline constexpr char TestClientSecret[] = "GOCSPX-test secret/+&=";
inline constexpr char TestRefreshToken[] = "1//0test-refresh/token+=";

class DriveFixture : public SimulatedCloudTest {
 protected:
  DriveFixture() : SimulatedCloudTest("kelvo-drive-test-machine") {}

  void SetUp() override {
    Process.UseTurkishRegionalSettings();
    Sim.AddRefreshToken(TestRefreshToken, TestClientId);
    Sim.Start();
    WriteBytes(ProgramDir + "/config/config.ini",
               "[Endpoints]\r\nGoogleTokenUrl=" + Sim.TokenUrl() + "\r\nGoogleDriveUrl=" + Sim.DriveUrl() + "\r\n");
  }

  std::string CachePath() { return TAppConfig::Instance().GetGoogleTokenCachePath(); }
  int64_t Refreshes() const { return Sim.RequestCount("POST", cloudsim::GoogleTokenPath); }

  // A holder with a live access token the Drive accepts, expiring in an hour.
  TGoogleAuth LiveAuth() {
    TGoogleAuth Auth(TestClientId, TestClientSecret, 8080, false);
    Auth.SetTokenData({Sim.IssueAccessToken(3600), TestRefreshToken, Now() + 1.0 / 24});
    return Auth;
  }
};

}  // namespace kelvo::test
