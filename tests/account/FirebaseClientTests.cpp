// The identity client, the database client and the manager, over real sockets to cloudsim.
#include <chrono>

#include "CloudFixture.h"
#include "account/Firebase.Manager.h"
#include "core/JsonRecords.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using cloudsim::TFault;
using cloudsim::TFaultKind;

constexpr char SignInPath[] = "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword";

TEST(FirebaseClientUrl, OneSlashBetweenBaseAndNodeWhateverTheInputs) {
  for (const std::string Base : {"https://db.example/", "https://db.example"}) {
    for (const std::string Path : {"Lisanslar", "/Lisanslar"}) {
      TFirebaseConfig C;
      C.BaseURL = Base;
      TFirebaseClient Client(C);
      EXPECT_EQ(Client.BuildUrl(Path), "https://db.example/Lisanslar.json") << Base << " + " << Path;
      Client.FAuthToken = "T0K";
      EXPECT_EQ(Client.BuildUrl(Path), "https://db.example/Lisanslar.json?auth=T0K") << Base << " + " << Path;
    }
  }
}

TEST(FirebaseClientUrl, QueryStaysAfterTheSuffixAndTheTokenFollowsWithAmpersand) {
  TFirebaseConfig C;
  C.BaseURL = "http://127.0.0.1:9000/";
  TFirebaseClient Client(C);
  EXPECT_EQ(Client.BuildUrl("GoogleDriveAccounts/x?shallow=true&a=?b"),
            "http://127.0.0.1:9000/GoogleDriveAccounts/x.json?shallow=true&a=?b");
  Client.FAuthToken = "tok";
  EXPECT_EQ(Client.BuildUrl("a/b?print=pretty"), "http://127.0.0.1:9000/a/b.json?print=pretty&auth=tok");
  // Nothing is encoded here: names go through as given.
  EXPECT_EQ(Client.BuildUrl("a b/ş"), "http://127.0.0.1:9000/a b/ş.json?auth=tok");
  // Parameters of the base (an emulator's database name) come first in every request.
  C.BaseURL = "http://127.0.0.1:9000/?ns=acme-rtdb";
  TFirebaseClient Named(C);
  EXPECT_EQ(Named.BuildUrl("a/b"), "http://127.0.0.1:9000/a/b.json?ns=acme-rtdb");
  Named.FAuthToken = "tok";
  EXPECT_EQ(Named.BuildUrl("/a/b?shallow=true"), "http://127.0.0.1:9000/a/b.json?ns=acme-rtdb&shallow=true&auth=tok");
  // An empty base and a doubled slash are taken literally.
  TFirebaseConfig Empty;
  TFirebaseClient Bare(Empty);
  EXPECT_EQ(Bare.BuildUrl("x"), "/x.json");
  EXPECT_EQ(Bare.BuildUrl("//x"), "//x.json");
}

TEST(DatabaseErrorReply, OnlyMemberNamedErrorAndWhatItMayHold) {
  struct TCase {
    const char* Reply;
    bool AnyValue, NoContainer;
  };
  const TCase Cases[] = {
      {R"({"error" : "Permission denied"})", true, true},
      {R"({"error":null})", true, true},
      {R"({"error":{"code":401}})", true, false},
      {R"({"error":[1]})", true, false},
      {R"({"error":"x","other":1})", false, false},
      {R"({"other":1,"error":"x"})", false, false},
      {R"({"Error":"x"})", false, false},
      {R"(["error"])", false, false},
      {"{}", false, false},
  };
  // Only the shape of the top value is looked at, so no member is read.
  const TJsonRecordRules NoMembers{{}, TJsonNameMatch::Exact, "", 8};
  const auto Ignore = [](TJsonRecord&) {};
  for (const TCase& C : Cases) {
    TJsonTop Top;
    ASSERT_TRUE(ReadJsonRecords(C.Reply, NoMembers, TJsonRecordScope::TopObject, Ignore, &Top)) << C.Reply;
    EXPECT_EQ(IsDatabaseErrorReply(Top, TErrorReplyValue::Anything), C.AnyValue) << C.Reply;
    EXPECT_EQ(IsDatabaseErrorReply(Top, TErrorReplyValue::NoContainer), C.NoContainer) << C.Reply;
  }
}

TEST(FirebaseManager, CreateCopiesTheArgumentsIntoEveryPart) {
  TFirebaseManager M("key-1", "http://127.0.0.1:1/", "proj");
  EXPECT_EQ(M.Config().ApiKey, "key-1");
  EXPECT_EQ(M.Config().BaseURL, "http://127.0.0.1:1/");
  EXPECT_EQ(M.Config().ProjectID, "proj");
  EXPECT_EQ(M.Config().AuthDomain, "");
  EXPECT_EQ(M.Client().FAuthToken, "");
  EXPECT_EQ(M.Client().BuildUrl("n"), "http://127.0.0.1:1/n.json");
}

class FirebaseClientTest : public test::CloudFixture {
 protected:
  void SetUp() override {
    CloudFixture::SetUp();
    Sim.AddUser({"operator@kelvo.test", "Gizli/\"Sifre\" ş", "Operator", "", false});
    Sim.SetDatabase({{"Lisanslar", {{"acme", {{"Email", "a@acme.test"}, {"Sifre", "x"}}}}},
                     {"a b", {{"ş", 42}}},
                     {"q?x", "found"}});
  }
  std::unique_ptr<TFirebaseManager> NewManager() {
    return std::make_unique<TFirebaseManager>(BuiltInFirebaseApiKey(), Sim.DatabaseUrl(), "");
  }
};

TEST_F(FirebaseClientTest, SignInSendsTheAsciiBodyAndReadsTheFiveMembers) {
  auto M = NewManager();
  const TAuthResponse R = M->Login("operator@kelvo.test", "Gizli/\"Sifre\" ş");
  ASSERT_TRUE(R.Success) << R.ErrorMessage;
  EXPECT_EQ(R.Email, "operator@kelvo.test");
  EXPECT_EQ(R.ExpiresIn, "3600");
  EXPECT_GT(R.IdToken.size(), 500u);
  EXPECT_FALSE(R.RefreshToken.empty());
  EXPECT_EQ(R.LocalId.size(), 28u);
  EXPECT_FALSE(R.Registered);  // the reply says true; the record does not carry it
  EXPECT_EQ(R.ErrorMessage, "");
  EXPECT_EQ(M->Client().FAuthToken, R.IdToken);

  const auto Request = Sim.LastRequest(SignInPath);
  ASSERT_TRUE(Request);
  EXPECT_EQ(Request->Body,
            R"({"email":"operator@kelvo.test","password":"Gizli\/\"Sifre\" \u015F","returnSecureToken":true})");
  EXPECT_EQ(Request->Target, std::string(SignInPath) + "?key=" + BuiltInFirebaseApiKey());
  bool JsonType = false;
  for (const auto& [Name, Value] : Request->Headers)
    JsonType = JsonType || (Name == "Content-Type" && Value == "application/json");
  EXPECT_TRUE(JsonType);
}

TEST_F(FirebaseClientTest, RefusedSignInKeepsTheTokenAndReportsTheServiceText) {
  auto M = NewManager();
  M->Client().FAuthToken = "earlier";
  TAuthResponse R = M->Login("operator@kelvo.test", "wrong");
  EXPECT_FALSE(R.Success);
  EXPECT_EQ(R.ErrorMessage, "INVALID_PASSWORD");
  EXPECT_EQ(R.IdToken, "");
  EXPECT_EQ(M->Client().FAuthToken, "earlier");

  R = M->Login("nobody@kelvo.test", "x");
  EXPECT_EQ(R.ErrorMessage, "EMAIL_NOT_FOUND");
  R = M->Login("not-an-address", "x");
  EXPECT_EQ(R.ErrorMessage, "INVALID_EMAIL");
  R = M->Login("operator@kelvo.test", "");
  EXPECT_EQ(R.ErrorMessage, "MISSING_PASSWORD");

  TFirebaseManager WrongKey("AIzaWrongKey", Sim.DatabaseUrl(), "");
  R = WrongKey.Login("operator@kelvo.test", "Gizli/\"Sifre\" ş");
  EXPECT_FALSE(R.Success);
  EXPECT_EQ(R.ErrorMessage, "API key not valid. Please pass a valid API key.");
}

TEST_F(FirebaseClientTest, GetReturnsSubtreeNullOrTheErrorBodyWhateverTheStatus) {
  auto M = NewManager();
  // Without a token the service refuses; the body comes back as it is.
  EXPECT_EQ(M->Client().Get("Lisanslar"), "{\n  \"error\" : \"Permission denied\"\n}\n");
  ASSERT_TRUE(M->Login("operator@kelvo.test", "Gizli/\"Sifre\" ş").Success);
  EXPECT_EQ(M->Client().Get("Lisanslar/acme"), R"({"Email":"a@acme.test","Sifre":"x"})");
  EXPECT_EQ(M->Client().Get("/Lisanslar/acme?print=pretty"), R"({"Email":"a@acme.test","Sifre":"x"})");
  EXPECT_EQ(M->Client().Get("Lisanslar/nobody"), "null");
  // Blank and non-ASCII bytes are encoded on the wire; a reserved character is the caller's to encode.
  EXPECT_EQ(M->Client().Get("a b/ş"), "42");
  EXPECT_EQ(Sim.Requests().back().Target.substr(0, 18), "/a%20b/%C5%9F.json");
  EXPECT_EQ(M->Client().Get(UrlEncode("q?x")), "\"found\"");
}

TEST_F(FirebaseClientTest, SignInRepliesOfTheWrongShape) {
  auto M = NewManager();
  auto Canned = [&](int Status, const std::string& Body) {
    Sim.ClearFaults();
    TFault F;
    F.PathPrefix = SignInPath;
    F.Status = Status;
    F.Body = Body;
    Sim.AddFault(F);
  };
  // Not JSON: not successful, no message.
  Canned(200, "<html>Service Unavailable</html>");
  TAuthResponse R = M->Login("a@b.c", "p");
  EXPECT_FALSE(R.Success);
  EXPECT_EQ(R.ErrorMessage, "");
  Canned(502, "");
  EXPECT_FALSE(M->Login("a@b.c", "p").Success);
  // An error status without "error": no message.
  Canned(400, R"({"status":"bad"})");
  R = M->Login("a@b.c", "p");
  EXPECT_FALSE(R.Success);
  EXPECT_EQ(R.ErrorMessage, "");
  // JSON, but not an object; a reply without one of the members; an error that is not an object.
  Canned(200, "[1,2,3]");
  EXPECT_THROW(M->Login("a@b.c", "p"), std::exception);
  Canned(200, R"({"idToken":"t","email":"e","refreshToken":"r","expiresIn":"3600"})");
  EXPECT_THROW(M->Login("a@b.c", "p"), std::exception);
  Canned(400, R"({"error":"Permission denied"})");
  EXPECT_THROW(M->Login("a@b.c", "p"), std::exception);
  Canned(400, R"({"error":{"code":400}})");
  EXPECT_THROW(M->Login("a@b.c", "p"), std::exception);
  EXPECT_EQ(M->Client().FAuthToken, "");
  // Deep nesting is only "not an object", not a crash.
  Canned(200, std::string(200000, '[') + std::string(200000, ']'));
  EXPECT_THROW(M->Login("a@b.c", "p"), std::exception);
  // Numbers where text is expected are taken as their literal text.
  Canned(200, R"({"idToken":"t","email":"e","refreshToken":"r","expiresIn":3600,"localId":7})");
  R = M->Login("a@b.c", "p");
  EXPECT_TRUE(R.Success);
  EXPECT_EQ(R.ExpiresIn, "3600");
  EXPECT_EQ(R.LocalId, "7");
  EXPECT_EQ(M->Client().FAuthToken, "t");
}

TEST_F(FirebaseClientTest, BrokenConnectionsRaiseTheHttpLayersError) {
  auto M = NewManager();
  ASSERT_TRUE(M->Login("operator@kelvo.test", "Gizli/\"Sifre\" ş").Success);
  for (const TFaultKind Kind : {TFaultKind::CutMidBody, TFaultKind::ShortBody}) {
    Sim.ClearFaults();
    TFault F;
    F.Kind = Kind;
    Sim.AddFault(F);
    EXPECT_THROW(M->Client().Get("Lisanslar"), EHttpError);
    EXPECT_THROW(M->Login("operator@kelvo.test", "Gizli/\"Sifre\" ş"), EHttpError);
  }
  Sim.ClearFaults();
  EXPECT_NE(M->Client().Get("Lisanslar"), "");

  // A server that never answers ends in the overall time-out, not a hang.
  TFault Hold;
  Hold.Kind = TFaultKind::NoAnswer;
  Hold.Delay = 20s;
  Sim.AddFault(Hold);
  const auto Start = std::chrono::steady_clock::now();
  try {
    M->Client().Get("Lisanslar");
    ADD_FAILURE() << "no time-out";
  } catch (const EHttpError& E) {
    EXPECT_TRUE(E.IsTimeout()) << E.what();
    EXPECT_EQ(std::string(E.what()).rfind("HTTP istegi zaman asimina ugradi (127.0.0.1:", 0), 0u) << E.what();
  }
  EXPECT_LT(std::chrono::steady_clock::now() - Start, 10s);

  Sim.Stop();
  try {
    M->Login("operator@kelvo.test", "x");
    ADD_FAILURE() << "no error";
  } catch (const EHttpError& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Sunucuya baglanilamadi (127.0.0.1:", 0), 0u) << E.what();
  }
}

}  // namespace
}  // namespace kelvo
