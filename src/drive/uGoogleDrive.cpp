#include "drive/uGoogleDrive.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>

#include "core/AsciiJson.h"
#include "core/Endpoints.h"
#include "core/FileIO.h"
#include "core/Md5.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "drive/FormUrlEncoding.h"

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;

constexpr char ListFields[] = "nextPageToken,files(id,name,size,md5Checksum,mimeType,modifiedTime)";
// Shared drives are reached too: every request says so, listings also take their items.
constexpr char AllDrives[] = "&supportsAllDrives=true";
constexpr char AllDrivesListing[] = "&supportsAllDrives=true&includeItemsFromAllDrives=true";

// Connection time-out and the response time-out (the longest wait for the next bytes, downloads
// included) of the Drive client. Tests that shortened the HTTP defaults keep theirs.
THttpTimeouts DriveTimeouts() {
  THttpTimeouts T = THttpClient::DefaultTimeouts();
  const THttpTimeouts BuiltIn;
  if (T.ConnectMs == BuiltIn.ConnectMs && T.TotalMs == BuiltIn.TotalMs &&
      T.LowSpeedBytesPerSec == BuiltIn.LowSpeedBytesPerSec && T.LowSpeedSeconds == BuiltIn.LowSpeedSeconds) {
    T.ConnectMs = 30000;
    T.TotalMs = 1800000;
    T.LowSpeedBytesPerSec = 1;
    T.LowSpeedSeconds = 1800;
  }
  return T;
}

std::string TextMember(const Json& Object, const char* Name) {
  const auto It = Object.find(Name);
  return It != Object.end() && It->is_string() ? It->get<std::string>() : std::string();
}

// Same, moved out of a reply that is read once.
std::string TakeText(Json& Object, const char* Name) {
  const auto It = Object.find(Name);
  return It != Object.end() && It->is_string() ? std::move(It->get_ref<std::string&>()) : std::string();
}

// "size" as a whole number of bytes: the Drive sends it as decimal text; 0 for anything else.
int64_t SizeMember(const Json& Object) {
  const auto It = Object.find("size");
  if (It == Object.end()) return 0;
  if (It->is_number_unsigned()) return It->get<uint64_t>() <= INT64_MAX ? static_cast<int64_t>(It->get<uint64_t>()) : 0;
  if (It->is_number_integer()) return std::max<int64_t>(0, It->get<int64_t>());
  if (!It->is_string()) return 0;
  const std::string Text = Trim(It->get<std::string>());
  if (Text.empty() || Text.size() > 18) return 0;
  int64_t Value = 0;
  for (char C : Text) {
    if (C < '0' || C > '9') return 0;
    Value = Value * 10 + (C - '0');
  }
  return Value;
}

// ISO 8601 date-time: date, optionally "T" (or a blank) and a time with seconds and fraction,
// optionally a zone ("Z", "+hh:mm", "+hhmm", "+hh"); no zone means UTC. The instant as a UTC value.
bool TryParseIso8601Utc(const std::string& Text, TDateTime& Utc) {
  size_t I = 0;
  auto Digits = [&](int Count, int& Value) {
    if (I + Count > Text.size()) return false;
    Value = 0;
    for (int K = 0; K < Count; ++K, ++I) {
      if (Text[I] < '0' || Text[I] > '9') return false;
      Value = Value * 10 + (Text[I] - '0');
    }
    return true;
  };
  auto Take = [&](char C) {
    if (I < Text.size() && Text[I] == C) {
      ++I;
      return true;
    }
    return false;
  };
  TDateTimeParts P;
  P.Year = P.Month = P.Day = 0;
  if (!Digits(4, P.Year) || !Take('-') || !Digits(2, P.Month) || !Take('-') || !Digits(2, P.Day)) return false;
  if (Take('T') || Take('t') || Take(' ')) {
    if (!Digits(2, P.Hour) || !Take(':') || !Digits(2, P.Minute)) return false;
    if (Take(':')) {
      if (!Digits(2, P.Second)) return false;
      if (Take('.') || Take(',')) {
        const size_t First = I;
        int Ms = 0;
        for (; I < Text.size() && Text[I] >= '0' && Text[I] <= '9'; ++I)
          if (I - First < 3) Ms = Ms * 10 + (Text[I] - '0');
        if (I == First || I - First > 9) return false;
        for (size_t K = I - First; K < 3; ++K) Ms *= 10;
        P.Millisecond = Ms;
      }
    }
  }
  int OffsetMinutes = 0;
  if (Take('Z') || Take('z')) {
  } else if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
    const int Sign = Text[I++] == '-' ? -1 : 1;
    int Hours = 0, Minutes = 0;
    if (!Digits(2, Hours)) return false;
    if (I < Text.size()) {
      Take(':');
      if (!Digits(2, Minutes)) return false;
    }
    if (Hours > 23 || Minutes > 59) return false;
    OffsetMinutes = Sign * (Hours * 60 + Minutes);
  }
  if (I != Text.size()) return false;
  TDateTime Value = 0;
  if (!TryEncodeDateTime(P, Value)) return false;
  Utc = Value - OffsetMinutes / 1440.0;
  return true;
}

// The clock's instants span about 1678 to 2262; a Drive time outside this century and the next is
// nonsense and counts as unreadable rather than being converted.
TDateTime ConvertibleUtcToLocal(TDateTime Utc) {
  static const TDateTime First = EncodeDateTime(1900, 1, 1), Last = EncodeDateTime(2200, 1, 1);
  return Utc >= First && Utc < Last ? UtcToLocal(Utc) : 0;
}

const TCancelToken& NeverCancelled() {
  static const TCancelToken Token;
  return Token;
}

// The Drive's error reason: "errors[0].reason", else "status"; empty when the body has neither.
std::string DriveErrorReason(const std::string& Body) {
  const Json Reply = Json::parse(Body, nullptr, false);
  if (Reply.is_discarded() || !Reply.is_object()) return {};
  const auto Error = Reply.find("error");
  if (Error == Reply.end() || !Error->is_object()) return {};
  if (const auto Errors = Error->find("errors");
      Errors != Error->end() && Errors->is_array() && !Errors->empty() && Errors->front().is_object()) {
    const std::string Reason = TextMember(Errors->front(), "reason");
    if (!Reason.empty()) return Reason;
  }
  return TextMember(*Error, "status");
}

// Checks the bytes of a download while they arrive: written through the temporary file's own
// descriptor and hashed on the way, so no second pass over the file is needed.
class TVerifyingSink : public IHttpBodySink {
 public:
  explicit TVerifyingSink(platform::TTempFile& File) : FFile(File) {}
  void Begin(int64_t Offset) override {
    // A 200 reply to a range request brings the whole content again.
    if (Offset == 0 && FFile.Size() > 0) {
      FFile.Truncate(0);
      FHash.Reset();
    } else if (Offset != FFile.Size()) {
      throw EDriveError(Fmt("Drive beklenmeyen bir aralik gonderdi (%d yerine %d).", Offset, FFile.Size()));
    }
  }
  void Write(const char* Data, size_t Size) override {
    FFile.Write(Data, Size);
    FHash.Update(Data, Size);
  }
  std::string Md5() { return FHash.HexDigest(); }

 private:
  platform::TTempFile& FFile;
  TMd5Pipeline FHash;
};

}  // namespace

// ---- free helpers ----

std::string DriveFailureText(const THttpResponse& Response) {
  const std::string Reason = DriveErrorReason(Response.Text());
  return Reason.empty() ? Fmt("(%d)", Response.Status) : Fmt("(%d %s)", Response.Status, Reason);
}

bool IsTransientDriveReply(const THttpResponse& Response) {
  switch (Response.Status) {
    case 429:
    case 500:
    case 502:
    case 503:
    case 504:
      return true;
    case 403: {
      const std::string Reason = DriveErrorReason(Response.Text());
      return Reason == "userRateLimitExceeded" || Reason == "rateLimitExceeded";
    }
    default:
      return false;
  }
}

std::string EscapeDriveQueryText(const std::string& Text) {
  std::string Out;
  Out.reserve(Text.size());
  for (char C : Text) {
    if (C == '\\' || C == '\'') Out += '\\';
    Out += C;
  }
  return Out;
}

bool ReadDriveListPage(const std::string& Body, std::vector<TDriveFileInfo>& Files, std::string& NextPageToken) {
  NextPageToken.clear();
  Json Reply = Json::parse(Body, nullptr, false);
  if (Reply.is_discarded() || !Reply.is_object()) return false;
  if (const auto List = Reply.find("files"); List != Reply.end() && List->is_array()) {
    // Grown geometrically: a listing appends page after page.
    if (Files.capacity() < Files.size() + List->size())
      Files.reserve(std::max(Files.capacity() * 2, Files.size() + List->size()));
    for (Json& Entry : *List) {
      if (!Entry.is_object()) throw EDriveReplyError("Drive listesi okunamadi: dosya kaydi nesne degil");
      TDriveFileInfo Info;
      Info.FileID = TakeText(Entry, "id");
      Info.Name = TakeText(Entry, "name");
      Info.Size = SizeMember(Entry);
      Info.MimeType = TakeText(Entry, "mimeType");
      Info.MD5 = TakeText(Entry, "md5Checksum");
      Info.ModifiedTime = DriveTimeToLocal(TakeText(Entry, "modifiedTime"));
      Files.push_back(std::move(Info));
    }
  }
  NextPageToken = TakeText(Reply, "nextPageToken");
  return true;
}

TDateTime DriveTimeToLocal(const std::string& Text) {
  const std::string Trimmed = Trim(Text);
  if (Trimmed.empty()) return 0;
  TDateTime Value = 0;
  if (TryParseIso8601Utc(Trimmed, Value)) return ConvertibleUtcToLocal(Value);
  // Simplified: no zone, no fraction, a blank between date and time.
  std::string Simple = Trimmed;
  if (!Simple.empty() && Simple.back() == 'Z') Simple.pop_back();
  if (const size_t T = Simple.find('T'); T != std::string::npos) {
    std::string Time = Simple.substr(T + 1);
    if (const size_t Dot = Time.find('.'); Dot != std::string::npos) Time.erase(Dot);
    Simple = Simple.substr(0, T) + " " + Time;
  }
  if (TryParseIso8601Utc(Simple, Value)) return ConvertibleUtcToLocal(Value);
  if (TryParseRegionalDateTime(Simple, Value)) return Value;
  return 0;
}

// ---- the client ----

TGoogleDrive::TGoogleDrive(TGoogleAuth& Auth) : TGoogleDrive(&Auth) {}

TGoogleDrive::TGoogleDrive(TGoogleAuth* Auth)
    : FAuth(Auth), FHttpClient(std::make_unique<THttpClient>()), FRetry(TRetryPolicy::Default()) {
  FHttpClient->SetTimeouts(DriveTimeouts());
}

TGoogleDrive::~TGoogleDrive() = default;

TDateTime TGoogleDrive::ParseDriveTime(const std::string& Text) { return DriveTimeToLocal(Text); }

std::string TGoogleDrive::NormalizeDrivePath(const std::string& Path) {
  std::string Out = Path;
  for (char& C : Out)
    if (C == '\\') C = '/';
  const size_t First = Out.find_first_not_of('/');
  if (First == std::string::npos) return {};
  const size_t Last = Out.find_last_not_of('/');
  return Out.substr(First, Last - First + 1);
}

THttpHeaders TGoogleDrive::AuthHeaders() {
  // The header goes out even without a token; the Drive then refuses the request.
  return {{"Authorization", "Bearer " + (FAuth ? FAuth->GetValidToken() : std::string())}};
}

bool TGoogleDrive::Interactive() const { return FAuth && FAuth->GetInteractiveMessages(); }

void TGoogleDrive::SetCancelToken(std::shared_ptr<const TCancelToken> Token) {
  FCancel = Token;
  FHttpClient->SetCancelToken(std::move(Token));
}

EGoogleLinkError::EGoogleLinkError()
    : EDriveError(
          "Google baglantisi yenilenemedi (invalid_grant): yedekleme tarafinda Google hesabinin baglantisi yeniden "
          "yapilmali.") {}

const TCancelToken& TGoogleDrive::Cancel() const { return FCancel ? *FCancel : NeverCancelled(); }

THttpResponse TGoogleDrive::WithRetry(const char* What, const std::function<THttpResponse()>& Attempt,
                                      bool Idempotent) {
  const int Attempts = std::max(1, FRetry.MaxAttempts);
  bool Renewed = false;
  for (int Try = 1;; ++Try) {
    if (FLinkRefused) throw EGoogleLinkError();
    std::optional<std::chrono::milliseconds> RetryAfter;
    std::string Why;
    try {
      THttpResponse Response = Attempt();
      // A token the service refused (revoked or rotated early) is renewed once; the request goes
      // again with the new one (Attempt builds its headers anew).
      if (Response.Status == 401 && FAuth && !Renewed) {
        Renewed = true;
        if (FAuth->RenewAccessToken()) {
          --Try;
          continue;
        }
        if (FAuth->RefreshRefused()) {
          FLinkRefused = true;
          throw EGoogleLinkError();
        }
        return Response;
      }
      if (Try >= Attempts || !IsTransientDriveReply(Response)) return Response;
      RetryAfter = ParseRetryAfter(Response.HeaderValue("Retry-After"));
      Why = DriveFailureText(Response);
    } catch (const EHttpError& E) {
      if (Try >= Attempts || !E.IsTransient() || !Idempotent) throw;
      Why = E.what();
    }
    const std::chrono::milliseconds Delay = FRetry.DelayFor(Try, RetryAfter);
    LogWarnFmt("%s tekrarlanacak (%d/%d, %d ms sonra): %s", What, Try + 1, Attempts,
               static_cast<int64_t>(Delay.count()), Why);
    FRetry.Sleep(Delay, Cancel());
  }
}

std::vector<TDriveFileInfo> TGoogleDrive::ListFolder(const std::string& ParentFolderID) {
  if (Trim(ParentFolderID).empty()) throw EDriveError("Drive listesi alinamadi: ust klasor belirlenemedi.");
  return ListPages(ParentFolderID);
}

std::vector<TDriveFileInfo> TGoogleDrive::ListFiles(const std::string& ParentFolderID) {
  try {
    return ListPages(ParentFolderID);
  } catch (const EOperationCancelled&) {
    return {};
  } catch (const std::exception& E) {
    LogException("Drive listesi alinamadi", E);
    if (Interactive()) ShowGoogleUserMessage(std::string("Liste hatası: ") + E.what());
    return {};
  }
}

std::vector<TDriveFileInfo> TGoogleDrive::ListPages(const std::string& ParentFolderID) {
  std::vector<TDriveFileInfo> Result;
  std::string PageToken;
  std::set<std::string> UsedTokens;
  do {
    std::string Url = GetGoogleDriveUrl() + "?pageSize=1000&fields=" + ListFields + AllDrivesListing;
    if (!ParentFolderID.empty())
      Url += "&q=" + FormUrlEncode("'" + EscapeDriveQueryText(ParentFolderID) + "' in parents and trashed=false");
    if (!PageToken.empty()) Url += "&pageToken=" + FormUrlEncode(PageToken);
    THttpResponse Response;
    try {
      Response = WithRetry("Drive listesi", [&] { return FHttpClient->Get(Url, AuthHeaders()); });
    } catch (const EHttpError& E) {
      throw EDriveError(std::string("Drive listesi alinamadi: ") + E.what());
    }
    if (Response.Status != 200) throw EDriveError("Drive listesi alinamadi " + DriveFailureText(Response));
    PageToken.clear();
    std::string Next;
    if (!ReadDriveListPage(Response.Text(), Result, Next))
      throw EDriveReplyError("Drive listesi alinamadi: yanit okunamadi.");
    // A token handed out before would repeat the same pages for ever.
    if (!Next.empty() && UsedTokens.insert(Next).second) PageToken = Next;
  } while (!PageToken.empty());
  return Result;
}

std::string TGoogleDrive::SearchSubFolder(const std::string& ParentFolderID, const std::string& FolderName,
                                          bool& Answered) {
  Answered = false;
  try {
    const std::string Query = "'" + EscapeDriveQueryText(ParentFolderID) + "' in parents and name='" +
                              EscapeDriveQueryText(FolderName) + "' and mimeType='" + DriveFolderMimeType +
                              "' and trashed=false";
    const std::string Url =
        GetGoogleDriveUrl() + "?fields=files(id,name)" + AllDrivesListing + "&q=" + FormUrlEncode(Query);
    const THttpResponse Response =
        WithRetry("Drive klasor aramasi", [&] { return FHttpClient->Get(Url, AuthHeaders()); });
    const Json Reply = Json::parse(Response.Text(), nullptr, false);
    if (Reply.is_discarded() || !Reply.is_object()) return {};
    const auto Files = Reply.find("files");
    if (Files == Reply.end() || !Files->is_array()) return {};
    Answered = Response.Status == 200;
    if (Files->empty() || !Files->front().is_object()) return {};
    return TextMember(Files->front(), "id");
  } catch (const EOperationCancelled&) {
    throw;
  } catch (const EGoogleLinkError&) {
    throw;
  } catch (const std::exception& E) {
    LogException("FindSubFolder: " + FolderName, E);
    return {};
  }
}

std::string TGoogleDrive::FindSubFolder(const std::string& ParentFolderID, const std::string& FolderName) {
  bool Answered = false;
  return SearchSubFolder(ParentFolderID, FolderName, Answered);
}

std::string TGoogleDrive::CreateFolder(const std::string& FolderName, const std::string& ParentFolderID) {
  Json Meta = {{"name", FolderName}, {"mimeType", DriveFolderMimeType}};
  if (!ParentFolderID.empty()) Meta["parents"] = Json::array({ParentFolderID});
  const std::string Body = ToAsciiJson(Meta);
  const THttpResponse Response = WithRetry(
      "Drive klasor olusturma",
      [&] {
        THttpHeaders Headers = AuthHeaders();
        Headers.emplace_back("Content-Type", "application/json");
        return FHttpClient->Post(GetGoogleDriveUrl() + "?fields=id,name" + AllDrives, Body, Headers);
      },
      false);
  const std::string Text = Response.Text();
  if (Response.Status != 200) {
    LogErrorFmt("Klasor olusturma HTTP %d: %s", Response.Status, Text);
    if (Interactive())
      ShowGoogleUserMessage("Klasör oluşturma hatası (HTTP " + std::to_string(Response.Status) + "): " + Text);
    return {};
  }
  const Json Reply = Json::parse(Text, nullptr, false);
  if (Reply.is_discarded() || !Reply.is_object()) return {};
  if (Reply.contains("error")) {
    LogErrorFmt("Klasor olusturma API hatasi: %s", Text);
    if (Interactive()) ShowGoogleUserMessage("Klasör oluşturma hatası: " + Text);
    return {};
  }
  return TextMember(Reply, "id");
}

std::string TGoogleDrive::EnsureFolderPath(const std::string& RootFolderID, const std::string& RelativePath) {
  const std::string Path = NormalizeDrivePath(RelativePath);
  if (Path.empty()) return RootFolderID;
  std::string Parent = RootFolderID;
  std::string Walked;
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Path.find('/', Start);
    if (End == std::string::npos) End = Path.size();
    const std::string Part = Path.substr(Start, End - Start);
    Start = End + 1;
    if (Part.empty()) continue;
    Walked = Walked.empty() ? Part : Walked + "/" + Part;
    const std::string Key = RootFolderID + "|" + Walked;
    std::string Id;
    if (const auto Cached = FFolderCache.find(Key); Cached != FFolderCache.end()) {
      Id = Cached->second;
    } else {
      bool Answered = false;
      Id = SearchSubFolder(Parent, Part, Answered);
      // A folder is created only when the Drive said it has none: after a refused or broken search
      // a new one would stand beside the existing folder.
      if (Id.empty() && Answered) {
        LogDebugFmt("Alt klasor olusturuluyor: %s (parent=%s)", Part, Parent);
        Id = CreateFolder(Part, Parent);
        if (!Id.empty()) LogDebugFmt("Alt klasor olusturuldu: %s -> %s", Part, Id);
      }
      if (Id.empty()) {
        LogErrorFmt("Alt klasor olusturulamadi: %s (parent=%s)", Part, Parent);
        return {};
      }
      FFolderCache[Key] = Id;
    }
    Parent = Id;
  }
  return Parent;
}

TDriveFileInfo TGoogleDrive::FileMetadata(const std::string& FileID) {
  const std::string Url =
      GetGoogleDriveUrl() + "/" + UrlEncode(FileID) + "?fields=id,name,size,md5Checksum" + AllDrives;
  const THttpResponse Response = WithRetry("Drive dosya bilgisi", [&] { return FHttpClient->Get(Url, AuthHeaders()); });
  if (Response.Status != 200) throw EDriveError("Drive dosyasi indirilemedi " + DriveFailureText(Response));
  std::vector<TDriveFileInfo> One;
  std::string Ignored;
  if (!ReadDriveListPage("{\"files\":[" + Response.Text() + "]}", One, Ignored) || One.size() != 1)
    throw EDriveReplyError("Drive dosya bilgisi okunamadi.");
  return One.front();
}

platform::TTempFile TGoogleDrive::DownloadToTemp(const TDriveFileInfo& File, const platform::TFolder& Folder,
                                                 const std::string& Stem, const TUploadProgress& OnProgress) {
  const TDriveFileInfo Expected = File.Size > 0 || !File.MD5.empty() ? File : FileMetadata(File.FileID);
  platform::TTempFile Temp = platform::TTempFile::Create(Folder, Stem);
  TVerifyingSink Sink(Temp);
  TTransferProgress During;
  if (OnProgress)
    During = [&](int64_t Done, int64_t Total) {
      if (Expected.Size > 0) Total = Expected.Size;
      if (Total > 0 && Done < Total) OnProgress(Done, Total);
    };
  // The ID comes from the cloud: encoded, it can only ever name one file.
  const std::string Url = GetGoogleDriveUrl() + "/" + UrlEncode(File.FileID) + "?alt=media" + AllDrives;
  THttpResponse Response;
  try {
    Response = WithRetry("Drive indirme", [&] {
      // What arrived before a break stays: the next attempt asks for the rest.
      THttpResponse Reply = FHttpClient->Download(Url, AuthHeaders(), Sink, During, Temp.Size());
      if (Reply.Status == 416) {
        Temp.Truncate(0);
        Reply = FHttpClient->Download(Url, AuthHeaders(), Sink, During, 0);
      }
      return Reply;
    });
  } catch (const EHttpError& E) {
    throw EDriveError(std::string("Drive dosyasi indirilemedi: ") + E.what());
  }
  if (Response.Status != 200 && Response.Status != 206)
    throw EDriveError("Drive dosyasi indirilemedi " + DriveFailureText(Response));
  const bool SizeKnown = Expected.Size > 0 || !Expected.MD5.empty();
  if (SizeKnown && Temp.Size() != Expected.Size)
    throw EDriveError(
        Fmt("Indirilen dosya eksik ya da fazla: %d bayt geldi, Drive'da %d bayt.", Temp.Size(), Expected.Size));
  if (!Expected.MD5.empty() && !SameText(Sink.Md5(), Trim(Expected.MD5)))
    throw EDriveError("Indirilen dosyanin MD5 ozeti Drive'dakiyle uyusmuyor; dosya bozuk geldi.");
  return Temp;
}

void TGoogleDrive::DownloadTo(const TDriveFileInfo& File, const std::string& DestPath,
                              const TUploadProgress& OnProgress) {
  const TFolderAndName Dest = SplitFilePath(DestPath);
  if (Dest.Name.empty() || Dest.Name == "." || Dest.Name == "..")
    throw EFileError("Gecersiz hedef dosya adi: " + DestPath);
  const platform::TFolder Folder = platform::TFolder::Open(Dest.Folder, true);
  platform::TTempFile Temp = DownloadToTemp(File, Folder, Dest.Name, OnProgress);
  if (OnProgress) OnProgress(Temp.Size(), Temp.Size());
  // The old file is replaced in one step: it is never missing or half-written.
  Temp.Commit(Dest.Name, true);
}

bool TGoogleDrive::DownloadFile(const std::string& FileID, const std::string& DestPath,
                                const TUploadProgress& OnProgress) {
  try {
    TDriveFileInfo File;
    File.FileID = FileID;
    DownloadTo(File, DestPath, OnProgress);
    return true;
  } catch (const EOperationCancelled&) {
    return false;
  } catch (const std::exception& E) {
    LogException("Indirme istisna: " + DestPath, E);
    if (Interactive()) ShowGoogleUserMessage(std::string("İndirme hatası: ") + E.what());
    return false;
  }
}

}  // namespace kelvo
