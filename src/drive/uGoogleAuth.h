#pragma once
// The Google token store: one set of OAuth tokens for the Drive the signed-in account uses, kept in
// the protected cache file "syc.dat" and renewed through the token endpoint's refresh grant when
// the access token has expired or is about to. It never obtains a first token itself: the central
// token directory copies the account's tokens into the cache file at sign-in.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/DateTimes.h"

namespace kelvo {

struct TTokenData {
  std::string AccessToken;
  std::string RefreshToken;
  TDateTime ExpiresAt = 0;  // local time; 0 when nothing is known
};

class TGoogleAuth {
 public:
  // Port is kept for the interactive authorisation of the backup side; no operation here uses it.
  TGoogleAuth(std::string ClientID, std::string ClientSecret, int32_t Port, bool InteractiveMessages);

  // Replaces the token set with the file's content (an empty set when the file is missing). A plain
  // file is rewritten protected on the spot; file and protection errors of that rewrite propagate.
  void LoadTokens(const std::string& Path);
  // Writes the token set to Path (replacing the file); errors propagate.
  void SaveTokens(const std::string& Path);
  void SetTokenData(const TTokenData& Value);
  // A usable access token, refreshed first when it expires within five minutes or when only a
  // refresh token is held; empty when there is none or the refresh failed.
  std::string GetValidToken();
  // Refreshes the access token now, whatever its expiry says (the service refused it); false when
  // that failed.
  bool RenewAccessToken();
  // The last refresh was refused for good ("invalid_grant": the refresh token was revoked or has
  // expired); only a new link made on the backup side helps then.
  bool RefreshRefused() const { return FRefreshRefused; }

  const TTokenData& GetTokenData() const { return FTokenData; }
  const std::string& GetTokenPath() const { return FTokenPath; }
  bool GetInteractiveMessages() const { return FInteractiveMessages; }

 private:
  bool IsTokenExpired(const TTokenData& Data) const;
  bool RefreshAccessToken();

  std::string FClientID;
  std::string FClientSecret;
  int32_t FPort = 0;
  TTokenData FTokenData;
  std::string FTokenPath;
  bool FInteractiveMessages = false;
  bool FRefreshRefused = false;
};

// The cache file's plain text: "AccessToken=", "RefreshToken=", "ExpiresAt=" lines ended by CR LF,
// a line left out when its value is empty; the expiry in the regional short date and long time
// (the date alone at exactly midnight).
std::string FormatGoogleTokenText(const TTokenData& Data);
// The expiry as the cache file and the log write it.
std::string FormatTokenExpiry(TDateTime Value);

// Reads the bytes of a cache file (a byte-order mark is skipped). Protected text is unprotected;
// text without the protected prefix is read as it is and Plain is set, so the caller rewrites the
// file protected. Key names match without regard to ASCII case, the value is everything after the
// first "=", lines without "=" are ignored. ExpiresAt is now when the file gives none or one that
// does not parse. False when protected text cannot be unprotected (Data then has no tokens).
// Never raises.
bool ReadGoogleTokenFile(std::string_view Bytes, TTokenData& Data, bool& Plain);

// Where texts meant for the user go when a holder has interactive messages (this program creates
// none; a window could show them in a message box). Unset: they are dropped.
using TUserMessageSink = std::function<void(const std::string& Text)>;
void SetGoogleUserMessageSink(TUserMessageSink Sink);
void ShowGoogleUserMessage(const std::string& Text);

}  // namespace kelvo
