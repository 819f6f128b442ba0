// The saved sign-in file is shared by every user of the computer; its unprotected text is read as
// a record. Text that is JSON but not an object is rejected with an exception by design.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "account/uFirebaseActiveAccount.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  kelvo::TSavedSignIn SignIn;
  try {
    const bool Found = kelvo::ParseSavedSignIn(Text, SignIn);
    if (Found && (SignIn.LoginName.empty() || SignIn.Password.empty())) std::abort();
  } catch (const std::runtime_error&) {
  }
  return 0;
}
