#include "cloudsim/SimCore.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace kelvo::cloudsim {

namespace {

constexpr size_t LogLimit = 1000;
constexpr std::chrono::milliseconds DefaultHold{30000};

bool MethodMatches(const std::string& Wanted, const std::string& Method) { return Wanted.empty() || Wanted == Method; }

TSimHeaders CopyHeaders(const httplib::Headers& Headers) {
  TSimHeaders Out;
  for (const auto& [Name, Value] : Headers) Out.emplace_back(Name, Value);
  return Out;
}

constexpr size_t CorruptSpan = 16;

// Where a fault acts in a body of Size bytes: CutAfter when given, else half. A cut or stall is
// always at least one byte short so the reply is really incomplete, and a corruption always hits a
// byte of the body.
size_t CutPoint(const TFault& Fault, size_t Size) {
  size_t N = Fault.CutAfter >= 0 ? static_cast<size_t>(Fault.CutAfter) : Size / 2;
  if (N > Size) N = Size;
  const bool Short = Fault.Kind == TFaultKind::ShortBody || Fault.Kind == TFaultKind::StallMidBody ||
                     Fault.Kind == TFaultKind::CorruptBody;
  if (Short && Size > 0 && N >= Size) N = Size - 1;
  return N;
}

// Makes a finished reply's body a content provider, an in-memory body included, so that it can be
// filtered on its way out. False when there is no body.
bool StreamBody(httplib::Response& Res) {
  if (Res.content_provider_) return true;
  if (Res.body.empty()) return false;
  auto Body = std::make_shared<std::string>(std::move(Res.body));
  Res.body.clear();
  std::string ContentType = Res.get_header_value("Content-Type");
  Res.headers.erase("Content-Type");
  Res.set_content_provider(Body->size(), ContentType.empty() ? "application/octet-stream" : ContentType,
                           [Body](size_t Offset, size_t Size, httplib::DataSink& Sink) {
                             return Sink.write(Body->data() + Offset, std::min(Size, Body->size() - Offset));
                           });
  return true;
}

// One reply's body on its way out: the bytes it carries (for a Range reply, the part) and the bytes
// passed on so far.
struct TBodyFlow {
  size_t Length = 0;
  size_t Sent = 0;
  bool Started = false;
};

// Passes on one piece the service wrote (whole, in part or changed) and advances Flow.Sent; false
// ends the reply and closes the connection.
using TBodyFilter = std::function<bool(TBodyFlow& Flow, const char* Data, size_t Size, httplib::DataSink& Sink)>;

void FilterBody(httplib::Response& Res, TBodyFilter Filter) {
  if (!StreamBody(Res)) return;
  auto Inner = std::move(Res.content_provider_);
  auto Flow = std::make_shared<TBodyFlow>();
  Res.content_provider_ = [Inner = std::move(Inner), Filter = std::move(Filter), Flow](size_t Offset, size_t Length,
                                                                                       httplib::DataSink& Sink) {
    // httplib first asks for all the reply carries, then for what is left after each piece.
    if (!Flow->Started) {
      Flow->Started = true;
      Flow->Length = Length;
    }
    bool Open = true;
    httplib::DataSink Proxy;
    Proxy.write = [&](const char* Data, size_t Size) {
      if (Open && !Filter(*Flow, Data, Size, Sink)) Open = false;
      return Open;
    };
    Proxy.is_writable = [&] { return Open && Sink.is_writable(); };
    Proxy.done = [&] {
      if (Sink.done) Sink.done();
    };
    return Inner(Offset, Length, Proxy) && Open;
  };
}

// Replaces a finished reply by one that breaks off after some bytes (StallMidBody: holds the
// connection first, sending nothing).
void ApplyCut(TCloudSim::TState& S, const TFault& Fault, httplib::Response& Res) {
  if (Fault.Kind == TFaultKind::CutMidBody && !Res.content_provider_) {
    // An in-memory reply is sent chunked, so that the client cannot tell its length.
    auto Body = std::make_shared<std::string>(std::move(Res.body));
    Res.body.clear();
    std::string ContentType = Res.get_header_value("Content-Type");
    if (ContentType.empty()) ContentType = "application/octet-stream";
    Res.headers.erase("Content-Type");
    const size_t N = CutPoint(Fault, Body->size());
    Res.set_chunked_content_provider(ContentType, [Body, N](size_t, httplib::DataSink& Sink) {
      if (N > 0) Sink.write(Body->data(), N);
      return false;
    });
    return;
  }
  FilterBody(Res, [&S, Fault](TBodyFlow& Flow, const char* Data, size_t Size, httplib::DataSink& Sink) {
    const size_t Limit = CutPoint(Fault, Flow.Length);
    const size_t Allowed = std::min(Size, Limit - std::min(Limit, Flow.Sent));
    if (Allowed > 0 && !Sink.write(Data, Allowed)) return false;
    Flow.Sent += Allowed;
    if (Flow.Sent < Limit) return true;
    if (Allowed == Size && Flow.Sent >= Flow.Length) return true;  // nothing held back: the body is whole
    if (Fault.Kind == TFaultKind::StallMidBody) S.WaitFor(Fault.Delay.count() > 0 ? Fault.Delay : DefaultHold);
    return false;
  });
}

// Sends a finished reply's body at a limited rate, in small pieces, until the server stops.
void ApplyThrottle(TCloudSim::TState& S, const TFault& Fault, httplib::Response& Res) {
  const int64_t Rate = std::max<int64_t>(1, Fault.BytesPerSecond);
  const size_t Piece = static_cast<size_t>(std::clamp<int64_t>(Rate / 20, 1, 64 * 1024));
  const auto Start = std::chrono::steady_clock::now();
  FilterBody(Res, [&S, Rate, Piece, Start](TBodyFlow& Flow, const char* Data, size_t Size, httplib::DataSink& Sink) {
    while (Size > 0) {
      const size_t Part = std::min(Size, Piece);
      if (!Sink.write(Data, Part)) return false;
      Data += Part;
      Size -= Part;
      Flow.Sent += Part;
      const auto Due = Start + std::chrono::microseconds(static_cast<int64_t>(Flow.Sent) * 1000000 / Rate);
      const auto Wait = Due - std::chrono::steady_clock::now();
      if (Wait > std::chrono::steady_clock::duration::zero() &&
          !S.WaitFor(std::chrono::duration_cast<std::chrono::milliseconds>(Wait) + std::chrono::milliseconds(1)))
        return false;
    }
    return true;
  });
}

// Changes up to CorruptSpan bytes of the piece that holds the body's byte at CutAfter; the length
// and every other byte stay.
void ApplyCorruption(const TFault& Fault, httplib::Response& Res) {
  FilterBody(Res, [Fault](TBodyFlow& Flow, const char* Data, size_t Size, httplib::DataSink& Sink) {
    const size_t At = CutPoint(Fault, Flow.Length);
    const size_t Begin = Flow.Sent;
    Flow.Sent += Size;
    if (At < Begin || At >= Flow.Sent) return Sink.write(Data, Size);
    const size_t From = At - Begin;
    const size_t Count = std::min(Size - From, CorruptSpan);
    char Changed[CorruptSpan];
    for (size_t I = 0; I < Count; ++I) Changed[I] = static_cast<char>(Data[From + I] ^ 0x5A);
    return (From == 0 || Sink.write(Data, From)) && Sink.write(Changed, Count) &&
           (From + Count == Size || Sink.write(Data + From + Count, Size - From - Count));
  });
}

// Adds the body bytes a reply hands to the network to Counter. They are counted just before each
// write (and taken back when it fails), so a client that has received a body finds it counted.
void CountBody(std::atomic<int64_t>& Counter, httplib::Response& Res) {
  FilterBody(Res, [&Counter](TBodyFlow& Flow, const char* Data, size_t Size, httplib::DataSink& Sink) {
    const auto N = static_cast<int64_t>(Size);
    Counter += N;
    Flow.Sent += Size;
    if (Sink.write(Data, Size)) return true;
    Counter -= N;
    return false;
  });
}

// A Drive download: "GET /drive/v3/files/ID?alt=media".
bool IsMediaDownload(const httplib::Request& Req) {
  const std::string Prefix = std::string(DriveFilesPath) + "/";
  return Req.method == "GET" && Req.path.compare(0, Prefix.size(), Prefix) == 0 &&
         Req.get_param_value("alt") == "media";
}

// The requested byte ranges. The request object is httplib's own non-const local; clearing them is
// the only way to answer a Range request with a whole body.
httplib::Ranges& Ranges(const httplib::Request& Req) { return const_cast<httplib::Request&>(Req).ranges; }

}  // namespace

// ---- shared helpers ----

std::string Base64Url(const std::string& Bytes) {
  static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string Out;
  size_t I = 0;
  for (; I + 2 < Bytes.size(); I += 3) {
    const uint32_t V = (uint8_t(Bytes[I]) << 16) | (uint8_t(Bytes[I + 1]) << 8) | uint8_t(Bytes[I + 2]);
    Out += Alphabet[(V >> 18) & 63];
    Out += Alphabet[(V >> 12) & 63];
    Out += Alphabet[(V >> 6) & 63];
    Out += Alphabet[V & 63];
  }
  if (I + 1 == Bytes.size()) {
    const uint32_t V = uint8_t(Bytes[I]) << 16;
    Out += Alphabet[(V >> 18) & 63];
    Out += Alphabet[(V >> 12) & 63];
  } else if (I + 2 == Bytes.size()) {
    const uint32_t V = (uint8_t(Bytes[I]) << 16) | (uint8_t(Bytes[I + 1]) << 8);
    Out += Alphabet[(V >> 18) & 63];
    Out += Alphabet[(V >> 12) & 63];
    Out += Alphabet[(V >> 6) & 63];
  }
  return Out;
}

std::string RandomBytes(size_t Count) {
  static std::mutex Mutex;
  static std::mt19937_64 Engine{std::random_device{}()};
  std::lock_guard Lock(Mutex);
  std::string Out(Count, '\0');
  for (auto& C : Out) C = static_cast<char>(Engine() & 0xFF);
  return Out;
}

std::string LocalIdFor(const std::string& Email) {
  // 28 characters like the identity service's user IDs, stable for one address.
  static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t H = 1469598103934665603ULL;
  for (unsigned char C : AsciiLowerCopy(Email)) H = (H ^ C) * 1099511628211ULL;
  std::string Out;
  for (int I = 0; I < 28; ++I) {
    H = H * 6364136223846793005ULL + 1442695040888963407ULL;
    Out += Alphabet[(H >> 33) % 62];
  }
  return Out;
}

std::string AsciiLowerCopy(std::string Text) {
  for (auto& C : Text)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return Text;
}

// ---- state ----

void TCloudSim::TState::AddRoute(std::string Method, const std::string& Pattern, TRouteHandler Handler) {
  Routes.push_back({std::move(Method), std::regex(Pattern), std::move(Handler)});
}

TSimTime TCloudSim::TState::Now() {
  std::shared_ptr<const TSimClock> Source;
  {
    std::lock_guard Lock(ClockMutex);
    Source = ClockSource;
  }
  return Source ? (*Source)() : std::chrono::system_clock::now();
}

bool TCloudSim::TState::WaitFor(std::chrono::milliseconds Duration) {
  std::unique_lock Lock(WaitMutex);
  return !WaitCondition.wait_for(Lock, Duration, [this] { return Stopping.load(); });
}

std::optional<TSimUser> TCloudSim::TState::FindUser(const std::string& Email) const {
  const std::string Wanted = AsciiLowerCopy(Email);
  std::lock_guard Lock(Mutex);
  for (const auto& U : Users)
    if (AsciiLowerCopy(U.Email) == Wanted) return U;
  return std::nullopt;
}

std::string TCloudSim::TState::IssueToken(const TSimUser& User) {
  const TSimTime IssuedAt = Now();
  int Lifetime;
  {
    std::lock_guard Lock(Mutex);
    Lifetime = TokenLifetimeSeconds;
  }
  const auto Iat = std::chrono::duration_cast<std::chrono::seconds>(IssuedAt.time_since_epoch()).count();
  // Shaped like the identity service's ID tokens (a signed JWT of about 900 characters), so that
  // whoever stores them meets realistic lengths.
  nlohmann::ordered_json Header = {{"alg", "RS256"}, {"kid", "cloudsim"}, {"typ", "JWT"}};
  nlohmann::ordered_json Payload = {
      {"iss", "https://securetoken.google.com/cloudsim"},
      {"aud", "cloudsim"},
      {"auth_time", Iat},
      {"user_id", User.LocalId},
      {"sub", User.LocalId},
      {"iat", Iat},
      {"exp", Iat + Lifetime},
      {"email", User.Email},
      {"email_verified", false},
      {"firebase", {{"identities", {{"email", {User.Email}}}}, {"sign_in_provider", "password"}}}};
  const std::string Token =
      Base64Url(Header.dump()) + "." + Base64Url(Payload.dump()) + "." + Base64Url(RandomBytes(256));
  std::lock_guard Lock(Mutex);
  Tokens[Token] = {User.LocalId, User.Email, IssuedAt + std::chrono::seconds(Lifetime)};
  return Token;
}

bool TCloudSim::TState::TokenValid(const std::string& Token) {
  const TSimTime At = Now();
  std::lock_guard Lock(Mutex);
  auto It = Tokens.find(Token);
  return It != Tokens.end() && At < It->second.Expiry;
}

void TCloudSim::TState::Dispatch(const httplib::Request& Req, httplib::Response& Res) {
  std::optional<TFault> Fault;
  {
    std::lock_guard Lock(Mutex);
    ++Counts[Req.path][Req.method];
    ++Total;
    Log.push_back({Req.method, Req.path, Req.target, CopyHeaders(Req.headers), Req.body});
    if (Log.size() > LogLimit) Log.pop_front();
    for (auto It = Faults.begin(); It != Faults.end(); ++It) {
      if (!MethodMatches(It->Method, Req.method) || Req.path.compare(0, It->PathPrefix.size(), It->PathPrefix) != 0)
        continue;
      if (It->Skip > 0) {
        --It->Skip;
        continue;
      }
      Fault = *It;
      if (It->Times > 0 && --It->Times == 0) Faults.erase(It);
      break;
    }
  }

  bool Canned = false;
  if (Fault) {
    switch (Fault->Kind) {
      case TFaultKind::Latency:
        if (!WaitFor(Fault->Delay)) {
          Res.status = 503;
          return;
        }
        break;
      case TFaultKind::NoAnswer:
        // Nothing is sent while the request is held; what follows is never read by a client that
        // has given up.
        WaitFor(Fault->Delay.count() > 0 ? Fault->Delay : DefaultHold);
        Res.status = 504;
        return;
      case TFaultKind::CannedReply:
        Ranges(Req).clear();  // sent exactly as given
        Res.status = Fault->Status;
        for (const auto& [Name, Value] : Fault->Headers) Res.set_header(Name, Value);
        Res.set_content(Fault->Body, Fault->ContentType);
        Canned = true;
        break;
      case TFaultKind::IgnoreRange:
        Ranges(Req).clear();  // the service sees no Range and answers the whole body
        break;
      default:
        break;
    }
  }

  if (!Canned) {
    bool Routed = false;
    for (const auto& Route : Routes) {
      if (Route.Method != Req.method || !std::regex_match(Req.path, Route.Pattern)) continue;
      Route.Handler(Req, Res);
      Routed = true;
      break;
    }
    if (!Routed) {
      Res.status = 404;
      Res.set_content("{\n  \"error\" : \"Not found\"\n}\n", "application/json; charset=utf-8");
    }
    // httplib cuts any reply to a requested Range; only a full 200 reply becomes a 206 part, an
    // error reply goes out whole.
    if (!Req.ranges.empty()) {
      if (Res.status == 200)
        Res.status = 206;
      else
        Ranges(Req).clear();
    }
  }

  if (Fault) {
    switch (Fault->Kind) {
      case TFaultKind::CutMidBody:
      case TFaultKind::ShortBody:
      case TFaultKind::StallMidBody:
        ApplyCut(*this, *Fault, Res);
        break;
      case TFaultKind::Throttle:
        ApplyThrottle(*this, *Fault, Res);
        break;
      case TFaultKind::CorruptBody:
        ApplyCorruption(*Fault, Res);
        break;
      default:
        break;
    }
  }
  // Counted last, so that only what the faults let through is counted.
  if (Res.status >= 200 && Res.status < 300 && IsMediaDownload(Req)) CountBody(MediaBytes, Res);
}

// ---- the public object ----

TCloudSim::TCloudSim(TSimOptions Options) : FOptions(std::move(Options)), FState(std::make_unique<TState>()) {
  FState->ApiKey = FOptions.ApiKey;
  FState->TokenLifetimeSeconds = FOptions.TokenLifetimeSeconds;
  ResetDrive(*FState, FOptions.DriveRootId);
}

TCloudSim::~TCloudSim() { Stop(); }

void TCloudSim::Start() {
  if (Running()) return;
  if (!FOptions.SeedDir.empty()) {
    std::vector<TSimUser> Users;
    nlohmann::ordered_json Tree;
    LoadSeed(FOptions.SeedDir, Users, Tree);
    SetUsers(std::move(Users));
    SetDatabase(std::move(Tree));
    std::vector<std::pair<std::string, std::string>> RefreshTokens;
    LoadGoogleSeed(FOptions.SeedDir, RefreshTokens);
    for (const auto& [Token, ClientId] : RefreshTokens) AddRefreshToken(Token, ClientId);
  }
  std::string DriveDir = FOptions.DriveDir;
  if (DriveDir.empty() && !FOptions.SeedDir.empty()) {
    std::error_code Ec;
    if (std::filesystem::is_directory(FOptions.SeedDir + "/drive", Ec)) DriveDir = FOptions.SeedDir + "/drive";
  }
  if (!DriveDir.empty()) SetDriveRoot(DriveDir, FOptions.DriveRootId);

  TState& S = *FState;
  S.Stopping = false;
  S.Routes.clear();
  AddIdentityService(S);
  AddTokenService(S);
  AddDriveService(S);
  AddDatabaseService(S);  // the catch-all read: last

  S.Http = std::make_unique<httplib::Server>();
  // Held requests (NoAnswer, Latency) occupy a worker each; keep enough for the rest.
  S.Http->new_task_queue = [] { return new httplib::ThreadPool(16); };
  // One request per connection: an idle kept-alive connection would otherwise hold Stop() for
  // the keep-alive time-out.
  S.Http->set_keep_alive_max_count(1);
  const auto Handler = [&S](const httplib::Request& Req, httplib::Response& Res) { S.Dispatch(Req, Res); };
  S.Http->Get(".*", Handler);
  S.Http->Post(".*", Handler);
  S.Http->Put(".*", Handler);
  S.Http->Patch(".*", Handler);
  S.Http->Delete(".*", Handler);
  S.Http->Options(".*", Handler);
  S.Http->set_exception_handler([](const httplib::Request&, httplib::Response& Res, std::exception_ptr Error) {
    std::string Text = "unknown error";
    try {
      if (Error) std::rethrow_exception(Error);
    } catch (const std::exception& E) {
      Text = E.what();
    } catch (...) {
    }
    Res.status = 500;
    Res.set_content(nlohmann::json({{"error", Text}}).dump(), "application/json; charset=utf-8");
  });
  S.Http->set_logger([&S](const httplib::Request& Req, const httplib::Response& Res) {
    if (S.Verbose) std::fprintf(stderr, "cloudsim: %s %s -> %d\n", Req.method.c_str(), Req.path.c_str(), Res.status);
  });

  if (FOptions.Port == 0) {
    S.Port = S.Http->bind_to_any_port("127.0.0.1");
    if (S.Port <= 0) throw std::runtime_error("cloudsim: no free port on 127.0.0.1");
  } else {
    if (!S.Http->bind_to_port("127.0.0.1", FOptions.Port))
      throw std::runtime_error("cloudsim: cannot listen on 127.0.0.1:" + std::to_string(FOptions.Port));
    S.Port = FOptions.Port;
  }
  S.Thread = std::thread([&S] { S.Http->listen_after_bind(); });
  // httplib's stop() does nothing before the loop runs; wait for it so that Stop() always ends it.
  while (!S.Http->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TCloudSim::Stop() {
  TState& S = *FState;
  if (!S.Http) return;
  {
    std::lock_guard Lock(S.WaitMutex);
    S.Stopping = true;
  }
  S.WaitCondition.notify_all();
  S.Http->stop();
  if (S.Thread.joinable()) S.Thread.join();
  S.Http.reset();
}

bool TCloudSim::Running() const { return FState->Http != nullptr; }
int TCloudSim::Port() const { return FState->Port; }
std::string TCloudSim::BaseUrl() const { return "http://" + HostPort(); }
std::string TCloudSim::HostPort() const { return "127.0.0.1:" + std::to_string(FState->Port); }
std::string TCloudSim::DatabaseUrl() const { return BaseUrl() + "/"; }
std::string TCloudSim::SignInUrl() const {
  return BaseUrl() + "/identitytoolkit.googleapis.com/v1/accounts:signInWithPassword";
}

void TCloudSim::SetUsers(std::vector<TSimUser> Users) {
  for (auto& U : Users)
    if (U.LocalId.empty()) U.LocalId = LocalIdFor(U.Email);
  std::lock_guard Lock(FState->Mutex);
  FState->Users = std::move(Users);
}

void TCloudSim::AddUser(TSimUser User) {
  if (User.LocalId.empty()) User.LocalId = LocalIdFor(User.Email);
  std::lock_guard Lock(FState->Mutex);
  for (auto& U : FState->Users)
    if (AsciiLowerCopy(U.Email) == AsciiLowerCopy(User.Email)) {
      U = std::move(User);
      return;
    }
  FState->Users.push_back(std::move(User));
}

std::vector<TSimUser> TCloudSim::Users() const {
  std::lock_guard Lock(FState->Mutex);
  return FState->Users;
}

void TCloudSim::SetTokenLifetime(int Seconds) {
  std::lock_guard Lock(FState->Mutex);
  FState->TokenLifetimeSeconds = Seconds;
}

void TCloudSim::SetExpiresInText(std::optional<std::string> Text) {
  std::lock_guard Lock(FState->Mutex);
  FState->ExpiresInText = std::move(Text);
}

void TCloudSim::SetApiKey(std::string Key) {
  std::lock_guard Lock(FState->Mutex);
  FState->ApiKey = std::move(Key);
}

std::string TCloudSim::IssueIdToken(const std::string& Email) {
  auto User = FState->FindUser(Email);
  if (!User) throw std::runtime_error("cloudsim: no user " + Email);
  return FState->IssueToken(*User);
}

void TCloudSim::RevokeTokens() {
  std::lock_guard Lock(FState->Mutex);
  FState->Tokens.clear();
}

void TCloudSim::SetDatabase(nlohmann::ordered_json Tree) {
  {
    std::unique_lock Lock(FState->TreeMutex);
    FState->Tree = std::move(Tree);
    ++FState->TreeGeneration;
  }
}

nlohmann::ordered_json TCloudSim::Database() const {
  std::shared_lock Lock(FState->TreeMutex);
  return FState->Tree;
}

void TCloudSim::SetNode(const std::string& Path, nlohmann::ordered_json Value) {
  std::vector<std::string> Parts;
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find('/', Start);
    if (End == std::string::npos) End = Path.size();
    if (End > Start) Parts.push_back(Path.substr(Start, End - Start));
    Start = End + 1;
  }
  {
    std::unique_lock Lock(FState->TreeMutex);
    if (Parts.empty()) {
      FState->Tree = std::move(Value);
    } else {
      nlohmann::ordered_json* Node = &FState->Tree;
      for (size_t I = 0; I + 1 < Parts.size(); ++I) {
        if (!Node->is_object()) *Node = nlohmann::ordered_json::object();
        Node = &(*Node)[Parts[I]];
      }
      if (Value.is_null()) {
        if (Node->is_object()) Node->erase(Parts.back());
      } else {
        if (!Node->is_object()) *Node = nlohmann::ordered_json::object();
        (*Node)[Parts.back()] = std::move(Value);
      }
    }
    ++FState->TreeGeneration;
  }
}

void TCloudSim::SetClock(TSimClock Clock) {
  std::shared_ptr<const TSimClock> Next;
  if (Clock) Next = std::make_shared<const TSimClock>(std::move(Clock));
  std::lock_guard Lock(FState->ClockMutex);
  FState->ClockSource.swap(Next);
}

int64_t TCloudSim::RequestCount(const std::string& Path) const {
  std::lock_guard Lock(FState->Mutex);
  auto It = FState->Counts.find(Path);
  if (It == FState->Counts.end()) return 0;
  int64_t N = 0;
  for (const auto& [Method, Count] : It->second) N += Count;
  return N;
}

int64_t TCloudSim::RequestCount(const std::string& Method, const std::string& Path) const {
  std::lock_guard Lock(FState->Mutex);
  auto It = FState->Counts.find(Path);
  if (It == FState->Counts.end()) return 0;
  auto M = It->second.find(Method);
  return M == It->second.end() ? 0 : M->second;
}

int64_t TCloudSim::RequestCountWithPrefix(const std::string& PathPrefix) const {
  std::lock_guard Lock(FState->Mutex);
  int64_t N = 0;
  for (const auto& [Path, ByMethod] : FState->Counts)
    if (Path.compare(0, PathPrefix.size(), PathPrefix) == 0)
      for (const auto& [Method, Count] : ByMethod) N += Count;
  return N;
}

int64_t TCloudSim::TotalRequests() const {
  std::lock_guard Lock(FState->Mutex);
  return FState->Total;
}

std::vector<TSimRequest> TCloudSim::Requests() const {
  std::lock_guard Lock(FState->Mutex);
  return {FState->Log.begin(), FState->Log.end()};
}

std::optional<TSimRequest> TCloudSim::LastRequest(const std::string& Path) const {
  std::lock_guard Lock(FState->Mutex);
  for (auto It = FState->Log.rbegin(); It != FState->Log.rend(); ++It)
    if (It->Path == Path) return *It;
  return std::nullopt;
}

void TCloudSim::ResetCounts() {
  std::lock_guard Lock(FState->Mutex);
  FState->Counts.clear();
  FState->Total = 0;
  FState->Log.clear();
  FState->MediaBytes = 0;
}

int64_t TCloudSim::MediaBytesServed() const { return FState->MediaBytes.load(); }

void TCloudSim::AddFault(TFault Fault) {
  std::lock_guard Lock(FState->Mutex);
  FState->Faults.push_back(std::move(Fault));
}

void TCloudSim::ClearFaults() {
  std::lock_guard Lock(FState->Mutex);
  FState->Faults.clear();
}

void TCloudSim::SetVerbose(bool Verbose) { FState->Verbose = Verbose; }

}  // namespace kelvo::cloudsim
