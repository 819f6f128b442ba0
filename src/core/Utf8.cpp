#include "core/Utf8.h"

namespace kelvo {

size_t DecodeUtf8(std::string_view Text, size_t I, char32_t& Code, TUtf8Rule Rule) {
  const auto Lead = static_cast<unsigned char>(Text[I]);
  if (Lead < 0x80) {
    Code = Lead;
    return 1;
  }
  size_t Length;
  char32_t Minimum;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2, Code = Lead & 0x1F, Minimum = 0x80;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3, Code = Lead & 0x0F, Minimum = 0x800;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4, Code = Lead & 0x07, Minimum = 0x10000;
  } else {
    return 0;
  }
  if (I + Length > Text.size()) return 0;
  for (size_t K = 1; K < Length; ++K) {
    const auto Next = static_cast<unsigned char>(Text[I + K]);
    if ((Next & 0xC0) != 0x80) return 0;
    Code = (Code << 6) | (Next & 0x3F);
  }
  if (Rule == TUtf8Rule::Strict && (Code < Minimum || Code > 0x10FFFF || (Code >= 0xD800 && Code <= 0xDFFF)))
    return 0;
  return Length;
}

bool IsUtf8(std::string_view Text, TUtf8Rule Rule) {
  char32_t Code = 0;
  for (size_t I = 0; I < Text.size();) {
    const size_t Length = DecodeUtf8(Text, I, Code, Rule);
    if (Length == 0) return false;
    I += Length;
  }
  return true;
}

void AppendUtf8(std::string& Out, char32_t Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

}  // namespace kelvo
