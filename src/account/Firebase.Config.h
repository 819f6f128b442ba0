#pragma once
// Settings of one connection to the identity service and the realtime database; every object that
// uses them keeps its own copy.
#include <string>

namespace kelvo {

struct TFirebaseConfig {
  std::string ApiKey;      // identity service key, sent as "key" with the sign-in
  std::string ProjectID;   // carried along, not read
  std::string BaseURL;     // realtime database base URL, normally ending in "/"
  std::string AuthDomain;  // carried along, not read
};

}  // namespace kelvo
