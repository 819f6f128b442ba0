#pragma once
// A database client and an identity client over one configuration. Signed-in managers come only from
// TFirebaseServiceAuth::GetAuthenticatedManager; the caller frees them.
#include <memory>
#include <string>

#include "account/Firebase.Auth.h"
#include "account/Firebase.Client.h"
#include "account/Firebase.Config.h"

namespace kelvo {

class TFirebaseManager {
 public:
  TFirebaseManager(const std::string& AApiKey, const std::string& ABaseURL, const std::string& AProjectID);
  TFirebaseManager(const TFirebaseManager&) = delete;
  TFirebaseManager& operator=(const TFirebaseManager&) = delete;
  ~TFirebaseManager();

  // Signs in; on success the database client carries the new ID token. The reply is returned as is.
  TAuthResponse Login(const std::string& Email, const std::string& Password);

  TFirebaseClient& Client() { return *FClient; }
  TFirebaseAuth& Auth() { return *FAuth; }
  const TFirebaseConfig& Config() const { return FConfig; }

 private:
  TFirebaseConfig FConfig;
  std::unique_ptr<TFirebaseClient> FClient;
  std::unique_ptr<TFirebaseAuth> FAuth;
};

}  // namespace kelvo
