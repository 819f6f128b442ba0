#include "account/uFirebaseAccountStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>
#include <nlohmann/json.hpp>
#include <numeric>
#include <utility>

#include "account/Firebase.Client.h"
#include "account/uFirebaseServiceAuth.h"
#include "core/HttpClient.h"
#include "core/JsonSax.h"
#include "core/TextRules.h"
#include "core/TimedCache.h"
#include "core/Utf8.h"
#include "platform/Clock.h"

namespace kelvo {

namespace {

using TimePoint = std::chrono::system_clock::time_point;
using TAccountList = std::vector<TFirebaseManagedAccount>;

constexpr char EmptyLoginMessage[] = "Kullanici adi bos.";
constexpr char NotJsonMessage[] = "Firebase hesap verisi okunamadi.";
constexpr char DirectReadErrorPrefix[] = "Hesap dogrudan okunurken hata: ";
constexpr char ListReadErrorPrefix[] = "Hesap listesi okunurken hata: ";
constexpr char NotFoundPrefix[] = "Hesap bulunamadi: ";
constexpr char EmptyNodeName[] = "hesap";

// ---- Account nodes -----------------------------------------------------------------------------

// The member names an account node is read under. A member matches a name when its own name, with
// every double quote removed and trimmed, equals it (ASCII case ignored).
// clang-format off
enum TAccountMember : uint8_t {
  amLoginName, amKullaniciAdi, amEmail, amEposta,
  amSifre, amPassword, amParola,
  amMusteri, amUnvan, amName,
  amOAuthClientID, amOAuthClientSecret,
  amTwoFactorSecret, amGoogleAuthSecret, amTotpSecret, amTwoFactorEnabled,
  amCount
};

constexpr std::array<std::string_view, amCount> AccountMemberNames = {
  "LoginName", "KullaniciAdi", "Email", "Eposta",
  "Sifre", "Password", "Parola",
  "Musteri", "Unvan", "Name",
  "OAuthClientID", "OAuthClientSecret",
  "TwoFactorSecret", "GoogleAuthSecret", "TotpSecret", "TwoFactorEnabled"};
// clang-format on

constexpr size_t LongestMemberName = 17;

// What one object offers to the account reader: for each name above, the text of the first member
// (in document order) that matches it. This is all the reading below looks at, so the objects of a
// tree need not be kept.
struct TMemberValue {
  bool Present = false;
  std::string Text;  // a string's content, a number's literal, "true"/"false"/"null"; empty for containers
};
using TAccountMembers = std::array<TMemberValue, amCount>;

// The name an object member is read under, or amCount.
TAccountMember MatchMemberName(std::string_view Key) {
  std::string Unquoted;
  if (Key.find('"') != std::string_view::npos) {
    Unquoted.reserve(Key.size());
    for (char C : Key)
      if (C != '"') Unquoted.push_back(C);
    Key = Unquoted;
  }
  Key = TrimView(Key);
  if (Key.size() < 4 || Key.size() > LongestMemberName) return amCount;
  for (size_t I = 0; I < amCount; ++I)
    if (SameText(Key, AccountMemberNames[I])) return static_cast<TAccountMember>(I);
  return amCount;
}

// The first listed name that the object has decides, even when its value is empty. A value written
// with its own quotes ("\"x\"") loses them.
std::string ReadFirstValue(const TAccountMembers& Members, std::initializer_list<TAccountMember> Names) {
  for (const TAccountMember Name : Names) {
    const TMemberValue& Value = Members[Name];
    if (!Value.Present) continue;
    std::string_view Text = Value.Text;
    if (!Text.empty() && Text.front() == '"' && Text.back() == '"')
      Text = Text.size() >= 2 ? Text.substr(1, Text.size() - 2) : std::string_view();
    return std::string(TrimView(Text));
  }
  return {};
}

// An object is an account when it names a login or holds a password.
bool LooksLikeAccount(const TAccountMembers& Members) {
  return !ReadFirstValue(Members, {amEmail, amEposta, amKullaniciAdi, amLoginName}).empty() ||
         !ReadFirstValue(Members, {amSifre, amPassword, amParola}).empty();
}

void ReadAccount(const std::string& Path, const std::string& Name, const TAccountMembers& Members,
                 TFirebaseManagedAccount& Account) {
  Account = {};
  Account.NodePath = Path;
  Account.NodeName = Name;
  Account.LoginName = ReadFirstValue(Members, {amLoginName, amKullaniciAdi, amEmail, amEposta});
  if (Account.LoginName.empty()) Account.LoginName = Name;
  Account.Email = ReadFirstValue(Members, {amEmail, amEposta, amLoginName, amKullaniciAdi});
  if (Account.Email.empty()) Account.Email = Account.LoginName;
  Account.Password = ReadFirstValue(Members, {amSifre, amPassword, amParola});
  Account.DisplayName = ReadFirstValue(Members, {amMusteri, amUnvan, amName});
  if (Account.DisplayName.empty()) Account.DisplayName = Account.LoginName;
  Account.OAuthClientID = ReadFirstValue(Members, {amOAuthClientID});
  Account.OAuthClientSecret = ReadFirstValue(Members, {amOAuthClientSecret});
  Account.TotpSecret = ReadFirstValue(Members, {amTwoFactorSecret, amGoogleAuthSecret, amTotpSecret});
  const std::string Enabled = ReadFirstValue(Members, {amTwoFactorEnabled});
  Account.TotpEnabledFlag =
      Enabled.empty() ? !TrimView(Account.TotpSecret).empty() : (SameText(Enabled, "true") || Enabled == "1");
}

std::string JoinNodePath(const std::string& Path, const std::string& Name) {
  return Path.empty() ? Name : Path + "/" + Name;
}

int CompareAccounts(const TFirebaseManagedAccount& A, const TFirebaseManagedAccount& B) {
  const int ByLogin = CompareText(A.LoginName, B.LoginName);
  return ByLogin != 0 ? ByLogin : CompareText(A.NodePath, B.NodePath);
}

// ---- Reading a reply ---------------------------------------------------------------------------

using Json = nlohmann::json;

// Reads a reply in one pass of parser events, without building the document: each open object
// gathers the members an account is read from, and is judged when it closes. The nesting depth is
// bounded, so neither memory for node paths nor any later walk can be driven without limit.
class TAccountCollector {
 public:
  // WholeTree: every account node at any depth (the full tree); otherwise only the top object's
  // members are gathered (a single node).
  explicit TAccountCollector(bool WholeTree) : FWholeTree(WholeTree) {}

  bool null() {
    return Scalar([] { return std::string("null"); });
  }
  bool boolean(bool Value) {
    return Scalar([Value] { return std::string(Value ? "true" : "false"); });
  }
  bool number_integer(Json::number_integer_t Value) {
    return Scalar([Value] { return std::to_string(Value); });
  }
  bool number_unsigned(Json::number_unsigned_t Value) {
    return Scalar([Value] { return std::to_string(Value); });
  }
  // A number keeps the digits it was written with.
  bool number_float(Json::number_float_t, const std::string& Literal) {
    return Scalar([&Literal] { return Literal; });
  }
  bool string(std::string& Value) {
    return Scalar([&Value] { return std::move(Value); });
  }
  bool binary(Json::binary_t&) { return false; }

  bool start_object(std::size_t) { return Open(false); }
  bool start_array(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(std::string& Key) {
    TFrame& Top = FFrames[FDepth - 1];
    ++Top.MemberCount;
    Top.OnlyError = Top.MemberCount == 1 && Key == "error";
    Top.PendingMember = Gathers(FDepth) ? MatchMemberName(Key) : amCount;
    Top.PendingKey.swap(Key);
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  // Results: the accounts found (with the position at which each object opened, for a stable order),
  // and whether the top value was an object, with its members.
  struct TFound {
    TFirebaseManagedAccount Account;
    size_t Sequence;
  };
  std::vector<TFound> Found;
  bool RootIsObject = false;
  bool RootIsErrorReply = false;
  TAccountMembers RootMembers;

 private:
  struct TFrame {
    bool IsArray = false;
    size_t NextIndex = 0;  // arrays: index of the next element
    size_t Sequence = 0;
    size_t MemberCount = 0;
    bool OnlyError = false;
    std::string Path;
    std::string Name;
    std::string PendingKey;  // objects: name of the member whose value comes next
    TAccountMember PendingMember = amCount;
    TAccountMembers Members;
  };

  bool Gathers(size_t Depth) const { return FWholeTree || Depth == 1; }

  // A value of the open container: counted in an array, remembered in an object when the account
  // reader wants it and no earlier member of that name came first.
  template <typename TMakeText>
  bool Scalar(TMakeText MakeText) {
    if (FDepth == 0) return true;
    TFrame& Top = FFrames[FDepth - 1];
    if (Top.IsArray) {
      ++Top.NextIndex;
      return true;
    }
    if (Top.PendingMember != amCount) {
      TMemberValue& Value = Top.Members[Top.PendingMember];
      if (!Value.Present) {
        Value.Present = true;
        Value.Text = MakeText();
      }
    }
    return true;
  }

  bool Open(bool IsArray) {
    if (FDepth >= MaxAccountTreeDepth) return false;
    if (FDepth == FFrames.size()) FFrames.emplace_back();
    TFrame& Frame = FFrames[FDepth];
    Frame.IsArray = IsArray;
    Frame.NextIndex = 0;
    Frame.Sequence = FSequence++;
    Frame.MemberCount = 0;
    Frame.OnlyError = false;
    Frame.PendingMember = amCount;
    if (Gathers(FDepth + 1))
      for (TMemberValue& Value : Frame.Members) {
        Value.Present = false;
        Value.Text.clear();
      }
    if (FDepth == 0) {
      Frame.Path.clear();
      Frame.Name.clear();
    } else {
      TFrame& Parent = FFrames[FDepth - 1];
      if (Parent.IsArray) {
        Frame.Name = std::to_string(Parent.NextIndex++);
      } else {
        Frame.Name.swap(Parent.PendingKey);
        // A container member reads as empty text.
        if (Parent.PendingMember != amCount && !Parent.Members[Parent.PendingMember].Present)
          Parent.Members[Parent.PendingMember].Present = true;
      }
      if (FWholeTree) Frame.Path = JoinNodePath(Parent.Path, Frame.Name);
    }
    ++FDepth;
    return true;
  }

  bool Close() {
    TFrame& Frame = FFrames[FDepth - 1];
    if (!Frame.IsArray) {
      if (FDepth == 1) {
        RootIsObject = true;
        RootIsErrorReply = Frame.OnlyError;
        RootMembers = Frame.Members;
      }
      if (FWholeTree && LooksLikeAccount(Frame.Members)) {
        Found.push_back({{}, Frame.Sequence});
        ReadAccount(Frame.Path, Frame.Name, Frame.Members, Found.back().Account);
      }
    }
    --FDepth;
    return true;
  }

  bool FWholeTree;
  std::vector<TFrame> FFrames;  // frames are reused, so their strings keep their buffers
  size_t FDepth = 0;
  size_t FSequence = 0;
};

// Login name, then node path; what still compares equal keeps the order of the document.
void SortAccounts(std::vector<TAccountCollector::TFound>& Found) {
  std::sort(Found.begin(), Found.end(), [](const auto& A, const auto& B) {
    const int Order = CompareAccounts(A.Account, B.Account);
    return Order != 0 ? Order < 0 : A.Sequence < B.Sequence;
  });
}

// ---- The account cache -------------------------------------------------------------------------

TTimedCache<std::shared_ptr<const TAccountList>> GCache(DatabaseListLifetime);

// Fresh, and only a list that holds accounts.
std::shared_ptr<const TAccountList> CachedAccounts() {
  const auto Cached = GCache.Get();
  return Cached && *Cached && !(*Cached)->empty() ? *Cached : nullptr;
}

// ---- Reads -------------------------------------------------------------------------------------

bool ReadAccountDirect(const std::string& Login, TFirebaseManagedAccount& Account, std::string& Message) {
  Account = {};
  Message.clear();
  if (TrimView(Login).empty()) return false;
  try {
    const std::string Name = SanitizeAccountNodeName(Login);
    const std::string Path = std::string(AccountsNodeName) + "/" + Name;
    // The sanitised name may still hold "%", "?", "@" or non-ASCII letters.
    std::string Reply;
    if (!TFirebaseServiceAuth::ReadNode(std::string(AccountsNodeName) + "/" + UrlEncode(Name), Reply, Message))
      return false;
    if (IsNullNodeReply(Reply)) return false;
    return ReadAccountNode(Reply, Path, Name, Account);
  } catch (const std::exception& E) {
    Account = {};
    Message = std::string(DirectReadErrorPrefix) + E.what();
    return false;
  }
}

bool LoadAccounts(std::shared_ptr<const TAccountList>& Accounts, std::string& Message) {
  Accounts.reset();
  Message.clear();
  if (auto Cached = CachedAccounts()) {
    Accounts = std::move(Cached);
    return true;
  }
  try {
    std::string Reply;
    if (!TFirebaseServiceAuth::ReadNode(AccountsNodeName, Reply, Message)) return false;
    if (IsNullNodeReply(Reply)) {
      Accounts = std::make_shared<const TAccountList>();
      return true;
    }
    auto Read = std::make_shared<TAccountList>();
    if (!ReadAccountTree(Reply, *Read)) {
      Message = NotJsonMessage;
      return false;
    }
    GCache.Store(Read);
    Accounts = std::move(Read);
    return true;
  } catch (const std::exception& E) {
    Message = std::string(ListReadErrorPrefix) + E.what();
    return false;
  }
}

// Appends the UTF-8 sequence at Text[I] and returns its length, or writes "_" for a white-space
// character outside ASCII (next line, no-break space, the Unicode space, line and paragraph
// separators). Bytes that are not valid UTF-8 are kept one by one.
size_t CopyCharacter(std::string_view Text, size_t I, std::string& Out) {
  char32_t Code = 0;
  const size_t Length = DecodeUtf8(Text, I, Code);
  if (Length == 0) {
    Out.push_back(Text[I]);
    return 1;
  }
  const bool Space = Code == 0x85 || Code == 0xA0 || Code == 0x1680 || (Code >= 0x2000 && Code <= 0x200A) ||
                     Code == 0x2028 || Code == 0x2029 || Code == 0x202F || Code == 0x205F || Code == 0x3000;
  if (Space)
    Out.push_back('_');
  else
    Out.append(Text.substr(I, Length));
  return Length;
}

}  // namespace

// ---- Public operations -------------------------------------------------------------------------

bool ReadAccountTree(std::string_view Text, std::vector<TFirebaseManagedAccount>& Accounts) {
  Accounts.clear();
  TAccountCollector Collector(/*WholeTree=*/true);
  if (!ParseJsonSax(Text, Collector)) return false;
  auto& Found = Collector.Found;
  SortAccounts(Found);
  Accounts.reserve(Found.size());
  for (auto& Item : Found) Accounts.push_back(std::move(Item.Account));
  return true;
}

bool ReadAccountNode(std::string_view Text, const std::string& Path, const std::string& Name,
                     TFirebaseManagedAccount& Account) {
  Account = {};
  TAccountCollector Collector(/*WholeTree=*/false);
  if (!ParseJsonSax(Text, Collector) || !Collector.RootIsObject) return false;
  // The database answers a refused or invalid read with {"error": "..."} (whatever the status); taken
  // as an account it would sign nobody in, but would pass as the active account.
  if (Collector.RootIsErrorReply) return false;
  ReadAccount(Path, Name, Collector.RootMembers, Account);
  return true;
}

bool FindAccountInList(const std::vector<TFirebaseManagedAccount>& Accounts, const std::string& Login,
                       TFirebaseManagedAccount& Account) {
  Account = {};
  for (const TFirebaseManagedAccount& Candidate : Accounts)
    if (SameText(Candidate.LoginName, Login) || SameText(Candidate.Email, Login) ||
        SameText(Candidate.NodeName, Login)) {
      Account = Candidate;
      return true;
    }
  return false;
}

bool FindAccountByLogin(const std::string& Login, TFirebaseManagedAccount& Account, std::string& Message) {
  Account = {};
  Message.clear();
  if (TrimView(Login).empty()) {
    Message = EmptyLoginMessage;
    return false;
  }
  if (ReadAccountDirect(Login, Account, Message)) return true;
  // What went wrong with the single node does not matter: the whole tree decides.
  Message.clear();
  std::shared_ptr<const TAccountList> Accounts;
  if (!LoadAccounts(Accounts, Message)) return false;
  if (FindAccountInList(*Accounts, Login, Account)) return true;
  Message = std::string(NotFoundPrefix) + Login;
  return false;
}

bool IsTotpEnabled(const TFirebaseManagedAccount& Account) {
  return !TrimView(Account.TotpSecret).empty() && Account.TotpEnabledFlag;
}

std::string SanitizeAccountNodeName(const std::string& Text) {
  const std::string_view Trimmed = TrimView(Text);
  std::string Result;
  Result.reserve(Trimmed.size());
  for (size_t I = 0; I < Trimmed.size();) {
    const char C = Trimmed[I];
    switch (C) {
      case '#':
      case '$':
      case '.':
      case '/':
      case '[':
      case '\\':
      case ']':
      case '\t':
      case '\n':
      case '\v':
      case '\f':
      case '\r':
      case ' ':
        Result.push_back('_');
        ++I;
        break;
      default:
        I += CopyCharacter(Trimmed, I, Result);
    }
  }
  std::string Sanitized(TrimView(Result));
  return Sanitized.empty() ? std::string(EmptyNodeName) : Sanitized;
}

void ResetAccountCacheForTests() { GCache.Clear(); }

}  // namespace kelvo
