#pragma once
// The shared core of cloudsim: server life, routing, request counting, faults, the clock, and the
// state the services share (users, issued ID tokens, the database tree). One source file per
// service adds its routes with AddRoute; the database read is the catch-all and comes last.
#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <regex>
#include <shared_mutex>
#include <thread>
#include <unordered_map>

#include "cloudsim/CloudSim.h"

namespace kelvo::cloudsim {

using TSimTime = std::chrono::system_clock::time_point;
using TRouteHandler = std::function<void(const httplib::Request&, httplib::Response&)>;

struct TIssuedToken {
  std::string LocalId;
  std::string Email;
  TSimTime Expiry;
};

// One Drive entry. A seeded file is read from LocalPath at each request; a file added at run time
// holds its Content. Size, MD5 and times of seeded files are taken from the file when asked for.
struct TDriveItem {
  std::string Id;
  std::string Name;
  std::string MimeType;
  std::string ParentId;
  std::string LocalPath;
  std::shared_ptr<const std::string> Content;
  bool IsFolder = false;
  bool Trashed = false;
  TSimTime Created{};
  TSimTime Modified{};  // for entries without a file on disk
  // MD5 cache of a seeded file, valid for this size and modification time.
  int64_t Md5Size = -1;
  int64_t Md5Mtime = 0;
  std::string Md5;
};

struct TCloudSim::TState {
  // Server life.
  std::unique_ptr<httplib::Server> Http;
  std::thread Thread;
  int Port = 0;
  std::atomic<bool> Stopping{false};
  std::atomic<bool> Verbose{false};
  std::mutex WaitMutex;
  std::condition_variable WaitCondition;

  // Routing: the first route whose method and pattern match handles the request.
  struct TRoute {
    std::string Method;
    std::regex Pattern;
    TRouteHandler Handler;
  };
  std::vector<TRoute> Routes;
  void AddRoute(std::string Method, const std::string& Pattern, TRouteHandler Handler);

  // Users, tokens, options: guarded by Mutex.
  mutable std::mutex Mutex;
  std::vector<TSimUser> Users;
  std::unordered_map<std::string, TIssuedToken> Tokens;
  std::string ApiKey;
  int TokenLifetimeSeconds = 3600;
  std::optional<std::string> ExpiresInText;

  // The database tree: readers share, SetDatabase/SetNode write; serialised replies are cached
  // per node until the tree changes (full-tree reads of a large directory stay cheap).
  mutable std::shared_mutex TreeMutex;
  nlohmann::ordered_json Tree;
  // Generation: bumped under the writer's lock, so a cached reply of an older tree is never served.
  std::atomic<uint64_t> TreeGeneration{0};
  std::mutex BodyCacheMutex;
  std::unordered_map<std::string, std::pair<uint64_t, std::shared_ptr<const std::string>>> BodyCache;

  // Counting, the request log, faults: guarded by Mutex.
  std::map<std::string, std::map<std::string, int64_t>> Counts;  // path -> method -> count
  int64_t Total = 0;
  std::deque<TSimRequest> Log;
  std::vector<TFault> Faults;
  // Body bytes of successful downloads handed to the network; counted while they stream, so atomic.
  std::atomic<int64_t> MediaBytes{0};

  // Google: access tokens issued by the token endpoint (token -> expiry on the sim clock), refresh
  // tokens (token -> client ID, empty for any client), the reply shape. Guarded by Mutex.
  std::unordered_map<std::string, TSimTime> AccessTokens;
  std::unordered_map<std::string, std::string> RefreshTokens;
  TTokenReplyOptions TokenReply;
  std::string IssueAccessToken(int LifetimeSeconds);  // takes Mutex; -1: TokenReply's lifetime
  bool AccessTokenValid(const std::string& Token);    // takes Mutex

  // The Drive, in creation order (listings keep it), with an index by ID. Guarded by DriveMutex.
  mutable std::mutex DriveMutex;
  std::vector<TDriveItem> Drive;
  std::unordered_map<std::string, size_t> DriveIndex;
  std::string DriveRoot = "root";
  std::string DriveRootDir;

  // The clock.
  std::mutex ClockMutex;
  std::shared_ptr<const TSimClock> ClockSource;
  TSimTime Now();

  // Waits up to Duration; false when the server is stopping.
  bool WaitFor(std::chrono::milliseconds Duration);

  // Identity helpers shared by the services.
  std::optional<TSimUser> FindUser(const std::string& Email) const;  // ASCII case ignored
  std::string IssueToken(const TSimUser& User);                      // takes Mutex
  bool TokenValid(const std::string& Token);                         // takes Mutex

  // The one handler every request goes through.
  void Dispatch(const httplib::Request& Req, httplib::Response& Res);
};

// Services.
void AddIdentityService(TCloudSim::TState& State);
void AddTokenService(TCloudSim::TState& State);
void AddDriveService(TCloudSim::TState& State);
void AddDatabaseService(TCloudSim::TState& State);
// An empty Drive: only the root folder, with this ID.
void ResetDrive(TCloudSim::TState& State, const std::string& RootId);

// Shared helpers.
std::string Base64Url(const std::string& Bytes);
std::string RandomBytes(size_t Count);
std::string LocalIdFor(const std::string& Email);
std::string AsciiLowerCopy(std::string Text);

}  // namespace kelvo::cloudsim
