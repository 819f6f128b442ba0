#pragma once
// Drive tests against an in-process cloudsim: a program folder of their own whose config.ini points
// the token endpoint and the Drive at the server, one fixed clock shared by the program and the
// server, pinned regional settings and machine identity, and short HTTP time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "cloudsim/CloudSim.h"
#include "core/DateTimes.h"
#include "core/HttpClient.h"
#include "core/uAppConfig.h"
#include "drive/uGoogleAuth.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "support/TempDir.h"

namespace kelvo::test {

inline constexpr char TestClientId[] = "123-test.apps.googleusercontent.com";
inline constexpr char TestClientSecret[] = "GOCSPX-test secret/+&=";
inline constexpr char TestRefreshToken[] = "1//0test-refresh/token+=";

class DriveFixture : public ::testing::Test {
 protected:
  using TimePoint = std::chrono::system_clock::time_point;

  TempDir Root;
  std::string ProgramDir = Root / "program";
  ScopedEnv PD{"PROGRAMDATA", (Root / "programdata").c_str()};
  ScopedEnv AD{"APPDATA", (Root / "appdata").c_str()};
  cloudsim::TCloudSim Sim;
  // 2025-03-10 09:00:00 UTC.
  std::atomic<TimePoint> ClockNow{TimePoint{} + std::chrono::seconds(1741597200)};
  platform::TRegionalSettings Regional{',', "%d.%m.%Y", "%H:%M:%S"};

  ScopedQuickRetries QuickRetries;

  void SetUp() override {
    std::filesystem::create_directories(ProgramDir);
    platform::SetProgramDirForTests(ProgramDir);
    TAppConfig::ResetInstanceForTests();
    platform::SetRegionalSettingsForTests(&Regional);
    platform::SetMachineIdentitySource([] { return std::string("kelvo-drive-test-machine"); });
    platform::SetClock([this] { return ClockNow.load(); });
    Sim.SetClock([this] { return ClockNow.load(); });
    Sim.AddRefreshToken(TestRefreshToken, TestClientId);
    Sim.Start();
    WriteBytes(ProgramDir + "/config/config.ini",
               "[Endpoints]\r\nGoogleTokenUrl=" + Sim.TokenUrl() + "\r\nGoogleDriveUrl=" + Sim.DriveUrl() + "\r\n");
    THttpTimeouts Short;
    Short.ConnectMs = 2000;
    Short.TotalMs = 1500;
    Short.LowSpeedSeconds = 1;
    THttpClient::SetDefaultTimeouts(Short);
  }

  void TearDown() override {
    Sim.Stop();
    THttpClient::SetDefaultTimeouts(THttpTimeouts{});
    platform::SetClock({});
    platform::SetMachineIdentitySource({});
    platform::SetRegionalSettingsForTests(nullptr);
    TAppConfig::ResetInstanceForTests();
    platform::SetProgramDirForTests("");
  }

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
