#pragma once
// Standard Base64 (RFC 4648 alphabet, "=" padding) on top of OpenSSL.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// One line, no line breaks.
std::string Base64Encode(const uint8_t* Data, size_t Size);
std::string Base64Encode(const std::vector<uint8_t>& Data);
// Wrapped with CR LF after every LineLength characters (no break after the last line).
std::string Base64EncodeWrapped(const std::vector<uint8_t>& Data, size_t LineLength = 76);
// Strict decoding: alphabet characters, padding only at the end, a length that is a multiple of
// four. CR, LF, space and tab are skipped. False on anything else.
bool Base64Decode(std::string_view Text, std::vector<uint8_t>& Data);

}  // namespace kelvo
