#pragma once
// Account tests against an in-process cloudsim (folders of their own, so config.ini and
// service_token.dat are private to the test): the Firebase emulator variables point at the server,
// and the built-in service account is one of its users.
#include <string>

#include "account/uFirebaseServiceAuth.h"
#include "core/Endpoints.h"
#include "support/SimulatedCloud.h"

namespace kelvo::test {

class CloudFixture : public SimulatedCloudTest {
 protected:
  CloudFixture() : SimulatedCloudTest("kelvo-test-machine-1") {}

  void SetUp() override {
    Sim.SetApiKey(BuiltInFirebaseApiKey());
    Sim.AddUser({BuiltInServiceLogin(), BuiltInServicePassword(), "Kelvo Servis", "", false});
    Sim.Start();
    Process.SetEnv("FIREBASE_AUTH_EMULATOR_HOST", Sim.HostPort().c_str());
    Process.SetEnv("FIREBASE_DATABASE_EMULATOR_HOST", Sim.HostPort().c_str());
  }

  std::string TokenFile() { return ConfigDir() + "/service_token.dat"; }

  // Sign-in requests seen so far (the emulator path).
  int64_t SignIns() const {
    return Sim.RequestCount("POST", "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword");
  }
};

}  // namespace kelvo::test
