// Realtime-database reads: GET /<node path>.json?auth=<ID token> answers the subtree as compact
// JSON, "null" for a missing node, and the service's 401 body for a missing, unknown or expired
// token. Other query parameters are accepted and ignored.
#include "cloudsim/SimCore.h"

namespace kelvo::cloudsim {

namespace {

constexpr char JsonType[] = "application/json; charset=utf-8";

// The service's error body layout, byte for byte: {LF, two blanks, "error" : "...", LF, }, LF.
std::string ErrorBody(const std::string& Message) { return "{\n  \"error\" : \"" + Message + "\"\n}\n"; }

bool ValidSegment(const std::string& Segment) {
  for (unsigned char C : Segment)
    if (C < 32 || C == 127 || C == '.' || C == '#' || C == '$' || C == '[' || C == ']') return false;
  return true;
}

bool IsIndex(const std::string& Segment) {
  if (Segment.empty() || Segment.size() > 9) return false;
  for (char C : Segment)
    if (C < '0' || C > '9') return false;
  return true;
}

void Read(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  static const std::string Suffix = ".json";
  const std::string& Path = Req.path;
  if (Path.size() < Suffix.size() || Path.compare(Path.size() - Suffix.size(), Suffix.size(), Suffix) != 0) {
    Res.status = 404;
    Res.set_content(ErrorBody("Not found"), JsonType);
    return;
  }

  std::vector<std::string> Segments;
  const std::string Node = Path.substr(0, Path.size() - Suffix.size());
  for (size_t Start = 0; Start <= Node.size();) {
    size_t End = Node.find('/', Start);
    if (End == std::string::npos) End = Node.size();
    if (End > Start) Segments.push_back(Node.substr(Start, End - Start));
    Start = End + 1;
  }
  for (const auto& Segment : Segments)
    if (!ValidSegment(Segment)) {
      Res.status = 400;
      Res.set_content(ErrorBody("Invalid path: Invalid token in path"), JsonType);
      return;
    }

  if (!S.TokenValid(Req.get_param_value("auth"))) {
    Res.status = 401;
    Res.set_content(ErrorBody("Permission denied"), JsonType);
    return;
  }

  std::string Key;
  for (const auto& Segment : Segments) Key += "/" + Segment;
  {
    std::lock_guard Lock(S.BodyCacheMutex);
    auto It = S.BodyCache.find(Key);
    if (It != S.BodyCache.end() && It->second.first == S.TreeGeneration) {
      auto Body = It->second.second;
      Res.status = 200;
      Res.set_content(*Body, JsonType);
      return;
    }
  }

  auto Body = std::make_shared<std::string>();
  uint64_t Generation;
  {
    std::shared_lock Lock(S.TreeMutex);
    Generation = S.TreeGeneration;
    const nlohmann::ordered_json* Current = &S.Tree;
    for (const auto& Segment : Segments) {
      if (Current->is_object()) {
        auto It = Current->find(Segment);
        Current = It == Current->end() ? nullptr : &*It;
      } else if (Current->is_array() && IsIndex(Segment) && std::stoul(Segment) < Current->size()) {
        Current = &(*Current)[std::stoul(Segment)];
      } else {
        Current = nullptr;
      }
      if (!Current) break;
    }
    *Body = Current ? Current->dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) : "null";
  }
  {
    std::lock_guard Lock(S.BodyCacheMutex);
    if (S.BodyCache.size() >= 64) S.BodyCache.clear();
    S.BodyCache[Key] = {Generation, Body};
  }
  Res.status = 200;
  Res.set_content(*Body, JsonType);
}

}  // namespace

void AddDatabaseService(TCloudSim::TState& State) {
  State.AddRoute("GET", ".*", [&State](const httplib::Request& Req, httplib::Response& Res) { Read(State, Req, Res); });
}

}  // namespace kelvo::cloudsim
