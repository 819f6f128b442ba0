#pragma once
// The service session: database clients signed in with the built-in service account. The ID token
// is kept in memory and in the protected file "service_token.dat" of the configuration folder, so
// the identity service is asked only when no unexpired token is at hand.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "account/Firebase.Manager.h"
#include "core/DateTimes.h"

namespace kelvo {

inline constexpr char ServiceTokenFileName[] = "service_token.dat";
inline constexpr char ServiceTokenDescription[] = "FirebaseServiceToken";

class TFirebaseServiceAuth {
 public:
  // True with a new manager whose client carries a valid token (the caller owns it); false with
  // Manager empty and ErrorMessage saying why.
  static bool GetAuthenticatedManager(std::unique_ptr<TFirebaseManager>& Manager, std::string& ErrorMessage);
  // Reads a database node with the service session. When the database refuses the session's token
  // (revoked, expired early, a clock that was wrong), the token is dropped from memory and from the
  // token file, the service account signs in again and the read is repeated once; a second refusal
  // fails with the database's own message. False with ErrorMessage; transport failures raise
  // EHttpError.
  static bool ReadNode(const std::string& Path, std::string& Reply, std::string& ErrorMessage);
  // Forgets the token in memory and in the token file.
  static void DropServiceToken();

 private:
  static std::string GetServiceTokenPath();
  static bool LoadServiceToken();
  static void SaveServiceToken(const std::string& Token, int32_t Lifetime);
  static std::string ProtectServiceToken(const std::string& Token);
  static std::string UnprotectServiceToken(const std::string& Protected);
};

// How a read of a node with the service session came out.
enum class TServiceRead : uint8_t { Read, Missing, Failed };
// Reads the node at Path with the service session (ReadNode) and hands the reply to Read, unless the
// reply stands for no node (Missing). Message is emptied first; Failed with the session's message,
// with UnreadableMessage when Read refuses the reply, or with ErrorPrefix and the error of a
// transfer that failed (or of anything else Read raised).
TServiceRead ReadServiceNode(const std::string& Path, const std::function<bool(std::string_view)>& Read,
                             std::string_view UnreadableMessage, std::string_view ErrorPrefix, std::string& Message);

// Forgets the in-memory token, as a new program start would (tests only).
void ResetServiceTokenCacheForTests();

// Reads the bytes of a cache file: its text (byte-order mark honoured, else UTF-8, else ANSI) must
// be a JSON object; Token is the unprotected "token" (empty when missing, null or not unprotectable),
// Expiry the "expiry" date-time number (0 when missing or null). False when the file is not such an
// object or "expiry" is not a number; never raises.
bool ReadServiceTokenFile(std::string_view Bytes, std::string& Token, TDateTime& Expiry);

}  // namespace kelvo
