#pragma once
// cloudsim: a local stand-in for the cloud services the product talks to, on 127.0.0.1 only.
// Services: the identity service's password sign-in and realtime-database reads. Tests start it
// in-process on a free port; the demo and the benchmarks run the "cloudsim" program.
//
// Every request is counted per path (and per method) and logged, so a test can assert that no
// request was made; faults can be injected per path prefix (latency, a canned reply such as an
// error status, a connection cut in the middle of a body, a body shorter than its Content-Length,
// a server that never answers).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvo::cloudsim {

using TSimClock = std::function<std::chrono::system_clock::time_point()>;
using TSimHeaders = std::vector<std::pair<std::string, std::string>>;

// One user of the identity service.
struct TSimUser {
  std::string Email;
  std::string Password;
  std::string DisplayName;
  std::string LocalId;  // generated from the e-mail address when empty
  bool Disabled = false;
};

enum class TFaultKind {
  Latency,      // wait Delay, then answer normally
  CannedReply,  // answer Status/Body/Headers instead of the service
  CutMidBody,   // the service's reply, chunked, connection closed after CutAfter bytes
  ShortBody,    // the service's reply with its full Content-Length, connection closed after CutAfter bytes
  NoAnswer,     // read the request, then say nothing for Delay (or until the server stops)
};

struct TFault {
  TFaultKind Kind = TFaultKind::CannedReply;
  std::string PathPrefix;              // decoded request path prefix, e.g. "/Lisanslar"; empty matches every path
  std::string Method;                  // "GET", "POST", ...; empty matches every method
  std::chrono::milliseconds Delay{0};  // Latency: added delay; NoAnswer: how long to hold (0: 30 s)
  int Status = 500;                    // CannedReply
  std::string Body;                    // CannedReply
  std::string ContentType = "application/json; charset=UTF-8";  // CannedReply
  TSimHeaders Headers;                                          // CannedReply, e.g. {"Location", url} with a 302
  int64_t CutAfter = -1;  // CutMidBody, ShortBody: bytes sent before the cut; -1: half
  int Times = -1;         // how many matching requests it applies to; 0 or less: until cleared
};

// One request as the server saw it.
struct TSimRequest {
  std::string Method;
  std::string Path;    // decoded path, without the query
  std::string Target;  // the request target as sent (path and query, still encoded)
  TSimHeaders Headers;
  std::string Body;
};

struct TSimOptions {
  std::string SeedDir;              // users.json and database.json; empty: start empty
  int Port = 0;                     // 0: any free port
  std::string ApiKey;               // sign-in requires exactly this "key"; empty: any non-empty key
  int TokenLifetimeSeconds = 3600;  // lifetime of issued ID tokens, sent as "expiresIn"
};

class TCloudSim {
 public:
  explicit TCloudSim(TSimOptions Options = {});
  ~TCloudSim();  // stops
  TCloudSim(const TCloudSim&) = delete;
  TCloudSim& operator=(const TCloudSim&) = delete;

  // Loads the seed folder, binds 127.0.0.1 and serves on a thread of its own. Raises
  // std::runtime_error when the seed cannot be read or the port cannot be bound.
  void Start();
  // Ends held requests and waits for the server thread. Safe to call twice.
  void Stop();
  bool Running() const;

  int Port() const;
  std::string BaseUrl() const;      // "http://127.0.0.1:<port>"
  std::string HostPort() const;     // "127.0.0.1:<port>", the form of the *_EMULATOR_HOST variables
  std::string DatabaseUrl() const;  // BaseUrl() + "/"
  std::string SignInUrl() const;    // the emulator form of the password sign-in URL (without "?key=")

  // Users of the identity service.
  void SetUsers(std::vector<TSimUser> Users);
  void AddUser(TSimUser User);
  std::vector<TSimUser> Users() const;
  // Lifetime of tokens issued from now on; also the "expiresIn" text.
  void SetTokenLifetime(int Seconds);
  // Replaces only the "expiresIn" text of sign-in replies (the real lifetime stays); nullopt undoes it.
  void SetExpiresInText(std::optional<std::string> Text);
  void SetApiKey(std::string Key);
  // An ID token for a known user, as a sign-in would issue it (no request counted). Raises for an
  // unknown e-mail address.
  std::string IssueIdToken(const std::string& Email);
  // Every token issued so far stops being accepted.
  void RevokeTokens();

  // The realtime database.
  void SetDatabase(nlohmann::ordered_json Tree);
  nlohmann::ordered_json Database() const;
  // Sets (or, with a null value, removes) the node at a "/"-separated path, creating parents.
  void SetNode(const std::string& Path, nlohmann::ordered_json Value);

  // The clock that decides token expiry; an empty function restores the system clock.
  void SetClock(TSimClock Clock);

  // Request counts by decoded path, optionally by method; counted before faults apply.
  int64_t RequestCount(const std::string& Path) const;
  int64_t RequestCount(const std::string& Method, const std::string& Path) const;
  int64_t RequestCountWithPrefix(const std::string& PathPrefix) const;
  int64_t TotalRequests() const;
  // The last requests (at most 1000), oldest first.
  std::vector<TSimRequest> Requests() const;
  std::optional<TSimRequest> LastRequest(const std::string& Path) const;
  void ResetCounts();

  void AddFault(TFault Fault);
  void ClearFaults();

  // Log each request to stderr (the program's --verbose).
  void SetVerbose(bool Verbose);

  struct TState;

 private:
  TSimOptions FOptions;
  std::unique_ptr<TState> FState;
};

// Reads users.json (an array of {"email", "password", "displayName", "localId", "disabled"}) and
// database.json of a seed folder; absent files give no users and an empty database. Raises
// std::runtime_error naming the file when one is not valid.
void LoadSeed(const std::string& SeedDir, std::vector<TSimUser>& Users, nlohmann::ordered_json& Database);

}  // namespace kelvo::cloudsim
