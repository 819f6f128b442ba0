#include "core/HttpClient.h"

#include <curl/curl.h>

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>

#include "core/FileIO.h"
#include "core/PercentEncoding.h"
#include "core/ProcessDefault.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace kelvo {

namespace {

constexpr size_t ErrorBodyLimit = 1 << 20;
constexpr auto ProgressInterval = std::chrono::milliseconds(200);
constexpr long DownloadBufferSize = 512 * 1024;
constexpr int PollIntervalMs = 100;

std::once_flag GCurlInit;
TProcessDefault<THttpTimeouts> GDefaults;

void EnsureCurl() {
  std::call_once(GCurlInit, [] {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw EHttpError("HTTP kutuphanesi baslatilamadi.", -1);
  });
}

struct SlistFree {
  void operator()(curl_slist* List) const { curl_slist_free_all(List); }
};
using TSlist = std::unique_ptr<curl_slist, SlistFree>;

void Append(TSlist& List, const std::string& Line) {
  curl_slist* Next = curl_slist_append(List.get(), Line.c_str());
  if (!Next) throw std::bad_alloc();
  (void)List.release();
  List.reset(Next);
}

// "host:port" of a URL for messages; never the path or query, which may carry keys and tokens.
std::string HostOf(const std::string& Url) {
  std::string Result;
  CURLU* U = curl_url();
  if (!U) return Result;
  if (curl_url_set(U, CURLUPART_URL, Url.c_str(), 0) == CURLUE_OK) {
    char* Host = nullptr;
    char* Port = nullptr;
    if (curl_url_get(U, CURLUPART_HOST, &Host, 0) == CURLUE_OK && Host) Result = Host;
    if (curl_url_get(U, CURLUPART_PORT, &Port, 0) == CURLUE_OK && Port) Result += std::string(":") + Port;
    curl_free(Host);
    curl_free(Port);
  }
  curl_url_cleanup(U);
  return Result;
}

std::string ErrorMessage(CURLcode Code, const char* Buffer, const std::string& Url) {
  const std::string CurlText = Buffer && *Buffer ? std::string(Buffer) : std::string(curl_easy_strerror(Code));
  const char* Lead;
  switch (Code) {
    case CURLE_OPERATION_TIMEDOUT:
      Lead = "HTTP istegi zaman asimina ugradi";
      break;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      Lead = "Sunucuya baglanilamadi";
      break;
    default:
      Lead = "HTTP istegi basarisiz";
  }
  const std::string Host = HostOf(Url);
  return Host.empty() ? Fmt("%s: %s", Lead, CurlText) : Fmt("%s (%s): %s", Lead, Host, CurlText);
}

// Loopback never goes through a proxy taken from the environment.
std::string NoProxyList() {
  std::string List = "localhost,127.0.0.1,::1";
  std::string Env = platform::GetEnv("no_proxy");
  if (Env.empty()) Env = platform::GetEnv("NO_PROXY");
  if (!Env.empty()) List += "," + Env;
  return List;
}

bool Is2xx(long Status) { return Status >= 200 && Status < 300; }

// Start of "bytes X-Y/Z", or -1.
int64_t ContentRangeStart(const std::string& Value) {
  const std::string V = Trim(Value);
  if (!StartsText(V, "bytes ")) return -1;
  int64_t Start = 0;
  size_t I = 6;
  while (I < V.size() && V[I] == ' ') ++I;
  const size_t First = I;
  for (; I < V.size() && V[I] >= '0' && V[I] <= '9'; ++I) {
    if (Start > (INT64_MAX - 9) / 10) return -1;
    Start = Start * 10 + (V[I] - '0');
  }
  return I > First && I < V.size() && V[I] == '-' ? Start : -1;
}

// Runs one transfer on the multi handle, waking at least every PollInterval to look at the cancel
// token, so a stalled server never holds a cancelled request.
CURLcode RunTransfer(CURLM* Multi, CURL* Handle, const TCancelToken* Cancel) {
  if (curl_multi_add_handle(Multi, Handle) != CURLM_OK) return CURLE_FAILED_INIT;
  CURLcode Result = CURLE_OK;
  bool Done = false;
  while (!Done) {
    int Running = 0;
    if (curl_multi_perform(Multi, &Running) != CURLM_OK) {
      Result = CURLE_FAILED_INIT;
      break;
    }
    int Queued = 0;
    while (CURLMsg* Message = curl_multi_info_read(Multi, &Queued)) {
      if (Message->msg == CURLMSG_DONE && Message->easy_handle == Handle) {
        Result = Message->data.result;
        Done = true;
      }
    }
    if (Done) break;
    if (Cancel && Cancel->Cancelled()) {
      Result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (curl_multi_poll(Multi, nullptr, 0, PollIntervalMs, nullptr) != CURLM_OK) {
      Result = CURLE_FAILED_INIT;
      break;
    }
  }
  curl_multi_remove_handle(Multi, Handle);
  return Result;
}

}  // namespace

bool EHttpError::IsTimeout() const { return FCurlCode == CURLE_OPERATION_TIMEDOUT; }

bool EHttpError::IsTransient() const {
  switch (FCurlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_SSL_CONNECT_ERROR:
      return true;
    default:
      return false;
  }
}

std::string THttpResponse::HeaderValue(std::string_view Name) const {
  for (const auto& [Key, Value] : Headers)
    if (SameText(Key, Name)) return Value;
  return {};
}

std::string THttpResponse::Text() const {
  const size_t At = FindText(ContentType, "charset=");
  if (At == std::string::npos) return Body;
  std::string Charset = Trim(ContentType.substr(At + 8));
  const size_t End = Charset.find(';');
  if (End != std::string::npos) Charset = Trim(Charset.substr(0, End));
  if (Charset.size() >= 2 && Charset.front() == '"' && Charset.back() == '"')
    Charset = Charset.substr(1, Charset.size() - 2);
  if (!SameText(Charset, "iso-8859-1") && !SameText(Charset, "latin1") && !SameText(Charset, "iso8859-1")) return Body;
  std::string Out;
  Out.reserve(Body.size());
  for (unsigned char C : Body) {
    if (C < 0x80) {
      Out += static_cast<char>(C);
    } else {
      Out += static_cast<char>(0xC0 | (C >> 6));
      Out += static_cast<char>(0x80 | (C & 0x3F));
    }
  }
  return Out;
}

// State of one request, shared with curl's callbacks.
struct THttpClient::TTransfer {
  CURL* Handle = nullptr;
  THttpResponse Response;
  IHttpBodySink* Sink = nullptr;  // set for downloads
  int64_t RangeStart = 0;
  const TTransferProgress* OnProgress = nullptr;
  const TCancelToken* Cancel = nullptr;
  bool Begun = false;
  int64_t Position = 0;  // where the next byte belongs in the whole content
  int64_t Base = 0;      // where this reply's bytes start
  std::chrono::steady_clock::time_point LastProgress{};
  std::exception_ptr Error;

  long Status() const {
    long Code = 0;
    curl_easy_getinfo(Handle, CURLINFO_RESPONSE_CODE, &Code);
    return Code;
  }

  void Begin(long Code) {
    Base = 0;
    if (Code == 206 && RangeStart > 0) {
      const int64_t Start = ContentRangeStart(Response.HeaderValue("Content-Range"));
      if (Start >= 0 && Start != RangeStart)
        throw EHttpError(Fmt("Sunucu istenen araligi gondermedi: %s", Response.HeaderValue("Content-Range")), -1);
      Base = RangeStart;
    }
    Sink->Begin(Base);
    Position = Base;
    Begun = true;
  }

  void Progress(bool Force) {
    if (!OnProgress || !*OnProgress) return;
    const auto Now = std::chrono::steady_clock::now();
    if (!Force && Now - LastProgress < ProgressInterval) return;
    LastProgress = Now;
    curl_off_t Length = -1;
    curl_easy_getinfo(Handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &Length);
    (*OnProgress)(Position, Length >= 0 ? Base + Length : 0);
  }

  size_t Receive(const char* Data, size_t Size) {
    if (Cancel) Cancel->ThrowIfCancelled();
    if (!Sink) {
      Response.Body.append(Data, Size);
      return Size;
    }
    const long Code = Status();
    if (!Is2xx(Code)) {
      if (Response.Body.size() < ErrorBodyLimit)
        Response.Body.append(Data, std::min(Size, ErrorBodyLimit - Response.Body.size()));
      return Size;
    }
    if (!Begun) Begin(Code);
    Sink->Write(Data, Size);
    Position += static_cast<int64_t>(Size);
    Progress(false);
    return Size;
  }

  static size_t WriteCallback(char* Data, size_t One, size_t Count, void* User) {
    auto* T = static_cast<TTransfer*>(User);
    try {
      return T->Receive(Data, One * Count);
    } catch (...) {
      T->Error = std::current_exception();
      return 0;  // ends the transfer with CURLE_WRITE_ERROR
    }
  }

  static size_t HeaderCallback(char* Data, size_t One, size_t Count, void* User) {
    auto* T = static_cast<TTransfer*>(User);
    const size_t Size = One * Count;
    try {
      std::string Line(Data, Size);
      while (!Line.empty() && (Line.back() == '\r' || Line.back() == '\n')) Line.pop_back();
      if (StartsText(Line, "HTTP/")) {
        T->Response.Headers.clear();  // a new response (after a redirect or 100 Continue)
      } else if (const size_t Colon = Line.find(':'); Colon != std::string::npos && Colon > 0) {
        T->Response.Headers.emplace_back(Trim(Line.substr(0, Colon)), Trim(Line.substr(Colon + 1)));
      }
    } catch (...) {
      T->Error = std::current_exception();
      return 0;
    }
    return Size;
  }
};

// A download straight into a file: opened when a 2xx body starts, so an error reply leaves it
// untouched; a 206 reply is appended at its offset, a 200 reply replaces the content.
class TFileSink : public IHttpBodySink {
 public:
  explicit TFileSink(std::string Path) : FPath(std::move(Path)) {}
  void Begin(int64_t Offset) override {
    if (!FFile.Open(FPath, platform::TWriteFile::TWriteMode::At))
      throw EFileError(Fmt("Dosya acilamadi: %s: %s", FPath, FFile.Error()));
    // Cut only a file that is longer: on ext4 truncating marks the file for a flush at close, which
    // would stall the end of every large download.
    int64_t Size = 0;
    if (!FFile.Size(Size) || (Size != Offset && !FFile.SetSize(Offset)) || !FFile.Seek(Offset)) Raise();
  }
  void Write(const char* Data, size_t Size) override {
    if (!FFile.Write(Data, Size)) Raise();
  }
  void Close() {
    if (!FFile.Close()) Raise();
  }

 private:
  [[noreturn]] void Raise() { throw EFileError(Fmt("Dosyaya yazilamadi: %s: %s", FPath, FFile.Error())); }
  std::string FPath;
  platform::TWriteFile FFile;
};

THttpClient::THttpClient() : FTimeouts(DefaultTimeouts()) {
  EnsureCurl();
  FHandle = curl_easy_init();
  FMulti = curl_multi_init();
  if (!FHandle || !FMulti) {
    curl_easy_cleanup(FHandle);
    curl_multi_cleanup(FMulti);
    throw EHttpError("HTTP istemcisi olusturulamadi.", -1);
  }
}

THttpClient::~THttpClient() {
  curl_easy_cleanup(FHandle);
  curl_multi_cleanup(FMulti);
}

THttpTimeouts THttpClient::DefaultTimeouts() { return GDefaults.Get(); }

void THttpClient::SetDefaultTimeouts(const THttpTimeouts& Timeouts) { GDefaults.Set(Timeouts); }

THttpResponse THttpClient::Get(const std::string& Url, const THttpHeaders& Headers) {
  return Send("GET", Url, {}, Headers);
}

THttpResponse THttpClient::Post(const std::string& Url, const std::string& Body, const THttpHeaders& Headers) {
  return Send("POST", Url, Body, Headers);
}

THttpResponse THttpClient::Send(const std::string& Method, const std::string& Url, const std::string& Body,
                                const THttpHeaders& Headers) {
  curl_easy_reset(FHandle);
  if (Method == "GET") {
    curl_easy_setopt(FHandle, CURLOPT_HTTPGET, 1L);
  } else if (Method == "POST") {
    curl_easy_setopt(FHandle, CURLOPT_POST, 1L);
  } else {
    curl_easy_setopt(FHandle, CURLOPT_CUSTOMREQUEST, Method.c_str());
  }
  if (Method == "POST" || (!Body.empty() && Method != "GET")) {
    curl_easy_setopt(FHandle, CURLOPT_POSTFIELDS, Body.data());
    curl_easy_setopt(FHandle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(Body.size()));
  }
  curl_easy_setopt(FHandle, CURLOPT_TIMEOUT_MS, static_cast<long>(FTimeouts.TotalMs));
  TTransfer Transfer;
  return Perform(Transfer, Url, Headers);
}

THttpResponse THttpClient::Download(const std::string& Url, const THttpHeaders& Headers, IHttpBodySink& Sink,
                                    const TTransferProgress& OnProgress, int64_t RangeStart) {
  curl_easy_reset(FHandle);
  curl_easy_setopt(FHandle, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(FHandle, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(FTimeouts.LowSpeedBytesPerSec));
  curl_easy_setopt(FHandle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(FTimeouts.LowSpeedSeconds));
  // A large receive buffer: a big download needs far fewer socket reads than with 16 KiB.
  curl_easy_setopt(FHandle, CURLOPT_BUFFERSIZE, DownloadBufferSize);
  const std::string Range = std::to_string(RangeStart) + "-";
  if (RangeStart > 0) curl_easy_setopt(FHandle, CURLOPT_RANGE, Range.c_str());
  TTransfer Transfer;
  Transfer.Sink = &Sink;
  Transfer.RangeStart = RangeStart;
  Transfer.OnProgress = &OnProgress;
  THttpResponse Response = Perform(Transfer, Url, Headers);
  if (Is2xx(Response.Status)) {
    // An empty 2xx body still begins (an empty file is a file).
    if (!Transfer.Begun) Transfer.Begin(Response.Status);
    Response.BytesWritten = Transfer.Position - Transfer.Base;
  }
  return Response;
}

THttpResponse THttpClient::GetToFile(const std::string& Url, const THttpHeaders& Headers, const std::string& FilePath,
                                     const TTransferProgress& OnProgress, int64_t RangeStart) {
  TFileSink Sink(FilePath);
  THttpResponse Response = Download(Url, Headers, Sink, OnProgress, RangeStart);
  Sink.Close();
  return Response;
}

THttpResponse THttpClient::Perform(TTransfer& Transfer, const std::string& Url, const THttpHeaders& Headers) {
  Transfer.Handle = FHandle;
  char ErrorBuffer[CURL_ERROR_SIZE] = {};
  TSlist HeaderList;
  bool HasExpect = false;
  for (const auto& [Name, Value] : Headers) {
    Append(HeaderList, Name + ": " + Value);
    HasExpect = HasExpect || SameText(Name, "Expect");
  }
  // No "Expect: 100-continue" round trip before request bodies.
  if (!HasExpect) Append(HeaderList, "Expect:");
  const std::string NoProxy = NoProxyList();

  curl_easy_setopt(FHandle, CURLOPT_URL, Url.c_str());
  curl_easy_setopt(FHandle, CURLOPT_HTTPHEADER, HeaderList.get());
  curl_easy_setopt(FHandle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(FHandle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(FHandle, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(FHandle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(FHandle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(FHandle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(FTimeouts.ConnectMs));
  curl_easy_setopt(FHandle, CURLOPT_NOPROXY, NoProxy.c_str());
  curl_easy_setopt(FHandle, CURLOPT_USERAGENT, "Kelvo/1.0");
  curl_easy_setopt(FHandle, CURLOPT_ERRORBUFFER, ErrorBuffer);
  curl_easy_setopt(FHandle, CURLOPT_WRITEFUNCTION, &TTransfer::WriteCallback);
  curl_easy_setopt(FHandle, CURLOPT_WRITEDATA, &Transfer);
  curl_easy_setopt(FHandle, CURLOPT_HEADERFUNCTION, &TTransfer::HeaderCallback);
  curl_easy_setopt(FHandle, CURLOPT_HEADERDATA, &Transfer);

  Transfer.Cancel = FCancel.get();
  const CURLcode Code = RunTransfer(FMulti, FHandle, Transfer.Cancel);
  // The handle keeps pointers to these; clear them before they go out of scope.
  curl_easy_setopt(FHandle, CURLOPT_ERRORBUFFER, nullptr);
  curl_easy_setopt(FHandle, CURLOPT_HTTPHEADER, nullptr);
  if (Transfer.Error) std::rethrow_exception(Transfer.Error);
  if (Transfer.Cancel) Transfer.Cancel->ThrowIfCancelled();
  if (Code != CURLE_OK) throw EHttpError(ErrorMessage(Code, ErrorBuffer, Url), Code);

  Transfer.Response.Status = static_cast<int32_t>(Transfer.Status());
  char* ContentType = nullptr;
  if (curl_easy_getinfo(FHandle, CURLINFO_CONTENT_TYPE, &ContentType) == CURLE_OK && ContentType)
    Transfer.Response.ContentType = ContentType;
  if (Transfer.Sink && Is2xx(Transfer.Response.Status)) Transfer.Progress(true);
  return std::move(Transfer.Response);
}

std::string UrlEncode(std::string_view Text) { return PercentEncode(Text, TPercentSet::Unreserved); }

std::string EscapeUnsafeUrlBytes(std::string_view Url) { return PercentEncode(Url, TPercentSet::UnsafeInUrl); }

}  // namespace kelvo
