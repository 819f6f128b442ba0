#pragma once
// cloudsim: a local stand-in for the cloud services the product talks to, on 127.0.0.1 only.
// Services: the identity service's password sign-in, realtime-database reads, Google's OAuth token
// endpoint (refresh grant) and Drive v3 "files" (listing, folder creation, downloads). Tests start
// it in-process on a free port; the demo and the benchmarks run the "cloudsim" program.
//
// Every request is counted per path (and per method) and logged, so a test can assert that no
// request was made; faults can be injected per path prefix (latency, a canned reply such as an
// error status, a connection cut in the middle of a body, a body shorter than its Content-Length,
// a body with wrong bytes, a reply that ignores Range, a body that stalls, a server that never
// answers). Download body bytes sent are counted too.
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
  Latency,       // wait Delay, then answer normally
  CannedReply,   // answer Status/Body/Headers instead of the service
  CutMidBody,    // the service's reply, chunked, connection closed after CutAfter bytes
  ShortBody,     // the service's reply with its full Content-Length, connection closed after CutAfter bytes
  NoAnswer,      // read the request, then say nothing for Delay (or until the server stops)
  Throttle,      // the service's reply, its body sent at BytesPerSecond
  CorruptBody,   // the service's reply, full length, with up to 16 bytes changed from offset CutAfter on
  IgnoreRange,   // a Range request gets the whole body with status 200, as from a server without ranges
  StallMidBody,  // the service's reply with its full Content-Length; after CutAfter bytes nothing for
                 // Delay (or until the server stops), then the connection is closed
};

struct TFault {
  TFaultKind Kind = TFaultKind::CannedReply;
  std::string PathPrefix;              // decoded request path prefix, e.g. "/Lisanslar"; empty matches every path
  std::string Method;                  // "GET", "POST", ...; empty matches every method
  std::chrono::milliseconds Delay{0};  // Latency: added delay; NoAnswer, StallMidBody: how long to hold (0: 30 s)
  int Status = 500;                    // CannedReply
  std::string Body;                    // CannedReply
  std::string ContentType = "application/json; charset=UTF-8";  // CannedReply
  TSimHeaders Headers;                                          // CannedReply, e.g. {"Location", url} with a 302
  // CutMidBody, ShortBody, StallMidBody: body bytes sent before the cut or stall; CorruptBody: offset of
  // the first changed byte. Counted in the body this reply sends (a Range reply's part); -1: half.
  int64_t CutAfter = -1;
  int Times = -1;  // how many matching requests it applies to; 0 or less: until cleared
  int Skip = 0;    // matching requests let through untouched before it applies (e.g. page 1 of a listing)
  int64_t BytesPerSecond = 1 << 20;  // Throttle
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
  std::string SeedDir;               // users.json, database.json, oauth.json, drive/; empty: start empty
  int Port = 0;                      // 0: any free port
  std::string ApiKey;                // sign-in requires exactly this "key"; empty: any non-empty key
  int TokenLifetimeSeconds = 3600;   // lifetime of issued ID tokens, sent as "expiresIn"
  std::string DriveDir;              // the folder standing for the Drive; empty: SeedDir/drive when it exists
  std::string DriveRootId = "root";  // ID of that folder
};

// How the token endpoint words its successful replies.
struct TTokenReplyOptions {
  int LifetimeSeconds = 3599;                // lifetime of issued access tokens, and the "expires_in" number
  bool SendExpiresIn = true;                 // false: no "expires_in" member
  std::optional<std::string> ExpiresInText;  // "expires_in" sent as this string instead (the lifetime stays)
  bool RotateRefreshToken = false;           // each reply carries a new "refresh_token"; the old one stays valid
};

// One entry of the simulated Drive, for assertions.
struct TSimDriveEntry {
  std::string Id;
  std::string Name;
  std::string MimeType;  // folders: "application/vnd.google-apps.folder"
  std::string ParentId;  // empty for the root folder
  int64_t Size = 0;
  bool Trashed = false;
  std::string LocalPath;  // the file on disk behind a seeded file; empty otherwise
};

inline constexpr char DriveFolderMimeType[] = "application/vnd.google-apps.folder";
inline constexpr char DriveFilesPath[] = "/drive/v3/files";
inline constexpr char GoogleTokenPath[] = "/token";

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
  std::string TokenUrl() const;     // BaseUrl() + "/token", for [Endpoints] GoogleTokenUrl
  std::string DriveUrl() const;     // BaseUrl() + "/drive/v3/files", for [Endpoints] GoogleDriveUrl

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

  // Google's token endpoint. Refresh tokens are accepted only when added here (or in oauth.json);
  // ClientId, when not empty, must match the request's "client_id".
  void AddRefreshToken(const std::string& RefreshToken, const std::string& ClientId = "");
  void RemoveRefreshToken(const std::string& RefreshToken);
  void SetTokenReplyOptions(TTokenReplyOptions Options);
  // An access token the Drive accepts until the clock passes its lifetime (-1: the reply options'
  // lifetime), as a refresh would issue it (no request counted).
  std::string IssueAccessToken(int LifetimeSeconds = -1);
  // Every access token issued so far stops being accepted.
  void RevokeAccessTokens();

  // The Drive. SetDriveRoot replaces the whole Drive by the folder tree at Dir (folders are folders,
  // files are files served from disk; IDs are stable per relative path; size, MD5 and modifiedTime
  // follow the files as they are at each request). Raises std::runtime_error when Dir is not a folder.
  void SetDriveRoot(const std::string& Dir, const std::string& RootId = "root");
  std::string DriveRootId() const;
  // ID of the entry at a "/"-separated path below the root ("" is the root), or empty.
  std::string DriveFileId(const std::string& RelativePath) const;
  // Entries added at run time, held in memory; they return the new ID. Raise for an unknown parent.
  std::string AddDriveFolder(const std::string& ParentId, const std::string& Name);
  std::string AddDriveFile(const std::string& ParentId, const std::string& Name, std::string Content,
                           std::chrono::system_clock::time_point Modified = {});
  void SetDriveTrashed(const std::string& Id, bool Trashed);
  std::vector<TSimDriveEntry> DriveEntries() const;

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
  // Body bytes of successful Drive downloads ("GET /drive/v3/files/ID?alt=media" with a 2xx status)
  // handed to the network, after faults: a cut or stalled reply counts only what it sent.
  int64_t MediaBytesServed() const;
  void ResetCounts();  // also MediaBytesServed

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
// Reads oauth.json of a seed folder: {"refreshTokens": ["token", {"token": "...", "clientId": "..."}]};
// an absent file gives none. Pairs are (token, client ID). Raises like LoadSeed.
void LoadGoogleSeed(const std::string& SeedDir, std::vector<std::pair<std::string, std::string>>& RefreshTokens);

// Google's error envelope of the Drive API, as the service indents it:
// {"error": {"errors": [{"domain", "reason", "message"}], "code", "message"}}.
std::string DriveErrorBody(int Code, const std::string& Reason, const std::string& Message,
                           const std::string& Domain = "global");
// Ready-made faults on the Drive path: 403 userRateLimitExceeded and 500 backendError.
TFault DriveRateLimitFault(int Times = -1);
TFault DriveServerErrorFault(int Times = -1);
// A canned reply on the Drive path with this status in the Drive's envelope, with the reason the
// service gives for it (429 rateLimitExceeded, 5xx backendError, 404 notFound, ...), and a
// Retry-After header when RetryAfter is not empty.
TFault DriveStatusFault(int Status, int Times = -1, const std::string& RetryAfter = "");

}  // namespace kelvo::cloudsim
