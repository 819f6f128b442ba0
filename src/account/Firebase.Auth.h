#pragma once
// Password sign-in to the identity service.
#include <memory>
#include <string>

#include "account/Firebase.Config.h"
#include "core/HttpClient.h"
#include "platform/Errors.h"

namespace kelvo {

struct TAuthResponse {
  std::string IdToken;
  std::string Email;
  std::string RefreshToken;
  std::string ExpiresIn;  // seconds, as the service sends it
  std::string LocalId;
  bool Registered = false;   // not filled by the sign-in
  bool Success = false;      // the service answered 200
  std::string ErrorMessage;  // the service's error code text otherwise
};

// Raised for replies that are JSON but not the shape the identity service sends.
class EFirebaseReplyError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

class TFirebaseAuth {
 public:
  explicit TFirebaseAuth(const TFirebaseConfig& Config);
  TFirebaseAuth(const TFirebaseAuth&) = delete;
  TFirebaseAuth& operator=(const TFirebaseAuth&) = delete;

  // Transport failures raise EHttpError; a reply that is not JSON gives Success false and no
  // message; JSON of the wrong shape raises EFirebaseReplyError.
  TAuthResponse SignIn(const std::string& Email, const std::string& Password);

 private:
  TFirebaseConfig FConfig;
  std::unique_ptr<THttpClient> FHTTP;
};

}  // namespace kelvo
