#pragma once
// Account tests against an in-process cloudsim: a program folder of their own (so config.ini and
// service_token.dat are private to the test), the Firebase emulator variables pointing at the
// server, the built-in service account as one of its users, one fixed clock shared by the program
// and the server, a machine identity of the test's own, and short HTTP time-outs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "account/uFirebaseServiceAuth.h"
#include "cloudsim/CloudSim.h"
#include "core/Endpoints.h"
#include "core/HttpClient.h"
#include "core/uAppConfig.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "support/TempDir.h"

namespace kelvo::test {

class CloudFixture : public ::testing::Test {
 protected:
  using TimePoint = std::chrono::system_clock::time_point;

  TempDir Root;
  std::string ProgramDir = Root / "program";
  std::string ProgramData = Root / "programdata";
  std::string AppData = Root / "appdata";
  ScopedEnv PD{"PROGRAMDATA", ProgramData.c_str()};
  ScopedEnv AD{"APPDATA", AppData.c_str()};
  cloudsim::TCloudSim Sim;
  std::optional<ScopedEnv> AuthHost;
  std::optional<ScopedEnv> DatabaseHost;
  // 2025-03-10 09:00:00 UTC.
  std::atomic<TimePoint> ClockNow{TimePoint{} + std::chrono::seconds(1741597200)};

  ScopedQuickRetries QuickRetries;

  void SetUp() override {
    std::filesystem::create_directories(ProgramDir);
    platform::SetProgramDirForTests(ProgramDir);
    TAppConfig::ResetInstanceForTests();
    ResetServiceTokenCacheForTests();
    platform::SetMachineIdentitySource([] { return std::string("kelvo-test-machine-1"); });
    platform::SetClock([this] { return ClockNow.load(); });
    Sim.SetClock([this] { return ClockNow.load(); });
    Sim.SetApiKey(BuiltInFirebaseApiKey());
    Sim.AddUser({BuiltInServiceLogin(), BuiltInServicePassword(), "Kelvo Servis", "", false});
    Sim.Start();
    AuthHost.emplace("FIREBASE_AUTH_EMULATOR_HOST", Sim.HostPort().c_str());
    DatabaseHost.emplace("FIREBASE_DATABASE_EMULATOR_HOST", Sim.HostPort().c_str());
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
    ResetServiceTokenCacheForTests();
    TAppConfig::ResetInstanceForTests();
    platform::SetProgramDirForTests("");
  }

  void Advance(std::chrono::seconds Seconds) { ClockNow = ClockNow.load() + Seconds; }

  std::string ConfigDir() { return TAppConfig::Instance().GetConfigDir(); }
  std::string TokenFile() { return ConfigDir() + "/service_token.dat"; }

  // Sign-in requests seen so far (the emulator path).
  int64_t SignIns() const {
    return Sim.RequestCount("POST", "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword");
  }
};

}  // namespace kelvo::test
