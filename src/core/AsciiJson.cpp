#include "core/AsciiJson.h"

#include <cstdint>
#include <cstdio>

#include "core/Utf8.h"

namespace kelvo {

namespace {

void AppendUnit(std::string& Out, uint32_t Unit) {
  char Buf[8];
  std::snprintf(Buf, sizeof Buf, "\\u%04X", static_cast<unsigned>(Unit & 0xFFFF));
  Out += Buf;
}

void AppendCodePoint(std::string& Out, uint32_t Cp) {
  if (Cp >= 0x10000) {
    Cp -= 0x10000;
    AppendUnit(Out, 0xD800 + (Cp >> 10));
    AppendUnit(Out, 0xDC00 + (Cp & 0x3FF));
  } else {
    AppendUnit(Out, Cp);
  }
}

void AppendValue(std::string& Out, const nlohmann::ordered_json& V) {
  switch (V.type()) {
    case nlohmann::json::value_t::object: {
      Out += '{';
      bool First = true;
      for (auto It = V.begin(); It != V.end(); ++It) {
        if (!First) Out += ',';
        First = false;
        AppendAsciiJsonString(Out, It.key());
        Out += ':';
        AppendValue(Out, It.value());
      }
      Out += '}';
      break;
    }
    case nlohmann::json::value_t::array: {
      Out += '[';
      bool First = true;
      for (const auto& E : V) {
        if (!First) Out += ',';
        First = false;
        AppendValue(Out, E);
      }
      Out += ']';
      break;
    }
    case nlohmann::json::value_t::string:
      AppendAsciiJsonString(Out, V.get_ref<const std::string&>());
      break;
    default:
      // Numbers, booleans and null are ASCII already.
      Out += V.dump();
      break;
  }
}

}  // namespace

void AppendAsciiJsonString(std::string& Out, std::string_view Utf8) {
  Out += '"';
  for (size_t I = 0; I < Utf8.size();) {
    const auto C = static_cast<unsigned char>(Utf8[I]);
    if (C < 0x80) {
      switch (C) {
        case '"':
          Out += "\\\"";
          break;
        case '\\':
          Out += "\\\\";
          break;
        case '/':
          Out += "\\/";
          break;
        case '\b':
          Out += "\\b";
          break;
        case '\t':
          Out += "\\t";
          break;
        case '\n':
          Out += "\\n";
          break;
        case '\f':
          Out += "\\f";
          break;
        case '\r':
          Out += "\\r";
          break;
        default:
          if (C < 0x20)
            AppendUnit(Out, C);
          else
            Out += static_cast<char>(C);
      }
      ++I;
      continue;
    }
    char32_t Cp = 0;
    const size_t Len = DecodeUtf8(Utf8, I, Cp);
    if (Len == 0) {
      AppendUnit(Out, 0xFFFD);
      ++I;
    } else {
      AppendCodePoint(Out, Cp);
      I += Len;
    }
  }
  Out += '"';
}

std::string ToAsciiJson(const nlohmann::ordered_json& Value) {
  std::string Out;
  AppendValue(Out, Value);
  return Out;
}

}  // namespace kelvo
