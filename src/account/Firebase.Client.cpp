#include "account/Firebase.Client.h"

#include <nlohmann/json.hpp>

#include "core/TextRules.h"

namespace kelvo {

TFirebaseClient::TFirebaseClient(const TFirebaseConfig& Config)
    : FConfig(Config), FHTTP(std::make_unique<THttpClient>()) {}

std::string TFirebaseClient::BuildUrl(const std::string& Path) const {
  const std::string Separator = StartsText(Path, "/") ? "" : "/";
  std::string Base = FConfig.BaseURL;
  if (EndsText(Base, "/")) Base.pop_back();
  std::string Node = Path;
  std::string Query;
  if (const size_t Mark = Path.find('?'); Mark != std::string::npos) {
    Node = Path.substr(0, Mark);
    Query = Path.substr(Mark);
  }
  std::string Url = Base + Separator + Node + ".json" + Query;
  if (!FAuthToken.empty()) Url += (Url.find('?') != std::string::npos ? "&auth=" : "?auth=") + FAuthToken;
  return Url;
}

std::string TFirebaseClient::Get(const std::string& Path) {
  const THttpResponse Reply = FHTTP->Get(EscapeUnsafeUrlBytes(BuildUrl(Path)), {{"Accept", "application/json"}});
  FLastStatus = Reply.Status;
  return Reply.Text();
}

bool IsRefusedTokenReply(int32_t Status, std::string_view Reply, std::string& Message) {
  Message.clear();
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

}  // namespace kelvo
