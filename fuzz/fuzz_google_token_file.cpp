// The Google token cache sits in a folder other programs can write: whatever it holds must read as
// a token set (possibly empty), never a crash or an exception, and what was read must survive being
// written back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drive/uGoogleAuth.h"
#include "platform/MachineProtection.h"
#include "platform/Regional.h"

namespace {
const kelvo::platform::TRegionalSettings Regional{',', "%d.%m.%Y", "%H:%M:%S"};
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The corpus's protected files were made under this identity, so unprotection is reached.
  kelvo::platform::SetMachineIdentitySource([] { return std::string("kelvo-fuzz-machine"); });
  kelvo::platform::SetRegionalSettingsForTests(&Regional);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  kelvo::TTokenData Tokens{"stale", "stale", -1};
  bool Plain = true;
  const bool Read =
      kelvo::ReadGoogleTokenFile(std::string_view(reinterpret_cast<const char*>(Data), Size), Tokens, Plain);
  if (!std::isfinite(Tokens.ExpiresAt)) std::abort();
  if (!Read && (Plain || !Tokens.AccessToken.empty() || !Tokens.RefreshToken.empty())) std::abort();
  // What was read is written back as the plain text of a cache file and reads the same.
  kelvo::TTokenData Again;
  bool AgainPlain = false;
  if (!kelvo::ReadGoogleTokenFile(kelvo::FormatGoogleTokenText(Tokens), Again, AgainPlain)) std::abort();
  if (Again.AccessToken != Tokens.AccessToken || Again.RefreshToken != Tokens.RefreshToken) std::abort();
  return 0;
}
