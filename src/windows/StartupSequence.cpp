#include "windows/StartupSequence.h"

#include <string>

#include "account/uFirebaseActiveAccount.h"
#include "core/uLogger.h"
#include "drive/uFirebaseAccountAuth.h"

namespace kelvo {

bool PrepareSignIn(const std::function<bool()>& ShowSignInWindow) {
  if (HasSavedSignIn()) {
    std::string Message, LoginName;
    // The program works on with the remembered account even when it cannot be checked now.
    if (!RevalidateSavedSignIn(Message, LoginName))
      LogWarnFmt("Kayitli hesap dogrulanamadi, onbellekle devam ediliyor: %s", Message);
    return true;
  }
  return ShowSignInWindow();
}

}  // namespace kelvo
