#pragma once
// Drive tests against an in-process cloudsim: the program's process-wide state and folders of their
// own, config.ini pointing the token endpoint and the Drive at the server, one fixed clock shared by
// the program and the server, Turkish regional settings, a machine identity of the test's own, and
// short waits for the cloud.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "cloudsim/CloudSim.h"
#include "core/DateTimes.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace kelvo::test {

inline constexpr char TestClientId[] = "123-test.apps.googleusercontent.com";
inline constexpr char TestClientSecret[] = "GOCSPX-test secret/+&=";
inline constexpr char TestRefreshToken[] = "1//0test-refresh/token+=";

class DriveFixture : public ::testing::Test {
 protected:
  using TimePoint = std::chrono::system_clock::time_point;

  TempDir Root;
  IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;
  cloudsim::TCloudSim Sim;
  // 2025-03-10 09:00:00 UTC.
  std::atomic<TimePoint> ClockNow{TimePoint{} + std::chrono::seconds(1741597200)};

  void SetUp() override {
    Process.UseTurkishRegionalSettings();
    platform::SetMachineIdentitySource([] { return std::string("kelvo-drive-test-machine"); });
    platform::SetClock([this] { return ClockNow.load(); });
    Sim.SetClock([this] { return ClockNow.load(); });
    Sim.AddRefreshToken(TestRefreshToken, TestClientId);
    Sim.Start();
    WriteBytes(ProgramDir + "/config/config.ini",
               "[Endpoints]\r\nGoogleTokenUrl=" + Sim.TokenUrl() + "\r\nGoogleDriveUrl=" + Sim.DriveUrl() + "\r\n");
    Process.UseShortCloudWaits();
  }

  // The server stops before the clock it reads goes.
  void TearDown() override { Sim.Stop(); }

  void Advance(std::chrono::seconds Seconds) { ClockNow = ClockNow.load() + Seconds; }
  std::string ConfigDir() { return TAppConfig::Instance().GetConfigDir(); }
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
