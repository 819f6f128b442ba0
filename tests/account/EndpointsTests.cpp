// Service addresses: emulator variables over config.ini over the built-in defaults.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Endpoints.h"
#include "core/uAppConfig.h"
#include "platform/Paths.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace kelvo {
namespace {

class EndpointsTest : public ::testing::Test {
 protected:
  test::TempDir Root;
  test::IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;

  void SetUp() override {
    Process.SetEnv("FIREBASE_AUTH_EMULATOR_HOST", nullptr);
    Process.SetEnv("FIREBASE_DATABASE_EMULATOR_HOST", nullptr);
    std::filesystem::create_directories(ProgramDir + "/config");
  }
  void WriteIni(const std::string& Text) { test::WriteBytes(ProgramDir + "/config/config.ini", Text); }
};

TEST_F(EndpointsTest, DefaultsAreTheRealServicesAndTheBuiltInDatabase) {
  const TServiceEndpoints E = GetServiceEndpoints();
  EXPECT_EQ(E.FirebaseAuthUrl, "https://identitytoolkit.googleapis.com/v1/accounts:signInWithPassword");
  EXPECT_EQ(E.FirebaseDatabaseUrl, BuiltInFirebaseDatabaseUrl());
  EXPECT_EQ(E.GoogleTokenUrl, "https://oauth2.googleapis.com/token");
  EXPECT_EQ(E.GoogleDriveUrl, "https://www.googleapis.com/drive/v3/files");
  EXPECT_EQ(BuiltInFirebaseDatabaseUrl(), KELVO_FIREBASE_DATABASE_URL);
  EXPECT_TRUE(BuiltInFirebaseDatabaseUrl().rfind("https://", 0) == 0);
  EXPECT_FALSE(BuiltInFirebaseApiKey().empty());
  EXPECT_FALSE(BuiltInServiceLogin().empty());
  EXPECT_FALSE(BuiltInServicePassword().empty());
}

TEST_F(EndpointsTest, ConfigIniReplacesEachAddressAndBlankValuesDoNot) {
  WriteIni(
      "[Endpoints]\r\nFirebaseAuthUrl= http://127.0.0.1:1/signin \r\nFirebaseDatabaseUrl=http://127.0.0.1:2/\r\n"
      "GoogleTokenUrl=http://127.0.0.1:3/token\r\nGoogleDriveUrl=\r\n");
  const TServiceEndpoints E = GetServiceEndpoints();
  EXPECT_EQ(E.FirebaseAuthUrl, "http://127.0.0.1:1/signin");
  EXPECT_EQ(E.FirebaseDatabaseUrl, "http://127.0.0.1:2/");
  EXPECT_EQ(E.GoogleTokenUrl, "http://127.0.0.1:3/token");
  EXPECT_EQ(E.GoogleDriveUrl, "https://www.googleapis.com/drive/v3/files");
  // Read anew on every call.
  WriteIni("[Endpoints]\r\nGoogleDriveUrl=http://127.0.0.1:4/drive/v3/files\r\n");
  EXPECT_EQ(GetGoogleDriveUrl(), "http://127.0.0.1:4/drive/v3/files");
  EXPECT_EQ(GetFirebaseAuthUrl(), "https://identitytoolkit.googleapis.com/v1/accounts:signInWithPassword");
}

TEST_F(EndpointsTest, EmulatorVariablesWinOverConfigIni) {
  WriteIni("[Endpoints]\r\nFirebaseAuthUrl=http://127.0.0.1:1/signin\r\nFirebaseDatabaseUrl=http://127.0.0.1:2/\r\n");
  test::ScopedEnv A("FIREBASE_AUTH_EMULATOR_HOST", "127.0.0.1:9099");
  test::ScopedEnv D("FIREBASE_DATABASE_EMULATOR_HOST", "http://localhost:9000/");
  EXPECT_EQ(GetFirebaseAuthUrl(),
            "http://127.0.0.1:9099/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword");
  // The emulator is told which database: the first label of the configured or built-in address.
  EXPECT_EQ(GetFirebaseDatabaseUrl(), "http://localhost:9000/?ns=127");
  WriteIni("[Endpoints]\r\nFirebaseDatabaseUrl=https://acme-default-rtdb.europe-west1.firebasedatabase.app/\r\n");
  EXPECT_EQ(GetFirebaseDatabaseUrl(), "http://localhost:9000/?ns=acme-default-rtdb");
  WriteIni("");
  EXPECT_EQ(GetFirebaseDatabaseUrl(), "http://localhost:9000/?ns=kelvo-restore-0000000-rtdb");
  WriteIni("[Endpoints]\r\nFirebaseAuthUrl=http://127.0.0.1:1/signin\r\n");
  {
    test::ScopedEnv Blank("FIREBASE_AUTH_EMULATOR_HOST", "  ");
    EXPECT_EQ(GetFirebaseAuthUrl(), "http://127.0.0.1:1/signin");
  }
}

}  // namespace
}  // namespace kelvo
