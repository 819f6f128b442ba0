#include "core/TextFormat.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "platform/Regional.h"

namespace kelvo {

namespace {

std::string OneDecimal(double Value) {
  std::string Text = std::to_string(std::llround(Value * 10));
  if (Text.size() < 2) Text.insert(0, 1, '0');
  return Text.substr(0, Text.size() - 1) + platform::GetRegionalSettings().DecimalSeparator + Text.back();
}

}  // namespace

std::string FormatTemplate(std::string_view Template, const std::vector<std::string>& Values) {
  std::string Out;
  Out.reserve(Template.size() + 32);
  size_t Next = 0;
  for (size_t I = 0; I < Template.size(); ++I) {
    const char C = Template[I];
    if (C == '%' && I + 1 < Template.size()) {
      const char Kind = Template[I + 1];
      if (Kind == '%') {
        Out += '%';
        ++I;
        continue;
      }
      if (Kind == 's' || Kind == 'd') {
        if (Next < Values.size()) Out += Values[Next++];
        ++I;
        continue;
      }
    }
    Out += C;
  }
  return Out;
}

std::string FormatFileSize(int64_t Size) {
  if (Size >= 1073741824) return OneDecimal(static_cast<double>(Size) / 1073741824.0) + " GB";
  if (Size >= 1048576) return OneDecimal(static_cast<double>(Size) / 1048576.0) + " MB";
  if (Size < 1024) return std::to_string(Size) + " B";
  return OneDecimal(static_cast<double>(Size) / 1024.0) + " KB";
}

bool TryParseRegionalFloat(std::string_view Text, char Separator, double& Value) {
  std::string Plain;
  Plain.reserve(Text.size());
  size_t I = 0;
  if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
    if (Text[I] == '-') Plain.push_back('-');
    ++I;
  }
  size_t Digits = 0;
  bool SeenSeparator = false;
  for (; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C >= '0' && C <= '9') {
      Plain.push_back(C);
      ++Digits;
    } else if (C == Separator && !SeenSeparator) {
      Plain.push_back('.');
      SeenSeparator = true;
    } else {
      break;
    }
  }
  if (Digits == 0) return false;
  if (I < Text.size() && (Text[I] == 'e' || Text[I] == 'E')) {
    Plain.push_back('e');
    ++I;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) Plain.push_back(Text[I++]);
    size_t ExponentDigits = 0;
    for (; I < Text.size() && Text[I] >= '0' && Text[I] <= '9'; ++I, ++ExponentDigits) Plain.push_back(Text[I]);
    if (ExponentDigits == 0) return false;
  }
  if (I != Text.size()) return false;
  double Parsed = 0;
  const auto [End, Error] = std::from_chars(Plain.data(), Plain.data() + Plain.size(), Parsed);
  if (Error != std::errc() || End != Plain.data() + Plain.size() || !std::isfinite(Parsed)) return false;
  Value = Parsed;
  return true;
}

}  // namespace kelvo
