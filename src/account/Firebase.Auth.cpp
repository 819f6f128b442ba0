#include "account/Firebase.Auth.h"

#include "core/AsciiJson.h"
#include "core/Endpoints.h"
#include "core/TextFormat.h"

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;

// A member's value as text: strings as they are, numbers and Booleans as their literal, null empty.
std::string MemberText(const Json& Object, const char* Name) {
  auto It = Object.find(Name);
  if (It == Object.end()) throw EFirebaseReplyError(Fmt("Firebase oturum yanitinda \"%s\" alani yok.", Name));
  if (It->is_string()) return It->get<std::string>();
  if (It->is_null()) return {};
  if (It->is_number() || It->is_boolean()) return It->dump();
  throw EFirebaseReplyError(Fmt("Firebase oturum yanitinda \"%s\" alani metin degil.", Name));
}

}  // namespace

TFirebaseAuth::TFirebaseAuth(const TFirebaseConfig& Config) : FConfig(Config), FHTTP(std::make_unique<THttpClient>()) {}

TAuthResponse TFirebaseAuth::SignIn(const std::string& Email, const std::string& Password) {
  TAuthResponse Result;
  Json Request = Json::object();
  Request["email"] = Email;
  Request["password"] = Password;
  Request["returnSecureToken"] = true;

  // The address is resolved per sign-in (environment, config.ini, built-in). The key goes into the
  // query as it is; Google API keys hold only URL-safe characters.
  const std::string SignInUrl = GetFirebaseAuthUrl();
  const char Separator = SignInUrl.find('?') == std::string::npos ? '?' : '&';
  const std::string Url = SignInUrl + Separator + "key=" + FConfig.ApiKey;
  const THttpResponse Reply = FHTTP->Post(Url, ToAsciiJson(Request), {{"Content-Type", "application/json"}});

  const Json Body = Json::parse(Reply.Text(), nullptr, false);
  if (Body.is_discarded()) return Result;
  if (!Body.is_object()) throw EFirebaseReplyError("Firebase oturum yaniti bir JSON nesnesi degil.");

  if (Reply.Status == 200) {
    Result.Success = true;
    Result.IdToken = MemberText(Body, "idToken");
    Result.Email = MemberText(Body, "email");
    Result.RefreshToken = MemberText(Body, "refreshToken");
    Result.ExpiresIn = MemberText(Body, "expiresIn");
    Result.LocalId = MemberText(Body, "localId");
    return Result;
  }
  auto Error = Body.find("error");
  if (Error != Body.end()) {
    if (!Error->is_object() || !Error->contains("message"))
      throw EFirebaseReplyError("Firebase hata yaniti beklenen bicimde degil.");
    Result.ErrorMessage = MemberText(*Error, "message");
  }
  return Result;
}

}  // namespace kelvo
