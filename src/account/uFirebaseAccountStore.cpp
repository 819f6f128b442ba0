#include "account/uFirebaseAccountStore.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <numeric>
#include <utility>

#include "account/Firebase.Client.h"
#include "account/uFirebaseServiceAuth.h"
#include "core/HttpClient.h"
#include "core/JsonRecords.h"
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
// every double quote removed and trimmed, equals it (ASCII case ignored); a null reads as "null".
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

// What one object offers to the account reader: for each name above, the text of the first member
// (in document order) that matches it. This is all the reading below looks at, so the objects of a
// tree need not be kept.
using TAccountMembers = std::vector<TJsonMember>;

// The same rules read the tree and a single node's reply.
constexpr TJsonRecordRules AccountRules{AccountMemberNames, TJsonNameMatch::Loose, "null", MaxAccountTreeDepth};

// The first listed name that the object has decides, even when its value is empty. A value written
// with its own quotes ("\"x\"") loses them.
std::string ReadFirstValue(const TAccountMembers& Members, std::initializer_list<TAccountMember> Names) {
  for (const TAccountMember Name : Names) {
    const TJsonMember& Value = Members[Name];
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

int CompareAccounts(const TFirebaseManagedAccount& A, const TFirebaseManagedAccount& B) {
  const int ByLogin = CompareText(A.LoginName, B.LoginName);
  return ByLogin != 0 ? ByLogin : CompareText(A.NodePath, B.NodePath);
}

// ---- Reading a reply ---------------------------------------------------------------------------

// An account found in the tree, with the position at which its object opened, for a stable order.
struct TFound {
  TFirebaseManagedAccount Account;
  size_t Sequence;
};

// Login name, then node path; what still compares equal keeps the order of the document.
void SortAccounts(std::vector<TFound>& Found) {
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
  const std::string Name = SanitizeAccountNodeName(Login);
  const std::string Path = std::string(AccountsNodeName) + "/" + Name;
  const auto Read = [&](std::string_view Reply) { return ReadAccountNode(Reply, Path, Name, Account); };
  // The sanitised name may still hold "%", "?", "@" or non-ASCII letters. A reply that is no account
  // is no error: the tree decides.
  if (ReadServiceNode(std::string(AccountsNodeName) + "/" + UrlEncode(Name), Read, "", DirectReadErrorPrefix,
                      Message) == TServiceRead::Read)
    return true;
  Account = {};
  return false;
}

bool LoadAccounts(std::shared_ptr<const TAccountList>& Accounts, std::string& Message) {
  Accounts.reset();
  Message.clear();
  if (auto Cached = CachedAccounts()) {
    Accounts = std::move(Cached);
    return true;
  }
  auto Read = std::make_shared<TAccountList>();
  const auto ReadTree = [&Read](std::string_view Reply) { return ReadAccountTree(Reply, *Read); };
  switch (ReadServiceNode(AccountsNodeName, ReadTree, NotJsonMessage, ListReadErrorPrefix, Message)) {
    case TServiceRead::Read:
      GCache.Store(Read);
      Accounts = std::move(Read);
      return true;
    case TServiceRead::Missing:
      Accounts = std::make_shared<const TAccountList>();
      return true;
    case TServiceRead::Failed:
      break;
  }
  return false;
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
  std::vector<TFound> Found;
  const auto Judge = [&Found](const TJsonRecord& Record) {
    if (!LooksLikeAccount(Record.Members)) return;
    Found.push_back({{}, Record.Sequence});
    ReadAccount(Record.Path, Record.Name, Record.Members, Found.back().Account);
  };
  if (!ReadJsonRecords(Text, AccountRules, TJsonRecordScope::EveryObject, Judge)) return false;
  SortAccounts(Found);
  Accounts.reserve(Found.size());
  for (auto& Item : Found) Accounts.push_back(std::move(Item.Account));
  return true;
}

bool ReadAccountNode(std::string_view Text, const std::string& Path, const std::string& Name,
                     TFirebaseManagedAccount& Account) {
  Account = {};
  TJsonTop Top;
  const auto Read = [&](const TJsonRecord& Record) { ReadAccount(Path, Name, Record.Members, Account); };
  // The database answers a refused or invalid read with {"error": ...} (whatever the status); taken
  // as an account it would sign nobody in, but would pass as the active account.
  if (!ReadJsonRecords(Text, AccountRules, TJsonRecordScope::TopObject, Read, &Top) || !Top.IsObject ||
      IsDatabaseErrorReply(Top, TErrorReplyValue::Anything)) {
    Account = {};
    return false;
  }
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
