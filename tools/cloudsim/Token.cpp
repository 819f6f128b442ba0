// Google's OAuth token endpoint, refresh grant only: POST /token with a form-encoded body. Access
// tokens it issues are what the Drive accepts; they expire on the server's clock.
#include "cloudsim/SimCore.h"

namespace kelvo::cloudsim {

namespace {

constexpr char JsonType[] = "application/json; charset=utf-8";

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

// application/x-www-form-urlencoded: "+" is a blank, "%XX" a byte. False for a broken escape.
bool FormDecode(const std::string& Text, std::string& Out) {
  Out.clear();
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '+') {
      Out += ' ';
    } else if (Text[I] == '%') {
      if (I + 2 >= Text.size()) return false;
      const int High = HexValue(Text[I + 1]), Low = HexValue(Text[I + 2]);
      if (High < 0 || Low < 0) return false;
      Out += static_cast<char>(High * 16 + Low);
      I += 2;
    } else {
      Out += Text[I];
    }
  }
  return true;
}

// The form's fields; the first occurrence of a name wins. False when the body is not a valid form.
bool ParseForm(const std::string& Body, std::map<std::string, std::string>& Fields) {
  Fields.clear();
  size_t Start = 0;
  while (Start <= Body.size()) {
    size_t End = Body.find('&', Start);
    if (End == std::string::npos) End = Body.size();
    const std::string Pair = Body.substr(Start, End - Start);
    if (!Pair.empty()) {
      const size_t Eq = Pair.find('=');
      std::string Name, Value;
      if (!FormDecode(Pair.substr(0, Eq), Name)) return false;
      if (Eq != std::string::npos && !FormDecode(Pair.substr(Eq + 1), Value)) return false;
      Fields.emplace(std::move(Name), std::move(Value));
    }
    Start = End + 1;
  }
  return true;
}

void ReplyError(httplib::Response& Res, int Status, const std::string& Error, const std::string& Description) {
  Res.status = Status;
  Res.set_content(nlohmann::ordered_json({{"error", Error}, {"error_description", Description}}).dump(2), JsonType);
}

void Refresh(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  std::map<std::string, std::string> Form;
  const std::string ContentType = AsciiLowerCopy(Req.get_header_value("Content-Type"));
  if (ContentType.rfind("application/x-www-form-urlencoded", 0) != 0 || !ParseForm(Req.body, Form))
    return ReplyError(Res, 400, "invalid_request", "Invalid request body: expected a form-encoded body.");
  auto Field = [&Form](const char* Name) {
    auto It = Form.find(Name);
    return It == Form.end() ? std::string() : It->second;
  };
  const std::string GrantType = Field("grant_type");
  if (GrantType != "refresh_token")
    return ReplyError(Res, 400, "unsupported_grant_type", "Invalid grant_type: " + GrantType);
  const std::string ClientId = Field("client_id");
  if (ClientId.empty()) return ReplyError(Res, 400, "invalid_request", "Could not determine client ID from request.");
  const std::string RefreshToken = Field("refresh_token");
  if (RefreshToken.empty()) return ReplyError(Res, 400, "invalid_request", "Missing required parameter: refresh_token");

  TTokenReplyOptions Options;
  {
    std::lock_guard Lock(S.Mutex);
    auto It = S.RefreshTokens.find(RefreshToken);
    if (It == S.RefreshTokens.end()) return ReplyError(Res, 400, "invalid_grant", "Token has been expired or revoked.");
    if (!It->second.empty() && It->second != ClientId)
      return ReplyError(Res, 401, "unauthorized_client", "Unauthorized");
    Options = S.TokenReply;
  }

  nlohmann::ordered_json Reply;
  Reply["access_token"] = S.IssueAccessToken(Options.LifetimeSeconds);
  if (Options.SendExpiresIn) {
    if (Options.ExpiresInText)
      Reply["expires_in"] = *Options.ExpiresInText;
    else
      Reply["expires_in"] = Options.LifetimeSeconds;
  }
  if (Options.RotateRefreshToken) {
    const std::string Next = "1//0" + Base64Url(RandomBytes(75));
    {
      std::lock_guard Lock(S.Mutex);
      S.RefreshTokens[Next] = S.RefreshTokens[RefreshToken];
    }
    Reply["refresh_token"] = Next;
  }
  Reply["scope"] = "https://www.googleapis.com/auth/drive";
  Reply["token_type"] = "Bearer";
  Res.status = 200;
  Res.set_content(Reply.dump(2), JsonType);
}

}  // namespace

std::string TCloudSim::TState::IssueAccessToken(int LifetimeSeconds) {
  const TSimTime IssuedAt = Now();
  // Shaped like Google's access tokens ("ya29." and about 200 characters).
  const std::string Token = "ya29." + Base64Url(RandomBytes(150));
  std::lock_guard Lock(Mutex);
  if (LifetimeSeconds < 0) LifetimeSeconds = TokenReply.LifetimeSeconds;
  AccessTokens[Token] = IssuedAt + std::chrono::seconds(LifetimeSeconds);
  return Token;
}

bool TCloudSim::TState::AccessTokenValid(const std::string& Token) {
  const TSimTime At = Now();
  std::lock_guard Lock(Mutex);
  auto It = AccessTokens.find(Token);
  return It != AccessTokens.end() && At < It->second;
}

void AddTokenService(TCloudSim::TState& State) {
  State.AddRoute("POST", "^/token$",
                 [&State](const httplib::Request& Req, httplib::Response& Res) { Refresh(State, Req, Res); });
}

std::string TCloudSim::TokenUrl() const { return BaseUrl() + GoogleTokenPath; }

void TCloudSim::AddRefreshToken(const std::string& RefreshToken, const std::string& ClientId) {
  std::lock_guard Lock(FState->Mutex);
  FState->RefreshTokens[RefreshToken] = ClientId;
}

void TCloudSim::RemoveRefreshToken(const std::string& RefreshToken) {
  std::lock_guard Lock(FState->Mutex);
  FState->RefreshTokens.erase(RefreshToken);
}

void TCloudSim::SetTokenReplyOptions(TTokenReplyOptions Options) {
  std::lock_guard Lock(FState->Mutex);
  FState->TokenReply = std::move(Options);
}

std::string TCloudSim::IssueAccessToken(int LifetimeSeconds) { return FState->IssueAccessToken(LifetimeSeconds); }

void TCloudSim::RevokeAccessTokens() {
  std::lock_guard Lock(FState->Mutex);
  FState->AccessTokens.clear();
}

}  // namespace kelvo::cloudsim
