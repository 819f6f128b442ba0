#pragma once
// HTTP(S) on libcurl: one easy handle per client object (connections are reused between its
// requests), redirects followed, a connect time-out and an overall time-out for API calls, and for
// downloads a low-speed limit instead of an overall limit. Transport failures raise EHttpError with
// a Turkish message that carries curl's own error text; HTTP error statuses are not failures here,
// the caller reads Status. A client given a cancellation token checks it while bytes flow and while
// it waits for them (at least ten times a second) and then raises EOperationCancelled.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/CancelToken.h"
#include "platform/Errors.h"

typedef void CURL;
typedef void CURLM;

namespace kelvo {

class EHttpError : public EKelvoError {
 public:
  EHttpError(const std::string& Message, int CurlCode) : EKelvoError(Message), FCurlCode(CurlCode) {}
  int CurlCode() const { return FCurlCode; }
  bool IsTimeout() const;
  // A failure that may pass: no connection, a reset or cut connection, a time-out, no answer.
  bool IsTransient() const;

 private:
  int FCurlCode;
};

using THttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct THttpResponse {
  int32_t Status = 0;        // of the final response, after redirects
  std::string Body;          // bytes as received; for downloads only an error reply's body (at most 1 MiB)
  std::string ContentType;   // "Content-Type" of the final response
  THttpHeaders Headers;      // headers of the final response, in arrival order
  int64_t BytesWritten = 0;  // downloads: body bytes of a 2xx reply handed to the sink by this request

  // First header of that name (ASCII case ignored), or empty.
  std::string HeaderValue(std::string_view Name) const;
  // The body as UTF-8: converted from ISO-8859-1 when the response declares that character set,
  // otherwise as received.
  std::string Text() const;
};

struct THttpTimeouts {
  int64_t ConnectMs = 15000;        // establishing the connection (name lookup, TCP, TLS)
  int64_t TotalMs = 120000;         // whole request for Get/Post/Send; 0 = no limit
  int64_t LowSpeedBytesPerSec = 1;  // downloads: abort when slower than this...
  int64_t LowSpeedSeconds = 60;     // ...for this long; 0 = no limit
};

// Called while a download's bytes arrive (at most every 200 ms): bytes in the file so far and the
// expected total (0 when the server did not say).
using TTransferProgress = std::function<void(int64_t BytesSent, int64_t TotalBytes)>;

// Takes the body of a 2xx download reply as it arrives.
class IHttpBodySink {
 public:
  virtual ~IHttpBodySink() = default;
  // A 2xx body starts; its bytes belong at Offset of the whole content: 0 for a 200 reply (even
  // when a range was asked for), the range start for a 206 reply.
  virtual void Begin(int64_t Offset) = 0;
  virtual void Write(const char* Data, size_t Size) = 0;
};

class THttpClient {
 public:
  THttpClient();
  ~THttpClient();
  THttpClient(const THttpClient&) = delete;
  THttpClient& operator=(const THttpClient&) = delete;

  void SetTimeouts(const THttpTimeouts& Timeouts) { FTimeouts = Timeouts; }
  const THttpTimeouts& Timeouts() const { return FTimeouts; }
  // Requests from now on end with EOperationCancelled once Token is cancelled; null: never.
  void SetCancelToken(std::shared_ptr<const TCancelToken> Token) { FCancel = std::move(Token); }

  THttpResponse Get(const std::string& Url, const THttpHeaders& Headers = {});
  THttpResponse Post(const std::string& Url, const std::string& Body, const THttpHeaders& Headers = {});
  // Any method; the body is sent with every method but GET (POST always sends one, if empty).
  THttpResponse Send(const std::string& Method, const std::string& Url, const std::string& Body,
                     const THttpHeaders& Headers);

  // GET with the body of a 2xx reply streamed into Sink (an error reply's body lands in
  // Response.Body). RangeStart > 0 asks for "bytes=RangeStart-"; a 206 reply must start there.
  // Raises EHttpError for transport failures; what Sink or OnProgress raise ends the transfer and is
  // passed on.
  THttpResponse Download(const std::string& Url, const THttpHeaders& Headers, IHttpBodySink& Sink,
                         const TTransferProgress& OnProgress = {}, int64_t RangeStart = 0);

  // GET into a file. The file is opened only when a 2xx body starts (so an error reply leaves it
  // untouched; its body lands in Response.Body), then written as the bytes arrive. RangeStart > 0
  // asks for "bytes=RangeStart-": a 206 reply is appended at that offset (the file is cut there
  // first), a 200 reply replaces the whole file. Raises EHttpError for transport failures and
  // EFileError when the file cannot be written; an exception from OnProgress ends the transfer and
  // is passed on.
  THttpResponse GetToFile(const std::string& Url, const THttpHeaders& Headers, const std::string& FilePath,
                          const TTransferProgress& OnProgress = {}, int64_t RangeStart = 0);

  // Time-outs new clients start with. Tests shorten them; the product keeps the built-in values.
  static THttpTimeouts DefaultTimeouts();
  static void SetDefaultTimeouts(const THttpTimeouts& Timeouts);

 private:
  struct TTransfer;
  THttpResponse Perform(TTransfer& Transfer, const std::string& Url, const THttpHeaders& Headers);

  CURL* FHandle = nullptr;
  CURLM* FMulti = nullptr;
  THttpTimeouts FTimeouts;
  std::shared_ptr<const TCancelToken> FCancel;
};

// Percent-encodes everything but the unreserved characters A-Z a-z 0-9 - . _ ~ (for one path
// segment or one query value).
std::string UrlEncode(std::string_view Text);
// Percent-encodes the bytes that may never appear in a URL (controls, blank, non-ASCII, " < > \ ^ `
// { | } and #) and leaves everything else, including "%", as it is.
std::string EscapeUnsafeUrlBytes(std::string_view Url);

}  // namespace kelvo
