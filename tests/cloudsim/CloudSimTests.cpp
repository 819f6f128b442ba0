// cloudsim's own logic: what the services answer, token checks, counting, faults, seeding, the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

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

constexpr char RealSignIn[] = "/v1/accounts:signInWithPassword";
constexpr char EmulatorSignIn[] = "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword";

std::string ReadAll(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

class CloudSimTest : public ::testing::Test {
 protected:
  TCloudSim Sim;
  THttpClient Http;
  std::atomic<std::chrono::system_clock::time_point> ClockNow{std::chrono::system_clock::now()};

  void SetUp() override {
    THttpTimeouts T;
    T.ConnectMs = 2000;
    T.TotalMs = 1500;
    Http.SetTimeouts(T);
    Sim.SetClock([this] { return ClockNow.load(); });
    Sim.AddUser({"User@Kelvo.test", "pw", "Kullanici", "", false});
    Sim.AddUser({"off@kelvo.test", "pw", "", "", true});
    Sim.SetDatabase({{"Lisanslar", {{"acme", {{"Sifre", "x"}, {"Email", "a@acme.test"}}}}}, {"list", {10, 20, 30}}});
    Sim.Start();
  }
  THttpResponse SignIn(const std::string& Body, const std::string& Path = EmulatorSignIn,
                       const std::string& Query = "?key=k") {
    return Http.Post(Sim.BaseUrl() + Path + Query, Body, {{"Content-Type", "application/json"}});
  }
  std::string Token() {
    const auto R = SignIn(R"({"email":"user@kelvo.test","password":"pw","returnSecureToken":true})");
    return Json::parse(R.Body)["idToken"];
  }
  THttpResponse Read(const std::string& Node, const std::string& Token) {
    return Http.Get(Sim.BaseUrl() + Node + ".json?auth=" + Token);
  }
};

TEST_F(CloudSimTest, SignInAnswersLikeTheIdentityService) {
  for (const char* Path : {RealSignIn, EmulatorSignIn}) {
    const auto R = SignIn(R"({"email":"USER@kelvo.test","password":"pw","returnSecureToken":true})", Path);
    ASSERT_EQ(R.Status, 200) << R.Body;
    const Json Reply = Json::parse(R.Body);
    std::vector<std::string> Names;
    for (auto It = Reply.begin(); It != Reply.end(); ++It) Names.push_back(It.key());
    EXPECT_EQ(Names, (std::vector<std::string>{"kind", "localId", "email", "displayName", "idToken", "registered",
                                               "refreshToken", "expiresIn"}));
    EXPECT_EQ(Reply["kind"], "identitytoolkit#VerifyPasswordResponse");
    EXPECT_EQ(Reply["email"], "User@Kelvo.test");
    EXPECT_EQ(Reply["expiresIn"], "3600");
    EXPECT_EQ(Reply["registered"], true);
    const std::string Token = Reply["idToken"];
    EXPECT_EQ(std::count(Token.begin(), Token.end(), '.'), 2);  // a JWT: header.payload.signature
  }
}

TEST_F(CloudSimTest, SignInErrorsUseTheServiceEnvelope) {
  const std::pair<std::string, std::string> Cases[] = {
      {R"({"email":"user@kelvo.test","password":"bad"})", "INVALID_PASSWORD"},
      {R"({"email":"nobody@kelvo.test","password":"pw"})", "EMAIL_NOT_FOUND"},
      {R"({"email":"user","password":"pw"})", "INVALID_EMAIL"},
      {R"({"password":"pw"})", "INVALID_EMAIL"},
      {R"({"email":"user@kelvo.test"})", "MISSING_PASSWORD"},
      {R"({"email":"off@kelvo.test","password":"pw"})", "USER_DISABLED"},
  };
  for (const auto& [Body, Message] : Cases) {
    const auto R = SignIn(Body);
    EXPECT_EQ(R.Status, 400);
    const Json Reply = Json::parse(R.Body);
    EXPECT_EQ(Reply["error"]["code"], 400);
    EXPECT_EQ(Reply["error"]["message"], Message);
    EXPECT_EQ(Reply["error"]["errors"][0]["message"], Message);
  }
  EXPECT_EQ(SignIn("{not json").Status, 400);
  EXPECT_EQ(SignIn("{}", EmulatorSignIn, "").Status, 403);
  Sim.SetApiKey("right-key");
  EXPECT_EQ(Json::parse(SignIn("{}", EmulatorSignIn, "?key=wrong").Body)["error"]["message"],
            "API key not valid. Please pass a valid API key.");
  EXPECT_EQ(SignIn(R"({"email":"user@kelvo.test","password":"pw"})", EmulatorSignIn, "?key=right-key").Status, 200);
}

TEST_F(CloudSimTest, RepliesMatchTheRecordedServiceBodies) {
  KELVO_REQUIRE_FIXTURE(Denied, "firebase/quoted_rtdb_401_permission_denied.json");
  KELVO_REQUIRE_FIXTURE(Invalid, "firebase/quoted_signInWithPassword_400_INVALID_PASSWORD.json");
  KELVO_REQUIRE_FIXTURE(Success, "firebase/firebasecpp_verifyPassword_200.json");
  const auto R = Read("/Lisanslar", "");
  EXPECT_EQ(R.Status, 401);
  EXPECT_EQ(R.Body, ReadAll(Denied));
  EXPECT_EQ(R.ContentType, "application/json; charset=utf-8");
  EXPECT_EQ(Json::parse(SignIn(R"({"email":"user@kelvo.test","password":"bad"})").Body), Json::parse(ReadAll(Invalid)));
  // Every member of the recorded success reply but the photo URL, of the same JSON types.
  const Json Ours = Json::parse(SignIn(R"({"email":"user@kelvo.test","password":"pw"})").Body);
  const Json Theirs = Json::parse(ReadAll(Success));
  for (auto It = Theirs.begin(); It != Theirs.end(); ++It) {
    if (It.key() == "photoUrl") continue;
    ASSERT_TRUE(Ours.contains(It.key())) << It.key();
    EXPECT_EQ(Ours[It.key()].type(), It.value().type()) << It.key();
  }
}

TEST_F(CloudSimTest, DatabaseAcceptsOnlyLiveTokensItIssued) {
  const std::string T = Token();
  EXPECT_EQ(Read("/Lisanslar/acme", T).Body, R"({"Sifre":"x","Email":"a@acme.test"})");
  EXPECT_EQ(Read("/", T).Status, 200);
  EXPECT_EQ(Http.Get(Sim.BaseUrl() + "/.json?print=pretty&auth=" + T + "&shallow=true").Status, 200);
  EXPECT_EQ(Read("/list/1", T).Body, "20");
  EXPECT_EQ(Read("/list/7", T).Body, "null");
  EXPECT_EQ(Read("/Lisanslar/none/deeper", T).Body, "null");
  EXPECT_EQ(Read("/Lisanslar/a.b", T).Status, 400);
  EXPECT_EQ(Http.Get(Sim.BaseUrl() + "/Lisanslar?auth=" + T).Status, 404);

  EXPECT_EQ(Read("/Lisanslar", "").Status, 401);
  EXPECT_EQ(Read("/Lisanslar", T + "x").Status, 401);
  EXPECT_EQ(Read("/Lisanslar", Sim.IssueIdToken("user@kelvo.test")).Status, 200);
  ClockNow = ClockNow.load() + 3599s;
  EXPECT_EQ(Read("/Lisanslar", T).Status, 200);
  ClockNow = ClockNow.load() + 1s;
  EXPECT_EQ(Read("/Lisanslar", T).Status, 401);

  Sim.SetTokenLifetime(10);
  const std::string Short = Token();
  EXPECT_EQ(Read("/Lisanslar", Short).Status, 200);
  Sim.RevokeTokens();
  EXPECT_EQ(Read("/Lisanslar", Short).Status, 401);
}

TEST_F(CloudSimTest, TreeChangesAreServedAtOnce) {
  const std::string T = Token();
  EXPECT_EQ(Read("/Lisanslar/acme/Sifre", T).Body, "\"x\"");
  Sim.SetNode("Lisanslar/acme/Sifre", "y");
  EXPECT_EQ(Read("/Lisanslar/acme/Sifre", T).Body, "\"y\"");
  Sim.SetNode("/Lisanslar/new/deep", 1);
  EXPECT_EQ(Read("/Lisanslar/new", T).Body, R"({"deep":1})");
  Sim.SetNode("Lisanslar/acme", nullptr);
  EXPECT_EQ(Read("/Lisanslar/acme", T).Body, "null");
  Sim.SetDatabase(nullptr);
  EXPECT_EQ(Read("/", T).Body, "null");
}

TEST_F(CloudSimTest, CountsEveryRequestByPathAndMethodFaultedOrNot) {
  const std::string T = Token();
  Read("/Lisanslar", T);
  Read("/Lisanslar", T);
  Read("/Lisanslar/acme", T);
  TFault F;
  F.PathPrefix = "/Lisanslar/acme";
  F.Status = 500;
  Sim.AddFault(F);
  EXPECT_EQ(Read("/Lisanslar/acme", T).Status, 500);
  EXPECT_EQ(Sim.RequestCount("/Lisanslar.json"), 2);
  EXPECT_EQ(Sim.RequestCount("GET", "/Lisanslar/acme.json"), 2);
  EXPECT_EQ(Sim.RequestCount("POST", "/Lisanslar/acme.json"), 0);
  EXPECT_EQ(Sim.RequestCount("POST", EmulatorSignIn), 1);
  EXPECT_EQ(Sim.RequestCountWithPrefix("/Lisanslar"), 4);
  EXPECT_EQ(Sim.TotalRequests(), 5);
  EXPECT_EQ(Sim.LastRequest("/Lisanslar/acme.json")->Target, "/Lisanslar/acme.json?auth=" + T);
  Sim.ResetCounts();
  EXPECT_EQ(Sim.TotalRequests(), 0);
  EXPECT_FALSE(Sim.LastRequest("/Lisanslar.json"));
}

TEST_F(CloudSimTest, FaultsMatchByPrefixAndMethodAndWearOff) {
  const std::string T = Token();
  TFault F;
  F.PathPrefix = "/Lisanslar";
  F.Method = "GET";
  F.Status = 403;
  F.Body = R"({"error":"rate"})";
  F.Times = 2;
  Sim.AddFault(F);
  EXPECT_EQ(Read("/list", T).Status, 200);  // another path
  EXPECT_EQ(SignIn(R"({"email":"user@kelvo.test","password":"pw"})").Status, 200);
  auto R = Read("/Lisanslar/acme", T);
  EXPECT_EQ(R.Status, 403);
  EXPECT_EQ(R.Body, R"({"error":"rate"})");
  EXPECT_EQ(Read("/Lisanslar", T).Status, 403);
  EXPECT_EQ(Read("/Lisanslar", T).Status, 200);  // worn off after two

  // Redirects are canned replies too, and the client follows them.
  TFault Move;
  Move.PathPrefix = "/old";
  Move.Status = 302;
  Move.Headers = {{"Location", "/list/2.json?auth=" + T}};
  Sim.AddFault(Move);
  R = Http.Get(Sim.BaseUrl() + "/old");
  EXPECT_EQ(R.Status, 200);
  EXPECT_EQ(R.Body, "30");

  // Latency delays the normal answer.
  Sim.ClearFaults();
  TFault Slow;
  Slow.Kind = TFaultKind::Latency;
  Slow.Delay = 300ms;
  Sim.AddFault(Slow);
  const auto Start = std::chrono::steady_clock::now();
  EXPECT_EQ(Read("/list/0", T).Body, "10");
  EXPECT_GE(std::chrono::steady_clock::now() - Start, 300ms);
}

TEST_F(CloudSimTest, CutsBreakTheTransferAfterTheGivenBytes) {
  const std::string T = Token();
  Sim.SetNode("big", std::string(100000, 'a'));
  for (const TFaultKind Kind : {TFaultKind::CutMidBody, TFaultKind::ShortBody}) {
    TFault F;
    F.Kind = Kind;
    F.Times = 1;
    Sim.AddFault(F);
    try {
      Read("/big", T);
      ADD_FAILURE() << "transfer not broken";
    } catch (const EHttpError& E) {
      EXPECT_FALSE(E.IsTimeout());
      EXPECT_NE(std::string(E.what()).find("HTTP istegi basarisiz (127.0.0.1:"), std::string::npos) << E.what();
    }
  }
  // A download is cut after CutAfter bytes, and the file holds exactly those.
  test::TempDir Dir;
  TFault F;
  F.Kind = TFaultKind::ShortBody;
  F.CutAfter = 1000;
  Sim.AddFault(F);
  EXPECT_THROW(Http.GetToFile(Sim.BaseUrl() + "/big.json?auth=" + T, {}, Dir / "f"), EHttpError);
  EXPECT_EQ(test::ReadBytes(Dir / "f"), "\"" + std::string(999, 'a'));
}

TEST_F(CloudSimTest, DownloadFaultsShapeWhatArrivesAndServedBytesCountIt) {
  std::string Content(100000, '\0');
  for (size_t I = 0; I < Content.size(); ++I) Content[I] = static_cast<char>(I * 7 % 251);
  test::TempDir Dir;
  test::WriteBytes(Dir / "drive/big.bin", Content);
  Sim.SetDriveRoot(Dir / "drive");
  const std::string Ids[] = {Sim.DriveFileId("big.bin"), Sim.AddDriveFile(Sim.DriveRootId(), "m.bin", Content)};
  const THttpHeaders Auth = {{"Authorization", "Bearer " + Sim.IssueAccessToken()}};
  struct TRow {
    std::optional<TFaultKind> Kind;
    int64_t CutAfter;
    int64_t From;      // asks for "bytes=From-" when not 0
    int Status;        // -1: the transfer breaks
    int64_t Start;     // where the bytes received start in Content
    int64_t Corrupt;   // first changed byte in what is received; -1: none
    int64_t Received;  // -1: up to the end
  };
  const TRow Rows[] = {
      {std::nullopt, -1, 1000, 206, 1000, -1, -1},
      {TFaultKind::CorruptBody, 500, 1000, 206, 1000, 500, -1},
      {TFaultKind::CorruptBody, -1, 0, 200, 0, 50000, -1},
      {TFaultKind::IgnoreRange, -1, 1000, 200, 0, -1, -1},
      {TFaultKind::ShortBody, 2000, 1000, -1, 1000, -1, 2000},
      {TFaultKind::StallMidBody, 3000, 1000, -1, 1000, -1, 3000},
  };
  for (const std::string& Id : Ids) {
    for (const TRow& Row : Rows) {
      SCOPED_TRACE(testing::Message() << Id << " fault " << (Row.Kind ? static_cast<int>(*Row.Kind) : -1));
      Sim.ResetCounts();
      if (Row.Kind) {
        TFault F;
        F.Kind = *Row.Kind;
        F.Delay = 300ms;
        F.CutAfter = Row.CutAfter;
        F.Times = 1;
        Sim.AddFault(F);
      }
      THttpHeaders Headers = Auth;
      if (Row.From > 0) Headers.emplace_back("Range", "bytes=" + std::to_string(Row.From) + "-");
      std::filesystem::remove(Dir / "got");
      const auto Start = std::chrono::steady_clock::now();
      THttpResponse R;
      try {
        R = Http.GetToFile(Sim.DriveUrl() + "/" + Id + "?alt=media", Headers, Dir / "got");
      } catch (const EHttpError&) {
        R.Status = -1;
      }
      std::string Expected = Content.substr(Row.Start, Row.Received < 0 ? std::string::npos : Row.Received);
      for (int64_t I = Row.Corrupt; I >= 0 && I < Row.Corrupt + 16; ++I) Expected[I] ^= 0x5A;
      const std::string Got = test::ReadBytes(Dir / "got");
      EXPECT_TRUE(Got == Expected) << Got.size() << " bytes received, " << Expected.size() << " expected";
      EXPECT_EQ(R.Status, Row.Status);
      if (R.Status > 0) {
        EXPECT_EQ(R.HeaderValue("Content-Range"), R.Status == 206 ? "bytes 1000-99999/100000" : "");
      }
      EXPECT_TRUE(Row.Kind != TFaultKind::StallMidBody || std::chrono::steady_clock::now() - Start >= 300ms);
      EXPECT_EQ(Sim.MediaBytesServed(), static_cast<int64_t>(Expected.size()));
    }
  }
  // Error replies are no download bytes; the ready-made status fault carries Retry-After.
  Sim.ResetCounts();
  Sim.AddFault(cloudsim::DriveStatusFault(429, 1, "7"));
  const auto R = Http.Get(Sim.DriveUrl() + "/" + Ids[0] + "?alt=media", Auth);
  EXPECT_EQ(R.Status, 429);
  EXPECT_EQ(R.HeaderValue("Retry-After"), "7");
  EXPECT_EQ(Json::parse(R.Body)["error"]["errors"][0]["reason"], "rateLimitExceeded");
  EXPECT_EQ(Sim.MediaBytesServed(), 0);
}

TEST_F(CloudSimTest, NoAnswerHoldsUntilTheClientGivesUpAndStopEndsItAtOnce) {
  TFault F;
  F.Kind = TFaultKind::NoAnswer;
  F.Delay = 60s;
  Sim.AddFault(F);
  auto Start = std::chrono::steady_clock::now();
  EXPECT_THROW(Http.Get(Sim.BaseUrl() + "/x.json"), EHttpError);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 5s);
  // A held request of another client does not keep Stop() waiting.
  std::thread Waiting([this] {
    THttpClient Other;
    try {
      Other.Get(Sim.BaseUrl() + "/y.json");
    } catch (const EHttpError&) {
    }
  });
  while (Sim.RequestCount("/y.json") == 0) std::this_thread::sleep_for(5ms);
  Start = std::chrono::steady_clock::now();
  Sim.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 3s);
  Waiting.join();
  EXPECT_FALSE(Sim.Running());
}

TEST(CloudSimSeed, ReadsUsersAndDatabaseAndNamesABadFile) {
  test::TempDir Dir;
  test::WriteBytes(
      Dir / "users.json",
      R"([{"email":"a@b.c","password":"p","displayName":"A"},{"email":"d@e.f","localId":"L1","disabled":true}])");
  test::WriteBytes(Dir / "database.json", "\xEF\xBB\xBF{\"Lisanslar\":{\"x\":1}}");
  std::vector<cloudsim::TSimUser> Users;
  Json Tree;
  cloudsim::LoadSeed(Dir.path(), Users, Tree);
  ASSERT_EQ(Users.size(), 2u);
  EXPECT_EQ(Users[0].DisplayName, "A");
  EXPECT_EQ(Users[0].LocalId.size(), 28u);
  EXPECT_EQ(Users[1].LocalId, "L1");
  EXPECT_TRUE(Users[1].Disabled);
  EXPECT_EQ(Tree["Lisanslar"]["x"], 1);

  test::TempDir Empty;
  cloudsim::LoadSeed(Empty.path(), Users, Tree);
  EXPECT_TRUE(Users.empty());
  EXPECT_TRUE(Tree.is_null());

  test::WriteBytes(Dir / "database.json", "{broken");
  try {
    cloudsim::LoadSeed(Dir.path(), Users, Tree);
    ADD_FAILURE();
  } catch (const std::runtime_error& E) {
    EXPECT_NE(std::string(E.what()).find("database.json"), std::string::npos);
  }
  test::WriteBytes(Dir / "users.json", R"({"email":"a@b.c"})");
  EXPECT_THROW(cloudsim::LoadSeed(Dir.path(), Users, Tree), std::runtime_error);
}

TEST(CloudSimProgram, PrintsItsPortServesTheSeedAndEndsOnSigterm) {
  test::TempDir Seed;
  test::WriteBytes(Seed / "users.json", R"([{"email":"a@b.c","password":"p"}])");
  test::WriteBytes(Seed / "database.json", R"({"n":{"v":5}})");
  test::TChildOptions Options;
  Options.PipeOutput = true;
  test::ChildProcess Sim(KELVO_CLOUDSIM_PROGRAM, {"--seed", Seed.path(), "--port", "0", "--api-key", "k1"}, Options);
  const std::string Line = Sim.ReadLine(10000);
  Sim.CloseOutput();
  const int Port = std::atoi(Line.c_str());
  ASSERT_GT(Port, 0) << Line;

  THttpClient Http;
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);
  const auto R = Http.Post(Base + "/v1/accounts:signInWithPassword?key=k1", R"({"email":"a@b.c","password":"p"})");
  ASSERT_EQ(R.Status, 200) << R.Body;
  const std::string T = Json::parse(R.Body)["idToken"];
  EXPECT_EQ(Http.Get(Base + "/n.json?auth=" + T).Body, R"({"v":5})");

  KELVO_SKIP_UNDER_WINE(test::kNoConsoleEventsUnderWine);
  Sim.AskToStop();
  EXPECT_EQ(Sim.WaitFor(10000), std::optional<int>(0)) << "-1: ended by the signal instead of stopping";
}

TEST(CloudSimProgram, RefusesMissingOrBadArguments) {
  for (const std::vector<std::string>& Args : std::vector<std::vector<std::string>>{
           {}, {"--port", "0"}, {"--seed", "/nonexistent", "--port", "x"}, {"--bogus"}}) {
    test::TChildOptions Quiet;
    Quiet.DiscardErrors = true;
    EXPECT_EQ(test::RunProgram(KELVO_CLOUDSIM_PROGRAM, Args, Quiet), 2);
  }
}

}  // namespace
}  // namespace kelvo
