#include "account/uFirebaseServiceAuth.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>

#include "account/Firebase.Client.h"
#include "core/AsciiJson.h"
#include "core/Base64.h"
#include "core/Endpoints.h"
#include "core/FileIO.h"
#include "core/TextRules.h"
#include "core/Utf8.h"
#include "core/uAppConfig.h"
#include "core/uLogger.h"
#include "platform/Clock.h"
#include "platform/MachineProtection.h"

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;

// The token is retired this long before the identity service's own expiry.
constexpr int32_t ExpiryMarginSeconds = 300;
constexpr int32_t DefaultLifetimeSeconds = 3600;

// Process-wide token cache. All callers run on the GUI thread; the lock only keeps a stray caller
// from tearing the two values apart.
std::mutex GCacheMutex;
std::string GCachedToken;
// An instant, not a local date-time: a clock change or a daylight-saving fall-back must not keep a
// token an hour too long.
std::chrono::system_clock::time_point GCachedExpiry{};

void SetCache(const std::string& Token, std::chrono::system_clock::time_point Expiry) {
  std::lock_guard Lock(GCacheMutex);
  GCachedToken = Token;
  GCachedExpiry = Expiry;
}

// The cached token when it is set and not yet expired, else empty.
std::string ValidCachedToken() {
  std::lock_guard Lock(GCacheMutex);
  return !GCachedToken.empty() && platform::Now() < GCachedExpiry ? GCachedToken : std::string();
}

// The file's local expiry as an instant; anything outside the years 1900 to 9999 has passed.
std::chrono::system_clock::time_point ExpiryInstant(TDateTime Local) {
  if (!(Local > 1 && Local < 2958466)) return {};
  return TimePointFromLocalDateTime(Local);
}

std::string Utf16ToUtf8(std::string_view Bytes, bool BigEndian) {
  std::string Out;
  for (size_t I = 0; I + 1 < Bytes.size(); I += 2) {
    const auto B0 = static_cast<uint8_t>(Bytes[I]), B1 = static_cast<uint8_t>(Bytes[I + 1]);
    uint32_t Unit = BigEndian ? (B0 << 8 | B1) : (B1 << 8 | B0);
    if (Unit >= 0xD800 && Unit <= 0xDBFF && I + 3 < Bytes.size()) {
      const auto C0 = static_cast<uint8_t>(Bytes[I + 2]), C1 = static_cast<uint8_t>(Bytes[I + 3]);
      const uint32_t Low = BigEndian ? (C0 << 8 | C1) : (C1 << 8 | C0);
      if (Low >= 0xDC00 && Low <= 0xDFFF) {
        AppendUtf8(Out, 0x10000 + ((Unit - 0xD800) << 10) + (Low - 0xDC00));
        I += 2;
        continue;
      }
    }
    if (Unit >= 0xD800 && Unit <= 0xDFFF) Unit = 0xFFFD;
    AppendUtf8(Out, Unit);
  }
  return Out;
}

// The file's text: a byte-order mark selects the encoding; otherwise UTF-8, and the bytes as ANSI
// (Latin-1) when they are not UTF-8. Only the form of the sequences is asked for: a file that older
// tools wrote with surrogates or overlong forms in it is still read as UTF-8.
std::string DecodeFileText(std::string_view Bytes) {
  if (Bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(Bytes.substr(3));
  if (Bytes.substr(0, 2) == "\xFF\xFE") return Utf16ToUtf8(Bytes.substr(2), false);
  if (Bytes.substr(0, 2) == "\xFE\xFF") return Utf16ToUtf8(Bytes.substr(2), true);
  if (IsUtf8(Bytes, TUtf8Rule::Form)) return std::string(Bytes);
  std::string Out;
  for (unsigned char C : Bytes) AppendUtf8(Out, C);
  return Out;
}

// Base64 (line breaks ignored), then machine-scope unprotection; any failure gives empty text.
std::string UnprotectToken(const std::string& Protected) {
  if (Protected.empty()) return {};
  std::vector<uint8_t> Blob, Plain;
  if (!Base64Decode(Protected, Blob) || !platform::UnprotectMachineData(Blob, Plain)) return {};
  return std::string(Plain.begin(), Plain.end());
}

}  // namespace

void ResetServiceTokenCacheForTests() { SetCache("", {}); }

bool ReadServiceTokenFile(std::string_view Bytes, std::string& Token, TDateTime& Expiry) {
  Token.clear();
  Expiry = 0;
  const Json File = Json::parse(DecodeFileText(Bytes), nullptr, false);
  if (File.is_discarded() || !File.is_object()) return false;
  TDateTime Value = 0;
  if (auto It = File.find("expiry"); It != File.end() && !It->is_null()) {
    if (!It->is_number()) return false;
    Value = It->get<double>();
    if (!std::isfinite(Value)) return false;
  }
  std::string Protected;
  if (auto It = File.find("token"); It != File.end() && It->is_string()) Protected = It->get<std::string>();
  Expiry = Value;
  Token = UnprotectToken(Protected);
  return true;
}

std::string TFirebaseServiceAuth::GetServiceTokenPath() {
  return JoinPath(TAppConfig::Instance().GetConfigDir(), ServiceTokenFileName);
}

std::string TFirebaseServiceAuth::ProtectServiceToken(const std::string& Token) {
  if (Token.empty()) return {};
  try {
    return Base64EncodeWrapped(
        platform::ProtectMachineData(std::vector<uint8_t>(Token.begin(), Token.end()), ServiceTokenDescription));
  } catch (const std::exception& E) {
    // The file then holds no usable token and the next start signs in again.
    LogException("Servis oturumu korunamadi", E);
    return {};
  }
}

std::string TFirebaseServiceAuth::UnprotectServiceToken(const std::string& Protected) {
  return UnprotectToken(Protected);
}

bool TFirebaseServiceAuth::LoadServiceToken() {
  try {
    const std::string Path = GetServiceTokenPath();
    if (!FileExists(Path)) return false;
    std::string Token;
    TDateTime Expiry = 0;
    if (!ReadServiceTokenFile(ReadFileBytes(Path), Token, Expiry)) return false;
    const auto At = ExpiryInstant(Expiry);
    SetCache(Token, At);
    return !Token.empty() && platform::Now() < At;
  } catch (const std::exception& E) {
    LogException("Kayitli servis oturumu okunamadi", E);
    return false;
  }
}

void TFirebaseServiceAuth::SaveServiceToken(const std::string& Token, int32_t Lifetime) {
  const auto At = platform::Now() + std::chrono::seconds(Lifetime - ExpiryMarginSeconds);
  SetCache(Token, At);
  Json File = Json::object();
  File["token"] = ProtectServiceToken(Token);
  // The file keeps its local date-time form.
  File["expiry"] = LocalDateTimeFromTimePoint(At);
  const std::string Path = GetServiceTokenPath();
  WriteFileAtomic(Path, ToAsciiJson(File), SecretFileModeFor(Path));
}

bool TFirebaseServiceAuth::GetAuthenticatedManager(std::unique_ptr<TFirebaseManager>& Manager,
                                                   std::string& ErrorMessage) {
  Manager.reset();
  ErrorMessage.clear();
  try {
    auto Candidate = std::make_unique<TFirebaseManager>(BuiltInFirebaseApiKey(), GetFirebaseDatabaseUrl(), "");
    std::string Token = ValidCachedToken();
    if (Token.empty() && LoadServiceToken()) Token = ValidCachedToken();
    if (!Token.empty()) {
      Candidate->Client().FAuthToken = Token;
      Manager = std::move(Candidate);
      return true;
    }
    const TAuthResponse Reply = Candidate->Login(BuiltInServiceLogin(), BuiltInServicePassword());
    if (!Reply.Success) {
      ErrorMessage = "Firebase baglantisi basarisiz: " + Reply.ErrorMessage;
      return false;
    }
    int32_t Lifetime = 0;
    if (!TryStrToInt(Reply.ExpiresIn, Lifetime)) Lifetime = DefaultLifetimeSeconds;
    SaveServiceToken(Reply.IdToken, Lifetime);
    Manager = std::move(Candidate);
    return true;
  } catch (const std::exception& E) {
    ErrorMessage = std::string("Firebase baglantisi kurulurken hata: ") + E.what();
    return false;
  }
}

void TFirebaseServiceAuth::DropServiceToken() {
  SetCache({}, {});
  std::error_code Ignored;
  std::filesystem::remove(GetServiceTokenPath(), Ignored);
}

bool TFirebaseServiceAuth::ReadNode(const std::string& Path, std::string& Reply, std::string& ErrorMessage) {
  Reply.clear();
  for (int Try = 1;; ++Try) {
    std::unique_ptr<TFirebaseManager> Manager;
    if (!GetAuthenticatedManager(Manager, ErrorMessage)) return false;
    Reply = Manager->Client().Get(Path);
    std::string Refusal;
    if (!IsRefusedTokenReply(Manager->Client().LastStatus(), Reply, Refusal)) return true;
    Reply.clear();
    DropServiceToken();
    if (Try == 2) {
      ErrorMessage = "Veritabani servis oturumunu reddetti: " + Refusal;
      LogErrorFmt("%s", ErrorMessage);
      return false;
    }
    LogWarnFmt("Veritabani servis tokenini reddetti (%s); servis hesabi yeniden oturum aciyor", Refusal);
  }
}

TServiceRead ReadServiceNode(const std::string& Path, const std::function<bool(std::string_view)>& Read,
                             std::string_view UnreadableMessage, std::string_view ErrorPrefix, std::string& Message) {
  Message.clear();
  try {
    std::string Reply;
    if (!TFirebaseServiceAuth::ReadNode(Path, Reply, Message)) return TServiceRead::Failed;
    if (IsNullNodeReply(Reply)) return TServiceRead::Missing;
    if (Read(Reply)) return TServiceRead::Read;
    Message = UnreadableMessage;
    return TServiceRead::Failed;
  } catch (const std::exception& E) {
    Message = std::string(ErrorPrefix) + E.what();
    return TServiceRead::Failed;
  }
}

}  // namespace kelvo
