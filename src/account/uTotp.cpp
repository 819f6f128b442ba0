#include "account/uTotp.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>
#include <chrono>
#include <cstdio>

#include "core/TextRules.h"
#include "platform/Clock.h"

namespace kelvo {

namespace {

constexpr int64_t TimeStep = 30;

// Index of C in the alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567", or -1.
int Base32Index(char C) {
  if (C >= 'A' && C <= 'Z') return C - 'A';
  if (C >= '2' && C <= '7') return C - '2' + 26;
  return -1;
}

// Empty when HMAC fails, which for SHA-1 it does not in practice.
std::string CodeForKey(const std::vector<uint8_t>& Key, int64_t Time) {
  // Division in C++ truncates toward zero, as the counter requires for times before 1970.
  const uint64_t Counter = static_cast<uint64_t>(Time / TimeStep);
  std::array<uint8_t, 8> Message;
  for (int I = 7; I >= 0; --I) Message[static_cast<size_t>(I)] = static_cast<uint8_t>(Counter >> (8 * (7 - I)));

  std::array<uint8_t, EVP_MAX_MD_SIZE> Mac{};
  unsigned int MacSize = 0;
  if (!HMAC(EVP_sha1(), Key.data(), static_cast<int>(Key.size()), Message.data(), Message.size(), Mac.data(),
            &MacSize) ||
      MacSize != 20)
    return {};

  const size_t Offset = Mac[19] & 0x0F;
  const uint32_t Value = (static_cast<uint32_t>(Mac[Offset] & 0x7F) << 24) |
                         (static_cast<uint32_t>(Mac[Offset + 1]) << 16) |
                         (static_cast<uint32_t>(Mac[Offset + 2]) << 8) | static_cast<uint32_t>(Mac[Offset + 3]);
  char Code[8];
  std::snprintf(Code, sizeof Code, "%06u", static_cast<unsigned>(Value % 1000000u));
  return Code;
}

}  // namespace

std::string NormalizeBase32(const std::string& Text) {
  const std::string Upper = AsciiUpper(Trim(Text));
  std::string Result;
  Result.reserve(Upper.size());
  for (char C : Upper)
    if (Base32Index(C) >= 0) Result += C;
  return Result;
}

bool DecodeBase32(const std::string& Text, std::vector<uint8_t>& Key) {
  Key.clear();
  const std::string Normalized = NormalizeBase32(Text);
  Key.reserve(Normalized.size() * 5 / 8);
  uint32_t Buffer = 0;
  int Bits = 0;
  for (char C : Normalized) {
    // Only the bits not yet written out are kept, so the buffer never overflows.
    Buffer = ((Buffer << 5) | static_cast<uint32_t>(Base32Index(C))) & 0xFFFu;
    Bits += 5;
    if (Bits >= 8) {
      Key.push_back(static_cast<uint8_t>(Buffer >> (Bits - 8)));
      Bits -= 8;
    }
  }
  return !Key.empty();
}

std::string GenerateTotpCode(const std::string& Secret, int64_t Time) {
  std::vector<uint8_t> Key;
  if (!DecodeBase32(Secret, Key)) return {};
  return CodeForKey(Key, Time);
}

bool VerifyTotpCode(const std::string& Secret, const std::string& Code, int32_t Window) {
  std::string Cleaned;
  for (char C : Code)
    if (C != ' ') Cleaned += C;
  Cleaned = Trim(Cleaned);
  if (Cleaned.size() != 6) return false;

  std::vector<uint8_t> Key;
  if (!DecodeBase32(Secret, Key)) return false;

  // The program clock is an instant, so this is UTC whatever the local zone and daylight saving.
  const int64_t Now = std::chrono::floor<std::chrono::seconds>(platform::Now().time_since_epoch()).count();
  for (int64_t K = -static_cast<int64_t>(Window); K <= Window; ++K)
    if (CodeForKey(Key, Now + TimeStep * K) == Cleaned) return true;
  return false;
}

}  // namespace kelvo
