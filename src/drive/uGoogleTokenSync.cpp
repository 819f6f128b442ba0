#include "drive/uGoogleTokenSync.h"

#include <filesystem>

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "core/FileIO.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "drive/uFirebaseGoogleTokenStore.h"
#include "drive/uGoogleAuth.h"

namespace kelvo {

namespace {

void DeleteTokenCache(const std::string& Path) {
  std::error_code Ec;
  if (!std::filesystem::remove(Path, Ec) && Ec)
    throw EFileError("Dosya silinemedi: " + Path + " (" + Ec.message() + ")");
}

}  // namespace

bool SyncActiveAccountGoogleToken(std::string& Message) {
  Message.clear();
  TSavedSignIn SignIn;
  if (!LoadSavedSignIn(SignIn)) {
    Message = NoSavedSignInMessage;
    return false;
  }
  std::string LoginName = Trim(SignIn.LoginName);
  TFirebaseManagedAccount Account;
  std::string LookupMessage;  // the saved name serves when the directory cannot tell
  if (GetActiveAccount(Account, LookupMessage)) LoginName = Trim(Account.LoginName);

  TTokenData Tokens;
  TGoogleDriveAccountLink Link;
  if (!LoadDefaultGoogleToken(LoginName, Tokens, Link, Message)) return false;

  TAppConfig& Config = TAppConfig::Instance();
  const std::string Path = Config.GetGoogleTokenCachePath();
  if (Trim(Tokens.AccessToken).empty() && Trim(Tokens.RefreshToken).empty()) {
    DeleteTokenCache(Path);
    LogWarnFmt("Aktif hesap icin varsayilan merkezi Google token bulunamadi: %s", LoginName);
    return true;
  }
  const std::string AccountClientID = Trim(Account.OAuthClientID);
  const std::string AccountClientSecret = Trim(Account.OAuthClientSecret);
  TGoogleAuth Auth(AccountClientID.empty() ? Config.GetClientID() : AccountClientID,
                   AccountClientSecret.empty() ? Config.GetClientSecret() : AccountClientSecret, Config.GetAuthPort(),
                   /*InteractiveMessages=*/false);
  Auth.SetTokenData(Tokens);
  Auth.SaveTokens(Path);
  LogInfoFmt("Merkezi Google token yerel onbellege yazildi: %s -> %s", LoginName, Path);
  return true;
}

}  // namespace kelvo
