#pragma once
// Six-digit one-time codes of authenticator apps: time-based HOTP with HMAC-SHA-1, 30-second steps
// counted from the Unix epoch. Secrets are Base32 text as the apps show them.
#include <cstdint>
#include <string>
#include <vector>

namespace kelvo {

// Upper-cases the ASCII letters and keeps only the characters of the Base32 alphabet
// "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"; blanks, hyphens, padding and anything else are dropped.
std::string NormalizeBase32(const std::string& Text);
// Decodes the normalised text; leftover bits that do not fill a byte are dropped. Key is emptied
// first; true when at least one byte came out.
bool DecodeBase32(const std::string& Text, std::vector<uint8_t>& Key);
// The code for the step that holds Time (seconds since the Unix epoch), with leading zeros; the
// empty text when the secret gives no key.
std::string GenerateTotpCode(const std::string& Secret, int64_t Time);
// True when the entered code (blanks ignored) is the code of the current step or of one of the
// Window steps on either side. The current time comes from the program clock.
bool VerifyTotpCode(const std::string& Secret, const std::string& Code, int32_t Window);

}  // namespace kelvo
