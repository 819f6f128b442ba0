// The account directory: reading account nodes out of database replies, and lookups against cloudsim
// (the login's own node first, then the whole tree, kept for 120 seconds).
#include <chrono>
#include <string>
#include <vector>

#include "CloudFixture.h"
#include "account/uFirebaseAccountStore.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using cloudsim::TFault;
using cloudsim::TFaultKind;
using Json = nlohmann::ordered_json;

std::vector<TFirebaseManagedAccount> Tree(const std::string& Text) {
  std::vector<TFirebaseManagedAccount> Accounts;
  EXPECT_TRUE(ReadAccountTree(Text, Accounts)) << Text;
  return Accounts;
}

std::vector<std::string> Paths(const std::vector<TFirebaseManagedAccount>& Accounts) {
  std::vector<std::string> Result;
  for (const auto& A : Accounts) Result.push_back(A.NodePath);
  return Result;
}

std::string Nested(size_t Depth, const std::string& Open = "[", const std::string& Close = "]") {
  std::string Text;
  for (size_t I = 0; I < Depth; ++I) Text += Open;
  for (size_t I = 0; I < Depth; ++I) Text += Close;
  return Text;
}

// ---- Reading replies ---------------------------------------------------------------------------

TEST(AccountReader, MemberNamesByPrecedenceAndTheDefaults) {
  const auto A = Tree(R"({"n1":{"KullaniciAdi":"kadi","LoginName":"login","Eposta":"e@x","Email":"m@x",
                                 "Parola":"p3","Password":"p2","Sifre":"p1",
                                 "Name":"n","Unvan":"u","Musteri":"m",
                                 "OAuthClientID":" id ","OAuthClientSecret":"sec",
                                 "TotpSecret":"t3","GoogleAuthSecret":"t2","TwoFactorSecret":"t1"}})");
  ASSERT_EQ(A.size(), 1u);
  EXPECT_EQ(A[0].NodePath, "n1");
  EXPECT_EQ(A[0].NodeName, "n1");
  EXPECT_EQ(A[0].LoginName, "login");
  EXPECT_EQ(A[0].Email, "m@x");
  EXPECT_EQ(A[0].Password, "p1");
  EXPECT_EQ(A[0].DisplayName, "m");
  EXPECT_EQ(A[0].OAuthClientID, "id");
  EXPECT_EQ(A[0].OAuthClientSecret, "sec");
  EXPECT_EQ(A[0].TotpSecret, "t1");

  // A name that is present decides even when empty; the defaults follow the final login name.
  const auto B = Tree(R"({"node":{"LoginName":"","KullaniciAdi":"ignored","Eposta":"e@x","Sifre":"s","Musteri":" "}})");
  ASSERT_EQ(B.size(), 1u);
  EXPECT_EQ(B[0].LoginName, "node");
  EXPECT_EQ(B[0].Email, "e@x");
  EXPECT_EQ(B[0].DisplayName, "node");

  // The e-mail address stands in for the login name, and the login name for the address.
  const auto C = Tree(R"({"a":{"Email":"only@mail","Sifre":"s"},"b":{"KullaniciAdi":"kadi","Password":"p"}})");
  ASSERT_EQ(C.size(), 2u);
  EXPECT_EQ(C[0].LoginName, "kadi");
  EXPECT_EQ(C[0].Email, "kadi");
  EXPECT_EQ(C[0].DisplayName, "kadi");
  EXPECT_EQ(C[1].LoginName, "only@mail");
  EXPECT_EQ(C[1].Password, "s");
}

TEST(AccountReader, AccountTestNeedsALoginOrAPassword) {
  // "Email" empty with only "Parola" filled is an account; a display name alone is not; nor are
  // blanks, containers or a name the test does not look at.
  const auto A = Tree(R"({"p":{"Email":"","Parola":"x"},
                          "d":{"Musteri":"Only a name","OAuthClientID":"id"},
                          "b":{"Email":"  ","Sifre":" \t"},
                          "c":{"Email":{},"Sifre":[]},
                          "q":{"Email":"\"\""}})");
  ASSERT_EQ(Paths(A), std::vector<std::string>({"p"}));
  EXPECT_EQ(A[0].LoginName, "p");
  EXPECT_EQ(A[0].Email, "p");
  EXPECT_EQ(A[0].Password, "x");
}

TEST(AccountReader, QuotesInMemberNamesAndValues) {
  // Names match with their double quotes removed and trimmed, ignoring ASCII case; a value written
  // with its own quotes loses them; a lone quote reads as empty.
  const auto A =
      Tree(R"({"q":{"\"Email\"":"\"quoted@x\"","  sIFRE ":" pw ","Mus\"teri":"\"","LOGINNAME\t":"\" spaced \""}})");
  ASSERT_EQ(A.size(), 1u);
  EXPECT_EQ(A[0].Email, "quoted@x");
  EXPECT_EQ(A[0].Password, "pw");
  EXPECT_EQ(A[0].LoginName, "spaced");
  EXPECT_EQ(A[0].DisplayName, "spaced");
  // Only ASCII letters fold: a dotless i does not make "Sifre".
  EXPECT_TRUE(Tree(R"({"x":{"S\u0131fre":"p"}})").empty());
  // The first member of a name, in document order, wins, also when the name is written twice.
  const auto B = Tree(R"({"d":{"Sifre":"first","\"Sifre\"":"second","Sifre":"third"}})");
  ASSERT_EQ(B.size(), 1u);
  EXPECT_EQ(B[0].Password, "first");
}

TEST(AccountReader, NumbersBooleansAndNullWhereTextIsExpected) {
  const auto A = Tree(R"({"n":{"LoginName":42,"Sifre":1.50,"Musteri":-7,"OAuthClientID":123456789012345678901234567890,
                                "OAuthClientSecret":null,"TotpSecret":false,"TwoFactorEnabled":1}})");
  ASSERT_EQ(A.size(), 1u);
  EXPECT_EQ(A[0].LoginName, "42");
  EXPECT_EQ(A[0].Password, "1.50");  // the literal as written, not a re-formatted double
  EXPECT_EQ(A[0].DisplayName, "-7");
  EXPECT_EQ(A[0].OAuthClientID, "123456789012345678901234567890");
  EXPECT_EQ(A[0].OAuthClientSecret, "null");
  EXPECT_EQ(A[0].TotpSecret, "false");
  EXPECT_TRUE(A[0].TotpEnabledFlag);
  // A password that is only the number zero is still a password.
  EXPECT_EQ(Tree(R"({"z":{"Sifre":0}})").size(), 1u);
}

TEST(AccountReader, TwoFactorFlagFromTheMemberOrElseFromTheSecret) {
  struct Case {
    const char* Members;
    bool Flag;
    bool Enabled;
  };
  const Case Cases[] = {
      {R"("TwoFactorEnabled":false,"TwoFactorSecret":"JBSWY3DP")", false, false},
      {R"("TwoFactorSecret":"JBSWY3DP")", true, true},
      {R"("TwoFactorEnabled":true)", true, false},
      {R"("TwoFactorEnabled":"TRUE","TotpSecret":"JB")", true, true},
      {R"("TwoFactorEnabled":"1","GoogleAuthSecret":"JB")", true, true},
      {R"("TwoFactorEnabled":"yes","TotpSecret":"JB")", false, false},
      {R"("TwoFactorEnabled":"","TotpSecret":"JB")", true, true},
      {R"("TwoFactorEnabled":" ","TotpSecret":"")", false, false},
      {R"("TwoFactorEnabled":2,"TotpSecret":"JB")", false, false},
      {R"("TwoFactorEnabled":{},"TotpSecret":"JB")", true, true},
  };
  for (const Case& C : Cases) {
    const auto A = Tree(std::string(R"({"t":{"Sifre":"x",)") + C.Members + "}}");
    ASSERT_EQ(A.size(), 1u) << C.Members;
    EXPECT_EQ(A[0].TotpEnabledFlag, C.Flag) << C.Members;
    EXPECT_EQ(IsTotpEnabled(A[0]), C.Enabled) << C.Members;
  }
  TFirebaseManagedAccount Blank;
  Blank.TotpEnabledFlag = true;
  Blank.TotpSecret = " \t";
  EXPECT_FALSE(IsTotpEnabled(Blank));
}

TEST(AccountReader, CollectsAtAnyDepthInsideAccountsAndArrays) {
  const auto A = Tree(R"({"Sifre":"root",
                          "grup":{"ankara":{"LoginName":"b","Sifre":"x",
                                            "alt":{"LoginName":"c","Sifre":"y"}}},
                          "liste":[{"LoginName":"d","Sifre":"z"},5,[{"LoginName":"e","Sifre":"w"}]],
                          "a/b":{"LoginName":"f","Sifre":"v"}})");
  ASSERT_EQ(A.size(), 6u);
  // The top object itself is an account with an empty path and name.
  EXPECT_EQ(A[0].NodePath, "");
  EXPECT_EQ(A[0].NodeName, "");
  EXPECT_EQ(A[0].LoginName, "");
  EXPECT_EQ(A[1].NodePath, "grup/ankara");
  EXPECT_EQ(A[1].NodeName, "ankara");
  EXPECT_EQ(A[2].NodePath, "grup/ankara/alt");
  EXPECT_EQ(A[3].NodePath, "liste/0");
  EXPECT_EQ(A[3].NodeName, "0");
  EXPECT_EQ(A[4].NodePath, "liste/2/0");
  EXPECT_EQ(A[5].NodePath, "a/b");  // member names are taken as they are
  EXPECT_EQ(A[5].NodeName, "a/b");

  // Wrong kinds at the top: JSON, but nothing to collect (or an array of accounts).
  for (const char* Text : {"\"text\"", "12", "true", "null", "[]", "{}", R"({"error" : "Permission denied"})"})
    EXPECT_TRUE(Tree(Text).empty()) << Text;
  EXPECT_EQ(Paths(Tree(R"([null,{"Sifre":"x"}])")), std::vector<std::string>({"1"}));
}

TEST(AccountReader, SortsByLoginThenPathFoldingOnlyAsciiLetters) {
  const auto A = Tree(R"({"k2":{"LoginName":"b","Sifre":"x"},
                          "K1":{"LoginName":"B","Sifre":"x"},
                          "x":{"LoginName":"a_x","Sifre":"x"},
                          "y":{"LoginName":"aBx","Sifre":"x"},
                          "z":{"LoginName":"a","Sifre":"x"},
                          "w":{"LoginName":"\u0131","Sifre":"x"},
                          "v":{"LoginName":"I","Sifre":"x"},
                          "u":{"LoginName":"i","Sifre":"x"}})");
  // Letters compare as upper case ("B" < "_"), a prefix first, the dotless i after every ASCII
  // letter; equal logins by path, ASCII case ignored.
  EXPECT_EQ(Paths(A), std::vector<std::string>({"z", "y", "x", "K1", "k2", "u", "v", "w"}));

  // Same login and path apart from case: document order.
  const auto B = Tree(R"({"g":{"Acme":{"LoginName":"s","Sifre":"1"},"acme":{"LoginName":"S","Sifre":"2"}}})");
  ASSERT_EQ(B.size(), 2u);
  EXPECT_EQ(B[0].Password, "1");
  EXPECT_EQ(B[1].Password, "2");
}

TEST(AccountReader, TextThatIsNotJsonOrNestsTooDeeplyIsRefused) {
  std::vector<TFirebaseManagedAccount> Accounts{TFirebaseManagedAccount{}};
  for (const std::string Bad : {"", "<html>502 Bad Gateway</html>", "{", R"({"a":{"Sifre":"x"})", R"({"a":1}{"b":2})",
                                "{'a':1}", R"({"a":NaN})", "{\"a\":\"\xC3\x28\"}", "{\"a\":\"\x01\"}", R"({"a":1,})",
                                "/* c */ {}", R"({"a":{"Sifre":1e400}})"}) {
    EXPECT_FALSE(ReadAccountTree(Bad, Accounts)) << Bad;
    EXPECT_TRUE(Accounts.empty());
  }
  // The nesting limit holds for arrays and objects alike, and a very deep reply costs no stack.
  EXPECT_TRUE(ReadAccountTree(Nested(MaxAccountTreeDepth), Accounts));
  EXPECT_FALSE(ReadAccountTree(Nested(MaxAccountTreeDepth + 1), Accounts));
  EXPECT_FALSE(ReadAccountTree(Nested(100000), Accounts));
  EXPECT_FALSE(ReadAccountTree(Nested(100000, "{\"Sifre\":\"x\",\"k\":", "}"), Accounts));
  EXPECT_FALSE(ReadAccountTree(std::string(100000, '['), Accounts));
  // A byte-order mark in front is no reason to refuse a reply.
  EXPECT_EQ(Tree("\xEF\xBB\xBF{\"a\":{\"Sifre\":\"x\"}}").size(), 1u);
}

TEST(AccountReader, SingleNodeIsAnyObjectButTheErrorReply) {
  TFirebaseManagedAccount A;
  ASSERT_TRUE(ReadAccountNode(R"({"Musteri":"No login, no password","sub":{"Sifre":"inner"}})", "Lisanslar/n", "n", A));
  EXPECT_EQ(A.NodePath, "Lisanslar/n");
  EXPECT_EQ(A.NodeName, "n");
  EXPECT_EQ(A.LoginName, "n");
  EXPECT_EQ(A.Password, "");  // members of nested objects are not the node's
  EXPECT_EQ(A.DisplayName, "No login, no password");
  ASSERT_TRUE(ReadAccountNode(R"({"error":"x","Sifre":"p"})", "P", "N", A));
  EXPECT_EQ(A.Password, "p");

  const std::vector<std::string> Bad = {"",
                                        "[{\"Sifre\":\"x\"}]",
                                        "\"Sifre\"",
                                        "{\"Sifre\":",
                                        "{\n  \"error\" : \"Permission denied\"\n}\n",
                                        Nested(100000, "{\"k\":", "}")};
  for (const std::string& Text : Bad) {
    A.LoginName = "stale";
    EXPECT_FALSE(ReadAccountNode(Text, "P", "N", A)) << Text.substr(0, 40);
    EXPECT_EQ(A.LoginName, "");
  }
}

TEST(AccountReader, ListMatchByLoginThenEmailThenNodeNameAsGiven) {
  const auto A = Tree(R"({"n1":{"LoginName":"one","Email":"shared@x","Sifre":"1"},
                          "n2":{"LoginName":"two","Email":"two@x","Sifre":"2"},
                          "shared@x":{"LoginName":"zz","Sifre":"3"}})");
  TFirebaseManagedAccount Found;
  ASSERT_TRUE(FindAccountInList(A, "SHARED@X", Found));
  EXPECT_EQ(Found.NodeName, "n1");  // "one" sorts before "zz", whose node name also matches
  ASSERT_TRUE(FindAccountInList(A, "N2", Found));
  EXPECT_EQ(Found.LoginName, "two");
  EXPECT_FALSE(FindAccountInList(A, " two", Found)) << "the login is compared as given";
  EXPECT_EQ(Found.LoginName, "");
}

TEST(AccountNodeName, SanitisedForUseAsADatabaseKey) {
  EXPECT_EQ(SanitizeAccountNodeName(""), "hesap");
  EXPECT_EQ(SanitizeAccountNodeName(" \t\r\n "), "hesap");
  EXPECT_EQ(SanitizeAccountNodeName("a.b c"), "a_b_c");
  EXPECT_EQ(SanitizeAccountNodeName("  info@acme.com.tr "), "info@acme_com_tr");
  EXPECT_EQ(SanitizeAccountNodeName("#$./[\\]"), "_______");
  EXPECT_EQ(SanitizeAccountNodeName("a\tb\nc\vd\fe\rf"), "a_b_c_d_e_f");
  // Unicode white space: next line, no-break space, ogham, en quad .. hair space, line and
  // paragraph separators, narrow no-break, medium mathematical and ideographic space.
  for (const char* Space : {"\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x8A", "\xE2\x80\xA8",
                            "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"})
    EXPECT_EQ(SanitizeAccountNodeName(std::string("a") + Space + "b"), "a_b") << Space;
  // Only a no-break space at the ends is not trimmed away: it becomes "_".
  EXPECT_EQ(SanitizeAccountNodeName("\xC2\xA0x\xC2\xA0"), "_x_");
  // Other characters stay, Turkish letters, "%", "?", "@" and stray bytes included; the zero-width
  // space is no white space.
  EXPECT_EQ(SanitizeAccountNodeName("\xC5\x9Eirket%?@\xE2\x80\x8B"), "\xC5\x9Eirket%?@\xE2\x80\x8B");
  EXPECT_EQ(SanitizeAccountNodeName("a\xC2\x01\xE2\x80"), "a\xC2\x01\xE2\x80");
  EXPECT_EQ(SanitizeAccountNodeName("a\xE0\x82\x85"), "a\xE0\x82\x85") << "an overlong form is no character";
}

// ---- Lookups against the database ---------------------------------------------------------------

constexpr char Directory[] = R"({"Lisanslar":{
  "acme":{"LoginName":"acme","Email":"info@acme.test","Sifre":"acme-1","Musteri":"Acme Ltd"},
  "bayiler":{"ankara":{"KullaniciAdi":"ankara-bayi","Eposta":"ankara@bayi.test","Password":"p","Unvan":"Ankara Bayi"}},
  "zeta":{"LoginName":"zeta","Email":"ortak@firma.test","Sifre":"z"},
  "Alpha":{"LoginName":"Alpha","Email":"ORTAK@firma.test","Sifre":"a"},
  "bos":{"LoginName":"","KullaniciAdi":"ignored","Email":"bos@x.test","Sifre":"b"},
  "eski":{"p1":{"Email":"","Parola":"only-parola"}},
  "tirnak":{"\"LoginName\"":"\"tirnak\"","Sifre":12345,"TwoFactorEnabled":"1"},
  "tf-off":{"Sifre":"x","TwoFactorEnabled":false,"TwoFactorSecret":"JBSWY3DPEHPK3PXP"},
  "tf-missing":{"Sifre":"x","GoogleAuthSecret":" JBSWY3DPEHPK3PXP "},
  "tf-nosecret":{"Sifre":"x","TwoFactorEnabled":true},
  "Ali_Veli@x%?\u015E":{"Sifre":"special"}
}})";

class AccountStoreTest : public test::CloudFixture {
 protected:
  void SetUp() override {
    CloudFixture::SetUp();
    Sim.SetDatabase(Json::parse(Directory));
  }

  // Looks Login up; the message must be empty exactly when it was found.
  bool Find(const std::string& Login, TFirebaseManagedAccount& Account, std::string& Message) {
    Account.LoginName = "stale";
    Message = "stale";
    const bool Found = FindAccountByLogin(Login, Account, Message);
    EXPECT_EQ(Found, Message.empty()) << Message;
    if (!Found) {
      EXPECT_EQ(Account.LoginName, "");
    }
    return Found;
  }
  TFirebaseManagedAccount MustFind(const std::string& Login) {
    TFirebaseManagedAccount A;
    std::string Message;
    EXPECT_TRUE(Find(Login, A, Message)) << Login << ": " << Message;
    return A;
  }
  std::string Failure(const std::string& Login) {
    TFirebaseManagedAccount A;
    std::string Message;
    EXPECT_FALSE(Find(Login, A, Message)) << Login;
    return Message;
  }

  int64_t TreeReads() const { return Sim.RequestCount("GET", "/Lisanslar.json"); }
  int64_t NodeReads(const std::string& Name) const { return Sim.RequestCount("GET", "/Lisanslar/" + Name + ".json"); }
  void FailTree(TFault Fault) {
    Fault.PathPrefix = "/Lisanslar.json";
    Sim.AddFault(Fault);
  }
};

TEST_F(AccountStoreTest, DirectHitReadsOnlyTheLoginsNode) {
  const auto A = MustFind("acme");
  EXPECT_EQ(A.NodePath, "Lisanslar/acme");
  EXPECT_EQ(A.NodeName, "acme");
  EXPECT_EQ(A.LoginName, "acme");
  EXPECT_EQ(A.Email, "info@acme.test");
  EXPECT_EQ(A.Password, "acme-1");
  EXPECT_EQ(A.DisplayName, "Acme Ltd");
  EXPECT_EQ(NodeReads("acme"), 1);
  EXPECT_EQ(TreeReads(), 0);

  // The login is trimmed for the node; node names are case-sensitive in the database, so another
  // letter case goes through the tree.
  EXPECT_EQ(MustFind(" acme\t").NodePath, "Lisanslar/acme");
  EXPECT_EQ(NodeReads("acme"), 2);
  EXPECT_EQ(TreeReads(), 0);
  const auto B = MustFind("ACME");
  EXPECT_EQ(B.NodePath, "acme");
  EXPECT_EQ(B.NodeName, "acme");
  EXPECT_EQ(TreeReads(), 1);

  // Quoted member names, a number for the password, and reserved URL characters in the node name,
  // which travel percent-encoded.
  const auto C = MustFind("tirnak");
  EXPECT_EQ(C.LoginName, "tirnak");
  EXPECT_EQ(C.Password, "12345");
  EXPECT_TRUE(C.TotpEnabledFlag);
  EXPECT_FALSE(IsTotpEnabled(C));
  const auto D = MustFind("Ali Veli@x%?\xC5\x9E");
  EXPECT_EQ(D.NodePath, "Lisanslar/Ali_Veli@x%?\xC5\x9E");
  EXPECT_EQ(D.Password, "special");
  EXPECT_EQ(NodeReads("Ali_Veli@x%?\xC5\x9E"), 1);
  const auto Request = Sim.LastRequest("/Lisanslar/Ali_Veli@x%?\xC5\x9E.json");
  ASSERT_TRUE(Request);
  // The database is named in every request to the emulator, before the caller's parameters.
  EXPECT_EQ(Request->Target.rfind("/Lisanslar/Ali_Veli%40x%25%3F%C5%9E.json?ns=kelvo-restore-0000000-rtdb&auth=", 0), 0u)
      << Request->Target;
  EXPECT_EQ(TreeReads(), 1);
}

TEST_F(AccountStoreTest, EmailAndNestedAccountsAreFoundThroughTheTree) {
  const auto A = MustFind("INFO@acme.TEST");
  EXPECT_EQ(A.NodePath, "acme");  // relative to the directory when found in the tree
  EXPECT_EQ(A.NodeName, "acme");
  EXPECT_EQ(A.Password, "acme-1");
  EXPECT_EQ(NodeReads("INFO@acme_TEST"), 1);
  EXPECT_EQ(TreeReads(), 1);

  const auto B = MustFind("ankara-bayi");
  EXPECT_EQ(B.NodePath, "bayiler/ankara");
  EXPECT_EQ(B.Email, "ankara@bayi.test");
  EXPECT_EQ(B.DisplayName, "Ankara Bayi");

  // Two accounts with one address: the login name that sorts first ("Alpha" before "zeta").
  const auto C = MustFind("ortak@firma.test");
  EXPECT_EQ(C.LoginName, "Alpha");
  EXPECT_EQ(C.Password, "a");

  // An empty "LoginName" gives the node name; "Email" empty with only "Parola" is still an account,
  // found by its node name.
  const auto D = MustFind("bos@x.test");
  EXPECT_EQ(D.LoginName, "bos");
  EXPECT_EQ(D.Email, "bos@x.test");
  const auto E = MustFind("P1");
  EXPECT_EQ(E.NodePath, "eski/p1");
  EXPECT_EQ(E.LoginName, "p1");
  EXPECT_EQ(E.Password, "only-parola");
  EXPECT_EQ(TreeReads(), 1) << "the tree was read once for all of these";
}

TEST_F(AccountStoreTest, TwoFactorSettingsAsTheDirectoryHoldsThem) {
  const auto Off = MustFind("tf-off");
  EXPECT_FALSE(Off.TotpEnabledFlag);
  EXPECT_FALSE(IsTotpEnabled(Off));
  const auto Missing = MustFind("tf-missing");
  EXPECT_EQ(Missing.TotpSecret, "JBSWY3DPEHPK3PXP");
  EXPECT_TRUE(IsTotpEnabled(Missing));
  const auto NoSecret = MustFind("tf-nosecret");
  EXPECT_TRUE(NoSecret.TotpEnabledFlag);
  EXPECT_FALSE(IsTotpEnabled(NoSecret));
}

TEST_F(AccountStoreTest, TreeIsKeptFor120SecondsOfTheProgramClock) {
  MustFind("info@acme.test");
  ASSERT_EQ(TreeReads(), 1);
  Advance(119s);
  MustFind("ankara@bayi.test");
  EXPECT_EQ(NodeReads("ankara@bayi_test"), 1) << "the node is still asked for first";
  EXPECT_EQ(TreeReads(), 1);
  Advance(-238s);  // a clock set back by up to 119 s still serves the list
  MustFind("ankara@bayi.test");
  EXPECT_EQ(TreeReads(), 1);
  Advance(-1s);
  MustFind("ankara@bayi.test");
  EXPECT_EQ(TreeReads(), 2);
  Advance(120s);
  MustFind("ankara@bayi.test");
  EXPECT_EQ(TreeReads(), 3);

  // A direct hit neither uses nor fills the list.
  ResetAccountCacheForTests();
  MustFind("acme");
  MustFind("info@acme.test");
  EXPECT_EQ(TreeReads(), 4);
}

TEST_F(AccountStoreTest, ChangedPasswordIsSeenAtOnceDirectlyAndAfter120SecondsThroughTheTree) {
  EXPECT_EQ(MustFind("acme").Password, "acme-1");
  EXPECT_EQ(MustFind("info@acme.test").Password, "acme-1");
  Sim.SetNode("Lisanslar/acme/Sifre", "acme-2");
  EXPECT_EQ(MustFind("acme").Password, "acme-2");
  EXPECT_EQ(MustFind("info@acme.test").Password, "acme-1");
  Advance(119s);
  EXPECT_EQ(MustFind("info@acme.test").Password, "acme-1");
  Advance(1s);
  EXPECT_EQ(MustFind("info@acme.test").Password, "acme-2");
  // A removed account is gone for direct reads at once, and from the tree after the same delay.
  Sim.SetNode("Lisanslar/acme", nullptr);
  EXPECT_EQ(MustFind("info@acme.test").Password, "acme-2");
  Advance(120s);
  EXPECT_EQ(Failure("info@acme.test"), "Hesap bulunamadi: info@acme.test");
}

TEST_F(AccountStoreTest, MessagesOfEveryFailure) {
  EXPECT_EQ(Failure(""), "Kullanici adi bos.");
  EXPECT_EQ(Failure(" \t\r\n"), "Kullanici adi bos.");
  EXPECT_EQ(Sim.TotalRequests(), 0);
  EXPECT_EQ(Failure("  nobody "), "Hesap bulunamadi:   nobody ");
  EXPECT_EQ(Failure("info@acme.test "), "Hesap bulunamadi: info@acme.test ") << "the tree compares the login as given";

  // A tree with no account is read again at the next lookup; a missing directory is no error.
  Sim.SetDatabase(Json::parse(R"({"Lisanslar":{"x":1}})"));
  ResetAccountCacheForTests();
  const int64_t Before = TreeReads();
  EXPECT_EQ(Failure("nobody"), "Hesap bulunamadi: nobody");
  EXPECT_EQ(Failure("nobody"), "Hesap bulunamadi: nobody");
  EXPECT_EQ(TreeReads(), Before + 2);
  Sim.SetDatabase(Json::parse(R"({"Other":{}})"));
  EXPECT_EQ(Failure("nobody"), "Hesap bulunamadi: nobody");
}

TEST_F(AccountStoreTest, ServiceSessionFailureIsReported) {
  Sim.SetUsers({});
  EXPECT_EQ(Failure("acme"), "Firebase baglantisi basarisiz: EMAIL_NOT_FOUND");
  EXPECT_EQ(SignIns(), 2) << "the node read and the tree read each asked for a client";
  EXPECT_EQ(TreeReads(), 0);
}

TEST_F(AccountStoreTest, RepliesThatAreNotJsonOrTooDeep) {
  for (const std::string& Body :
       {std::string("<html><body>Bad Gateway</body></html>"), std::string("{\"Lisanslar\":"),
        std::string(100000, '[') + std::string(100000, ']'), Nested(100000, "{\"Sifre\":\"x\",\"k\":", "}")}) {
    Sim.ClearFaults();
    TFault Fault;
    Fault.Kind = TFaultKind::CannedReply;
    Fault.Status = 200;
    Fault.Method = "GET";  // the node and the tree alike
    Fault.Body = Body;
    Sim.AddFault(Fault);
    EXPECT_EQ(Failure("acme"), "Firebase hesap verisi okunamadi.") << Body.substr(0, 40);
  }
  Sim.ClearFaults();
  // A huge string or a wide object of scalars is read without trouble.
  std::string Numbers;
  for (int I = 0; I < 100000; ++I) Numbers += "12,";
  TFault Wide;
  Wide.Kind = TFaultKind::CannedReply;
  Wide.Status = 200;
  Wide.Body = "{\"big\":{\"Sifre\":\"" + std::string(8 << 20, 'x') + "\"},\"n\":[" + Numbers + "1]}";
  FailTree(Wide);
  TFirebaseManagedAccount A;
  std::string Message;
  ASSERT_TRUE(Find("big", A, Message)) << Message;
  EXPECT_EQ(A.Password.size(), size_t(8) << 20);
}

TEST_F(AccountStoreTest, ARefusedServiceTokenIsRenewedOnceAndNeverReadsAsNoAccount) {
  // A token the database no longer accepts ({"error" : "Permission denied"}): dropped from memory
  // and file, the service account signs in again, the read is repeated once.
  ASSERT_EQ(MustFind("acme").Password, "acme-1");
  const std::string OldFile = test::ReadBytes(TokenFile());
  const int64_t SignIns = Sim.RequestCountWithPrefix("/identitytoolkit.googleapis.com");
  Sim.RevokeTokens();
  EXPECT_EQ(MustFind("acme").Password, "acme-1");
  EXPECT_EQ(Sim.RequestCountWithPrefix("/identitytoolkit.googleapis.com"), SignIns + 1);
  EXPECT_EQ(NodeReads("acme"), 3) << "the first, the refused one, the repeat";
  EXPECT_NE(test::ReadBytes(TokenFile()), OldFile) << "the new token is kept";

  // Refused again after the new sign-in: an error that quotes the database.
  TFault Denied;
  Denied.PathPrefix = "/Lisanslar";
  Denied.Status = 401;
  Denied.Body = R"({"error" : "Permission denied"})";
  Sim.AddFault(Denied);
  const std::string Message = Failure("acme");
  EXPECT_NE(Message.find("Permission denied"), std::string::npos) << Message;
  EXPECT_EQ(Message.find("Hesap bulunamadi"), std::string::npos) << Message;
  Sim.ClearFaults();

  // A server error on the node, the tree still answers.
  ResetServiceTokenCacheForTests();
  std::filesystem::remove(TokenFile());
  TFault Node;
  Node.Kind = TFaultKind::CannedReply;
  Node.PathPrefix = "/Lisanslar/acme";
  Node.Status = 500;
  Node.Body = R"({"error":"Internal error"})";
  Sim.AddFault(Node);
  const auto A = MustFind("acme");
  EXPECT_EQ(A.NodePath, "acme");
  EXPECT_EQ(A.Password, "acme-1");
}

TEST_F(AccountStoreTest, TransportFailuresOfTheNodeAndOfTheTree) {
  // The node read cut off: its message is dropped and the tree decides.
  TFault Cut;
  Cut.Kind = TFaultKind::CutMidBody;
  Cut.PathPrefix = "/Lisanslar/acme";
  Sim.AddFault(Cut);
  EXPECT_EQ(MustFind("acme").NodePath, "acme");

  // The tree read cut off, or never answered: the list's message with the transport's text.
  ResetAccountCacheForTests();
  Sim.ClearFaults();
  Cut.PathPrefix = "/Lisanslar.json";
  Sim.AddFault(Cut);
  std::string Message = Failure("nobody");
  EXPECT_EQ(Message.rfind("Hesap listesi okunurken hata: ", 0), 0u) << Message;
  Sim.ClearFaults();
  TFault Silent;
  Silent.Kind = TFaultKind::NoAnswer;
  Silent.Delay = 5000ms;
  FailTree(Silent);
  Message = Failure("nobody");
  EXPECT_EQ(Message.rfind("Hesap listesi okunurken hata: ", 0), 0u) << Message;
}

TEST_F(AccountStoreTest, LargeDirectory) {
  Json Accounts = Json::object();
  for (int I = 0; I < 20000; ++I) {
    const std::string Id = std::to_string(I);
    Accounts["grup" + std::to_string(I % 10)]["m" + Id] = {
        {"LoginName", "musteri" + Id}, {"Email", "m" + Id + "@kelvo.test"}, {"Sifre", "s" + Id}};
  }
  Sim.SetDatabase(Json{{"Lisanslar", std::move(Accounts)}});
  const auto A = MustFind("M19999@kelvo.test");
  EXPECT_EQ(A.NodePath, "grup9/m19999");
  EXPECT_EQ(A.Password, "s19999");
  EXPECT_EQ(MustFind("musteri0").NodePath, "grup0/m0");
  EXPECT_EQ(TreeReads(), 1);
}

}  // namespace
}  // namespace kelvo
