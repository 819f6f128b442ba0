// The service token cache file lives in a folder other users and programs can write; whatever it
// holds must read as "no usable token", never a crash or an exception.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "account/uFirebaseServiceAuth.h"
#include "platform/MachineProtection.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The corpus's protected tokens were made under this identity, so unprotection is reached.
  kelvo::platform::SetMachineIdentitySource([] { return std::string("kelvo-fuzz-machine"); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Token = "stale";
  kelvo::TDateTime Expiry = -1;
  const bool Read =
      kelvo::ReadServiceTokenFile(std::string_view(reinterpret_cast<const char*>(Data), Size), Token, Expiry);
  if (!std::isfinite(Expiry)) std::abort();
  if (!Read && (!Token.empty() || Expiry != 0)) std::abort();
  return 0;
}
