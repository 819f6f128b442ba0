#pragma once
// The program's one JSON writer: compact, pure ASCII. Escapes \" \\ \/ \b \t \n \f \r, every other
// character below 32 and every character from 128 up as \u + four upper-case hex digits of its
// UTF-16 code unit (surrogate pairs above U+FFFF). Invalid UTF-8 bytes are written as U+FFFD.
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kelvo {

std::string ToAsciiJson(const nlohmann::ordered_json& Value);
// Appends one JSON string literal (with its quotes) for a UTF-8 text.
void AppendAsciiJsonString(std::string& Out, std::string_view Utf8);

}  // namespace kelvo
