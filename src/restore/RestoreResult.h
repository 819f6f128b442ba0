#pragma once
// Reading a restore script's result: a JSON object with "success" and "message".
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kelvo {

// Larger result files are refused unread: a result is a flag and a message.
inline constexpr size_t MaxRestoreResultSize = 4 * 1024 * 1024;

// Parses Text (a leading UTF-8 byte-order mark is skipped) into Result and returns the success flag:
// "success" is a JSON true or a string equal to "true" ignoring case. ResultMessage is "message" as
// text (empty when absent or null), or "Restore script basarisiz oldu." for a failure without one.
// Raises ERestoreScriptError("Restore script sonucu okunamadi.") when Text is not a JSON object.
bool ReadRestoreResult(std::string_view Text, nlohmann::ordered_json& Result, std::string& ResultMessage);

}  // namespace kelvo
