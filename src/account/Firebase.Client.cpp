#include "account/Firebase.Client.h"

#include <nlohmann/json.hpp>

#include "core/TextRules.h"

namespace kelvo {

TFirebaseClient::TFirebaseClient(const TFirebaseConfig& Config)
    : FConfig(Config), FHTTP(std::make_unique<THttpClient>()) {}

std::string TFirebaseClient::BuildUrl(const std::string& Path) const {
  const std::string Separator = StartsText(Path, "/") ? "" : "/";
  // The base may carry parameters of its own (an emulator's "?ns=<database>"); they go with every request.
  std::string Base = FConfig.BaseURL;
  std::string Parameters;
  if (const size_t Mark = Base.find('?'); Mark != std::string::npos) {
    Parameters = Base.substr(Mark + 1);
    Base.erase(Mark);
  }
  if (EndsText(Base, "/")) Base.pop_back();
  std::string Node = Path;
  if (const size_t Mark = Path.find('?'); Mark != std::string::npos) {
    Node = Path.substr(0, Mark);
    Parameters += (Parameters.empty() ? "" : "&") + Path.substr(Mark + 1);
  }
  if (!FAuthToken.empty()) Parameters += (Parameters.empty() ? "auth=" : "&auth=") + FAuthToken;
  return Base + Separator + Node + ".json" + (Parameters.empty() ? "" : "?" + Parameters);
}

std::string TFirebaseClient::Get(const std::string& Path) {
  const THttpResponse Reply = FHTTP->Get(EscapeUnsafeUrlBytes(BuildUrl(Path)), {{"Accept", "application/json"}});
  FLastStatus = Reply.Status;
  return Reply.Text();
}

bool IsRefusedTokenReply(int32_t Status, std::string_view Reply, std::string& Message) {
  Message.clear();
  // Only an error status can be a refusal. A successful reply is never parsed here: it may be the
  // whole account directory, tens of megabytes read once more by the caller's streaming reader.
  if (Status < 400) return false;
  const auto Json = nlohmann::ordered_json::parse(Reply, nullptr, false);
  if (Json.is_object())
    if (const auto Error = Json.find("error"); Error != Json.end() && Error->is_string())
      Message = Error->get<std::string>();
  const bool Refused = Status == 401 || Status == 403 ||
                       (Status >= 400 && (FindText(Message, "auth token") != std::string::npos ||
                                          FindText(Message, "permission denied") != std::string::npos));
  if (Refused && Message.empty()) Message = "HTTP " + std::to_string(Status);
  return Refused;
}

bool IsNullNodeReply(std::string_view Reply) {
  const std::string Trimmed = Trim(Reply);
  return Trimmed.empty() || SameText(Trimmed, "null");
}

bool IsDatabaseErrorReply(const TJsonTop& Top, TErrorReplyValue Value) {
  return Top.IsObject && Top.MemberCount == 1 && Top.FirstName == "error" &&
         (Value == TErrorReplyValue::Anything || !Top.FirstHoldsContainer);
}

}  // namespace kelvo
