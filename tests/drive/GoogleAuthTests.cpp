// The Google token store against cloudsim's token endpoint: when a refresh happens, what each kind
// of reply does to the token set and the cache file, the cache file's format, and the log lines.
#include <gmock/gmock.h>

#include <filesystem>

#include "DriveFixture.h"
#include "core/FileIO.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "core/uSecureString.h"
#include "support/FileModes.h"
#include "support/Fixtures.h"
#include "support/SystemSkips.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Json = nlohmann::ordered_json;

class GoogleAuthTest : public test::DriveFixture {
 protected:
  TGoogleAuth Auth{test::TestClientId, test::TestClientSecret, 8080, false};

  // The cache file's plain text, checking its protected form on the way.
  std::string CacheText(const std::string& Path) {
    const std::string Bytes = test::ReadBytes(Path);
    EXPECT_EQ(Bytes.substr(0, 9), std::string("\xEF\xBB\xBF") + "dpapi:");
    std::string Plain;
    EXPECT_TRUE(TryUnprotectString(Bytes.substr(3), Plain));
    return Plain;
  }
  // Seconds from now to the holder's expiry.
  double SecondsLeft() const { return (Auth.GetTokenData().ExpiresAt - Now()) * 86400.0; }
};

TEST_F(GoogleAuthTest, RefreshesOnlyWithinFiveMinutesOfExpiry) {
  Auth.SetTokenData({"old-access", test::TestRefreshToken, Now() + 300.0 / 86400});
  EXPECT_EQ(Auth.GetValidToken(), "old-access");
  EXPECT_EQ(Refreshes(), 0);

  Auth.SetTokenData({"old-access", test::TestRefreshToken, Now() + 299.0 / 86400});
  const std::string Fresh = Auth.GetValidToken();
  EXPECT_THAT(Fresh, ::testing::StartsWith("ya29."));
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_NEAR(SecondsLeft(), 3599, 0.01);
  EXPECT_EQ(Auth.GetTokenData().RefreshToken, test::TestRefreshToken);
  EXPECT_EQ(Auth.GetTokenPath(), "") << "no cache file known: nothing written";

  // The renewed token is used until it comes within five minutes of its end.
  Advance(3599s - 301s);
  EXPECT_EQ(Auth.GetValidToken(), Fresh);
  Advance(2s);
  EXPECT_NE(Auth.GetValidToken(), Fresh);
  EXPECT_EQ(Refreshes(), 2);
}

TEST_F(GoogleAuthTest, RequestIsTheFormEncodedRefreshGrant) {
  Auth.SetTokenData({"a", test::TestRefreshToken, 0});
  ASSERT_FALSE(Auth.GetValidToken().empty());
  const auto Request = Sim.LastRequest(cloudsim::GoogleTokenPath);
  ASSERT_TRUE(Request);
  EXPECT_EQ(Request->Body,
            "client_id=123-test.apps.googleusercontent.com&client_secret=GOCSPX-test+secret%2F%2B%26%3D"
            "&refresh_token=1%2F%2F0test-refresh%2Ftoken%2B%3D&grant_type=refresh_token");
  std::string ContentType;
  for (const auto& [Name, Value] : Request->Headers)
    if (SameText(Name, "Content-Type")) ContentType = Value;
  EXPECT_EQ(ContentType, "application/x-www-form-urlencoded");
}

TEST_F(GoogleAuthTest, ARefreshTokenAloneServesAfterOneRefreshAndNothingElseAsks) {
  Auth.SetTokenData({"stale", "", 0});
  EXPECT_EQ(Auth.GetValidToken(), "");
  TGoogleAuth Empty("id", "secret", 8080, false);
  EXPECT_EQ(Empty.GetValidToken(), "") << "before any load";
  EXPECT_EQ(Sim.TotalRequests(), 0);
  Auth.SetTokenData({"", test::TestRefreshToken, 0});
  EXPECT_FALSE(Auth.GetValidToken().empty());
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_FALSE(Auth.RefreshRefused());
  Sim.RemoveRefreshToken(test::TestRefreshToken);
  EXPECT_FALSE(Auth.RenewAccessToken());
  EXPECT_TRUE(Auth.RefreshRefused()) << "invalid_grant";
}

TEST_F(GoogleAuthTest, ExpiryIsComparedAsAnInstantAcrossADaylightSavingFallBack) {
  KELVO_SKIP_ON_WINDOWS("its C library takes no zone names such as Europe/Berlin in TZ");
  test::ScopedTimeZone Berlin("Europe/Berlin");
  ClockNow = TimePoint{} + std::chrono::seconds(1761437400);  // 00:10 UTC, 02:10 summer time
  Auth.SetTokenData({"", test::TestRefreshToken, 0});
  const std::string First = Auth.GetValidToken();  // lives 3599 s, renewed 5 minutes before
  Advance(std::chrono::minutes(54));
  EXPECT_EQ(Auth.GetValidToken(), First);
  Advance(std::chrono::minutes(2));  // 01:06 UTC, 02:06 local again
  EXPECT_NE(Auth.GetValidToken(), First);
  EXPECT_EQ(Refreshes(), 2);
}

TEST_F(GoogleAuthTest, ReplyWithoutExpiresInKeepsTheOldExpirySoEveryCallRefreshes) {
  cloudsim::TTokenReplyOptions Options;
  Options.SendExpiresIn = false;
  Sim.SetTokenReplyOptions(Options);
  const TDateTime Old = Now() - 1.0 / 24;
  Auth.SetTokenData({"stale", test::TestRefreshToken, Old});
  const std::string First = Auth.GetValidToken();
  EXPECT_FALSE(First.empty());
  EXPECT_EQ(Auth.GetTokenData().ExpiresAt, Old);
  const std::string Second = Auth.GetValidToken();
  EXPECT_NE(Second, First);
  EXPECT_EQ(Refreshes(), 2);
}

TEST_F(GoogleAuthTest, ExpiresInIsReadAsAWholeNumberOfSecondsElseOneHour) {
  const std::pair<std::optional<std::string>, double> Cases[] = {{std::nullopt, 3599}, {"7200", 7200},   {"  42", 42},
                                                                 {"bir saat", 3600},   {"3599.5", 3600}, {"", 3600}};
  for (const auto& [Text, Seconds] : Cases) {
    cloudsim::TTokenReplyOptions Options;
    Options.ExpiresInText = Text;
    Sim.SetTokenReplyOptions(Options);
    Auth.SetTokenData({"stale", test::TestRefreshToken, 0});
    EXPECT_FALSE(Auth.GetValidToken().empty());
    EXPECT_NEAR(SecondsLeft(), Seconds, 0.01) << Text.value_or("(number)");
  }
}

TEST_F(GoogleAuthTest, RefreshTokenIsKeptUnlessTheReplyRotatesItAndTheFileFollows) {
  const std::string Path = CachePath();
  Auth.SetTokenData({"stale", test::TestRefreshToken, 0});
  Auth.SaveTokens(Path);
  const std::string Access = Auth.GetValidToken();
  EXPECT_THAT(CacheText(Path), HasSubstr("AccessToken=" + Access + "\r\nRefreshToken=" + test::TestRefreshToken +
                                         "\r\nExpiresAt=" + FormatTokenExpiry(Auth.GetTokenData().ExpiresAt) + "\r\n"));

  cloudsim::TTokenReplyOptions Options;
  Options.RotateRefreshToken = true;
  Sim.SetTokenReplyOptions(Options);
  Advance(3600s);
  EXPECT_FALSE(Auth.GetValidToken().empty());
  const std::string Rotated = Auth.GetTokenData().RefreshToken;
  EXPECT_NE(Rotated, test::TestRefreshToken);
  TGoogleAuth Reloaded("x", "y", 0, false);
  Reloaded.LoadTokens(Path);
  EXPECT_EQ(Reloaded.GetTokenData().RefreshToken, Rotated);
  EXPECT_EQ(Reloaded.GetTokenData().AccessToken, Auth.GetTokenData().AccessToken);
}

TEST_F(GoogleAuthTest, RefusedOrMalformedRefreshGivesNoTokenAndTriesAgainNextTime) {
  Auth.SetTokenData({"stale", "1//unknown", 0});
  EXPECT_EQ(Auth.GetValidToken(), "");
  EXPECT_EQ(Auth.GetValidToken(), "");
  EXPECT_EQ(Refreshes(), 2) << "no back-off between attempts";
  EXPECT_EQ(Auth.GetTokenData().AccessToken, "stale") << "the stale set is kept";

  // The refresh token belongs to another OAuth client.
  TGoogleAuth Other("other-client", "s", 0, false);
  Other.SetTokenData({"stale", test::TestRefreshToken, 0});
  EXPECT_EQ(Other.GetValidToken(), "");

  // Replies of the wrong shape at status 200, and an HTML error page.
  Auth.SetTokenData({"stale", test::TestRefreshToken, 0});
  for (const std::string Body : {"not json", "[]", "\"ya29.x\"", "{}", R"({"access_token":5})",
                                 R"({"access_token":""})", R"({"expires_in":3600,"token_type":"Bearer"})"}) {
    cloudsim::TFault F;
    F.PathPrefix = cloudsim::GoogleTokenPath;
    F.Status = 200;
    F.Body = Body;
    F.Times = 1;
    Sim.AddFault(F);
    EXPECT_EQ(Auth.GetValidToken(), "") << Body;
    EXPECT_EQ(Auth.GetTokenData().AccessToken, "stale") << Body;
  }
  // An empty "refresh_token" in a good reply does not wipe the stored one.
  cloudsim::TFault EmptyRefresh;
  EmptyRefresh.PathPrefix = cloudsim::GoogleTokenPath;
  EmptyRefresh.Status = 200;
  EmptyRefresh.Body = R"({"access_token":"ya29.fresh","expires_in":3600,"refresh_token":""})";
  EmptyRefresh.Times = 1;
  Sim.AddFault(EmptyRefresh);
  EXPECT_EQ(Auth.GetValidToken(), "ya29.fresh");
  EXPECT_EQ(Auth.GetTokenData().RefreshToken, test::TestRefreshToken);
  Auth.SetTokenData({"stale", test::TestRefreshToken, 0});

  cloudsim::TFault Html;
  Html.PathPrefix = cloudsim::GoogleTokenPath;
  Html.Status = 429;
  Html.Body = "<html><body>Sorry...</body></html>";
  Html.ContentType = "text/html; charset=UTF-8";
  Html.Times = 1;
  Sim.AddFault(Html);
  EXPECT_EQ(Auth.GetValidToken(), "");
  EXPECT_FALSE(Auth.GetValidToken().empty()) << "a working endpoint afterwards";
}

TEST_F(GoogleAuthTest, EndpointThatHangsOrCutsGivesNoTokenWithinTheTimeout) {
  Auth.SetTokenData({"stale", test::TestRefreshToken, 0});
  cloudsim::TFault Hang;
  Hang.Kind = cloudsim::TFaultKind::NoAnswer;
  Hang.PathPrefix = cloudsim::GoogleTokenPath;
  Hang.Times = 1;
  Sim.AddFault(Hang);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Auth.GetValidToken(), "");
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s);

  cloudsim::TFault Cut;
  Cut.Kind = cloudsim::TFaultKind::ShortBody;
  Cut.PathPrefix = cloudsim::GoogleTokenPath;
  Cut.Times = 1;
  Sim.AddFault(Cut);
  EXPECT_EQ(Auth.GetValidToken(), "");
  EXPECT_EQ(Auth.GetTokenData().AccessToken, "stale");
}

TEST_F(GoogleAuthTest, CacheFileIsBomAndProtectedKeyLinesInRegionalFormat) {
  const std::string Path = CachePath();
  EXPECT_EQ(Path, ConfigDir() + "/syc.dat");
  Auth.SetTokenData({"ya29.a", "1//r", EncodeDateTime(2025, 3, 10, 14, 5, 9)});
  Auth.SaveTokens(Path);
  EXPECT_EQ(Auth.GetTokenPath(), Path);
  EXPECT_EQ(CacheText(Path), "AccessToken=ya29.a\r\nRefreshToken=1//r\r\nExpiresAt=10.03.2025 14:05:09\r\n");
  // The refresh token opens the account's Drive: nobody else may read the file.
  if (test::PosixModesApply()) {
    EXPECT_EQ(std::filesystem::status(Path).permissions(), std::filesystem::perms(0600));
  }

  // Empty values leave their line out; midnight is written as the date alone.
  Auth.SetTokenData({"ya29.b", "", EncodeDateTime(2025, 3, 11)});
  Auth.SaveTokens(Path);
  EXPECT_EQ(CacheText(Path), "AccessToken=ya29.b\r\nExpiresAt=11.03.2025\r\n");

  TGoogleAuth Loaded("x", "y", 0, false);
  Loaded.LoadTokens(Path);
  EXPECT_EQ(Loaded.GetTokenData().AccessToken, "ya29.b");
  EXPECT_EQ(Loaded.GetTokenData().RefreshToken, "");
  EXPECT_EQ(Loaded.GetTokenData().ExpiresAt, EncodeDateTime(2025, 3, 11));
  EXPECT_EQ(Loaded.GetTokenPath(), Path);

  // A missing file empties the set.
  Loaded.LoadTokens(Root / "none.dat");
  EXPECT_EQ(Loaded.GetTokenData().AccessToken, "");
  EXPECT_EQ(Loaded.GetTokenData().ExpiresAt, 0);
  EXPECT_EQ(Loaded.GetTokenPath(), Root / "none.dat");
}

TEST_F(GoogleAuthTest, PlainFileIsReadAndRewrittenProtectedAndRefreshedWithoutExpiry) {
  const std::string Path = CachePath();
  test::WriteBytes(Path, std::string("\xEF\xBB\xBF") + "accesstoken=plain-access\r\nnot a key line\r\nREFRESHTOKEN=" +
                             test::TestRefreshToken + "\r\nAccessToken=second=ignored\r\n");
  Auth.LoadTokens(Path);
  EXPECT_EQ(Auth.GetTokenData().AccessToken, "plain-access");
  EXPECT_EQ(Auth.GetTokenData().RefreshToken, test::TestRefreshToken);
  EXPECT_EQ(Auth.GetTokenData().ExpiresAt, Now()) << "no expiry: counts as now";
  EXPECT_EQ(CacheText(Path), "accesstoken=plain-access\r\nnot a key line\r\nREFRESHTOKEN=" +
                                 std::string(test::TestRefreshToken) + "\r\nAccessToken=second=ignored\r\n");
  EXPECT_EQ(Refreshes(), 0);
  EXPECT_NE(Auth.GetValidToken(), "plain-access");
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_THAT(CacheText(Path), ::testing::StartsWith("AccessToken=ya29."));

  // Values keep everything after the first "=", and LF-only lines are read too.
  bool Plain = false;
  TTokenData Data;
  EXPECT_TRUE(ReadGoogleTokenFile("AccessToken=a=b==\nExpiresAt=01.02.2025 03:04:05\n", Data, Plain));
  EXPECT_TRUE(Plain);
  EXPECT_EQ(Data.AccessToken, "a=b==");
  EXPECT_EQ(Data.ExpiresAt, EncodeDateTime(2025, 2, 1, 3, 4, 5));
  EXPECT_TRUE(ReadGoogleTokenFile("AccessToken=a\r\nExpiresAt=2025-02-01T03:04:05Z\r\n", Data, Plain));
  EXPECT_EQ(Data.ExpiresAt, Now()) << "an expiry in another format counts as now";
}

TEST_F(GoogleAuthTest, EmptyOrForeignFilesGiveAnEmptySetAndStayAsTheyAre) {
  const std::string Path = CachePath();
  for (const std::string& Bytes : {std::string(), std::string("\xEF\xBB\xBF")}) {
    test::WriteBytes(Path, Bytes);
    Auth.LoadTokens(Path);
    EXPECT_EQ(Auth.GetTokenData().AccessToken, "");
    EXPECT_EQ(Auth.GetTokenData().ExpiresAt, Now());
    EXPECT_EQ(test::ReadBytes(Path), Bytes) << "an empty file is not rewritten";
  }

  // Written on another computer: the protection does not open here.
  Auth.SetTokenData({"a", "r", Now()});
  Auth.SaveTokens(Path);
  const std::string Written = test::ReadBytes(Path);
  platform::SetMachineIdentitySource([] { return std::string("another-machine"); });
  Auth.LoadTokens(Path);
  EXPECT_EQ(Auth.GetTokenData().AccessToken, "");
  EXPECT_EQ(Auth.GetTokenData().RefreshToken, "");
  EXPECT_EQ(test::ReadBytes(Path), Written);
  for (const std::string& Bytes : {std::string("dpapi:not base64!"), std::string("dpapi:")}) {
    test::WriteBytes(Path, Bytes);
    Auth.LoadTokens(Path);
    EXPECT_EQ(Auth.GetTokenData().AccessToken, "");
    EXPECT_EQ(test::ReadBytes(Path), Bytes);
  }
}

TEST_F(GoogleAuthTest, CacheFileErrorsPropagateFromSaveButNotFromARefresh) {
  Auth.SetTokenData({"a", test::TestRefreshToken, 0});
  const std::string Folder = Root / "folder-in-the-way";
  std::filesystem::create_directories(Folder);
  EXPECT_THROW(Auth.SaveTokens(Folder), EFileError);
  // The path is remembered, so the refresh tries to write there and fails; the new token stays in
  // memory, but the call reports failure.
  EXPECT_EQ(Auth.GetValidToken(), "");
  EXPECT_EQ(Refreshes(), 1);
  EXPECT_THAT(Auth.GetTokenData().AccessToken, ::testing::StartsWith("ya29."));
}

TEST_F(GoogleAuthTest, LogsEveryStepOfARefresh) {
  const std::string LogPath = Root / "log.txt";
  ConfigDir();  // the configuration, created first, would switch the log off again
  TLogSettings Settings;
  Settings.Enabled = true;
  Settings.FilePath = LogPath;
  Settings.OldFilePath = Root / "log.old.txt";
  ConfigureLog(Settings);
  Auth.SetTokenData({"stale", test::TestRefreshToken, 0});
  Auth.GetValidToken();
  const TDateTime Expiry = Auth.GetTokenData().ExpiresAt;
  Auth.SetTokenData({"stale", "1//unknown", 0});
  Auth.GetValidToken();
  Auth.SetTokenData({"stale", "", 0});
  Auth.GetValidToken();
  ConfigureLog({});

  const std::string Log = ReadTextFile(LogPath);
  const std::vector<std::string> Expected = {
      "[INFO ] Access token suresi doldu veya dolmak uzere, refresh deneniyor", "[DEBUG] Refresh yaniti: HTTP 200",
      "[INFO ] Access token yenilendi, yeni expires=" + FormatTokenExpiry(Expiry),
      "[INFO ] Access token suresi doldu veya dolmak uzere, refresh deneniyor", "[DEBUG] Refresh yaniti: HTTP 400",
      // The reply's line breaks are written as escapes: one log line.
      "[ERROR] Refresh hata: {\\n  \"error\": \"invalid_grant\",\\n  \"error_description\": \"Token has been expired "
      "or revoked.\"\\n}\r\n",
      "[WARN ] Refresh basarisiz, yeniden yetkilendirme gerekli",
      "[INFO ] Access token suresi doldu veya dolmak uzere, refresh deneniyor",
      "[WARN ] Refresh token yok, yenileme yapilamaz", "[WARN ] Refresh basarisiz, yeniden yetkilendirme gerekli"};
  size_t At = 0;
  for (const auto& Line : Expected) {
    const size_t Found = Log.find(Line, At);
    ASSERT_NE(Found, std::string::npos) << "missing or out of order: " << Line << "\n" << Log;
    At = Found + Line.size();
  }
}

TEST_F(GoogleAuthTest, InteractiveHolderTellsTheUserWhyThereIsNoToken) {
  std::vector<std::string> Shown;
  SetGoogleUserMessageSink([&Shown](const std::string& Text) { Shown.push_back(Text); });
  TGoogleAuth Interactive("x", "y", 0, true);
  Interactive.GetValidToken();
  Interactive.SetTokenData({"stale", "", 0});
  Interactive.GetValidToken();
  Auth.SetTokenData({"stale", "", 0});
  Auth.GetValidToken();  // not interactive: silent
  SetGoogleUserMessageSink({});
  EXPECT_EQ(Shown, (std::vector<std::string>{"Token yüklü değil. Önce Yetkilendir butonuna tıklayın.",
                                             "Token süresi doldu ve yenilenemedi. Yeniden yetkilendirme gerekli."}));
}

TEST_F(GoogleAuthTest, RefusalBodyMatchesTheRecordedServiceReply) {
  KELVO_REQUIRE_FIXTURE(Recorded, "oauth/quoted_google_token_400_invalid_grant_expired_or_revoked.json");
  THttpClient Http;
  const auto R = Http.Post(Sim.TokenUrl(), "client_id=a&refresh_token=nope&grant_type=refresh_token",
                           {{"Content-Type", "application/x-www-form-urlencoded"}});
  EXPECT_EQ(R.Status, 400);
  EXPECT_EQ(Json::parse(R.Body), Json::parse(test::ReadBytes(Recorded)));
}

}  // namespace
}  // namespace kelvo
