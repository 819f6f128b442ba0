// Drive v3 "files": listing with q/pageSize/pageToken/fields, metadata reads, folder creation, and
// "?alt=media" downloads streamed from disk with Range. Every request needs an access token the
// token endpoint issued and that has not expired on the server's clock; errors use the Drive's
// envelope. The Drive is a folder tree on disk plus entries added at run time.
#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cloudsim/SimCore.h"

namespace kelvo::cloudsim {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

constexpr char JsonType[] = "application/json; charset=UTF-8";
constexpr size_t ChunkSize = 256 * 1024;
constexpr int DefaultPageSize = 100;
constexpr int MaxPageSize = 1000;

// ---- small helpers ----

uint64_t Fnv(const std::string& Text, uint64_t H = 1469598103934665603ULL) {
  for (unsigned char C : Text) H = (H ^ C) * 1099511628211ULL;
  return H;
}

// 33 characters like the Drive's file IDs, stable for one relative path.
std::string StableId(const std::string& RootId, const std::string& RelativePath) {
  static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  uint64_t H = Fnv(RootId + "|" + RelativePath);
  std::string Out = "1";
  for (int I = 0; I < 32; ++I) {
    H = H * 6364136223846793005ULL + 1442695040888963407ULL;
    Out += Alphabet[(H >> 33) % 64];
  }
  return Out;
}

std::string RandomId() { return "1" + Base64Url(RandomBytes(24)); }

std::string Rfc3339(TSimTime Time) {
  // The calendar in UTC, computed rather than asked of the C library (gmtime_r is POSIX only).
  using namespace std::chrono;
  const auto Ms = floor<milliseconds>(Time);
  const auto Day = floor<days>(Ms);
  const year_month_day Date{Day};
  const hh_mm_ss Clock{Ms - Day};
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(Date.year()),
                static_cast<unsigned>(Date.month()), static_cast<unsigned>(Date.day()),
                static_cast<int>(Clock.hours().count()), static_cast<int>(Clock.minutes().count()),
                static_cast<int>(Clock.seconds().count()), static_cast<int>(Clock.subseconds().count()));
  return Buf;
}

std::string MimeTypeFor(const std::string& Name) {
  const std::string Ext = AsciiLowerCopy(fs::path(Name).extension().string());
  if (Ext == ".json") return "application/json";
  if (Ext == ".txt" || Ext == ".log") return "text/plain";
  if (Ext == ".rar") return "application/x-rar-compressed";
  if (Ext == ".zip") return "application/zip";
  if (Ext == ".xlsx") return "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
  return "application/octet-stream";
}

std::string HexOf(const unsigned char* Bytes, unsigned Size) {
  static const char Hex[] = "0123456789abcdef";
  std::string Out;
  for (unsigned I = 0; I < Size; ++I) {
    Out += Hex[Bytes[I] >> 4];
    Out += Hex[Bytes[I] & 15];
  }
  return Out;
}

std::string Md5OfText(const std::string& Text) {
  unsigned char Md[EVP_MAX_MD_SIZE];
  unsigned Size = 0;
  EVP_Digest(Text.data(), Text.size(), Md, &Size, EVP_md5(), nullptr);
  return HexOf(Md, Size);
}

std::string Md5OfFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In) return {};
  EVP_MD_CTX* Ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(Ctx, EVP_md5(), nullptr);
  std::vector<char> Buffer(ChunkSize);
  while (In.read(Buffer.data(), static_cast<std::streamsize>(Buffer.size())) || In.gcount() > 0)
    EVP_DigestUpdate(Ctx, Buffer.data(), static_cast<size_t>(In.gcount()));
  unsigned char Md[EVP_MAX_MD_SIZE];
  unsigned Size = 0;
  EVP_DigestFinal_ex(Ctx, Md, &Size);
  EVP_MD_CTX_free(Ctx);
  return In.bad() ? std::string() : HexOf(Md, Size);
}

// When the file or folder at Path (links followed) was last modified; nullopt when it cannot be read.
std::optional<TSimTime> ModifiedTimeOf(const std::filesystem::path& Path) {
  std::error_code Error;
  const auto Time = std::filesystem::last_write_time(Path, Error);
  if (Error) return std::nullopt;
  return std::chrono::time_point_cast<TSimTime::duration>(std::chrono::file_clock::to_sys(Time));
}

// ---- error replies ----

Json ErrorObject(int Code, const std::string& Reason, const std::string& Message, const std::string& Domain,
                 const std::string& LocationType, const std::string& Location) {
  Json Item = {{"domain", Domain}, {"reason", Reason}, {"message", Message}};
  if (!LocationType.empty()) {
    Item["locationType"] = LocationType;
    Item["location"] = Location;
  }
  return Json{{"error", {{"errors", Json::array({Item})}, {"code", Code}, {"message", Message}}}};
}

void ReplyError(httplib::Response& Res, int Code, const std::string& Reason, const std::string& Message,
                const std::string& LocationType = "", const std::string& Location = "",
                const std::string& Domain = "global") {
  Res.status = Code;
  Res.set_content(ErrorObject(Code, Reason, Message, Domain, LocationType, Location).dump(1) + "\n", JsonType);
}

void ReplyInvalid(httplib::Response& Res, const std::string& Parameter) {
  ReplyError(Res, 400, "invalid", "Invalid Value", "parameter", Parameter);
}

void ReplyNotFound(httplib::Response& Res, const std::string& Id) {
  ReplyError(Res, 404, "notFound", "File not found: " + Id + ".", "parameter", "fileId");
}

// The bearer token of the request, checked; false after answering 401.
bool Authorized(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  const std::string Header = Req.get_header_value("Authorization");
  std::string Token;
  if (AsciiLowerCopy(Header.substr(0, 7)) == "bearer ") Token = Header.substr(7);
  while (!Token.empty() && Token.front() == ' ') Token.erase(0, 1);
  while (!Token.empty() && Token.back() == ' ') Token.pop_back();
  if (Token.empty()) {
    ReplyError(Res, 401, "required", "Login Required", "header", "Authorization");
    return false;
  }
  if (!S.AccessTokenValid(Token)) {
    ReplyError(Res, 401, "authError", "Invalid Credentials", "header", "Authorization");
    return false;
  }
  return true;
}

// ---- the query language of "q" ----

using TPredicate = std::function<bool(const TDriveItem&)>;

class TQueryParser {
 public:
  TQueryParser(const std::string& Text, const std::string& RootId) : FText(Text), FRootId(RootId) {}

  // The whole query as one predicate; false when it is not a query this server understands.
  bool Parse(TPredicate& Out) {
    try {
      Next();
      Out = ParseOr();
      return FKind == tkEnd;
    } catch (const std::invalid_argument&) {
      return false;
    }
  }

 private:
  enum TTokenKind { tkEnd, tkWord, tkString, tkOperator, tkOpen, tkClose };

  const std::string& FText;
  const std::string& FRootId;
  size_t FPos = 0;
  TTokenKind FKind = tkEnd;
  std::string FToken;

  [[noreturn]] static void Fail() { throw std::invalid_argument("q"); }

  void Next() {
    while (FPos < FText.size() &&
           (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\r' || FText[FPos] == '\n'))
      ++FPos;
    FToken.clear();
    if (FPos >= FText.size()) {
      FKind = tkEnd;
      return;
    }
    const char C = FText[FPos];
    if (C == '\'') {
      // A string: \' and \\ are the escapes; anything else after a backslash is an error.
      ++FPos;
      for (;;) {
        if (FPos >= FText.size()) Fail();
        const char D = FText[FPos++];
        if (D == '\'') break;
        if (D == '\\') {
          if (FPos >= FText.size() || (FText[FPos] != '\'' && FText[FPos] != '\\')) Fail();
          FToken += FText[FPos++];
        } else {
          FToken += D;
        }
      }
      FKind = tkString;
    } else if (C == '(' || C == ')') {
      FKind = C == '(' ? tkOpen : tkClose;
      ++FPos;
    } else if (C == '=' || C == '!' || C == '<' || C == '>') {
      FToken = C;
      ++FPos;
      if (FPos < FText.size() && FText[FPos] == '=') FToken += FText[FPos++];
      if (FToken == "!") Fail();
      FKind = tkOperator;
    } else if ((C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '_') {
      while (FPos < FText.size() &&
             ((FText[FPos] >= 'a' && FText[FPos] <= 'z') || (FText[FPos] >= 'A' && FText[FPos] <= 'Z') ||
              (FText[FPos] >= '0' && FText[FPos] <= '9') || FText[FPos] == '_'))
        FToken += FText[FPos++];
      FKind = tkWord;
    } else {
      Fail();
    }
  }

  bool IsWord(const char* Word) const { return FKind == tkWord && AsciiLowerCopy(FToken) == Word; }

  TPredicate ParseOr() {
    TPredicate Left = ParseAnd();
    while (IsWord("or")) {
      Next();
      TPredicate Right = ParseAnd();
      Left = [L = std::move(Left), R = std::move(Right)](const TDriveItem& I) { return L(I) || R(I); };
    }
    return Left;
  }

  TPredicate ParseAnd() {
    TPredicate Left = ParseUnary();
    while (IsWord("and")) {
      Next();
      TPredicate Right = ParseUnary();
      Left = [L = std::move(Left), R = std::move(Right)](const TDriveItem& I) { return L(I) && R(I); };
    }
    return Left;
  }

  TPredicate ParseUnary() {
    if (IsWord("not")) {
      Next();
      TPredicate Inner = ParseUnary();
      return [Inner = std::move(Inner)](const TDriveItem& I) { return !Inner(I); };
    }
    if (FKind == tkOpen) {
      Next();
      TPredicate Inner = ParseOr();
      if (FKind != tkClose) Fail();
      Next();
      return Inner;
    }
    return ParseTerm();
  }

  TPredicate ParseTerm() {
    if (FKind == tkString) {
      // 'ID' in parents
      std::string Id = FToken;
      if (Id == "root") Id = FRootId;
      Next();
      if (!IsWord("in")) Fail();
      Next();
      if (FKind != tkWord || FToken != "parents") Fail();
      Next();
      return [Id](const TDriveItem& I) { return I.ParentId == Id; };
    }
    if (FKind != tkWord) Fail();
    const std::string Field = FToken;
    Next();
    std::string Op;
    if (FKind == tkOperator) {
      Op = FToken;
    } else if (IsWord("contains")) {
      Op = "contains";
    } else {
      Fail();
    }
    Next();
    if (Field == "trashed") {
      if (!IsWord("true") && !IsWord("false")) Fail();
      const bool Value = IsWord("true");
      Next();
      if (Op == "=") return [Value](const TDriveItem& I) { return I.Trashed == Value; };
      if (Op == "!=") return [Value](const TDriveItem& I) { return I.Trashed != Value; };
      Fail();
    }
    if (Field != "name" && Field != "mimeType") Fail();
    if (FKind != tkString) Fail();
    const std::string Value = FToken;
    Next();
    const bool IsName = Field == "name";
    auto Get = [IsName](const TDriveItem& I) -> const std::string& { return IsName ? I.Name : I.MimeType; };
    if (Op == "=") return [Get, Value](const TDriveItem& I) { return Get(I) == Value; };
    if (Op == "!=") return [Get, Value](const TDriveItem& I) { return Get(I) != Value; };
    if (Op == "contains") return [Get, Value](const TDriveItem& I) { return Get(I).find(Value) != std::string::npos; };
    Fail();
  }
};

// ---- partial responses ("fields") ----

// A selection: a leaf selects the whole value.
struct TFields {
  std::map<std::string, TFields> Sub;
  bool Whole() const { return Sub.empty(); }
};

class TFieldsParser {
 public:
  explicit TFieldsParser(const std::string& Text) : FText(Text) {}
  bool Parse(TFields& Out) {
    Out = {};
    if (!ParseList(Out)) return false;
    return FPos == FText.size();
  }

 private:
  const std::string& FText;
  size_t FPos = 0;

  void SkipBlanks() {
    while (FPos < FText.size() && FText[FPos] == ' ') ++FPos;
  }

  bool ParseName(std::string& Name) {
    SkipBlanks();
    Name.clear();
    while (FPos < FText.size() &&
           (std::isalnum(static_cast<unsigned char>(FText[FPos])) || FText[FPos] == '_' || FText[FPos] == '*'))
      Name += FText[FPos++];
    SkipBlanks();
    return !Name.empty();
  }

  bool ParseItem(TFields& Into) {
    std::string Name;
    if (!ParseName(Name)) return false;
    TFields& Node = Into.Sub[Name];
    if (FPos < FText.size() && FText[FPos] == '/') {
      ++FPos;
      return ParseItem(Node);
    }
    if (FPos < FText.size() && FText[FPos] == '(') {
      ++FPos;
      if (!ParseList(Node)) return false;
      SkipBlanks();
      if (FPos >= FText.size() || FText[FPos] != ')') return false;
      ++FPos;
      SkipBlanks();
    }
    return true;
  }

  bool ParseList(TFields& Into) {
    if (!ParseItem(Into)) return false;
    while (FPos < FText.size() && FText[FPos] == ',') {
      ++FPos;
      if (!ParseItem(Into)) return false;
    }
    return true;
  }
};

const std::vector<std::string>& FileFieldNames() {
  static const std::vector<std::string> Names = {"kind",    "id",          "name",         "mimeType",    "parents",
                                                 "trashed", "createdTime", "modifiedTime", "md5Checksum", "size"};
  return Names;
}

// Checks a file selection; the unknown name, if any, goes to Bad.
bool ValidFileFields(const TFields& Fields, std::string& Bad) {
  for (const auto& [Name, Sub] : Fields.Sub) {
    if (Name == "*") continue;
    if (std::find(FileFieldNames().begin(), FileFieldNames().end(), Name) == FileFieldNames().end() || !Sub.Whole()) {
      Bad = Name;
      return false;
    }
  }
  return true;
}

TFields DefaultFileFields() {
  TFields F;
  for (const char* Name : {"kind", "id", "name", "mimeType"}) F.Sub[Name];
  return F;
}

// What a response says about an entry; for a seeded file read from the file now.
struct TFacts {
  int64_t Size = 0;
  TSimTime Modified{};
  std::string Md5;
};

TFacts FactsOf(TCloudSim::TState& S, const std::string& Id, bool WantMd5) {
  TFacts F;
  std::string Path;
  std::shared_ptr<const std::string> Content;
  {
    std::lock_guard Lock(S.DriveMutex);
    auto It = S.DriveIndex.find(Id);
    if (It == S.DriveIndex.end()) return F;
    const TDriveItem& Item = S.Drive[It->second];
    F.Modified = Item.Modified;
    Path = Item.LocalPath;
    Content = Item.Content;
    if (Content) F.Size = static_cast<int64_t>(Content->size());
  }
  if (Content) {
    if (WantMd5) F.Md5 = Md5OfText(*Content);
    return F;
  }
  if (Path.empty()) return F;
  std::error_code Error;
  const auto Size = std::filesystem::file_size(Path, Error);
  const auto Modified = ModifiedTimeOf(Path);
  if (Error || !Modified) return F;
  F.Size = static_cast<int64_t>(Size);
  F.Modified = *Modified;
  const int64_t Mtime = std::chrono::duration_cast<std::chrono::nanoseconds>(Modified->time_since_epoch()).count();
  if (!WantMd5) return F;
  {
    std::lock_guard Lock(S.DriveMutex);
    auto It = S.DriveIndex.find(Id);
    if (It != S.DriveIndex.end() && S.Drive[It->second].Md5Size == F.Size && S.Drive[It->second].Md5Mtime == Mtime) {
      F.Md5 = S.Drive[It->second].Md5;
      return F;
    }
  }
  F.Md5 = Md5OfFile(Path);
  std::lock_guard Lock(S.DriveMutex);
  auto It = S.DriveIndex.find(Id);
  if (It != S.DriveIndex.end()) {
    S.Drive[It->second].Md5Size = F.Size;
    S.Drive[It->second].Md5Mtime = Mtime;
    S.Drive[It->second].Md5 = F.Md5;
  }
  return F;
}

Json FileResource(TCloudSim::TState& S, const TDriveItem& Item, const TFields& Fields) {
  auto Wanted = [&Fields](const char* Name) {
    return Fields.Whole() || Fields.Sub.count(Name) || Fields.Sub.count("*");
  };
  const bool NeedFacts = !Item.IsFolder && (Wanted("size") || Wanted("md5Checksum") || Wanted("modifiedTime"));
  TFacts Facts;
  Facts.Modified = Item.Modified;
  if (NeedFacts) Facts = FactsOf(S, Item.Id, Wanted("md5Checksum"));
  Json Out = Json::object();
  if (Wanted("kind")) Out["kind"] = "drive#file";
  if (Wanted("id")) Out["id"] = Item.Id;
  if (Wanted("name")) Out["name"] = Item.Name;
  if (Wanted("mimeType")) Out["mimeType"] = Item.MimeType;
  if (Wanted("parents") && !Item.ParentId.empty()) Out["parents"] = Json::array({Item.ParentId});
  if (Wanted("trashed")) Out["trashed"] = Item.Trashed;
  if (Wanted("createdTime")) Out["createdTime"] = Rfc3339(Item.Created);
  if (Wanted("modifiedTime")) Out["modifiedTime"] = Rfc3339(Facts.Modified);
  if (!Item.IsFolder) {
    if (Wanted("md5Checksum")) Out["md5Checksum"] = Facts.Md5;
    if (Wanted("size")) Out["size"] = std::to_string(Facts.Size);
  }
  return Out;
}

// The entry with this ID ("root" names the root folder), copied; false when there is none.
// The "fields" parameter of a one-file request, the default members without it; false once the
// 400 reply is made.
bool ReadFileFields(const httplib::Request& Req, httplib::Response& Res, TFields& Fields) {
  Fields = DefaultFileFields();
  if (!Req.has_param("fields")) return true;
  const std::string Text = Req.get_param_value("fields");
  std::string Bad;
  if (TFieldsParser(Text).Parse(Fields) && ValidFileFields(Fields, Bad)) return true;
  ReplyError(Res, 400, "invalidParameter", "Invalid field selection " + Text, "parameter", "fields");
  return false;
}

bool FindItem(TCloudSim::TState& S, std::string Id, TDriveItem& Out) {
  std::lock_guard Lock(S.DriveMutex);
  if (Id == "root") Id = S.DriveRoot;
  auto It = S.DriveIndex.find(Id);
  if (It == S.DriveIndex.end()) return false;
  Out = S.Drive[It->second];
  return true;
}

bool ParsePageSize(const std::string& Text, int& Size) {
  if (Text.empty() || Text.size() > 9) return false;
  for (char C : Text)
    if (C < '0' || C > '9') return false;
  Size = std::stoi(Text);
  return Size >= 1 && Size <= MaxPageSize;
}

std::string PageToken(size_t Offset, uint64_t QueryHash) {
  char Buf[64];
  std::snprintf(Buf, sizeof Buf, "~!!~%zu.%016" PRIx64, Offset, QueryHash);
  return Buf;
}

bool ParsePageToken(const std::string& Token, uint64_t QueryHash, size_t& Offset) {
  unsigned long long N = 0;
  uint64_t H = 0;
  char Tail = 0;
  if (std::sscanf(Token.c_str(), "~!!~%llu.%16" SCNx64 "%c", &N, &H, &Tail) != 2) return false;
  if (PageToken(N, QueryHash) != Token) return false;
  Offset = static_cast<size_t>(N);
  return true;
}

// ---- handlers ----

void List(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  if (!Authorized(S, Req, Res)) return;
  int PageSize = DefaultPageSize;
  if (Req.has_param("pageSize") && !ParsePageSize(Req.get_param_value("pageSize"), PageSize))
    return ReplyInvalid(Res, "pageSize");

  TFields Fields;
  TFields FileFields = DefaultFileFields();
  bool AllTop = true;
  if (Req.has_param("fields")) {
    const std::string Text = Req.get_param_value("fields");
    if (!TFieldsParser(Text).Parse(Fields))
      return ReplyError(Res, 400, "invalidParameter", "Invalid field selection " + Text, "parameter", "fields");
    AllTop = Fields.Sub.count("*") > 0;
    for (const auto& [Name, Sub] : Fields.Sub) {
      if (Name != "kind" && Name != "nextPageToken" && Name != "incompleteSearch" && Name != "files" && Name != "*")
        return ReplyError(Res, 400, "invalidParameter", "Invalid field selection " + Name, "parameter", "fields");
    }
    if (auto It = Fields.Sub.find("files"); It != Fields.Sub.end()) {
      FileFields = It->second;
      std::string Bad;
      if (!ValidFileFields(FileFields, Bad))
        return ReplyError(Res, 400, "invalidParameter", "Invalid field selection " + Bad, "parameter", "fields");
    } else if (AllTop) {
      FileFields = TFields{};
    }
  }
  auto TopWanted = [&](const char* Name) { return !Req.has_param("fields") || AllTop || Fields.Sub.count(Name); };

  const std::string Query = Req.get_param_value("q");
  TPredicate Match = [](const TDriveItem&) { return true; };
  std::string Root;
  {
    std::lock_guard Lock(S.DriveMutex);
    Root = S.DriveRoot;
  }
  if (!Query.empty() && !TQueryParser(Query, Root).Parse(Match)) return ReplyInvalid(Res, "q");
  const uint64_t QueryHash = Fnv(Query + "|" + std::to_string(PageSize));
  size_t Offset = 0;
  if (Req.has_param("pageToken") && !ParsePageToken(Req.get_param_value("pageToken"), QueryHash, Offset))
    return ReplyInvalid(Res, "pageToken");

  // The page's entries, copied under the lock; their facts are read after it.
  std::vector<TDriveItem> Page;
  bool More = false;
  {
    std::lock_guard Lock(S.DriveMutex);
    size_t Seen = 0;
    for (const TDriveItem& Item : S.Drive) {
      if (Item.ParentId.empty() || !Match(Item)) continue;  // the root folder itself is never listed
      if (Seen++ < Offset) continue;
      if (Page.size() == static_cast<size_t>(PageSize)) {
        More = true;
        break;
      }
      Page.push_back(Item);
    }
  }

  Json Reply = Json::object();
  if (TopWanted("kind")) Reply["kind"] = "drive#fileList";
  if (More && TopWanted("nextPageToken")) Reply["nextPageToken"] = PageToken(Offset + Page.size(), QueryHash);
  if (TopWanted("incompleteSearch")) Reply["incompleteSearch"] = false;
  if (TopWanted("files")) {
    Json Files = Json::array();
    for (const TDriveItem& Item : Page) Files.push_back(FileResource(S, Item, FileFields));
    Reply["files"] = std::move(Files);
  }
  Res.status = 200;
  Res.set_content(Reply.dump(2) + "\n", JsonType);
}

void Create(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  if (!Authorized(S, Req, Res)) return;
  TFields Fields;
  if (!ReadFileFields(Req, Res, Fields)) return;
  Json Body = Req.body.empty() ? Json::object() : Json::parse(Req.body, nullptr, false);
  if (Body.is_discarded() || !Body.is_object()) return ReplyError(Res, 400, "parseError", "Parse Error");

  TDriveItem Item;
  Item.Name = "Untitled";
  if (auto It = Body.find("name"); It != Body.end()) {
    if (!It->is_string()) return ReplyInvalid(Res, "name");
    Item.Name = It->get<std::string>();
  }
  if (auto It = Body.find("mimeType"); It != Body.end() && It->is_string()) Item.MimeType = It->get<std::string>();
  if (Item.MimeType != DriveFolderMimeType)
    return ReplyError(Res, 400, "badRequest", "cloudsim creates folders only (mimeType " + Item.MimeType + ")");
  Item.IsFolder = true;

  std::string Parent = "root";
  if (auto It = Body.find("parents"); It != Body.end()) {
    if (!It->is_array() || It->size() != 1 || !(*It)[0].is_string()) return ReplyInvalid(Res, "parents");
    Parent = (*It)[0].get<std::string>();
  }
  Item.Created = Item.Modified = S.Now();
  Item.Id = RandomId();
  {
    std::lock_guard Lock(S.DriveMutex);
    if (Parent == "root") Parent = S.DriveRoot;
    auto It = S.DriveIndex.find(Parent);
    if (It == S.DriveIndex.end() || !S.Drive[It->second].IsFolder) {
      ReplyError(Res, 404, "notFound", "File not found: " + Parent + ".", "parameter", "fileId");
      return;
    }
    Item.ParentId = Parent;
    S.DriveIndex[Item.Id] = S.Drive.size();
    S.Drive.push_back(Item);
  }
  Res.status = 200;
  Res.set_content(FileResource(S, Item, Fields).dump(2) + "\n", JsonType);
}

void Download(const TDriveItem& Item, const httplib::Request& Req, httplib::Response& Res) {
  if (Item.IsFolder)
    return ReplyError(Res, 403, "fileNotDownloadable",
                      "Only files with binary content can be downloaded. Use Export with Docs Editors files.",
                      "parameter", "alt");
  if (Item.Content) {
    Res.status = 200;
    Res.set_content(*Item.Content, Item.MimeType);
    // Several ranges are not served: the whole body goes out.
    if (Req.ranges.size() > 1) const_cast<httplib::Request&>(Req).ranges.clear();
    if (!Req.ranges.empty()) {
      // Ranges over an in-memory body: httplib cuts it; an unsatisfiable one is refused.
      const auto& R = Req.ranges.front();
      const auto Size = static_cast<ssize_t>(Item.Content->size());
      if (Size == 0 || R.first >= Size || (R.first < 0 && R.second <= 0)) {
        Res.status = 416;
        Res.body.clear();
        Res.set_header("Content-Range", "bytes */" + std::to_string(Size));
      } else if (R.second >= Size) {
        const_cast<httplib::Request&>(Req).ranges.front().second = Size - 1;
      }
    }
    return;
  }
  auto File = std::make_shared<std::ifstream>(Item.LocalPath, std::ios::binary);
  // The size of what was opened, not of what the name may point at by now.
  if (!*File || !File->seekg(0, std::ios::end)) return ReplyNotFound(Res, Item.Id);
  const auto Size = static_cast<int64_t>(File->tellg());
  if (Size < 0) return ReplyNotFound(Res, Item.Id);
  auto& Ranges = const_cast<httplib::Request&>(Req).ranges;
  if (Ranges.size() > 1) Ranges.clear();
  if (!Ranges.empty()) {
    auto& R = Ranges.front();
    if (Size == 0 || R.first >= Size || (R.first < 0 && R.second <= 0)) {
      Res.status = 416;
      Res.set_header("Content-Range", "bytes */" + std::to_string(Size));
      Res.set_content("", Item.MimeType);
      return;
    }
    if (R.second >= Size) R.second = Size - 1;
  }
  // Streamed from the file in pieces: a large download never sits in memory.
  auto Buffer = std::make_shared<std::vector<char>>(ChunkSize);
  Res.status = 200;
  Res.set_content_provider(static_cast<size_t>(Size), Item.MimeType,
                           [File, Buffer](size_t Offset, size_t Length, httplib::DataSink& Sink) {
                             const size_t Want = std::min(Length, Buffer->size());
                             File->clear();
                             File->seekg(static_cast<std::streamoff>(Offset));
                             File->read(Buffer->data(), static_cast<std::streamsize>(Want));
                             const std::streamsize N = File->gcount();
                             if (N <= 0) return false;  // the file shrank: the reply breaks off
                             return Sink.write(Buffer->data(), static_cast<size_t>(N));
                           });
}

void Get(TCloudSim::TState& S, const httplib::Request& Req, httplib::Response& Res) {
  if (!Authorized(S, Req, Res)) return;
  const std::string Id = Req.path.substr(std::string(DriveFilesPath).size() + 1);
  TDriveItem Item;
  if (!FindItem(S, Id, Item)) return ReplyNotFound(Res, Id);
  if (Req.get_param_value("alt") == "media") return Download(Item, Req, Res);
  TFields Fields;
  if (!ReadFileFields(Req, Res, Fields)) return;
  Res.status = 200;
  Res.set_content(FileResource(S, Item, Fields).dump(2) + "\n", JsonType);
}

// Adds the folder tree below Dir to Items, depth first, names in byte order within a folder.
void WalkTree(const std::string& Dir, const std::string& RootId, const std::string& ParentId,
              const std::string& Relative, std::vector<TDriveItem>& Items) {
  std::vector<fs::directory_entry> Entries;
  for (const auto& E : fs::directory_iterator(Dir)) Entries.push_back(E);
  std::sort(Entries.begin(), Entries.end(),
            [](const auto& A, const auto& B) { return A.path().filename().string() < B.path().filename().string(); });
  for (const auto& E : Entries) {
    const auto Status = E.symlink_status();
    const bool Folder = fs::is_directory(Status);
    if (!Folder && !fs::is_regular_file(Status)) continue;  // links and devices are not part of a Drive
    TDriveItem Item;
    Item.Name = E.path().filename().string();
    const std::string Path = Relative.empty() ? Item.Name : Relative + "/" + Item.Name;
    Item.Id = StableId(RootId, Path);
    Item.ParentId = ParentId;
    Item.IsFolder = Folder;
    Item.MimeType = Folder ? DriveFolderMimeType : MimeTypeFor(Item.Name);
    if (const auto Modified = ModifiedTimeOf(E.path())) Item.Created = Item.Modified = *Modified;
    if (!Folder) Item.LocalPath = E.path().string();
    Items.push_back(Item);
    if (Folder) WalkTree(E.path().string(), RootId, Item.Id, Path, Items);
  }
}

}  // namespace

void AddDriveService(TCloudSim::TState& State) {
  const std::string Base = R"(^/drive/v3/files)";
  State.AddRoute("GET", Base + "$",
                 [&State](const httplib::Request& Req, httplib::Response& Res) { List(State, Req, Res); });
  State.AddRoute("POST", Base + "$",
                 [&State](const httplib::Request& Req, httplib::Response& Res) { Create(State, Req, Res); });
  State.AddRoute("GET", Base + "/[^/]+$",
                 [&State](const httplib::Request& Req, httplib::Response& Res) { Get(State, Req, Res); });
}

std::string DriveErrorBody(int Code, const std::string& Reason, const std::string& Message, const std::string& Domain) {
  return ErrorObject(Code, Reason, Message, Domain, "", "").dump(1) + "\n";
}

TFault DriveRateLimitFault(int Times) {
  TFault F;
  F.PathPrefix = DriveFilesPath;
  F.Status = 403;
  F.Body = DriveErrorBody(403, "userRateLimitExceeded", "User rate limit exceeded.", "usageLimits");
  F.Times = Times;
  return F;
}

TFault DriveServerErrorFault(int Times) {
  TFault F;
  F.PathPrefix = DriveFilesPath;
  F.Status = 500;
  F.Body = DriveErrorBody(500, "backendError", "Backend Error");
  F.Times = Times;
  return F;
}

TFault DriveStatusFault(int Status, int Times, const std::string& RetryAfter) {
  // The reason and message the Drive gives with each status; a status it has no word for gets a
  // generic one of its class.
  struct TWording {
    int Status;
    const char* Reason;
    const char* Message;
    const char* Domain;
  };
  static const TWording Wordings[] = {
      {400, "badRequest", "Bad Request", "global"},
      {401, "authError", "Invalid Credentials", "global"},
      {403, "userRateLimitExceeded", "User rate limit exceeded.", "usageLimits"},
      {404, "notFound", "File not found.", "global"},
      {416, "requestedRangeNotSatisfiable", "Request range not satisfiable", "global"},
      {429, "rateLimitExceeded", "Rate Limit Exceeded", "usageLimits"},
      {500, "backendError", "Backend Error", "global"},
      {502, "backendError", "Bad Gateway", "global"},
      {503, "backendError", "Service Unavailable", "global"},
      {504, "backendError", "Gateway Timeout", "global"},
  };
  TWording Wording = Status >= 500 ? TWording{Status, "backendError", "Backend Error", "global"}
                                   : TWording{Status, "badRequest", "Bad Request", "global"};
  for (const TWording& W : Wordings)
    if (W.Status == Status) Wording = W;
  TFault F;
  F.PathPrefix = DriveFilesPath;
  F.Status = Status;
  F.Body = DriveErrorBody(Status, Wording.Reason, Wording.Message, Wording.Domain);
  if (!RetryAfter.empty()) F.Headers = {{"Retry-After", RetryAfter}};
  F.Times = Times;
  return F;
}

void ResetDrive(TCloudSim::TState& S, const std::string& RootId) {
  TDriveItem Root;
  Root.Id = RootId.empty() ? "root" : RootId;
  Root.Name = "My Drive";
  Root.MimeType = DriveFolderMimeType;
  Root.IsFolder = true;
  std::lock_guard Lock(S.DriveMutex);
  S.Drive.assign(1, Root);
  S.DriveIndex.clear();
  S.DriveIndex[Root.Id] = 0;
  S.DriveRoot = Root.Id;
  S.DriveRootDir.clear();
}

std::string TCloudSim::DriveUrl() const { return BaseUrl() + DriveFilesPath; }

void TCloudSim::SetDriveRoot(const std::string& Dir, const std::string& RootId) {
  std::error_code Ec;
  if (!fs::is_directory(Dir, Ec)) throw std::runtime_error("cloudsim: the Drive folder " + Dir + " is not a folder");
  std::vector<TDriveItem> Items;
  TDriveItem Root;
  Root.Id = RootId.empty() ? "root" : RootId;
  Root.Name = "My Drive";
  Root.MimeType = DriveFolderMimeType;
  Root.IsFolder = true;
  Items.push_back(Root);
  try {
    WalkTree(Dir, Root.Id, Root.Id, "", Items);
  } catch (const fs::filesystem_error& E) {
    throw std::runtime_error(std::string("cloudsim: cannot read the Drive folder: ") + E.what());
  }
  std::lock_guard Lock(FState->DriveMutex);
  FState->Drive = std::move(Items);
  FState->DriveIndex.clear();
  for (size_t I = 0; I < FState->Drive.size(); ++I) FState->DriveIndex[FState->Drive[I].Id] = I;
  FState->DriveRoot = Root.Id;
  FState->DriveRootDir = Dir;
}

std::string TCloudSim::DriveRootId() const {
  std::lock_guard Lock(FState->DriveMutex);
  return FState->DriveRoot;
}

std::string TCloudSim::DriveFileId(const std::string& RelativePath) const {
  std::lock_guard Lock(FState->DriveMutex);
  std::string Current = FState->DriveRoot;
  size_t Start = 0;
  while (Start < RelativePath.size()) {
    size_t End = RelativePath.find('/', Start);
    if (End == std::string::npos) End = RelativePath.size();
    const std::string Part = RelativePath.substr(Start, End - Start);
    Start = End + 1;
    if (Part.empty()) continue;
    std::string Found;
    for (const TDriveItem& Item : FState->Drive)
      if (Item.ParentId == Current && Item.Name == Part) {
        Found = Item.Id;
        break;
      }
    if (Found.empty()) return {};
    Current = Found;
  }
  return Current;
}

namespace {

std::string AddItem(TCloudSim::TState& S, TDriveItem Item, const std::string& ParentId) {
  std::lock_guard Lock(S.DriveMutex);
  const std::string Parent = ParentId.empty() || ParentId == "root" ? S.DriveRoot : ParentId;
  auto It = S.DriveIndex.find(Parent);
  if (It == S.DriveIndex.end() || !S.Drive[It->second].IsFolder)
    throw std::runtime_error("cloudsim: no Drive folder " + ParentId);
  Item.ParentId = Parent;
  Item.Id = RandomId();
  S.DriveIndex[Item.Id] = S.Drive.size();
  S.Drive.push_back(Item);
  return Item.Id;
}

}  // namespace

std::string TCloudSim::AddDriveFolder(const std::string& ParentId, const std::string& Name) {
  TDriveItem Item;
  Item.Name = Name;
  Item.MimeType = DriveFolderMimeType;
  Item.IsFolder = true;
  Item.Created = Item.Modified = FState->Now();
  return AddItem(*FState, std::move(Item), ParentId);
}

std::string TCloudSim::AddDriveFile(const std::string& ParentId, const std::string& Name, std::string Content,
                                    std::chrono::system_clock::time_point Modified) {
  TDriveItem Item;
  Item.Name = Name;
  Item.MimeType = MimeTypeFor(Name);
  Item.Content = std::make_shared<const std::string>(std::move(Content));
  Item.Created = Item.Modified = Modified == TSimTime{} ? FState->Now() : Modified;
  return AddItem(*FState, std::move(Item), ParentId);
}

void TCloudSim::SetDriveTrashed(const std::string& Id, bool Trashed) {
  std::lock_guard Lock(FState->DriveMutex);
  auto It = FState->DriveIndex.find(Id);
  if (It == FState->DriveIndex.end()) throw std::runtime_error("cloudsim: no Drive entry " + Id);
  FState->Drive[It->second].Trashed = Trashed;
}

std::vector<TSimDriveEntry> TCloudSim::DriveEntries() const {
  std::lock_guard Lock(FState->DriveMutex);
  std::vector<TSimDriveEntry> Out;
  for (const TDriveItem& Item : FState->Drive) {
    TSimDriveEntry E{Item.Id, Item.Name, Item.MimeType, Item.ParentId, 0, Item.Trashed, Item.LocalPath};
    if (Item.Content) {
      E.Size = static_cast<int64_t>(Item.Content->size());
    } else if (!Item.LocalPath.empty()) {
      std::error_code Error;
      const auto Size = std::filesystem::file_size(Item.LocalPath, Error);
      if (!Error) E.Size = static_cast<int64_t>(Size);
    }
    Out.push_back(std::move(E));
  }
  return Out;
}

}  // namespace kelvo::cloudsim
