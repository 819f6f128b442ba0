// The service session: signed-in managers from memory, from the cache file, or from a new sign-in.
#include <chrono>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "CloudFixture.h"
#include "core/AsciiJson.h"
#include "core/Base64.h"
#include "core/DateTimes.h"
#include "core/FileIO.h"
#include "support/FileModes.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;
constexpr double Second = 1.0 / 86400.0;

class ServiceAuthTest : public test::CloudFixture {
 protected:
  void SetUp() override {
    CloudFixture::SetUp();
    Sim.SetDatabase({{"Lisanslar", {{"acme", {{"Sifre", "x"}}}}}});
  }

  // A manager from the session; fails the test when there is none.
  std::unique_ptr<TFirebaseManager> Get() {
    std::unique_ptr<TFirebaseManager> M = std::make_unique<TFirebaseManager>("stale", "stale", "");
    std::string Error = "stale";
    EXPECT_TRUE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error)) << Error;
    EXPECT_EQ(Error, "");
    return M;
  }
  // The manager reads the database with its token.
  void ExpectReads(TFirebaseManager& M) { EXPECT_EQ(M.Client().Get("Lisanslar/acme"), R"({"Sifre":"x"})"); }

  Json CacheFile() { return Json::parse(ReadFileBytes(TokenFile())); }
  void WriteCache(const std::string& Bytes) { test::WriteBytes(TokenFile(), Bytes); }
  // A well-formed cache file for Token, protected on the current machine identity.
  std::string CacheFor(const std::string& Token, TDateTime Expiry) {
    return CacheWithExpiryText(Token, Json(Expiry).dump());
  }
  std::string CacheWithExpiryText(const std::string& Token, const std::string& ExpiryText) {
    const auto Blob = platform::ProtectMachineData({Token.begin(), Token.end()}, "FirebaseServiceToken");
    std::string Text = "{\"token\":";
    AppendAsciiJsonString(Text, Base64EncodeWrapped(Blob));
    return Text + ",\"expiry\":" + ExpiryText + "}";
  }
};

TEST_F(ServiceAuthTest, FirstCallSignsInAndWritesTheProtectedCacheFile) {
  auto M = Get();
  ASSERT_TRUE(M);
  EXPECT_EQ(SignIns(), 1);
  ExpectReads(*M);
  EXPECT_EQ(M->Config().ApiKey, BuiltInFirebaseApiKey());
  EXPECT_EQ(M->Config().BaseURL, Sim.DatabaseUrl() + "?ns=kelvo-restore-0000000-rtdb");
  EXPECT_EQ(M->Config().ProjectID, "");
  const auto Body =
      Json::parse(Sim.LastRequest("/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword")->Body);
  EXPECT_EQ(Body["email"], BuiltInServiceLogin());

  // One compact ASCII object: "token" wrapped every 76 characters with CR LF, "expiry" 55 minutes on.
  const std::string Text = ReadFileBytes(TokenFile());
  EXPECT_EQ(Text.rfind("{\"token\":\"", 0), 0u);
  if (test::PosixModesApply()) {
    EXPECT_EQ(std::filesystem::status(TokenFile()).permissions(), std::filesystem::perms(0600));
  }
  EXPECT_NE(Text.find("\\r\\n"), std::string::npos);
  for (unsigned char C : Text) EXPECT_TRUE(C >= 32 && C < 127);
  const Json File = Json::parse(Text);
  const std::string Protected = File["token"];
  EXPECT_EQ(Protected.find("\r\n"), 76u);
  std::vector<uint8_t> Blob, Plain;
  std::string Description;
  ASSERT_TRUE(Base64Decode(Protected, Blob));
  ASSERT_TRUE(platform::UnprotectMachineData(Blob, Plain, &Description));
  EXPECT_EQ(std::string(Plain.begin(), Plain.end()), M->Client().FAuthToken);
  EXPECT_EQ(Description, "FirebaseServiceToken");
  EXPECT_NEAR(File["expiry"].get<double>(), Now() + 3300 * Second, 1e-9);
}

TEST_F(ServiceAuthTest, TokenIsReusedFromMemoryThenFromTheFileAfterARestart) {
  auto First = Get();
  const int64_t Requests = Sim.TotalRequests();
  Advance(54min);
  auto Second = Get();
  EXPECT_EQ(Sim.TotalRequests(), Requests);  // no request at all
  EXPECT_NE(First.get(), Second.get());
  EXPECT_EQ(Second->Client().FAuthToken, First->Client().FAuthToken);

  ResetServiceTokenCacheForTests();  // a new program start
  auto Third = Get();
  EXPECT_EQ(SignIns(), 1);
  EXPECT_EQ(Third->Client().FAuthToken, First->Client().FAuthToken);
  ExpectReads(*Third);
}

TEST_F(ServiceAuthTest, TokenIsRetiredFiveMinutesBeforeItsLifetime) {
  const std::string Token = Get()->Client().FAuthToken;
  Advance(3299s);
  EXPECT_EQ(Get()->Client().FAuthToken, Token);
  EXPECT_EQ(SignIns(), 1);
  Advance(1s);  // exactly at the expiry: no longer used
  auto Fresh = Get();
  EXPECT_EQ(SignIns(), 2);
  EXPECT_NE(Fresh->Client().FAuthToken, Token);
  ExpectReads(*Fresh);
  // After a restart the file holds the new token too.
  ResetServiceTokenCacheForTests();
  EXPECT_EQ(Get()->Client().FAuthToken, Fresh->Client().FAuthToken);
  EXPECT_EQ(SignIns(), 2);
}

TEST_F(ServiceAuthTest, ExpiryIsAnInstantAcrossADaylightSavingFallBack) {
  // 00:10 UTC on the night the clocks in Berlin go back at 01:00 UTC (02:10 summer time).
  KELVO_SKIP_ON_WINDOWS("its C library takes no zone names such as Europe/Berlin in TZ");
  test::ScopedTimeZone Berlin("Europe/Berlin");
  ClockNow = TimePoint{} + std::chrono::seconds(1761437400);
  const std::string Token = Get()->Client().FAuthToken;
  Advance(54min);
  EXPECT_EQ(Get()->Client().FAuthToken, Token);
  Advance(2min);  // 01:06 UTC, 02:06 local again: 56 minutes on, not an hour less
  EXPECT_NE(Get()->Client().FAuthToken, Token);
  EXPECT_EQ(SignIns(), 2);
}

TEST_F(ServiceAuthTest, ShortOrUnreadableLifetimes) {
  // 300 seconds or less: already expired when stored, so every call signs in.
  Sim.SetTokenLifetime(300);
  for (int I = 1; I <= 3; ++I) {
    auto M = Get();
    EXPECT_EQ(SignIns(), I);
    ExpectReads(*M);
  }
  EXPECT_NEAR(CacheFile()["expiry"].get<double>(), Now(), 1e-9);

  // Not a decimal integer: taken as 3600.
  Sim.SetTokenLifetime(3600);
  for (const std::string Text : {"3600s", "", "1e4", "12.5"}) {
    ResetServiceTokenCacheForTests();
    std::filesystem::remove(TokenFile());
    Sim.SetExpiresInText(Text);
    const int64_t Before = SignIns();
    Get();
    EXPECT_EQ(SignIns(), Before + 1);
    EXPECT_NEAR(CacheFile()["expiry"].get<double>(), Now() + 3300 * Second, 1e-9) << Text;
  }
  Sim.SetExpiresInText(" 7200");  // leading blanks are part of a decimal integer
  ResetServiceTokenCacheForTests();
  std::filesystem::remove(TokenFile());
  Get();
  EXPECT_NEAR(CacheFile()["expiry"].get<double>(), Now() + 6900 * Second, 1e-9);
}

TEST_F(ServiceAuthTest, CacheFileFromAnotherComputerLeadsToANewSignInThatReplacesIt) {
  const std::string Token = Get()->Client().FAuthToken;
  ResetServiceTokenCacheForTests();
  platform::SetMachineIdentitySource([] { return std::string("another-computer"); });
  auto M = Get();
  EXPECT_EQ(SignIns(), 2);
  EXPECT_NE(M->Client().FAuthToken, Token);
  ExpectReads(*M);
  // The file now belongs to this computer: a restart reuses it.
  ResetServiceTokenCacheForTests();
  EXPECT_EQ(Get()->Client().FAuthToken, M->Client().FAuthToken);
  EXPECT_EQ(SignIns(), 2);
}

TEST_F(ServiceAuthTest, CorruptCacheFilesCountAsAbsent) {
  const std::string Valid = Sim.IssueIdToken(BuiltInServiceLogin());
  const TDateTime Future = Now() + 0.01;
  const std::string Good = CacheFor(Valid, Future);
  std::vector<std::string> Cases = {
      "",
      "not json at all",
      "[1,2,3]",
      "\"text\"",
      std::string(100000, '{'),
      Good.substr(0, Good.size() / 2),
      R"({"token":5,"expiry":)" + std::to_string(Future) + "}",
      R"({"token":"!!!not base64!!!","expiry":)" + std::to_string(Future) + "}",
      R"({"token":"QUJD","expiry":)" + std::to_string(Future) + "}",
      R"({"token":null,"expiry":null})",
      R"({"expiry":)" + std::to_string(Future) + "}",
      CacheWithExpiryText(Valid, "\"soon\""),
      CacheWithExpiryText(Valid, "[]"),
      CacheWithExpiryText(Valid, "1e999"),
      CacheFor(Valid, Now() - Second),
  };
  // An empty token, protected: Wine's data protection refuses empty data (Windows protects it).
  if (!test::RunningUnderWine()) Cases.push_back(CacheFor("", Future));
  int64_t Expected = 0;
  for (const auto& Bytes : Cases) {
    ResetServiceTokenCacheForTests();
    WriteCache(Bytes);
    auto M = Get();
    ASSERT_TRUE(M);
    EXPECT_EQ(SignIns(), ++Expected) << Bytes.substr(0, 80);
    EXPECT_NE(M->Client().FAuthToken, Valid);
    ExpectReads(*M);
  }
  // The same file well formed is used as it is, also with a byte-order mark.
  for (const std::string& Bytes : {Good, std::string("\xEF\xBB\xBF") + Good}) {
    ResetServiceTokenCacheForTests();
    WriteCache(Bytes);
    EXPECT_EQ(Get()->Client().FAuthToken, Valid);
    EXPECT_EQ(SignIns(), Expected);
  }
}

TEST_F(ServiceAuthTest, CacheFileInUtf16IsReadToo) {
  const std::string Valid = Sim.IssueIdToken(BuiltInServiceLogin());
  const std::string Ascii = CacheFor(Valid, Now() + 0.01);
  std::string Utf16 = "\xFF\xFE";
  for (char C : Ascii) Utf16 += std::string{C, '\0'};
  WriteCache(Utf16);
  EXPECT_EQ(Get()->Client().FAuthToken, Valid);
  EXPECT_EQ(SignIns(), 0);
}

TEST_F(ServiceAuthTest, RefusedSignInLeavesNoManager) {
  Sim.SetUsers({{BuiltInServiceLogin(), "another password", "", "", false}});
  std::unique_ptr<TFirebaseManager> M = std::make_unique<TFirebaseManager>("k", "u", "");
  std::string Error;
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_EQ(M, nullptr);
  EXPECT_EQ(Error, "Firebase baglantisi basarisiz: INVALID_PASSWORD");
  EXPECT_FALSE(FileExists(TokenFile()));

  Sim.SetUsers({});
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_EQ(Error, "Firebase baglantisi basarisiz: EMAIL_NOT_FOUND");

  // A refusal without the service's error object has an empty text after the prefix.
  cloudsim::TFault F;
  F.Status = 503;
  F.Body = "{}";
  Sim.AddFault(F);
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_EQ(Error, "Firebase baglantisi basarisiz: ");
}

TEST_F(ServiceAuthTest, TransportFailuresAndOddRepliesAreReportedNotRaised) {
  std::unique_ptr<TFirebaseManager> M;
  std::string Error;
  cloudsim::TFault Hold;
  Hold.Kind = cloudsim::TFaultKind::NoAnswer;
  Hold.Delay = 20s;
  Hold.Times = 1;
  Sim.AddFault(Hold);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s);
  EXPECT_EQ(M, nullptr);
  EXPECT_EQ(Error.rfind("Firebase baglantisi kurulurken hata: HTTP istegi zaman asimina ugradi (127.0.0.1:", 0), 0u)
      << Error;

  cloudsim::TFault Odd;
  Odd.Status = 200;
  Odd.Body = "[]";
  Odd.Times = 1;
  Sim.AddFault(Odd);
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_EQ(Error, "Firebase baglantisi kurulurken hata: Firebase oturum yaniti bir JSON nesnesi degil.");

  Sim.Stop();
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_EQ(Error.rfind("Firebase baglantisi kurulurken hata: Sunucuya baglanilamadi (127.0.0.1:", 0), 0u) << Error;
}

TEST_F(ServiceAuthTest, UnwritableCacheFileFailsTheCallButTheTokenServesFromMemory) {
  std::filesystem::create_directories(TokenFile() + "/blocked");  // a folder where the file should be
  std::unique_ptr<TFirebaseManager> M;
  std::string Error;
  EXPECT_FALSE(TFirebaseServiceAuth::GetAuthenticatedManager(M, Error));
  EXPECT_EQ(M, nullptr);
  EXPECT_EQ(Error.rfind("Firebase baglantisi kurulurken hata: ", 0), 0u) << Error;
  EXPECT_GT(Error.size(), std::string("Firebase baglantisi kurulurken hata: ").size());
  EXPECT_EQ(SignIns(), 1);
  auto Next = Get();
  EXPECT_EQ(SignIns(), 1);
  ExpectReads(*Next);
}

TEST_F(ServiceAuthTest, FailedProtectionStoresAnEmptyTokenSoTheNextStartSignsIn) {
  platform::SetMachineIdentitySource([] { return std::string(); });  // no machine identity
  auto M = Get();
  ExpectReads(*M);
  EXPECT_EQ(CacheFile()["token"], "");
  ResetServiceTokenCacheForTests();
  platform::SetMachineIdentitySource([] { return std::string("kelvo-test-machine-1"); });
  Get();
  EXPECT_EQ(SignIns(), 2);
}

TEST(ServiceTokenFile, ReaderResults) {
  std::string Token = "x";
  TDateTime Expiry = 5;
  EXPECT_TRUE(ReadServiceTokenFile(R"({"token":"","expiry":45000.25})", Token, Expiry));
  EXPECT_EQ(Token, "");
  EXPECT_EQ(Expiry, 45000.25);
  EXPECT_TRUE(ReadServiceTokenFile("{}", Token, Expiry));
  EXPECT_EQ(Expiry, 0);
  EXPECT_FALSE(ReadServiceTokenFile(R"({"expiry":true})", Token, Expiry));
  EXPECT_FALSE(ReadServiceTokenFile("\xFF\xFE{", Token, Expiry));
  // Bytes that are not UTF-8 are read as ANSI, and the JSON still parses.
  EXPECT_TRUE(ReadServiceTokenFile("{\"x\":\"\xE7\",\"expiry\":1}", Token, Expiry));
  EXPECT_EQ(Expiry, 1);
}

}  // namespace
}  // namespace kelvo
