#pragma once
// Account tests against an in-process cloudsim: the program's process-wide state and folders of
// their own (so config.ini and service_token.dat are private to the test), the Firebase emulator
// variables pointing at the server, the built-in service account as one of its users, one fixed
// clock shared by the program and the server, a machine identity of the test's own, and short
// waits for the cloud.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "account/uFirebaseServiceAuth.h"
#include "cloudsim/CloudSim.h"
#include "core/Endpoints.h"
#include "core/uAppConfig.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace kelvo::test {

class CloudFixture : public ::testing::Test {
 protected:
  using TimePoint = std::chrono::system_clock::time_point;

  TempDir Root;
  IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;
  cloudsim::TCloudSim Sim;
  // 2025-03-10 09:00:00 UTC.
  std::atomic<TimePoint> ClockNow{TimePoint{} + std::chrono::seconds(1741597200)};

  void SetUp() override {
    platform::SetMachineIdentitySource([] { return std::string("kelvo-test-machine-1"); });
    platform::SetClock([this] { return ClockNow.load(); });
    Sim.SetClock([this] { return ClockNow.load(); });
    Sim.SetApiKey(BuiltInFirebaseApiKey());
    Sim.AddUser({BuiltInServiceLogin(), BuiltInServicePassword(), "Kelvo Servis", "", false});
    Sim.Start();
    Process.SetEnv("FIREBASE_AUTH_EMULATOR_HOST", Sim.HostPort().c_str());
    Process.SetEnv("FIREBASE_DATABASE_EMULATOR_HOST", Sim.HostPort().c_str());
    Process.UseShortCloudWaits();
  }

  // The server stops before the clock it reads goes.
  void TearDown() override { Sim.Stop(); }

  void Advance(std::chrono::seconds Seconds) { ClockNow = ClockNow.load() + Seconds; }

  std::string ConfigDir() { return TAppConfig::Instance().GetConfigDir(); }
  std::string TokenFile() { return ConfigDir() + "/service_token.dat"; }

  // Sign-in requests seen so far (the emulator path).
  int64_t SignIns() const {
    return Sim.RequestCount("POST", "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword");
  }
};

}  // namespace kelvo::test
