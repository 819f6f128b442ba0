#include "drive/FormUrlEncoding.h"

namespace kelvo {

std::string FormUrlEncode(std::string_view Text) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string Out;
  Out.reserve(Text.size() * 3);
  for (unsigned char C : Text) {
    if ((C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '*' || C == '-' ||
        C == '.' || C == '_') {
      Out += static_cast<char>(C);
    } else if (C == ' ') {
      Out += '+';
    } else {
      Out += '%';
      Out += Hex[C >> 4];
      Out += Hex[C & 15];
    }
  }
  return Out;
}

}  // namespace kelvo
