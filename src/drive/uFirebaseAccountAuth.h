#pragma once
// Account authentication: whether a login and password belong to a customer account of the account
// directory, and what follows a successful sign-in (the sign-in is remembered on this computer and
// the account's Google tokens are copied into the local token cache). It lives beside the Google
// token directory because it drives both the account side and the Drive side.
#include <string>

#include "account/uFirebaseAccountStore.h"

namespace kelvo {

struct TAccountAuthResult {
  bool Success = false;
  std::string LoginName;
  std::string DisplayName;
  std::string MessageText;
};

void AuthenticateAccount(const std::string& Login, const std::string& Password, TAccountAuthResult& Result);
// Also hands back the account record found (empty when none).
void AuthenticateAccount(const std::string& Login, const std::string& Password, TFirebaseManagedAccount& Account,
                         TAccountAuthResult& Result);
// Saves the sign-in and synchronises the account's Google tokens. Errors of the save are raised.
void CompleteSignIn(const std::string& Login, const std::string& Password, const TAccountAuthResult& Result);
// Checks the remembered sign-in again without asking the operator.
bool RevalidateSavedSignIn(std::string& Message, std::string& LoginName);

enum class TSavedSignInCheck {
  Valid,      // the directory confirmed it
  Rejected,   // the directory answered that the login or the password no longer holds
  Unchecked,  // the directory could not be asked (no connection, a time-out, a server error)
};
// The same check, telling a definite rejection from a check that could not be made.
TSavedSignInCheck CheckSavedSignIn(std::string& Message, std::string& LoginName);

}  // namespace kelvo
