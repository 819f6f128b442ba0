#include "core/Base64.h"

#include <openssl/evp.h>

namespace kelvo {

std::string Base64Encode(const uint8_t* Data, size_t Size) {
  if (Size == 0) return {};
  std::string Out(4 * ((Size + 2) / 3) + 1, '\0');
  const int N = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(Out.data()), Data, static_cast<int>(Size));
  Out.resize(static_cast<size_t>(N));
  return Out;
}

std::string Base64Encode(const std::vector<uint8_t>& Data) { return Base64Encode(Data.data(), Data.size()); }

std::string Base64EncodeWrapped(const std::vector<uint8_t>& Data, size_t LineLength) {
  const std::string Flat = Base64Encode(Data);
  std::string Out;
  for (size_t I = 0; I < Flat.size(); I += LineLength) {
    if (I > 0) Out += "\r\n";
    Out += Flat.substr(I, LineLength);
  }
  return Out;
}

bool Base64Decode(std::string_view Text, std::vector<uint8_t>& Data) {
  Data.clear();
  std::string Clean;
  Clean.reserve(Text.size());
  for (char C : Text)
    if (C != '\r' && C != '\n' && C != ' ' && C != '\t') Clean += C;
  if (Clean.size() % 4 != 0) return false;
  size_t Padding = 0;
  for (size_t I = 0; I < Clean.size(); ++I) {
    const char C = Clean[I];
    const bool Alpha =
        (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '+' || C == '/';
    if (C == '=') {
      if (I + 2 < Clean.size()) return false;
      ++Padding;
    } else if (!Alpha || Padding > 0) {
      return false;
    }
  }
  if (Clean.empty()) return true;
  std::vector<uint8_t> Out(Clean.size() / 4 * 3);
  const int N =
      EVP_DecodeBlock(Out.data(), reinterpret_cast<const unsigned char*>(Clean.data()), static_cast<int>(Clean.size()));
  if (N < 0) return false;
  Out.resize(static_cast<size_t>(N) - Padding);
  Data = std::move(Out);
  return true;
}

}  // namespace kelvo
