#include "windows/StartupSequence.h"

#include <string>

#include "account/uFirebaseActiveAccount.h"
#include "core/uLogger.h"
#include "drive/uFirebaseAccountAuth.h"
#include "windows/BackgroundWork.h"

namespace kelvo {

bool PrepareSignIn(const TShowSignInWindow& ShowSignInWindow) {
  if (!HasSavedSignIn()) return ShowSignInWindow({}, {});
  std::string Message, LoginName;
  TSavedSignInCheck Check = TSavedSignInCheck::Unchecked;
  RunOffGuiThread([&] { Check = CheckSavedSignIn(Message, LoginName); });
  switch (Check) {
    case TSavedSignInCheck::Valid:
      return true;
    case TSavedSignInCheck::Rejected:
      LogWarnFmt("Kayitli hesap reddedildi, giris penceresi aciliyor: %s", Message);
      return ShowSignInWindow(LoginName, Message);
    case TSavedSignInCheck::Unchecked:
      break;
  }
  // The program works on with the remembered account when it cannot be checked now.
  LogWarnFmt("Kayitli hesap dogrulanamadi, onbellekle devam ediliyor: %s", Message);
  return true;
}

}  // namespace kelvo
