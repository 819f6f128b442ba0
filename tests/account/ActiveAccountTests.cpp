// The active account: the remembered login resolved in the account directory, against cloudsim.
#include <stdexcept>
#include <string>

#include "CloudFixture.h"
#include "account/uFirebaseActiveAccount.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::ordered_json;

class ActiveAccountTest : public test::CloudFixture {
 protected:
  void SetUp() override {
    CloudFixture::SetUp();
    Sim.SetDatabase(Json::parse(R"({"Lisanslar":{
      "acme":{"LoginName":"acme","Email":"info@acme.test","Sifre":"current","Musteri":"Acme Ltd",
              "OAuthClientID":"acme-client"}}})"));
  }
  bool Active(TFirebaseManagedAccount& Account, std::string& Message) {
    Account.LoginName = "stale";
    Message = "stale";
    return GetActiveAccount(Account, Message);
  }
};

TEST_F(ActiveAccountTest, NothingRememberedMeansNoAccountAndNoRequest) {
  TFirebaseManagedAccount A;
  std::string Message;
  EXPECT_FALSE(Active(A, Message));
  EXPECT_EQ(Message, "Kayitli oturum bulunamadi.");
  EXPECT_EQ(A.LoginName, "");
  // A record without a password is not a sign-in either.
  SaveSavedSignIn({"acme", "", "Acme Ltd"});
  EXPECT_FALSE(Active(A, Message));
  EXPECT_EQ(Message, "Kayitli oturum bulunamadi.");
  EXPECT_EQ(Sim.TotalRequests(), 0);
}

TEST_F(ActiveAccountTest, RememberedLoginIsLookedUpAsTheDirectoryHasItNow) {
  // The saved password is not checked, and the display name comes from the directory.
  SaveSavedSignIn({"acme", "an older password", "Old Name"});
  TFirebaseManagedAccount A;
  std::string Message;
  ASSERT_TRUE(Active(A, Message)) << Message;
  EXPECT_EQ(Message, "");
  EXPECT_EQ(A.NodePath, "Lisanslar/acme");
  EXPECT_EQ(A.Password, "current");
  EXPECT_EQ(A.DisplayName, "Acme Ltd");
  EXPECT_EQ(A.OAuthClientID, "acme-client");

  // Remembered by e-mail address in another letter case: found through the tree.
  SaveSavedSignIn({"INFO@acme.test", "x", ""});
  ASSERT_TRUE(Active(A, Message)) << Message;
  EXPECT_EQ(A.NodePath, "acme");
  EXPECT_EQ(A.LoginName, "acme");
  EXPECT_EQ(Sim.RequestCount("GET", "/Lisanslar.json"), 1);
}

TEST_F(ActiveAccountTest, AccountGoneFromTheDirectoryGivesTheLookupsMessage) {
  SaveSavedSignIn({"ghost ", "x", "Ghost"});
  TFirebaseManagedAccount A;
  std::string Message;
  EXPECT_FALSE(Active(A, Message));
  EXPECT_EQ(Message, "Hesap bulunamadi: ghost ") << "the saved login is passed on untrimmed";
  EXPECT_EQ(A.LoginName, "");

  Sim.SetUsers({});  // the service account cannot sign in
  ResetServiceTokenCacheForTests();
  std::filesystem::remove(TokenFile());
  SaveSavedSignIn({"acme", "x", ""});
  // The account list kept from the tree read above still answers without a session...
  ASSERT_TRUE(Active(A, Message)) << Message;
  EXPECT_EQ(A.NodePath, "acme");
  // ...until it is gone.
  ResetAccountCacheForTests();
  EXPECT_FALSE(Active(A, Message));
  EXPECT_EQ(Message, "Firebase baglantisi basarisiz: EMAIL_NOT_FOUND");
}

TEST_F(ActiveAccountTest, UnreadableSavedSignInRaises) {
  SaveSavedSignIn({"acme", "x", ""});
  ResetSavedSignInCacheForTests();
  // The file now looks as if it had been written on another computer.
  platform::SetMachineIdentitySource([] { return std::string("kelvo-test-machine-2"); });
  TFirebaseManagedAccount A;
  std::string Message;
  try {
    Active(A, Message);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& E) {
    EXPECT_EQ(std::string(E.what()).rfind("Oturum bilgisi okunamadi: ", 0), 0u) << E.what();
  }
  EXPECT_EQ(A.LoginName, "");
  EXPECT_EQ(Message, "");
  EXPECT_EQ(Sim.TotalRequests(), 0);
}

}  // namespace
}  // namespace kelvo
