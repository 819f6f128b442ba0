#pragma once
// Reads of realtime-database nodes, authorised with an ID token.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "account/Firebase.Config.h"
#include "core/HttpClient.h"
#include "core/JsonRecords.h"

namespace kelvo {

class TFirebaseClient {
 public:
  explicit TFirebaseClient(const TFirebaseConfig& Config);
  TFirebaseClient(const TFirebaseClient&) = delete;
  TFirebaseClient& operator=(const TFirebaseClient&) = delete;

  // The node's JSON text, whatever the HTTP status (an error reply is returned like any other
  // body; a missing node is "null"). Transport failures raise EHttpError. Bytes that may not stand
  // in a URL are percent-encoded on the wire; reserved characters inside a node name ("?", "%",
  // "&", "/") are the caller's to encode (UrlEncode).
  std::string Get(const std::string& Path);
  // HTTP status of the last Get.
  int32_t LastStatus() const { return FLastStatus; }
  // base URL (without its final "/") + "/" + node + ".json" + query, then "auth=" + FAuthToken.
  std::string BuildUrl(const std::string& Path) const;

  // The ID token added to every request; empty: none. Set by TFirebaseManager::Login or directly.
  std::string FAuthToken;

 private:
  TFirebaseConfig FConfig;
  std::unique_ptr<THttpClient> FHTTP;
  int32_t FLastStatus = 0;
};

// A reply that refuses the request's ID token: status 401 or 403, or an error reply such as
// {"error" : "Permission denied"} or "Auth token is expired". Message is the database's own text.
bool IsRefusedTokenReply(int32_t Status, std::string_view Reply, std::string& Message);

// A reply that stands for no node: empty or "null" (blanks around it ignored).
bool IsNullNodeReply(std::string_view Reply);

// What the "error" member of the database's error reply may hold for a reader to take it as one.
enum class TErrorReplyValue : uint8_t {
  Anything,
  NoContainer,  // {"error": {...}} is no error reply but an ordinary node that has a member "error"
};
// The database's answer to a refused or invalid read, {"error": "..."} (whatever the HTTP status):
// a top object whose only member is "error".
bool IsDatabaseErrorReply(const TJsonTop& Top, TErrorReplyValue Value);

}  // namespace kelvo
