// Account authentication against cloudsim: the login and password checks, what a completed sign-in
// leaves behind (the saved sign-in and the local Google token cache), and the silent re-validation.
#include <gmock/gmock.h>

#include <filesystem>

#include "TokenDirectoryFixture.h"
#include "drive/uFirebaseAccountAuth.h"

namespace kelvo {
namespace {

using Json = nlohmann::ordered_json;

class AccountAuthTest : public test::TokenDirectoryFixture {
 protected:
  void SetUp() override {
    TokenDirectoryFixture::SetUp();
    Sim.SetDatabase(Json::parse(R"({
      "Lisanslar":{"acme":{"LoginName":"Acme","Email":"info@acme.test","Sifre":"Secret","Musteri":"Acme Ltd"},
                   "nopass":{"LoginName":"nopass","Email":"np@x.test"}},
      "GoogleDriveAccounts":{"g1":{"DisplayName":"Drive","AccessToken":"at-1","RefreshToken":"rt-1"}},
      "GoogleDriveAccountLinks":{"l1":{"AccountLoginName":"acme","GoogleAccountID":"g1","IsDefault":true}}})"));
  }

  TAccountAuthResult Authenticate(const std::string& Login, const std::string& Password,
                                  TFirebaseManagedAccount* Account = nullptr) {
    TAccountAuthResult Result{true, "stale", "stale", "stale"};
    TFirebaseManagedAccount Found;
    Found.LoginName = "stale";
    AuthenticateAccount(Login, Password, Found, Result);
    if (Account) *Account = Found;
    return Result;
  }
  TSavedSignIn Saved() {
    ResetSavedSignInCacheForTests();
    TSavedSignIn SignIn;
    EXPECT_TRUE(LoadSavedSignIn(SignIn));
    return SignIn;
  }
  std::string SavedPath() { return ConfigDir() + "/saved_signin.dat"; }
};

TEST_F(AccountAuthTest, LoginTrimmedPasswordExact) {
  struct TCase {
    const char *Login, *Password, *LoginName, *Message;
  };
  for (const TCase& C :
       {TCase{" \t", "x", "", "Kullanici adi/e-posta zorunlu."}, TCase{" acme ", "", "acme", "Sifre zorunlu."},
        TCase{"ghost ", "x", "ghost", "Hesap bulunamadi: ghost"}, TCase{"acme", "secret", "acme", "Hatali sifre."},
        TCase{"acme", "Secret ", "acme", "Hatali sifre."}, TCase{"acme", " Secret", "acme", "Hatali sifre."},
        TCase{"nopass", "x", "nopass", "Hatali sifre."}}) {
    TFirebaseManagedAccount Account;
    const TAccountAuthResult R = Authenticate(C.Login, C.Password, &Account);
    EXPECT_FALSE(R.Success) << C.Login << "/" << C.Password;
    EXPECT_EQ(R.LoginName, C.LoginName);
    EXPECT_EQ(R.DisplayName, "");
    EXPECT_EQ(R.MessageText, C.Message);
    // A refused password still hands back the account that was found.
    EXPECT_EQ(Account.NodeName, R.MessageText == "Hatali sifre." ? C.Login : "");
  }

  TFirebaseManagedAccount Account;
  const TAccountAuthResult R = Authenticate(" INFO@ACME.test\t", "Secret", &Account);
  EXPECT_TRUE(R.Success);
  EXPECT_EQ(R.LoginName, "INFO@ACME.test");
  EXPECT_EQ(R.DisplayName, "Acme Ltd");
  EXPECT_EQ(R.MessageText, "Giris basarili.");
  EXPECT_EQ(Account.LoginName, "Acme");

  TAccountAuthResult Short;
  AuthenticateAccount("ACME", "Secret", Short);
  EXPECT_TRUE(Short.Success);
  EXPECT_EQ(Short.LoginName, "ACME");
}

TEST_F(AccountAuthTest, CompletedSignInIsRememberedAsTypedAndCopiesTheTokens) {
  const TAccountAuthResult R = Authenticate(" ACME ", "Secret");
  ASSERT_TRUE(R.Success) << R.MessageText;
  CompleteSignIn(" ACME ", "Secret", R);
  const TSavedSignIn S = Saved();
  EXPECT_EQ(S.LoginName, "ACME");
  EXPECT_EQ(S.Password, "Secret");
  EXPECT_EQ(S.DisplayName, "Acme Ltd");
  EXPECT_EQ(CachedTokens().RefreshToken, "rt-1");

  // A failed synchronisation is only a warning: the sign-in completes and the old tokens stay.
  const std::string Log = StartLog();
  const std::string Tokens = test::ReadBytes(CachePath());
  Sim.SetNode("GoogleDriveAccounts/g1", nullptr);
  ForgetCaches();
  CompleteSignIn("info@acme.test", "Secret", {true, "info@acme.test", "Acme Ltd", "Giris basarili."});
  EXPECT_EQ(Saved().LoginName, "info@acme.test");
  EXPECT_EQ(test::ReadBytes(CachePath()), Tokens);
  EXPECT_THAT(
      ReadTextFile(Log),
      ::testing::HasSubstr("[WARN ] Google token yerel onbellege cekilemedi: Google Drive hesabi bulunamadi.\r\n"));

  // A cache file that cannot be written is an error for the caller.
  Sim.SetNode("GoogleDriveAccounts/g1", Json::parse(R"({"AccessToken":"at-2"})"));
  std::filesystem::remove(CachePath());
  std::filesystem::create_directories(CachePath() + "/in-the-way");
  EXPECT_THROW(CompleteSignIn("acme", "Secret", R), EFileError);
}

TEST_F(AccountAuthTest, RevalidationChecksThePasswordAgainAndKeepsTheFileOnFailure) {
  std::string Message = "stale", Login = "stale";
  EXPECT_FALSE(RevalidateSavedSignIn(Message, Login));
  EXPECT_EQ(Message, "Kayitli oturum bulunamadi.");
  EXPECT_EQ(Login, "");

  SaveSavedSignIn({" acme", "Secret", "Old name"});
  ResetSavedSignInCacheForTests();
  ASSERT_TRUE(RevalidateSavedSignIn(Message, Login)) << Message;
  EXPECT_EQ(Message, "Giris basarili.");
  EXPECT_EQ(Login, " acme") << "as stored";
  EXPECT_EQ(Saved().DisplayName, "Acme Ltd");
  EXPECT_EQ(CachedTokens().AccessToken, "at-1");

  // The password was changed in the directory since.
  const std::string File = test::ReadBytes(SavedPath());
  const std::string Tokens = test::ReadBytes(CachePath());
  Sim.SetNode("Lisanslar/acme/Sifre", "Changed");
  ResetSavedSignInCacheForTests();
  EXPECT_FALSE(RevalidateSavedSignIn(Message, Login));
  EXPECT_EQ(Message, "Hatali sifre.");
  EXPECT_EQ(Login, " acme");
  EXPECT_EQ(test::ReadBytes(SavedPath()), File);
  EXPECT_EQ(test::ReadBytes(CachePath()), Tokens);
}

}  // namespace
}  // namespace kelvo
