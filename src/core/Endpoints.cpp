#include "core/Endpoints.h"

#include "core/TextRules.h"
#include "core/uAppConfig.h"
#include "platform/Paths.h"

namespace kelvo {

namespace {

// "host:port" of an emulator variable; a scheme given by mistake is dropped, as is a trailing "/".
std::string EmulatorHost(const char* Variable) {
  std::string Host = Trim(platform::GetEnv(Variable));
  if (StartsText(Host, "http://")) Host.erase(0, 7);
  while (!Host.empty() && Host.back() == '/') Host.pop_back();
  return Host;
}

std::string FirstSet(const std::string& A, const std::string& B) { return A.empty() ? B : A; }

// The database's name: the first label of the host of its address ("acme-rtdb" for
// https://acme-rtdb.firebaseio.com/); empty when the address has no host.
std::string DatabaseNamespace(const std::string& Url) {
  const size_t Scheme = Url.find("://");
  const size_t Start = Scheme == std::string::npos ? 0 : Scheme + 3;
  const size_t End = Url.find_first_of(".:/?", Start);
  return Url.substr(Start, End == std::string::npos ? std::string::npos : End - Start);
}

}  // namespace

std::string BuiltInFirebaseDatabaseUrl() { return KELVO_FIREBASE_DATABASE_URL; }
std::string BuiltInFirebaseApiKey() { return KELVO_FIREBASE_API_KEY; }
std::string BuiltInServiceLogin() { return KELVO_SERVICE_LOGIN; }
std::string BuiltInServicePassword() { return KELVO_SERVICE_PASSWORD; }

TServiceEndpoints GetServiceEndpoints() {
  const TEndpointsConfig Config = TAppConfig::Instance().GetEndpointsConfig();
  TServiceEndpoints E;
  E.FirebaseAuthUrl = FirstSet(Config.FirebaseAuthUrl, DefaultFirebaseAuthUrl);
  E.FirebaseDatabaseUrl = FirstSet(Config.FirebaseDatabaseUrl, BuiltInFirebaseDatabaseUrl());
  E.GoogleTokenUrl = FirstSet(Config.GoogleTokenUrl, DefaultGoogleTokenUrl);
  E.GoogleDriveUrl = FirstSet(Config.GoogleDriveUrl, DefaultGoogleDriveUrl);
  if (const std::string Host = EmulatorHost("FIREBASE_AUTH_EMULATOR_HOST"); !Host.empty())
    E.FirebaseAuthUrl = "http://" + Host + "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword";
  if (const std::string Host = EmulatorHost("FIREBASE_DATABASE_EMULATOR_HOST"); !Host.empty()) {
    // One emulator serves many databases; like the vendor's SDKs, name ours in every request.
    const std::string Name = DatabaseNamespace(E.FirebaseDatabaseUrl);
    E.FirebaseDatabaseUrl = "http://" + Host + "/" + (Name.empty() ? "" : "?ns=" + Name);
  }
  return E;
}

std::string GetFirebaseAuthUrl() { return GetServiceEndpoints().FirebaseAuthUrl; }
std::string GetFirebaseDatabaseUrl() { return GetServiceEndpoints().FirebaseDatabaseUrl; }
std::string GetGoogleTokenUrl() { return GetServiceEndpoints().GoogleTokenUrl; }
std::string GetGoogleDriveUrl() { return GetServiceEndpoints().GoogleDriveUrl; }

}  // namespace kelvo
