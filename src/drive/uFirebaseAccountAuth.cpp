#include "drive/uFirebaseAccountAuth.h"

#include "account/uFirebaseActiveAccount.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "drive/uGoogleTokenSync.h"

namespace kelvo {

namespace {

constexpr char WrongPasswordMessage[] = "Hatali sifre.";

// A sign-in stands even when the Google tokens cannot be copied now; Drive work then reports it.
void SyncGoogleTokenAfterSignIn() {
  std::string Message;
  if (!SyncActiveAccountGoogleToken(Message)) LogWarnFmt("Google token yerel onbellege cekilemedi: %s", Message);
}

}  // namespace

void AuthenticateAccount(const std::string& Login, const std::string& Password, TAccountAuthResult& Result) {
  TFirebaseManagedAccount Account;
  AuthenticateAccount(Login, Password, Account, Result);
}

void AuthenticateAccount(const std::string& Login, const std::string& Password, TFirebaseManagedAccount& Account,
                         TAccountAuthResult& Result) {
  Account = {};
  Result = {};
  Result.LoginName = Trim(Login);
  if (Result.LoginName.empty()) {
    Result.MessageText = "Kullanici adi/e-posta zorunlu.";
    return;
  }
  // The password is taken exactly as typed: blanks belong to it.
  if (Password.empty()) {
    Result.MessageText = "Sifre zorunlu.";
    return;
  }
  std::string Message;
  if (!FindAccountByLogin(Result.LoginName, Account, Message)) {
    Result.MessageText = Message.empty() ? "Hesap bulunamadi." : Message;
    return;
  }
  if (Account.Password != Password) {
    Result.MessageText = WrongPasswordMessage;
    return;
  }
  Result.Success = true;
  Result.DisplayName = Account.DisplayName;
  Result.MessageText = "Giris basarili.";
}

void CompleteSignIn(const std::string& Login, const std::string& Password, const TAccountAuthResult& Result) {
  SaveSavedSignIn({Trim(Login), Password, Result.DisplayName});
  SyncGoogleTokenAfterSignIn();
}

bool RevalidateSavedSignIn(std::string& Message, std::string& LoginName) {
  return CheckSavedSignIn(Message, LoginName) == TSavedSignInCheck::Valid;
}

TSavedSignInCheck CheckSavedSignIn(std::string& Message, std::string& LoginName) {
  Message.clear();
  LoginName.clear();
  TSavedSignIn SignIn;
  if (!LoadSavedSignIn(SignIn)) {
    Message = NoSavedSignInMessage;
    return TSavedSignInCheck::Unchecked;
  }
  LoginName = SignIn.LoginName;
  TAccountAuthResult Result;
  AuthenticateAccount(SignIn.LoginName, SignIn.Password, Result);
  Message = Result.MessageText;
  if (!Result.Success) {
    // Only these two answers come from a directory that was read; everything else is a read that
    // could not be made.
    const bool Rejected = Message == WrongPasswordMessage || StartsText(Message, "Hesap bulunamadi");
    return Rejected ? TSavedSignInCheck::Rejected : TSavedSignInCheck::Unchecked;
  }
  SignIn.DisplayName = Result.DisplayName;
  SaveSavedSignIn(SignIn);
  SyncGoogleTokenAfterSignIn();
  return TSavedSignInCheck::Valid;
}

}  // namespace kelvo
