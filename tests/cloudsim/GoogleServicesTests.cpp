// cloudsim's Google services: the token endpoint's refresh grant, the Drive's token check, query
// language, paging, partial responses, folder creation, downloads with Range, the seed tree, the
// ready-made faults and throttling, and the program's Drive options.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>

#include "cloudsim/CloudSim.h"
#include "core/HttpClient.h"
#include "support/ChildProcess.h"
#include "support/Fixtures.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using cloudsim::TCloudSim;
using cloudsim::TFault;
using cloudsim::TFaultKind;
using Json = nlohmann::ordered_json;

constexpr char Form[] = "application/x-www-form-urlencoded";

class GoogleServicesTest : public ::testing::Test {
 protected:
  test::TempDir Dir;
  TCloudSim Sim;
  THttpClient Http;
  std::atomic<std::chrono::system_clock::time_point> ClockNow{std::chrono::system_clock::now()};
  std::string Token;

  void SetUp() override {
    THttpTimeouts T;
    T.ConnectMs = 2000;
    T.TotalMs = 3000;
    Http.SetTimeouts(T);
    Sim.SetClock([this] { return ClockNow.load(); });
    Sim.AddRefreshToken("1//r+/ =", "");
    Sim.AddRefreshToken("1//bound", "client-a");
    Sim.Start();
    Token = Sim.IssueAccessToken();
  }
  THttpResponse Refresh(const std::string& Body, const std::string& ContentType = Form) {
    return Http.Post(Sim.TokenUrl(), Body, {{"Content-Type", ContentType}});
  }
  THttpResponse Get(const std::string& Target, THttpHeaders Headers = {}) {
    if (Headers.empty()) Headers = {{"Authorization", "Bearer " + Token}};
    return Http.Get(Sim.BaseUrl() + Target, Headers);
  }
  THttpResponse List(const std::string& Query, const std::string& Extra = "") {
    return Get("/drive/v3/files?q=" + UrlEncode(Query) + Extra);
  }
  std::vector<std::string> ListNames(const std::string& Query) {
    const auto R = List(Query, "&fields=files(name)");
    EXPECT_EQ(R.Status, 200) << Query << "\n" << R.Body;
    std::vector<std::string> Names;
    const Json Reply = Json::parse(R.Body);
    for (const auto& F : Reply["files"]) Names.push_back(F["name"]);
    return Names;
  }
  std::string CreateFolder(const std::string& Body, int ExpectedStatus = 200) {
    const auto R = Http.Post(Sim.DriveUrl() + "?fields=id,name", Body,
                             {{"Authorization", "Bearer " + Token}, {"Content-Type", "application/json"}});
    EXPECT_EQ(R.Status, ExpectedStatus) << R.Body;
    const Json Reply = Json::parse(R.Body, nullptr, false);
    return R.Status == 200 ? Reply["id"].get<std::string>() : std::string();
  }
};

TEST_F(GoogleServicesTest, RefreshGrantIssuesAccessTokensTheDriveAcceptsUntilTheyExpire) {
  auto R = Refresh("client_id=any&client_secret=s&refresh_token=1%2F%2Fr%2B%2F+%3D&grant_type=refresh_token");
  ASSERT_EQ(R.Status, 200) << R.Body;
  const Json Reply = Json::parse(R.Body);
  std::vector<std::string> Names;
  for (auto It = Reply.begin(); It != Reply.end(); ++It) Names.push_back(It.key());
  EXPECT_EQ(Names, (std::vector<std::string>{"access_token", "expires_in", "scope", "token_type"}));
  EXPECT_EQ(Reply["expires_in"], 3599);
  EXPECT_EQ(Reply["token_type"], "Bearer");
  const std::string Access = Reply["access_token"];
  EXPECT_EQ(Get("/drive/v3/files", {{"Authorization", "Bearer " + Access}}).Status, 200);
  ClockNow = ClockNow.load() + 3598s;
  EXPECT_EQ(Get("/drive/v3/files", {{"Authorization", "bearer " + Access}}).Status, 200);
  ClockNow = ClockNow.load() + 1s;
  EXPECT_EQ(Get("/drive/v3/files", {{"Authorization", "Bearer " + Access}}).Status, 401);

  // Reply shapes on demand; a rotated refresh token works, and so does the old one.
  cloudsim::TTokenReplyOptions Options;
  Options.ExpiresInText = "soon";
  Options.RotateRefreshToken = true;
  Sim.SetTokenReplyOptions(Options);
  R = Refresh("client_id=client-a&refresh_token=1%2F%2Fbound&grant_type=refresh_token",
              "application/x-www-form-urlencoded; charset=UTF-8");
  Json Rotated = Json::parse(R.Body);
  EXPECT_EQ(Rotated["expires_in"], "soon");
  EXPECT_EQ(Refresh("client_id=client-a&refresh_token=1%2F%2Fbound&grant_type=refresh_token").Status, 200);
  const std::string Next = Rotated["refresh_token"];
  Options = {};
  Options.SendExpiresIn = false;
  Sim.SetTokenReplyOptions(Options);
  R = Refresh("client_id=client-a&refresh_token=" + UrlEncode(Next) + "&grant_type=refresh_token");
  EXPECT_EQ(R.Status, 200);
  EXPECT_FALSE(Json::parse(R.Body).contains("expires_in"));

  Sim.RevokeAccessTokens();
  EXPECT_EQ(Get("/drive/v3/files", {{"Authorization", "Bearer " + Access}}).Status, 401);
  EXPECT_EQ(Sim.RequestCount("POST", cloudsim::GoogleTokenPath), 4);
}

TEST_F(GoogleServicesTest, RefreshGrantRefusesWithTheServiceErrors) {
  const std::pair<std::string, std::pair<int, std::string>> Cases[] = {
      {"client_id=a&refresh_token=unknown&grant_type=refresh_token", {400, "invalid_grant"}},
      {"client_id=b&refresh_token=1%2F%2Fbound&grant_type=refresh_token", {401, "unauthorized_client"}},
      {"client_id=a&refresh_token=x&grant_type=authorization_code", {400, "unsupported_grant_type"}},
      {"client_id=a&refresh_token=x", {400, "unsupported_grant_type"}},
      {"refresh_token=x&grant_type=refresh_token", {400, "invalid_request"}},
      {"client_id=a&grant_type=refresh_token", {400, "invalid_request"}},
      {"client_id=a&refresh_token=%zz&grant_type=refresh_token", {400, "invalid_request"}},
  };
  for (const auto& [Body, Expected] : Cases) {
    const auto R = Refresh(Body);
    EXPECT_EQ(R.Status, Expected.first) << Body;
    EXPECT_EQ(Json::parse(R.Body)["error"], Expected.second) << Body;
  }
  EXPECT_EQ(Refresh(R"({"refresh_token":"1//r+/ ="})", "application/json").Status, 400);
  EXPECT_EQ(
      Json::parse(Refresh("client_id=a&refresh_token=unknown&grant_type=refresh_token").Body)["error_description"],
      "Token has been expired or revoked.");
  Sim.RemoveRefreshToken("1//r+/ =");
  EXPECT_EQ(Refresh("client_id=a&refresh_token=1%2F%2Fr%2B%2F+%3D&grant_type=refresh_token").Status, 400);
}

TEST_F(GoogleServicesTest, DriveRefusesMissingAndUnknownTokensWithItsEnvelope) {
  KELVO_REQUIRE_FIXTURE(NotFound, "drive/gargle_drive_v3_files_get_404_notFound.json");
  auto R = Get("/drive/v3/files", {{"X-Other", "1"}});
  EXPECT_EQ(R.Status, 401);
  EXPECT_EQ(Json::parse(R.Body)["error"]["errors"][0]["reason"], "required");
  R = Get("/drive/v3/files/x?alt=media", {{"Authorization", "Bearer ya29.forged"}});
  EXPECT_EQ(R.Status, 401);
  const Json Error = Json::parse(R.Body)["error"];
  EXPECT_EQ(Error["code"], 401);
  EXPECT_EQ(Error["message"], "Invalid Credentials");
  EXPECT_EQ(Error["errors"][0]["location"], "Authorization");
  R = Get("/drive/v3/files/NOPE_NOT_A_GOOD_ID");
  EXPECT_EQ(R.Status, 404);
  EXPECT_EQ(R.Body, test::ReadBytes(NotFound)) << "the recorded service reply, byte for byte";
}

TEST_F(GoogleServicesTest, ReadyMadeFaultsCarryTheRecordedBodies) {
  KELVO_REQUIRE_FIXTURE(RateLimit, "drive/quoted_drive_403_userRateLimitExceeded.json");
  Sim.AddFault(cloudsim::DriveRateLimitFault(1));
  const auto R = Get("/drive/v3/files");
  EXPECT_EQ(R.Status, 403);
  EXPECT_EQ(R.Body, test::ReadBytes(RateLimit));
  Sim.AddFault(cloudsim::DriveServerErrorFault(1));
  EXPECT_EQ(Json::parse(Get("/drive/v3/files").Body)["error"]["code"], 500);
  EXPECT_EQ(Get("/drive/v3/files").Status, 200);
}

TEST_F(GoogleServicesTest, QueriesAreParsedAsTheDriveLanguage) {
  const std::string Root = Sim.DriveRootId();
  const std::string A = Sim.AddDriveFolder(Root, "A");
  Sim.AddDriveFolder(A, "O'Brien");
  Sim.AddDriveFolder(A, "back\\slash");
  Sim.AddDriveFile(A, "O'Brien", "file of the same name");
  Sim.AddDriveFile(A, "notes.txt", "x");
  Sim.SetDriveTrashed(Sim.AddDriveFile(A, "old.txt", "x"), true);
  Sim.AddDriveFile(Root, "top.txt", "x");

  using V = std::vector<std::string>;
  EXPECT_EQ(ListNames("'" + A + "' in parents"), (V{"O'Brien", "back\\slash", "O'Brien", "notes.txt", "old.txt"}));
  EXPECT_EQ(ListNames("'" + A + "' in parents and trashed=false"),
            (V{"O'Brien", "back\\slash", "O'Brien", "notes.txt"}));
  EXPECT_EQ(ListNames("'" + A +
                      "' in parents and name='O\\'Brien' and mimeType = "
                      "'application/vnd.google-apps.folder' and trashed = false"),
            (V{"O'Brien"}));
  EXPECT_EQ(ListNames("name = 'back\\\\slash'"), (V{"back\\slash"}));
  EXPECT_EQ(ListNames("'root' in parents"), (V{"A", "top.txt"}));
  EXPECT_EQ(ListNames("'" + A +
                      "' in parents AND (name contains '.txt' or mimeType != 'text/plain') and not "
                      "trashed = true"),
            (V{"O'Brien", "back\\slash", "O'Brien", "notes.txt"}));
  EXPECT_EQ(ListNames("trashed != false"), (V{"old.txt"}));
  EXPECT_EQ(ListNames("'nobody' in parents"), V{});

  for (const std::string Bad : {"name = 'open", "name = 'a\\b'", "name = ", "owner = 'x'", "'a' in owners",
                                "name = 'x' and", "(name = 'x'", "trashed = 'false'", "name ~ 'x'", "name = 'x' 'y'"}) {
    const auto R = List(Bad);
    EXPECT_EQ(R.Status, 400) << Bad;
    EXPECT_EQ(Json::parse(R.Body)["error"]["errors"][0]["location"], "q") << Bad;
  }
}

TEST_F(GoogleServicesTest, PagesFollowTokensAndFieldsSelectMembers) {
  const std::string Folder = Sim.AddDriveFolder(Sim.DriveRootId(), "F");
  for (int I = 0; I < 25; ++I) Sim.AddDriveFile(Folder, "f" + std::to_string(100 + I), "x");
  const std::string Query = "'" + Folder + "' in parents";
  std::vector<std::string> Names;
  std::string PageToken;
  int Pages = 0;
  do {
    const auto R = List(Query, "&pageSize=10&fields=nextPageToken,files(id,name,size)" +
                                   (PageToken.empty() ? "" : "&pageToken=" + UrlEncode(PageToken)));
    ASSERT_EQ(R.Status, 200) << R.Body;
    const Json Reply = Json::parse(R.Body);
    for (const auto& F : Reply["files"]) {
      Names.push_back(F["name"]);
      EXPECT_EQ(F.size(), 3u);
      EXPECT_EQ(F["size"], "1");
    }
    PageToken = Reply.value("nextPageToken", "");
    ++Pages;
  } while (!PageToken.empty());
  EXPECT_EQ(Pages, 3);
  ASSERT_EQ(Names.size(), 25u);
  EXPECT_EQ(Names.front(), "f100");
  EXPECT_EQ(Names.back(), "f124");

  // Defaults: 100 per page and the short member set.
  Json Reply = Json::parse(List(Query).Body);
  EXPECT_EQ(Reply["kind"], "drive#fileList");
  EXPECT_EQ(Reply["files"].size(), 25u);
  EXPECT_EQ(Reply["files"][0].size(), 4u);
  Reply = Json::parse(List(Query, "&fields=files/md5Checksum,files(modifiedTime)&pageSize=1").Body);
  EXPECT_FALSE(Reply.contains("nextPageToken")) << "not selected";
  EXPECT_EQ(Reply["files"][0]["md5Checksum"], "9dd4e461268c8034f5c8564e155c67a6");
  EXPECT_EQ(Reply["files"][0].size(), 2u);
  Reply = Json::parse(List(Query, "&fields=*&pageSize=1").Body);
  EXPECT_TRUE(Reply.contains("nextPageToken"));
  EXPECT_EQ(Reply["files"][0]["parents"][0], Folder);

  const std::string Next = Json::parse(List(Query, "&pageSize=10").Body)["nextPageToken"];
  for (const std::string& Extra :
       {std::string("&pageSize=0"), std::string("&pageSize=1001"), std::string("&pageSize=ten"),
        std::string("&pageToken=forged"), "&pageSize=5&pageToken=" + UrlEncode(Next),
        std::string("&fields=files(owners)"), std::string("&fields=items"), std::string("&fields=files(id"),
        std::string("&fields=")})
    EXPECT_EQ(List(Query, Extra).Status, 400) << Extra;
  EXPECT_EQ(List("name = 'f100'", "&pageToken=" + UrlEncode(Next)).Status, 400) << "a token of another query";
}

TEST_F(GoogleServicesTest, FoldersAreCreatedFromJsonMetadata) {
  const std::string Parent = Sim.AddDriveFolder(Sim.DriveRootId(), "P");
  const std::string Id = CreateFolder(R"({"name":"Yeni \u015F","mimeType":"application/vnd.google-apps.folder",)"
                                      R"("parents":[")" +
                                      Parent + R"("]})");
  ASSERT_FALSE(Id.empty());
  EXPECT_EQ(ListNames("'" + Parent + "' in parents and mimeType='application/vnd.google-apps.folder'"),
            std::vector<std::string>{"Yeni \xC5\x9F"});
  const std::string Top = CreateFolder(R"({"name":"Top","mimeType":"application/vnd.google-apps.folder"})");
  EXPECT_EQ(Sim.DriveEntries().back().ParentId, Sim.DriveRootId());
  EXPECT_EQ(Sim.DriveEntries().back().Id, Top);

  CreateFolder(R"({"name":"x","mimeType":"application/vnd.google-apps.folder","parents":["nope"]})", 404);
  const std::string File = Sim.AddDriveFile(Parent, "f", "x");
  CreateFolder(R"({"name":"x","mimeType":"application/vnd.google-apps.folder","parents":[")" + File + "\"]}", 404);
  CreateFolder(R"({"name":"x","mimeType":"text/plain"})", 400);
  CreateFolder(R"({"name":"x","mimeType":"application/vnd.google-apps.folder","parents":"P"})", 400);
  CreateFolder("{broken", 400);
  CreateFolder("[]", 400);
}

TEST_F(GoogleServicesTest, SeededTreeHasStableIdsAndFileFactsAndStreamsRanges) {
  test::WriteBytes(Dir / "tree/Plan/a.bak", "0123456789abcdefghij");
  test::WriteBytes(Dir / "tree/Plan/sub/b.json", "{}");
  test::WriteBytes(Dir / "tree/top.txt", "hello\n");
  std::error_code NoLink;  // Wine makes no links; the rest of the tree is checked all the same
  std::filesystem::create_symlink(Dir / "tree/top.txt", Dir / "tree/link.txt", NoLink);
  if (NoLink) {
    EXPECT_TRUE(test::RunningUnderWine()) << NoLink.message();
  }
  std::filesystem::last_write_time(
      Dir / "tree/top.txt",
      std::filesystem::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1738361700))));
  Sim.SetDriveRoot(Dir / "tree", "kok-klasor");
  EXPECT_EQ(Sim.DriveRootId(), "kok-klasor");
  const std::string Top = Sim.DriveFileId("top.txt");
  ASSERT_FALSE(Top.empty());
  if (!NoLink) {
    EXPECT_EQ(Sim.DriveFileId("link.txt"), "") << "links are not part of the Drive";
  }
  EXPECT_EQ(Sim.DriveFileId("/Plan//sub/b.json"), Sim.DriveFileId("Plan/sub/b.json"));
  EXPECT_EQ(Sim.DriveFileId(""), "kok-klasor");

  TCloudSim Other;
  Other.SetDriveRoot(Dir / "tree", "kok-klasor");
  EXPECT_EQ(Other.DriveFileId("Plan/sub/b.json"), Sim.DriveFileId("Plan/sub/b.json")) << "stable IDs";

  Json Meta = Json::parse(Get("/drive/v3/files/" + Top + "?fields=*").Body);
  EXPECT_EQ(Meta["size"], "6");
  EXPECT_EQ(Meta["md5Checksum"], "b1946ac92492d2347c6235b4d2611184");
  EXPECT_EQ(Meta["modifiedTime"], "2025-01-31T22:15:00.000Z");
  EXPECT_EQ(Meta["mimeType"], "text/plain");
  EXPECT_EQ(Meta["parents"][0], "kok-klasor");
  // The file is read at each request: a change on disk shows at once.
  test::WriteBytes(Dir / "tree/top.txt", "changed");
  Meta = Json::parse(Get("/drive/v3/files/" + Top + "?fields=size,md5Checksum").Body);
  EXPECT_EQ(Meta["size"], "7");
  EXPECT_NE(Meta["md5Checksum"], "b1946ac92492d2347c6235b4d2611184");

  const std::string Bak = "/drive/v3/files/" + Sim.DriveFileId("Plan/a.bak") + "?alt=media";
  auto R = Get(Bak);
  EXPECT_EQ(R.Status, 200);
  EXPECT_EQ(R.Body, "0123456789abcdefghij");
  const std::pair<std::string, std::pair<int, std::string>> Ranges[] = {
      {"bytes=5-9", {206, "56789"}}, {"bytes=15-", {206, "fghij"}}, {"bytes=-3", {206, "hij"}},
      {"bytes=18-40", {206, "ij"}},  {"bytes=20-", {416, ""}},      {"bytes=0-0,5-5", {200, ""}},
  };
  for (const auto& [Range, Expected] : Ranges) {
    R = Get(Bak, {{"Authorization", "Bearer " + Token}, {"Range", Range}});
    EXPECT_EQ(R.Status, Expected.first) << Range;
    if (Expected.first == 206) {
      EXPECT_EQ(R.Body, Expected.second) << Range;
      EXPECT_NE(R.HeaderValue("Content-Range").find("/20"), std::string::npos) << Range;
    }
  }
  const std::string Memory = Sim.AddDriveFile(Sim.DriveRootId(), "m.txt", "in memory");
  R = Get("/drive/v3/files/" + Memory + "?alt=media", {{"Authorization", "Bearer " + Token}, {"Range", "bytes=3-"}});
  EXPECT_EQ(R.Status, 206);
  EXPECT_EQ(R.Body, "memory");
  EXPECT_EQ(Get("/drive/v3/files/" + Sim.DriveFileId("Plan") + "?alt=media").Status, 403) << "folders";
  std::filesystem::remove(Dir / "tree/Plan/a.bak");
  EXPECT_EQ(Get(Bak).Status, 404) << "a file gone from disk";
  EXPECT_THROW(Sim.SetDriveRoot(Dir / "no-such-folder"), std::runtime_error);
}

TEST_F(GoogleServicesTest, ThrottleAndSkipShapeTheReplies) {
  const std::string Id = Sim.AddDriveFile(Sim.DriveRootId(), "big", std::string(200000, 'z'));
  TFault Slow;
  Slow.Kind = TFaultKind::Throttle;
  Slow.PathPrefix = cloudsim::DriveFilesPath;
  Slow.BytesPerSecond = 400000;
  Slow.Times = 1;
  Sim.AddFault(Slow);
  const auto Start = std::chrono::steady_clock::now();
  const auto R = Get("/drive/v3/files/" + Id + "?alt=media");
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 450ms);
  EXPECT_EQ(R.Body.size(), 200000u);

  TFault Second = cloudsim::DriveServerErrorFault(1);
  Second.Skip = 1;
  Sim.AddFault(Second);
  EXPECT_EQ(Get("/drive/v3/files").Status, 200);
  EXPECT_EQ(Get("/drive/v3/files").Status, 500);
  EXPECT_EQ(Get("/drive/v3/files").Status, 200);
}

TEST(CloudSimGoogleProgram, ServesTheSeedsDriveAndRefreshTokens) {
  test::TempDir Seed;
  test::WriteBytes(Seed / "oauth.json", R"({"refreshTokens":["1//seeded",{"token":"1//own","clientId":"c1"}]})");
  test::WriteBytes(Seed / "drive/Plan/x.bak", "backup");
  test::TChildOptions Options;
  Options.PipeOutput = true;
  Options.DiscardErrors = true;
  test::ChildProcess Sim(KELVO_CLOUDSIM_PROGRAM, {"--seed", Seed.path(), "--drive-root-id", "kok"}, Options);
  const std::string Line = Sim.ReadLine(10000);
  Sim.CloseOutput();
  const int Port = std::atoi(Line.c_str());
  ASSERT_GT(Port, 0) << Line;

  THttpClient Http;
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);
  auto R = Http.Post(Base + "/token", "client_id=c1&refresh_token=1%2F%2Fown&grant_type=refresh_token",
                     {{"Content-Type", Form}});
  ASSERT_EQ(R.Status, 200) << R.Body;
  const std::string Access = Json::parse(R.Body)["access_token"];
  R = Http.Get(Base + "/drive/v3/files?q=" + UrlEncode("'kok' in parents") + "&fields=files(id,name)",
               {{"Authorization", "Bearer " + Access}});
  ASSERT_EQ(R.Status, 200) << R.Body;
  const Json Files = Json::parse(R.Body)["files"];
  ASSERT_EQ(Files.size(), 1u);
  EXPECT_EQ(Files[0]["name"], "Plan");

  KELVO_SKIP_UNDER_WINE(test::kNoConsoleEventsUnderWine);
  Sim.AskToStop();
  EXPECT_EQ(Sim.WaitFor(10000), std::optional<int>(0));
}

TEST(CloudSimGoogleSeed, ReadsRefreshTokensAndNamesABadFile) {
  test::TempDir Dir;
  std::vector<std::pair<std::string, std::string>> Tokens;
  cloudsim::LoadGoogleSeed(Dir.path(), Tokens);
  EXPECT_TRUE(Tokens.empty());
  test::WriteBytes(Dir / "oauth.json", R"({"refreshTokens":["a",{"token":"b","clientId":"c"}]})");
  cloudsim::LoadGoogleSeed(Dir.path(), Tokens);
  EXPECT_EQ(Tokens, (std::vector<std::pair<std::string, std::string>>{{"a", ""}, {"b", "c"}}));
  for (const std::string Bad : {"[]", R"({"refreshTokens":"a"})", R"({"refreshTokens":[1]})",
                                R"({"refreshTokens":[{"clientId":"c"}]})", "{oops"}) {
    test::WriteBytes(Dir / "oauth.json", Bad);
    try {
      cloudsim::LoadGoogleSeed(Dir.path(), Tokens);
      ADD_FAILURE() << Bad;
    } catch (const std::runtime_error& E) {
      EXPECT_NE(std::string(E.what()).find("oauth.json"), std::string::npos) << E.what();
    }
  }
}

}  // namespace
}  // namespace kelvo
