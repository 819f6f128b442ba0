#pragma once
// Text rules shared by the whole program: comparisons fold only the ASCII letters a-z, trimming
// removes every byte <= 32 at both ends. Bytes from 128 up (UTF-8) are never changed.
#include <string>
#include <string_view>

namespace kelvo {

std::string AsciiLower(std::string_view Text);
std::string AsciiUpper(std::string_view Text);
bool SameText(std::string_view A, std::string_view B);
// Three-way comparison for sorting: a-z are folded to A-Z (so "_" orders after the letters), the
// other bytes compare as unsigned; a prefix orders before the longer text. <0, 0 or >0.
int CompareText(std::string_view A, std::string_view B);
bool StartsText(std::string_view Text, std::string_view Prefix);
bool EndsText(std::string_view Text, std::string_view Suffix);
// Position of Needle in Text ignoring ASCII case, or npos.
size_t FindText(std::string_view Text, std::string_view Needle);
std::string Trim(std::string_view Text);
// Trim without a copy: the part of Text it would keep.
std::string_view TrimView(std::string_view Text);
std::string TrimLeft(std::string_view Text);
std::string TrimRight(std::string_view Text);
// Decimal 32-bit integer with optional leading blanks and sign; false for anything else or overflow.
bool TryStrToInt(std::string_view Text, int32_t& Value);
int32_t StrToIntDef(std::string_view Text, int32_t Default);

}  // namespace kelvo
