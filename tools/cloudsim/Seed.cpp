// The seed folder: users.json, database.json and oauth.json (drive/ is read by SetDriveRoot).
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "cloudsim/SimCore.h"

namespace kelvo::cloudsim {

namespace {

// The file's JSON, or nothing when the file does not exist.
std::optional<nlohmann::ordered_json> ReadJsonFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return std::nullopt;
  std::ostringstream Text;
  Text << In.rdbuf();
  std::string Bytes = Text.str();
  if (Bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) Bytes.erase(0, 3);
  auto Value = nlohmann::ordered_json::parse(Bytes, nullptr, false);
  if (Value.is_discarded()) throw std::runtime_error("cloudsim: " + Path + " is not valid JSON");
  return Value;
}

std::string Text(const nlohmann::ordered_json& Object, const char* Name, const std::string& Path) {
  auto It = Object.find(Name);
  if (It == Object.end() || It->is_null()) return "";
  if (!It->is_string()) throw std::runtime_error("cloudsim: " + Path + ": \"" + Name + "\" must be a string");
  return It->get<std::string>();
}

}  // namespace

void LoadSeed(const std::string& SeedDir, std::vector<TSimUser>& Users, nlohmann::ordered_json& Database) {
  Users.clear();
  Database = nullptr;
  const std::string UsersPath = SeedDir + "/users.json";
  if (auto List = ReadJsonFile(UsersPath)) {
    if (!List->is_array()) throw std::runtime_error("cloudsim: " + UsersPath + " must hold an array of users");
    for (const auto& Entry : *List) {
      if (!Entry.is_object()) throw std::runtime_error("cloudsim: " + UsersPath + ": every user must be an object");
      TSimUser U;
      U.Email = Text(Entry, "email", UsersPath);
      U.Password = Text(Entry, "password", UsersPath);
      U.DisplayName = Text(Entry, "displayName", UsersPath);
      U.LocalId = Text(Entry, "localId", UsersPath);
      U.Disabled = Entry.value("disabled", false);
      if (U.Email.empty()) throw std::runtime_error("cloudsim: " + UsersPath + ": a user without \"email\"");
      if (U.LocalId.empty()) U.LocalId = LocalIdFor(U.Email);
      Users.push_back(std::move(U));
    }
  }
  if (auto Tree = ReadJsonFile(SeedDir + "/database.json")) Database = std::move(*Tree);
}

void LoadGoogleSeed(const std::string& SeedDir, std::vector<std::pair<std::string, std::string>>& RefreshTokens) {
  RefreshTokens.clear();
  const std::string Path = SeedDir + "/oauth.json";
  auto Seed = ReadJsonFile(Path);
  if (!Seed) return;
  if (!Seed->is_object()) throw std::runtime_error("cloudsim: " + Path + " must hold an object");
  auto List = Seed->find("refreshTokens");
  if (List == Seed->end()) return;
  if (!List->is_array()) throw std::runtime_error("cloudsim: " + Path + ": \"refreshTokens\" must be an array");
  for (const auto& Entry : *List) {
    if (Entry.is_string()) {
      RefreshTokens.emplace_back(Entry.get<std::string>(), "");
    } else if (Entry.is_object()) {
      const std::string Token = Text(Entry, "token", Path);
      if (Token.empty()) throw std::runtime_error("cloudsim: " + Path + ": a refresh token without \"token\"");
      RefreshTokens.emplace_back(Token, Text(Entry, "clientId", Path));
    } else {
      throw std::runtime_error("cloudsim: " + Path + ": every refresh token must be a string or an object");
    }
  }
}

}  // namespace kelvo::cloudsim
