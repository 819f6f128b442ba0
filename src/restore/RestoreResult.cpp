#include "restore/RestoreResult.h"

#include "core/FileIO.h"
#include "core/TextRules.h"
#include "restore/uRestoreEngine.h"

namespace kelvo {

namespace {

constexpr char kUnreadable[] = "Restore script sonucu okunamadi.";
constexpr char kFailedWithoutMessage[] = "Restore script basarisiz oldu.";

// The value of a member as text: strings as they are, true/false and numbers as written, anything
// else (null, objects, arrays) empty.
std::string MemberText(const nlohmann::ordered_json& Object, const char* Name) {
  const auto It = Object.find(Name);
  if (It == Object.end()) return {};
  if (It->is_string()) return It->get<std::string>();
  if (It->is_boolean() || It->is_number()) return It->dump();
  return {};
}

// The parser needs no stack for nesting, but copying a parsed value does (an ordered object copies
// its members when it grows), so a result nested deeper than any real one is refused unparsed.
constexpr int kMaxDepth = 512;

bool NestsTooDeep(std::string_view Text) {
  int Depth = 0;
  bool InString = false;
  bool Escaped = false;
  for (const char C : Text) {
    if (InString) {
      if (Escaped)
        Escaped = false;
      else if (C == '\\')
        Escaped = true;
      else if (C == '"')
        InString = false;
    } else if (C == '"') {
      InString = true;
    } else if (C == '[' || C == '{') {
      if (++Depth > kMaxDepth) return true;
    } else if (C == ']' || C == '}') {
      --Depth;
    }
  }
  return false;
}

}  // namespace

bool ReadRestoreResult(std::string_view Text, nlohmann::ordered_json& Result, std::string& ResultMessage) {
  Result = nullptr;
  ResultMessage.clear();
  if (Text.substr(0, 3) == std::string_view(Utf8Bom)) Text.remove_prefix(3);
  if (Text.size() > MaxRestoreResultSize || NestsTooDeep(Text)) throw ERestoreScriptError(kUnreadable);

  nlohmann::ordered_json Parsed = nlohmann::ordered_json::parse(Text.begin(), Text.end(), nullptr, false);
  // Anything but an object (an array, a bare string, invalid UTF-8) is no result either.
  if (Parsed.is_discarded() || !Parsed.is_object()) throw ERestoreScriptError(kUnreadable);
  Result = std::move(Parsed);

  ResultMessage = MemberText(Result, "message");
  const bool Success = SameText(MemberText(Result, "success"), "true");
  if (!Success && ResultMessage.empty()) ResultMessage = kFailedWithoutMessage;
  return Success;
}

}  // namespace kelvo
