#include "core/TextFormat.h"

namespace kelvo {

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

}  // namespace kelvo
