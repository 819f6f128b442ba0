#pragma once
// Where the four cloud services are. Each address is, in order of precedence:
//   1. the Firebase tools' emulator variables (identity and database only):
//      FIREBASE_AUTH_EMULATOR_HOST=host:port     ->
//      http://host:port/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword
//      FIREBASE_DATABASE_EMULATOR_HOST=host:port -> http://host:port/?ns=<name>, where name is the
//      first label of the host of the database address configured (2.) or built in (3.)
//   2. config.ini, section [Endpoints]: FirebaseAuthUrl, FirebaseDatabaseUrl, GoogleTokenUrl, GoogleDriveUrl;
//   3. the real services (the database at the built-in base URL).
// Blank values count as not set. Every call resolves anew, so a changed config.ini takes effect at once.
#include <string>

namespace kelvo {

inline constexpr char DefaultFirebaseAuthUrl[] =
    "https://identitytoolkit.googleapis.com/v1/accounts:signInWithPassword";
inline constexpr char DefaultGoogleTokenUrl[] = "https://oauth2.googleapis.com/token";
inline constexpr char DefaultGoogleDriveUrl[] = "https://www.googleapis.com/drive/v3/files";

struct TServiceEndpoints {
  std::string FirebaseAuthUrl;
  std::string FirebaseDatabaseUrl;
  std::string GoogleTokenUrl;
  std::string GoogleDriveUrl;
};

TServiceEndpoints GetServiceEndpoints();
std::string GetFirebaseAuthUrl();
std::string GetFirebaseDatabaseUrl();
std::string GetGoogleTokenUrl();
std::string GetGoogleDriveUrl();

// The built-in constants compiled into the program.
std::string BuiltInFirebaseDatabaseUrl();
std::string BuiltInFirebaseApiKey();
std::string BuiltInServiceLogin();
std::string BuiltInServicePassword();

}  // namespace kelvo
