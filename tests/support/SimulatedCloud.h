#pragma once
// Tests against an in-process cloudsim: the program's process-wide state and folders of their own,
// one fixed clock shared by the program and the server, a machine identity of the test's own, and
// short waits for the cloud. A fixture sets the server up in its SetUp, then starts it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "cloudsim/CloudSim.h"
#include "core/uAppConfig.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace kelvo::test {

class SimulatedCloudTest : public ::testing::Test {
 protected:
  using TimePoint = std::chrono::system_clock::time_point;

  explicit SimulatedCloudTest(std::string MachineIdentity) {
    platform::SetMachineIdentitySource([MachineIdentity] { return MachineIdentity; });
    platform::SetClock([this] { return ClockNow.load(); });
    Sim.SetClock([this] { return ClockNow.load(); });
    Process.UseShortCloudWaits();
  }

  // The server stops before the clock it reads goes.
  void TearDown() override { Sim.Stop(); }

  void Advance(std::chrono::seconds Seconds) { ClockNow = ClockNow.load() + Seconds; }
  std::string ConfigDir() { return TAppConfig::Instance().GetConfigDir(); }

  TempDir Root;
  IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;
  cloudsim::TCloudSim Sim;
  // 2025-03-10 09:00:00 UTC.
  std::atomic<TimePoint> ClockNow{TimePoint{} + std::chrono::seconds(1741597200)};
};

}  // namespace kelvo::test
