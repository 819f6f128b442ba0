// The central Google token directory: reading the pool and link nodes, the order that decides the
// default link, and the synchronisation into the local cache file against cloudsim, with its caches.
#include <gmock/gmock.h>

#include <vector>

#include "TokenDirectoryFixture.h"
#include "drive/uGoogleTokenSync.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using cloudsim::TFault;
using cloudsim::TFaultKind;
using Json = nlohmann::ordered_json;

std::vector<TGoogleDriveAuthorizedAccount> Pool(const std::string& Text) {
  std::vector<TGoogleDriveAuthorizedAccount> Result;
  EXPECT_TRUE(ReadGoogleAccountPool(Text, Result)) << Text;
  return Result;
}

template <typename T>
std::vector<std::string> Ids(const std::vector<T>& Items) {
  std::vector<std::string> Result;
  for (const auto& Item : Items) {
    if constexpr (std::is_same_v<T, TGoogleDriveAccountLink>)
      Result.push_back(Item.LinkID);
    else
      Result.push_back(Item.GoogleAccountID);
  }
  return Result;
}

// ---- Reading replies ---------------------------------------------------------------------------

TEST(TokenDirectoryReader, PoolEntriesAndTheirOrder) {
  const auto P = Pool(R"({"n":{"DisplayName":"b","GoogleDriveEmail":"x@g","ConnectedAt":20250101,"UpdatedAt":true,
                               "AccessToken":" ","RefreshToken":"\t"},
                          "skip":"text","arr":[1],
                          "m":{"GoogleDriveEmail":"A@g","RefreshToken":"r","DisplayName":"","DisplayName":"late"},
                          "k":{"DisplayName":"B","AccessToken":"a","Nested":{"DisplayName":"z"}}})");
  ASSERT_EQ(Ids(P), std::vector<std::string>({"m", "n", "k"}));
  EXPECT_EQ(P[0].DisplayName, "A@g") << "an empty display name gives way to the e-mail, the first member counts";
  EXPECT_TRUE(P[0].HasToken);
  EXPECT_EQ(P[1].ConnectedAtText, "20250101");
  EXPECT_EQ(P[1].UpdatedAtText, "true");
  EXPECT_FALSE(P[1].HasToken) << "blank tokens are no tokens";
  EXPECT_TRUE(P[2].HasToken);

  // Equal names are left in the order the exchange sort gives, which is not the document order.
  EXPECT_EQ(Ids(Pool(R"({"B1":{"DisplayName":"b"},"A1":{"DisplayName":"a"},"B2":{"DisplayName":"B"},
                          "A2":{"DisplayName":"A"}})")),
            std::vector<std::string>({"A1", "A2", "B2", "B1"}));
  // Only a-z fold, to upper case ("_" after "A"); a prefix first; UTF-16 order above U+FFFF.
  EXPECT_EQ(Ids(Pool(R"({"u":{"DisplayName":"_"},"a":{"DisplayName":"ab"},"p":{"DisplayName":"A"},
                          "w":{"DisplayName":"\uFF21"},"e":{"DisplayName":"\uD83D\uDE00"}})")),
            std::vector<std::string>({"p", "a", "u", "e", "w"}));
}

TEST(TokenDirectoryReader, LinksKeepDocumentOrderAndReadTheFlag) {
  std::vector<TGoogleDriveAccountLink> L;
  ASSERT_TRUE(ReadGoogleAccountLinks(R"({"1":{"IsDefault":"evet"},"2":{"IsDefault":" TRUE "},"3":{"IsDefault":1},
      "4":{"IsDefault":true},"5":{"IsDefault":"yes"},"6":{"IsDefault":false},"7":{"IsDefault":0},"8":{"IsDefault":1.0},
      "9":{"IsDefault":null},"10":{},"2":{"AccountLoginName":"acme","GoogleAccountID":7,"LinkedAt":"l","UpdatedAt":"u"}})",
                                     L));
  ASSERT_EQ(L.size(), 11u);
  for (size_t I = 0; I < 10; ++I) EXPECT_EQ(L[I].IsDefault, I < 4) << L[I].LinkID;
  EXPECT_EQ(L[10].LinkID, "2");
  EXPECT_EQ(L[10].GoogleAccountID, "7");
  EXPECT_EQ(L[10].LinkedAtText, "l");

  // Defaults first, then by display name; equal entries as the exchange sort leaves them.
  L = {{"x", "", "", "b", "", "", "", false},
       {"y", "", "", "Z", "", "", "", true},
       {"v", "", "", "B", "", "", "", false},
       {"w", "", "", "z", "", "", "", true}};
  SortGoogleAccountLinks(L);
  EXPECT_EQ(Ids(L), std::vector<std::string>({"y", "w", "v", "x"}));
  L.insert(L.begin(), {"e", "", "", "", "", "", "", false});
  L.push_back({"a", "", "", "a", "", "", "", true});
  SortGoogleAccountLinks(L);
  EXPECT_EQ(Ids(L), std::vector<std::string>({"a", "w", "y", "e", "x", "v"}));
}

TEST(TokenDirectoryReader, ExpiryAsDaysRegionalTextOrDecimalText) {
  const platform::TRegionalSettings Turkish{',', "%d.%m.%Y", "%H:%M:%S"};
  platform::SetRegionalSettingsForTests(&Turkish);
  auto Expiry = [](const std::string& Value) {
    TGoogleDriveAuthorizedAccount A;
    TTokenData T;
    EXPECT_TRUE(ReadGoogleAccountEntry(R"({"AccessToken":"a","ExpiresAt":)" + Value + "}", "id", A, T)) << Value;
    return T.ExpiresAt;
  };
  const TDateTime Moment = EncodeDateTime(2025, 3, 10, 9);
  EXPECT_EQ(Expiry("45726.375"), Moment);
  EXPECT_EQ(Expiry("4.5726375e4"), Moment);
  EXPECT_EQ(Expiry(R"(" 10.03.2025 09:00:00 ")"), Moment);
  EXPECT_EQ(Expiry(R"("45726.375")"), Moment);
  EXPECT_EQ(Expiry(R"("45726,375")"), Moment);
  EXPECT_EQ(Expiry(R"("10.03.2025")"), EncodeDateTime(2025, 3, 10));
  for (const char* Zero : {R"("2025-03-10T09:00:00.000Z")", R"("2025-03-10T09:00:00")", R"("")", R"(" ")", "null", "{}",
                           R"("1.234,5")", R"("nan")", R"("12 34")", R"("1e")"})
    EXPECT_EQ(Expiry(Zero), 0) << Zero;
  // With "." as separator a comma is no decimal text.
  const platform::TRegionalSettings English{'.', "%m/%d/%Y", "%H:%M:%S"};
  platform::SetRegionalSettingsForTests(&English);
  EXPECT_EQ(Expiry(R"("45726.375")"), Moment);
  EXPECT_EQ(Expiry(R"("03/10/2025 09:00:00")"), Moment);
  EXPECT_EQ(Expiry(R"("45726,375")"), 0);
  platform::SetRegionalSettingsForTests(nullptr);
}

TEST(TokenDirectoryReader, RepliesOfTheWrongShapeAreNotRead) {
  std::vector<TGoogleDriveAuthorizedAccount> P;
  std::vector<TGoogleDriveAccountLink> L;
  TGoogleDriveAuthorizedAccount A;
  TTokenData T;
  std::string Deep;
  for (int I = 0; I < 600; ++I) Deep += R"({"a":)";
  Deep += "1" + std::string(600, '}');
  for (const std::string& Bad : std::vector<std::string>{"[]", "\"x\"", "42", "<html>", "{\"a\":", "{} x",
                                                         R"({"error" : "Permission denied"})", Deep}) {
    EXPECT_FALSE(ReadGoogleAccountPool(Bad, P)) << Bad;
    EXPECT_FALSE(ReadGoogleAccountLinks(Bad, L)) << Bad;
    EXPECT_FALSE(ReadGoogleAccountEntry(Bad, "id", A, T)) << Bad;
  }
  // Only the database's own error reply is refused: an "error" holding an object is an entry.
  EXPECT_TRUE(Pool(R"({"error":{"code":401}})").at(0).DisplayName.empty());
  EXPECT_TRUE(Pool(R"({"error":"x","other":1})").empty());
  // Within the depth limit, nesting is read (and ignored) below an entry.
  std::string Nested = R"({"g":{"DisplayName":"d","x":)";
  for (int I = 0; I < 400; ++I) Nested += "[";
  Nested += std::string(400, ']') + "}}";
  EXPECT_EQ(Pool(Nested).at(0).DisplayName, "d");
}

TEST(TokenDirectoryReader, SanitizedKeys) {
  EXPECT_EQ(SanitizeDatabaseKey(" a.b c#$[]/\\\t\xC2\xA0x\xE2\x80\xA8y "), "a_b_c________x_y");
  EXPECT_EQ(SanitizeDatabaseKey(" \t\r\n"), "kayit");
  EXPECT_EQ(SanitizeDatabaseKey("hesap"), "hesap");
  EXPECT_EQ(SanitizeDatabaseKey("\xC3\xA7@%?"), "\xC3\xA7@%?");
}

// ---- Against the cloud -------------------------------------------------------------------------

class TokenDirectoryTest : public test::TokenDirectoryFixture {
 protected:
  void SetUp() override {
    TokenDirectoryFixture::SetUp();
    // The account's node is not named after its login, so links may name the node too.
    Sim.SetDatabase(Json::parse(R"({
      "Lisanslar":{"acme-node":{"LoginName":"acme","Email":"info@acme.test","Sifre":"pw","Musteri":"Acme"},
                   "other":{"LoginName":"other","Sifre":"x"}},
      "GoogleDriveAccounts":{
        "g1":{"DisplayName":"Zeta","GoogleDriveEmail":"z@g.test","AccessToken":"at-1","RefreshToken":"rt-1",
              "ExpiresAt":45726.375,"UpdatedAt":"u1"},
        "g2":{"DisplayName":"alpha","GoogleDriveEmail":"a@g.test","AccessToken":"at-2","RefreshToken":"rt-2",
              "ExpiresAt":"10.03.2025 10:00:00","UpdatedAt":"u2"},
        "g3":{"GoogleDriveEmail":"Aardvark@g.test","RefreshToken":"rt-3","ExpiresAt":"2025-03-10T09:00:00Z"}},
      "GoogleDriveAccountLinks":{
        "l1":{"AccountLoginName":"acme","GoogleAccountID":"g1","IsDefault":true,"UpdatedAt":"link"},
        "l2":{"AccountLoginName":" INFO@acme.test ","GoogleAccountID":"g2","IsDefault":" TRUE "},
        "l3":{"AccountLoginName":"ACME","GoogleAccountID":"g3"},
        "l4":{"AccountLoginName":"other","GoogleAccountID":"g1","IsDefault":"evet"},
        "l5":"not a link",
        "l6":{"AccountLoginName":"acme-node","GoogleAccountID":"gone","IsDefault":"yes"}}})"));
    SaveSavedSignIn({"Acme", "pw", "Acme"});
  }

  bool Sync(std::string& Message) {
    Message = "stale";
    return SyncActiveAccountGoogleToken(Message);
  }
};

TEST_F(TokenDirectoryTest, LinksOfTheAccountEnrichedAndTheDefaultCopied) {
  std::vector<TGoogleDriveAccountLink> Links;
  std::string Message;
  ASSERT_TRUE(ListAccountGoogleLinks(" acme ", Links, Message)) << Message;
  // By login, e-mail and node name; the two defaults by display name, then the link to a missing
  // entry (no display name) before "Aardvark@g.test".
  ASSERT_EQ(Ids(Links), std::vector<std::string>({"l2", "l1", "l6", "l3"}));
  EXPECT_EQ(Links[0].GoogleDisplayName, "alpha");
  EXPECT_EQ(Links[1].UpdatedAtText, "u1") << "the pool entry's time replaces the link's";
  EXPECT_EQ(Links[2].GoogleDisplayName, "");
  EXPECT_EQ(Links[3].GoogleDisplayName, "Aardvark@g.test");

  ASSERT_TRUE(Sync(Message)) << Message;
  EXPECT_EQ(Message, "");
  const TTokenData T = CachedTokens();
  EXPECT_EQ(T.AccessToken, "at-2");
  EXPECT_EQ(T.RefreshToken, "rt-2");
  EXPECT_EQ(T.ExpiresAt, EncodeDateTime(2025, 3, 10, 10));

  // Without defaults the smallest display name wins: the missing entry, which fails and leaves the
  // file as it was.
  const std::string Before = test::ReadBytes(CachePath());
  Sim.SetNode("GoogleDriveAccountLinks/l2/IsDefault", false);
  Sim.SetNode("GoogleDriveAccountLinks/l1/IsDefault", "0");
  Advance(120s);
  EXPECT_FALSE(Sync(Message));
  EXPECT_EQ(Message, "Google Drive hesabi bulunamadi.");
  EXPECT_EQ(test::ReadBytes(CachePath()), Before);
  TTokenData Tokens;
  TGoogleDriveAccountLink Link;
  EXPECT_FALSE(LoadDefaultGoogleToken("acme", Tokens, Link, Message));
  EXPECT_EQ(Link.LinkID, "l6");

  // Then "Aardvark@g.test" (an e-mail standing in for the name), whose ISO expiry reads as 0.
  Sim.SetNode("GoogleDriveAccountLinks/l6", nullptr);
  Advance(120s);
  ASSERT_TRUE(Sync(Message)) << Message;
  EXPECT_EQ(CachedTokens().RefreshToken, "rt-3");
  ASSERT_TRUE(LoadDefaultGoogleToken("acme", Tokens, Link, Message));
  EXPECT_EQ(Tokens.AccessToken, "");
  EXPECT_EQ(Tokens.ExpiresAt, 0);
  EXPECT_EQ(Link.GoogleDriveEmail, "Aardvark@g.test");
}

TEST_F(TokenDirectoryTest, NoUsableDefaultDeletesTheCacheFileWithAWarning) {
  const std::string Log = StartLog();
  test::WriteBytes(CachePath(), "old");
  Sim.SetNode("GoogleDriveAccounts/g2/AccessToken", " ");
  Sim.SetNode("GoogleDriveAccounts/g2/RefreshToken", nullptr);
  std::string Message;
  EXPECT_TRUE(Sync(Message)) << Message;
  EXPECT_FALSE(FileExists(CachePath()));

  Sim.SetNode("GoogleDriveAccountLinks", nullptr);
  Advance(120s);
  test::WriteBytes(CachePath(), "old");
  EXPECT_TRUE(Sync(Message)) << Message;
  EXPECT_FALSE(FileExists(CachePath()));
  EXPECT_TRUE(Sync(Message)) << "no file to delete is no error";
  EXPECT_THAT(ReadTextFile(Log), ::testing::HasSubstr("[WARN ] Aktif hesap icin varsayilan merkezi Google token "
                                                      "bulunamadi: acme\r\n"));
}

TEST_F(TokenDirectoryTest, PoolAndLinksAreKeptFor120SecondsButTheEntryIsReadEachTime) {
  std::string Message;
  ASSERT_TRUE(Sync(Message)) << Message;
  EXPECT_EQ(Gets("GoogleDriveAccounts"), 1);
  EXPECT_EQ(Gets("GoogleDriveAccountLinks"), 1);
  EXPECT_EQ(Gets("GoogleDriveAccounts/g2"), 1);

  Sim.SetNode("GoogleDriveAccounts/g2/AccessToken", "at-2b");
  Sim.SetNode("GoogleDriveAccounts/g2/DisplayName", "zzz");  // the cached pool still says "alpha"
  Advance(119s);
  ASSERT_TRUE(Sync(Message)) << Message;
  EXPECT_EQ(Gets("GoogleDriveAccounts"), 1);
  EXPECT_EQ(Gets("GoogleDriveAccountLinks"), 1);
  EXPECT_EQ(Gets("GoogleDriveAccounts/g2"), 2);
  EXPECT_EQ(CachedTokens().AccessToken, "at-2b");

  Advance(1s);
  ASSERT_TRUE(Sync(Message)) << Message;
  EXPECT_EQ(Gets("GoogleDriveAccounts"), 2);
  EXPECT_EQ(Gets("GoogleDriveAccountLinks"), 2);
  EXPECT_EQ(CachedTokens().AccessToken, "at-1") << "now Zeta sorts before zzz";

  // An empty pool is asked for every time; an empty link list is kept.
  Sim.SetNode("GoogleDriveAccounts", Json::object({{"note", "only text"}}));
  Sim.SetNode("GoogleDriveAccountLinks", nullptr);
  Advance(120s);
  std::vector<TGoogleDriveAuthorizedAccount> P;
  std::vector<TGoogleDriveAccountLink> L;
  for (int I = 0; I < 2; ++I) {
    ASSERT_TRUE(LoadGoogleAccountPool(P, Message)) << Message;
    ASSERT_TRUE(ListAccountGoogleLinks("acme", L, Message)) << Message;
  }
  EXPECT_TRUE(P.empty());
  EXPECT_TRUE(L.empty());
  EXPECT_EQ(Gets("GoogleDriveAccounts"), 6);
  EXPECT_EQ(Gets("GoogleDriveAccountLinks"), 3);
}

TEST_F(TokenDirectoryTest, FailuresGiveTheirMessagesAndLeaveTheFileAlone) {
  test::WriteBytes(CachePath(), "old");
  std::string Message;
  auto Fails = [&](const std::string& Expected) {
    ForgetCaches();
    EXPECT_FALSE(Sync(Message));
    if (Expected.back() == ' ')  // the transfer's own error follows
      EXPECT_THAT(Message, ::testing::StartsWith(Expected));
    else
      EXPECT_EQ(Message, Expected);
    EXPECT_EQ(test::ReadBytes(CachePath()), "old");
    Sim.ClearFaults();
  };
  const std::string Denied = R"({"error" : "Permission denied"})";
  struct TCase {
    std::string Path, Body, Unreadable, Failed;
  };
  for (const TCase& C :
       {TCase{"/GoogleDriveAccounts.json", "[1,2]", "Google Drive hesap havuzu okunamadi.",
              "Google Drive hesap havuzu okunurken hata: "},
        TCase{"/GoogleDriveAccountLinks", "<html><body>Error</body></html>",
              "Musteri Google baglanti listesi okunamadi.", "Musteri Google baglanti listesi okunurken hata: "},
        TCase{"/GoogleDriveAccounts/g2", "\"text\"", "Google Drive hesabi okunamadi.",
              "Google Drive hesabi okunurken hata: "}}) {
    for (const std::string& Body : {C.Body, Denied}) {
      TFault F;
      F.PathPrefix = C.Path;
      F.Status = Body == Denied ? 401 : 500;
      F.Body = Body;
      Sim.AddFault(F);
      // A refusal that outlives a new service sign-in quotes the database.
      Fails(Body == Denied ? "Veritabani servis oturumunu reddetti: Permission denied" : C.Unreadable);
    }
    TFault Hang;  // longer than the client waits
    Hang.Kind = TFaultKind::NoAnswer;
    Hang.PathPrefix = C.Path;
    Hang.Delay = 3000ms;
    Sim.AddFault(Hang);
    Fails(C.Failed);
  }

  // A default link without a Google account ID.
  Sim.SetNode("GoogleDriveAccountLinks/l2/GoogleAccountID", " ");
  Fails("Google Drive hesap kimligi bos.");

  // No service session: its own message.
  Sim.SetUsers({});
  ResetServiceTokenCacheForTests();
  std::filesystem::remove(TokenFile());
  Fails("Firebase baglantisi basarisiz: EMAIL_NOT_FOUND");

  // Nobody signed in.
  std::filesystem::remove(ConfigDir() + "/saved_signin.dat");
  Fails("Kayitli oturum bulunamadi.");
}

TEST_F(TokenDirectoryTest, DirectLookupsAndTheirArguments) {
  TGoogleDriveAuthorizedAccount A;
  TTokenData T;
  std::string Message = "stale";
  Sim.SetNode("GoogleDriveAccounts/a_b_c@d%e", Json::parse(R"({"DisplayName":"Odd","AccessToken":"t"})"));
  ASSERT_TRUE(ReadGoogleDriveAccount(" a.b/c@d%e", A, T, Message)) << Message;
  EXPECT_EQ(A.GoogleAccountID, " a.b/c@d%e");
  EXPECT_EQ(T.AccessToken, "t");
  EXPECT_FALSE(ReadGoogleDriveAccount(" ", A, T, Message));
  EXPECT_EQ(Message, "Google Drive hesap kimligi bos.");

  std::vector<TGoogleDriveAccountLink> L;
  EXPECT_FALSE(ListAccountGoogleLinks(" \t", L, Message));
  EXPECT_EQ(Message, "Musteri hesap baglanti listesi icin kullanici adi bos.");

  std::string Canonical;
  EXPECT_TRUE(ResolveAccountLoginName(" INFO@ACME.test ", Canonical));
  EXPECT_EQ(Canonical, "acme");
  EXPECT_TRUE(ResolveAccountLoginName(" nobody ", Canonical));
  EXPECT_EQ(Canonical, "nobody");
  EXPECT_FALSE(ResolveAccountLoginName("  ", Canonical));
  EXPECT_TRUE(LinkBelongsToAccount(" Acme-Node ", "acme"));
  EXPECT_TRUE(LinkBelongsToAccount("acme", "info@acme.test"));
  EXPECT_FALSE(LinkBelongsToAccount("other", "acme"));
  EXPECT_FALSE(LinkBelongsToAccount("x", "nobody"));
  TGoogleDriveAuthorizedAccount Found;
  std::vector<TGoogleDriveAuthorizedAccount> Entries(3);
  Entries[0].GoogleAccountID = "g1";
  Entries[1].GoogleAccountID = "g2";
  Entries[1].DisplayName = "first";
  Entries[2].GoogleAccountID = "G2";
  EXPECT_TRUE(FindPoolAccount("G2", Entries, Found));
  EXPECT_EQ(Found.DisplayName, "first");
  EXPECT_FALSE(FindPoolAccount(" g1", Entries, Found));
  EXPECT_EQ(Found.GoogleAccountID, "");

  // The account is looked up once per list, not per link.
  Sim.ResetCounts();
  ResetAccountCacheForTests();
  ASSERT_TRUE(ListAccountGoogleLinks("acme", L, Message)) << Message;
  EXPECT_EQ(Sim.RequestCount("GET", "/Lisanslar/acme.json"), 1);
  EXPECT_EQ(Sim.RequestCount("GET", "/Lisanslar.json"), 1);
}

}  // namespace
}  // namespace kelvo
