// The identity service's password sign-in, with the real service's reply members and error
// envelope. Served at the real path and under the emulator's host prefix.
#include "cloudsim/SimCore.h"

namespace kelvo::cloudsim {

namespace {

constexpr char JsonType[] = "application/json; charset=UTF-8";

// {"error": {"code": 400, "message": M, "errors": [{"message": M, "domain": "global", "reason": R}]}}
void ReplyError(httplib::Response& Res, int Code, const std::string& Message, const std::string& Reason = "invalid",
                const std::string& Status = "") {
  nlohmann::ordered_json Error = {{"code", Code},
                                  {"message", Message},
                                  {"errors", {{{"message", Message}, {"domain", "global"}, {"reason", Reason}}}}};
  if (!Status.empty()) Error["status"] = Status;
  Res.status = Code;
  Res.set_content(nlohmann::ordered_json({{"error", Error}}).dump(2) + "\n", JsonType);
}

std::string TextMember(const nlohmann::json& Body, const char* Name) {
  auto It = Body.find(Name);
  return It != Body.end() && It->is_string() ? It->get<std::string>() : std::string();
}

void SignInWithPassword(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  std::string ApiKey, ExpiresIn;
  int Lifetime;
  {
    std::lock_guard Lock(S.Mutex);
    ApiKey = S.ApiKey;
    Lifetime = S.TokenLifetimeSeconds;
    ExpiresIn = S.ExpiresInText ? *S.ExpiresInText : std::to_string(Lifetime);
  }
  const std::string Key = Req.get_param_value("key");
  if (Key.empty()) {
    nlohmann::ordered_json Error = {{"code", 403},
                                    {"message",
                                     "Method doesn't allow unregistered callers (callers without established "
                                     "identity). Please use API Key or other form of API consumer identity to call "
                                     "this API."},
                                    {"status", "PERMISSION_DENIED"}};
    Res.status = 403;
    Res.set_content(nlohmann::ordered_json({{"error", Error}}).dump(2) + "\n", JsonType);
    return;
  }
  if (!ApiKey.empty() && Key != ApiKey)
    return ReplyError(Res, 400, "API key not valid. Please pass a valid API key.", "badRequest", "INVALID_ARGUMENT");

  const auto Body = nlohmann::json::parse(Req.body, nullptr, false);
  if (Body.is_discarded() || !Body.is_object())
    return ReplyError(Res, 400, "Invalid JSON payload received. Unexpected token.", "badRequest", "INVALID_ARGUMENT");

  const std::string Email = TextMember(Body, "email");
  const std::string Password = TextMember(Body, "password");
  if (Email.empty() || Email.find('@') == std::string::npos) return ReplyError(Res, 400, "INVALID_EMAIL");
  if (Password.empty()) return ReplyError(Res, 400, "MISSING_PASSWORD");
  const auto User = S.FindUser(Email);
  if (!User) return ReplyError(Res, 400, "EMAIL_NOT_FOUND");
  if (User->Disabled) return ReplyError(Res, 400, "USER_DISABLED");
  if (User->Password != Password) return ReplyError(Res, 400, "INVALID_PASSWORD");

  nlohmann::ordered_json Reply = {{"kind", "identitytoolkit#VerifyPasswordResponse"},
                                  {"localId", User->LocalId},
                                  {"email", User->Email},
                                  {"displayName", User->DisplayName},
                                  {"idToken", S.IssueToken(*User)},
                                  {"registered", true},
                                  {"refreshToken", "AMf-v" + Base64Url(RandomBytes(150))},
                                  {"expiresIn", ExpiresIn}};
  Res.status = 200;
  Res.set_content(Reply.dump(2) + "\n", JsonType);
}

}  // namespace

void AddIdentityService(TCloudSim::TState& State) {
  State.AddRoute(
      "POST", R"(^(/identitytoolkit\.googleapis\.com)?/v1/accounts:signInWithPassword$)",
      [&State](const httplib::Request& Req, httplib::Response& Res) { SignInWithPassword(State, Req, Res); });
}

}  // namespace kelvo::cloudsim
