#include "core/TextFormat.h"

#include <cmath>

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

}  // namespace kelvo
