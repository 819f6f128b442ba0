#include "drive/uGoogleAuth.h"

#include <cmath>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>

#include "core/Endpoints.h"
#include "core/FileIO.h"
#include "core/HttpClient.h"
#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "core/uSecureString.h"
#include "drive/FormUrlEncoding.h"
#include "platform/Clock.h"
#include "platform/Regional.h"

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;

// A token is renewed this long before it expires.
constexpr int64_t ExpiryMarginMs = 5 * 60 * 1000;
constexpr int32_t DefaultLifetimeSeconds = 3600;

std::mutex GSinkMutex;
TUserMessageSink GSink;

// The text of a reply member, whatever its JSON kind ("3599" for both 3599 and "3599").
std::string MemberText(const Json& Value) {
  if (Value.is_string()) return Value.get<std::string>();
  return Value.dump();
}

}  // namespace

void SetGoogleUserMessageSink(TUserMessageSink Sink) {
  std::lock_guard Lock(GSinkMutex);
  GSink = std::move(Sink);
}

void ShowGoogleUserMessage(const std::string& Text) {
  TUserMessageSink Sink;
  {
    std::lock_guard Lock(GSinkMutex);
    Sink = GSink;
  }
  if (Sink) Sink(Text);
}

std::string FormatTokenExpiry(TDateTime Value) {
  const TDateTimeParts P = DecodeDateTime(Value);
  if (P.Hour != 0 || P.Minute != 0 || P.Second != 0 || P.Millisecond != 0) return FormatRegionalDateTime(Value);
  // Exactly midnight: the date alone.
  std::tm T{};
  T.tm_year = P.Year - 1900;
  T.tm_mon = P.Month - 1;
  T.tm_mday = P.Day;
  T.tm_isdst = -1;
  char Buf[128];
  const size_t N = std::strftime(Buf, sizeof Buf, platform::GetRegionalSettings().ShortDateFormat.c_str(), &T);
  return std::string(Buf, N);
}

std::string FormatGoogleTokenText(const TTokenData& Data) {
  std::string Text;
  auto Line = [&Text](const char* Key, const std::string& Value) {
    if (!Value.empty()) Text += std::string(Key) + "=" + Value + "\r\n";
  };
  Line("AccessToken", Data.AccessToken);
  Line("RefreshToken", Data.RefreshToken);
  Line("ExpiresAt", FormatTokenExpiry(Data.ExpiresAt));
  return Text;
}

bool ReadGoogleTokenFile(std::string_view Bytes, TTokenData& Data, bool& Plain) {
  Data = {};
  Plain = false;
  const std::string Text = StripUtf8Bom(std::string(Bytes));
  std::string PlainText;
  bool Readable = true;
  if (!Text.empty() && !IsProtectedString(Text)) {
    Plain = true;
    PlainText = Text;
  } else if (!TryUnprotectString(Text, PlainText)) {
    PlainText.clear();
    Readable = false;
  }

  // The first line of each name counts.
  bool HaveAccess = false, HaveRefresh = false, HaveExpiry = false;
  std::string Expiry;
  size_t Start = 0;
  while (Start < PlainText.size()) {
    size_t End = PlainText.find('\n', Start);
    if (End == std::string::npos) End = PlainText.size();
    std::string Line = PlainText.substr(Start, End - Start);
    Start = End + 1;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    const size_t Eq = Line.find('=');
    if (Eq == std::string::npos) continue;
    const std::string Name = Line.substr(0, Eq);
    std::string Value = Line.substr(Eq + 1);
    if (!HaveAccess && SameText(Name, "AccessToken")) {
      Data.AccessToken = std::move(Value);
      HaveAccess = true;
    } else if (!HaveRefresh && SameText(Name, "RefreshToken")) {
      Data.RefreshToken = std::move(Value);
      HaveRefresh = true;
    } else if (!HaveExpiry && SameText(Name, "ExpiresAt")) {
      Expiry = std::move(Value);
      HaveExpiry = true;
    }
  }
  // Without a readable expiry the set counts as expired and is refreshed at first use.
  if (Expiry.empty() || !TryParseRegionalDateTime(Expiry, Data.ExpiresAt)) Data.ExpiresAt = Now();
  return Readable;
}

TGoogleAuth::TGoogleAuth(std::string ClientID, std::string ClientSecret, int32_t Port, bool InteractiveMessages)
    : FClientID(std::move(ClientID)),
      FClientSecret(std::move(ClientSecret)),
      FPort(Port),
      FInteractiveMessages(InteractiveMessages) {}

void TGoogleAuth::LoadTokens(const std::string& Path) {
  FTokenPath = Path;
  FTokenData = {};
  if (!FileExists(Path)) return;
  const std::string Bytes = ReadFileBytes(Path);
  TTokenData Data;
  bool Plain = false;
  const bool Readable = ReadGoogleTokenFile(Bytes, Data, Plain);
  // A plain file is stored protected at once; failing that, the caller hears of it.
  if (Plain) WriteTextFileWithBom(Path, ProtectString(StripUtf8Bom(Bytes)), SecretFileModeFor(Path));
  if (!Readable) LogWarnFmt("Token dosyasi okunamadi veya bozuk: %s", Path);
  FTokenData = std::move(Data);
}

void TGoogleAuth::SaveTokens(const std::string& Path) {
  FTokenPath = Path;
  WriteTextFileWithBom(Path, ProtectString(FormatGoogleTokenText(FTokenData)), SecretFileModeFor(Path));
}

void TGoogleAuth::SetTokenData(const TTokenData& Value) { FTokenData = Value; }

bool TGoogleAuth::IsTokenExpired(const TTokenData& Data) const {
  // Compared as instants, not local date-times: across a daylight-saving fall-back the local
  // difference is an hour off.
  if (!(Data.ExpiresAt > 1 && Data.ExpiresAt < 2958466)) return true;
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(TimePointFromLocalDateTime(Data.ExpiresAt) -
                                                                          platform::Now());
  return Left.count() < ExpiryMarginMs;
}

std::string TGoogleAuth::GetValidToken() {
  if (FTokenData.AccessToken.empty() && FTokenData.RefreshToken.empty()) {
    if (FInteractiveMessages) ShowGoogleUserMessage("Token yüklü değil. Önce Yetkilendir butonuna tıklayın.");
    return {};
  }
  // A refresh token alone (the central directory may hold no access token) serves after one refresh.
  if (FTokenData.AccessToken.empty() || IsTokenExpired(FTokenData)) {
    LogInfo("Access token suresi doldu veya dolmak uzere, refresh deneniyor");
    if (!RefreshAccessToken()) {
      LogWarn("Refresh basarisiz, yeniden yetkilendirme gerekli");
      if (FInteractiveMessages)
        ShowGoogleUserMessage("Token süresi doldu ve yenilenemedi. Yeniden yetkilendirme gerekli.");
      return {};
    }
  }
  return FTokenData.AccessToken;
}

bool TGoogleAuth::RenewAccessToken() {
  LogInfo("Access token reddedildi, refresh deneniyor");
  return RefreshAccessToken();
}

bool TGoogleAuth::RefreshAccessToken() {
  FRefreshRefused = false;
  if (FTokenData.RefreshToken.empty()) {
    LogWarn("Refresh token yok, yenileme yapilamaz");
    return false;
  }
  const std::string Body = "client_id=" + FormUrlEncode(FClientID) + "&client_secret=" + FormUrlEncode(FClientSecret) +
                           "&refresh_token=" + FormUrlEncode(FTokenData.RefreshToken) + "&grant_type=refresh_token";
  try {
    THttpClient Http;
    const THttpResponse Response =
        Http.Post(GetGoogleTokenUrl(), Body, {{"Content-Type", "application/x-www-form-urlencoded"}});
    const std::string Text = Response.Text();
    LogDebugFmt("Refresh yaniti: HTTP %d", Response.Status);
    if (Response.Status != 200) {
      LogErrorFmt("Refresh hata: %s", Text);
      const Json Error = Json::parse(Text, nullptr, false);
      if (Error.is_object())
        if (const auto Code = Error.find("error"); Code != Error.end() && Code->is_string())
          FRefreshRefused = Code->get<std::string>() == "invalid_grant";
      return false;
    }
    const Json Reply = Json::parse(Text, nullptr, false);
    if (Reply.is_discarded() || !Reply.is_object()) return false;
    const auto Access = Reply.find("access_token");
    // An empty or non-text token would leave the holder with nothing it could ever refresh from.
    if (Access == Reply.end() || !Access->is_string() || Access->get<std::string>().empty()) return false;
    FTokenData.AccessToken = Access->get<std::string>();
    if (const auto ExpiresIn = Reply.find("expires_in"); ExpiresIn != Reply.end()) {
      int32_t Seconds = 0;
      if (!TryStrToInt(MemberText(*ExpiresIn), Seconds)) Seconds = DefaultLifetimeSeconds;
      FTokenData.ExpiresAt = LocalDateTimeFromTimePoint(platform::Now() + std::chrono::seconds(Seconds));
    }
    // A refresh token comes back only when the service rotates it; an empty one would lose the old.
    if (const auto Refresh = Reply.find("refresh_token");
        Refresh != Reply.end() && Refresh->is_string() && !Refresh->get<std::string>().empty())
      FTokenData.RefreshToken = Refresh->get<std::string>();
    if (!FTokenPath.empty()) SaveTokens(FTokenPath);
    LogInfoFmt("Access token yenilendi, yeni expires=%s", FormatTokenExpiry(FTokenData.ExpiresAt));
    return true;
  } catch (const std::exception& E) {
    LogException("Refresh istisna", E);
    return false;
  }
}

}  // namespace kelvo
