#include "account/Firebase.Manager.h"

namespace kelvo {

namespace {

TFirebaseConfig MakeConfig(const std::string& ApiKey, const std::string& BaseURL, const std::string& ProjectID) {
  TFirebaseConfig C;
  C.ApiKey = ApiKey;
  C.BaseURL = BaseURL;
  C.ProjectID = ProjectID;
  return C;
}

}  // namespace

TFirebaseManager::TFirebaseManager(const std::string& AApiKey, const std::string& ABaseURL,
                                   const std::string& AProjectID)
    : FConfig(MakeConfig(AApiKey, ABaseURL, AProjectID)),
      FClient(std::make_unique<TFirebaseClient>(FConfig)),
      FAuth(std::make_unique<TFirebaseAuth>(FConfig)) {}

// Members go in reverse order: the identity client first, then the database client.
TFirebaseManager::~TFirebaseManager() = default;

TAuthResponse TFirebaseManager::Login(const std::string& Email, const std::string& Password) {
  TAuthResponse Result = FAuth->SignIn(Email, Password);
  if (Result.Success) FClient->FAuthToken = Result.IdToken;
  return Result;
}

}  // namespace kelvo
