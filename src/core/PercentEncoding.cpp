#include "core/PercentEncoding.h"

#include <cstring>

namespace kelvo {

namespace {

bool IsAlphaNumeric(unsigned char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9');
}

bool Keeps(TPercentSet Set, unsigned char C) {
  switch (Set) {
    case TPercentSet::Unreserved:
      return IsAlphaNumeric(C) || C == '-' || C == '.' || C == '_' || C == '~';
    case TPercentSet::Form:
      return IsAlphaNumeric(C) || C == '*' || C == '-' || C == '.' || C == '_';
    case TPercentSet::UnsafeInUrl:
      // strchr also finds the terminating NUL, so the byte 0 is tested by the range first.
      return C > 0x20 && C < 0x7F && std::strchr("\"<>\\^`{|}#", C) == nullptr;
  }
  return false;
}

}  // namespace

std::string PercentEncode(std::string_view Text, TPercentSet Set) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string Out;
  Out.reserve(Set == TPercentSet::UnsafeInUrl ? Text.size() : Text.size() * 3);
  for (unsigned char C : Text) {
    if (Keeps(Set, C)) {
      Out += static_cast<char>(C);
    } else if (Set == TPercentSet::Form && C == ' ') {
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
