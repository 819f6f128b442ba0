#include "core/TextRules.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kelvo {

namespace {
char LowerChar(char C) { return (C >= 'A' && C <= 'Z') ? static_cast<char>(C - 'A' + 'a') : C; }
char UpperChar(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }
bool IsBlank(char C) { return static_cast<unsigned char>(C) <= 32; }
}  // namespace

std::string AsciiLower(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result) C = LowerChar(C);
  return Result;
}

std::string AsciiUpper(std::string_view Text) {
  std::string Result(Text);
  for (char& C : Result) C = UpperChar(C);
  return Result;
}

bool SameText(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); ++I)
    if (LowerChar(A[I]) != LowerChar(B[I])) return false;
  return true;
}

int CompareText(std::string_view A, std::string_view B) {
  const size_t Common = std::min(A.size(), B.size());
  for (size_t I = 0; I < Common; ++I) {
    const auto X = static_cast<unsigned char>(UpperChar(A[I]));
    const auto Y = static_cast<unsigned char>(UpperChar(B[I]));
    if (X != Y) return X < Y ? -1 : 1;
  }
  return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

bool StartsText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameText(Text.substr(0, Prefix.size()), Prefix);
}

bool EndsText(std::string_view Text, std::string_view Suffix) {
  return Text.size() >= Suffix.size() && SameText(Text.substr(Text.size() - Suffix.size()), Suffix);
}

size_t FindText(std::string_view Text, std::string_view Needle) {
  if (Needle.size() > Text.size()) return std::string_view::npos;
  for (size_t I = 0; I + Needle.size() <= Text.size(); ++I)
    if (SameText(Text.substr(I, Needle.size()), Needle)) return I;
  return std::string_view::npos;
}

std::string TrimLeft(std::string_view Text) {
  size_t B = 0;
  while (B < Text.size() && IsBlank(Text[B])) ++B;
  return std::string(Text.substr(B));
}

std::string TrimRight(std::string_view Text) {
  size_t E = Text.size();
  while (E > 0 && IsBlank(Text[E - 1])) --E;
  return std::string(Text.substr(0, E));
}

std::string_view TrimView(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back())) Text.remove_suffix(1);
  return Text;
}

std::string Trim(std::string_view Text) { return std::string(TrimView(Text)); }

bool TryStrToInt(std::string_view Text, int32_t& Value) {
  size_t I = 0;
  while (I < Text.size() && IsBlank(Text[I])) ++I;
  bool Negative = false;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) Negative = Text[I++] == '-';
  if (I >= Text.size()) return false;
  int64_t Acc = 0;
  for (; I < Text.size(); ++I) {
    if (Text[I] < '0' || Text[I] > '9') return false;
    Acc = Acc * 10 + (Text[I] - '0');
    if (Acc > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return false;
  }
  if (Negative) Acc = -Acc;
  if (Acc < std::numeric_limits<int32_t>::min() || Acc > std::numeric_limits<int32_t>::max()) return false;
  Value = static_cast<int32_t>(Acc);
  return true;
}

int32_t StrToIntDef(std::string_view Text, int32_t Default) {
  int32_t Value = 0;
  return TryStrToInt(Text, Value) ? Value : Default;
}

}  // namespace kelvo
