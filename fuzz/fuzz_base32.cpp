// Authenticator secrets come from the account directory in the cloud and may hold anything.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "account/uTotp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const std::string Normalized = kelvo::NormalizeBase32(Text);
  for (char C : Normalized)
    if (!((C >= 'A' && C <= 'Z') || (C >= '2' && C <= '7'))) std::abort();
  if (kelvo::NormalizeBase32(Normalized) != Normalized) std::abort();

  std::vector<uint8_t> Key;
  const bool Decoded = kelvo::DecodeBase32(Text, Key);
  if (Key.size() != Normalized.size() * 5 / 8 || Decoded != !Key.empty()) std::abort();

  // The first eight bytes double as a time, negative ones included.
  int64_t Time = 0;
  if (Size > 0) std::memcpy(&Time, Data, Size < sizeof Time ? Size : sizeof Time);
  const std::string Code = kelvo::GenerateTotpCode(Text, Time);
  if (Decoded ? Code.size() != 6 : !Code.empty()) std::abort();
  (void)kelvo::VerifyTotpCode(Text, Text, 1);
  return 0;
}
