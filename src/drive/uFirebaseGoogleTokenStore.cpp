#include "drive/uFirebaseGoogleTokenStore.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "account/Firebase.Client.h"
#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseServiceAuth.h"
#include "core/DateTimes.h"
#include "core/HttpClient.h"
#include "core/JsonRecords.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/TimedCache.h"
#include "core/Utf8.h"
#include "platform/Clock.h"
#include "platform/Regional.h"

namespace kelvo {

namespace {

using TimePoint = std::chrono::system_clock::time_point;
using TPool = std::vector<TGoogleDriveAuthorizedAccount>;
using TLinks = std::vector<TGoogleDriveAccountLink>;

constexpr char EmptyKeyReplacement[] = "kayit";
constexpr char EmptyAccountIdMessage[] = "Google Drive hesap kimligi bos.";
constexpr char AccountNotFoundMessage[] = "Google Drive hesabi bulunamadi.";
constexpr char AccountUnreadableMessage[] = "Google Drive hesabi okunamadi.";
constexpr char AccountReadErrorPrefix[] = "Google Drive hesabi okunurken hata: ";
constexpr char PoolUnreadableMessage[] = "Google Drive hesap havuzu okunamadi.";
constexpr char PoolReadErrorPrefix[] = "Google Drive hesap havuzu okunurken hata: ";
constexpr char EmptyLinkLoginMessage[] = "Musteri hesap baglanti listesi icin kullanici adi bos.";
constexpr char LinksUnreadableMessage[] = "Musteri Google baglanti listesi okunamadi.";
constexpr char LinksReadErrorPrefix[] = "Musteri Google baglanti listesi okunurken hata: ";

// ---- Entry members -----------------------------------------------------------------------------

// The member names entries are read under, exactly as written; a null reads as empty text.
// clang-format off
enum TEntryMember : uint8_t {
  emDisplayName, emGoogleDriveEmail, emConnectedAt, emUpdatedAt, emAccessToken, emRefreshToken, emExpiresAt,
  emAccountLoginName, emGoogleAccountID, emLinkedAt, emIsDefault,
  emCount
};

constexpr std::array<std::string_view, emCount> EntryMemberNames = {
  "DisplayName", "GoogleDriveEmail", "ConnectedAt", "UpdatedAt", "AccessToken", "RefreshToken", "ExpiresAt",
  "AccountLoginName", "GoogleAccountID", "LinkedAt", "IsDefault"};
// clang-format on

using TEntryMembers = std::vector<TJsonMember>;

constexpr TJsonRecordRules EntryRules{EntryMemberNames, TJsonNameMatch::Exact, "", MaxTokenDirectoryDepth};

// ---- Value rules -------------------------------------------------------------------------------

const std::string& TextOf(const TEntryMembers& M, TEntryMember Name) { return M[Name].Text; }

bool FlagOf(const TEntryMembers& M, TEntryMember Name) {
  const std::string Value = AsciiLower(Trim(M[Name].Text));
  return Value == "true" || Value == "1" || Value == "evet";
}

std::string WithRegionalSeparator(std::string Text, char Separator) {
  for (char& C : Text)
    if (C == '.') C = Separator;
  return Text;
}

// Days since 1899-12-30: a JSON number as days, a text as regional date-time or as days; 0 when
// nothing fits (an ISO 8601 text among them).
TDateTime DateValueOf(const TEntryMembers& M, TEntryMember Name) {
  const TJsonMember& Member = M[Name];
  if (!Member.Present) return 0;
  const char Separator = platform::GetRegionalSettings().DecimalSeparator;
  double Value = 0;
  if (Member.IsNumber)
    return TryParseRegionalFloat(WithRegionalSeparator(Member.Text, Separator), Separator, Value) ? Value : 0;
  const std::string Text = Trim(Member.Text);
  if (Text.empty()) return 0;
  if (TryParseRegionalDateTime(Text, Value)) return Value;
  if (TryParseRegionalFloat(WithRegionalSeparator(Text, Separator), Separator, Value)) return Value;
  return 0;
}

TGoogleDriveAuthorizedAccount MakePoolAccount(const std::string& ID, const TEntryMembers& M) {
  TGoogleDriveAuthorizedAccount Account;
  Account.GoogleAccountID = ID;
  Account.GoogleDriveEmail = TextOf(M, emGoogleDriveEmail);
  Account.DisplayName = TextOf(M, emDisplayName);
  if (Account.DisplayName.empty()) Account.DisplayName = Account.GoogleDriveEmail;
  Account.ConnectedAtText = TextOf(M, emConnectedAt);
  Account.UpdatedAtText = TextOf(M, emUpdatedAt);
  Account.HasToken = !Trim(TextOf(M, emAccessToken)).empty() || !Trim(TextOf(M, emRefreshToken)).empty();
  return Account;
}

TGoogleDriveAccountLink MakeLink(const std::string& ID, const TEntryMembers& M) {
  TGoogleDriveAccountLink Link;
  Link.LinkID = ID;
  Link.AccountLoginName = TextOf(M, emAccountLoginName);
  Link.GoogleAccountID = TextOf(M, emGoogleAccountID);
  Link.LinkedAtText = TextOf(M, emLinkedAt);
  Link.UpdatedAtText = TextOf(M, emUpdatedAt);
  Link.IsDefault = FlagOf(M, emIsDefault);
  return Link;
}

// ---- Reading a reply ---------------------------------------------------------------------------

// Only a JSON object that is not the database's error reply is read. The error reply is only one
// whose "error" holds no object or array: {"error": {...}} is a node with an entry named "error".
bool ReadEntries(std::string_view Text, TJsonRecordScope Scope, const std::function<void(TJsonRecord&)>& OnEntry) {
  TJsonTop Top;
  return ReadJsonRecords(Text, EntryRules, Scope, OnEntry, &Top) && Top.IsObject &&
         !IsDatabaseErrorReply(Top, TErrorReplyValue::NoContainer);
}

// A node's entries in document order, each made into an item by Make.
template <typename TItem>
bool ReadNodeEntries(std::string_view Text, std::vector<TItem>& Items,
                     TItem (*Make)(const std::string&, const TEntryMembers&)) {
  Items.clear();
  const auto Add = [&](const TJsonRecord& Entry) { Items.push_back(Make(Entry.Name, Entry.Members)); };
  if (ReadEntries(Text, TJsonRecordScope::TopMembers, Add)) return true;
  Items.clear();
  return false;
}

// ---- Ordering ----------------------------------------------------------------------------------

// Sort key of a name: UTF-16 code units (the order the names were always compared in), with only
// a-z folded to upper case. Bytes that are not UTF-8 count as U+FFFD.
std::u16string FoldedKey(std::string_view Text) {
  std::u16string Key;
  Key.reserve(Text.size());
  for (size_t I = 0; I < Text.size();) {
    char32_t Code = 0;
    const size_t Length = DecodeUtf8(Text, I, Code);
    if (Length == 0) {
      Key.push_back(u'\uFFFD');
      ++I;
      continue;
    }
    I += Length;
    if (Code >= 'a' && Code <= 'z') Code -= 'a' - 'A';
    if (Code >= 0x10000) {
      Key.push_back(static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10)));
      Key.push_back(static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF)));
    } else {
      Key.push_back(static_cast<char16_t>(Code));
    }
  }
  return Key;
}

// The exchange sort the directory's lists have always been ordered with: for each position, every
// later entry that belongs before it is swapped in. It is not stable, and the order it leaves equal
// entries in is part of which link is the default, so no other sort may replace it.
// The swaps move only positions; the records are put in their places once at the end.
template <typename TItem, typename TKey, typename TBefore>
void ExchangeSort(std::vector<TItem>& Items, const std::vector<TKey>& Keys, TBefore Before) {
  const size_t Count = Items.size();
  std::vector<uint32_t> Order(Count);
  for (size_t I = 0; I < Count; ++I) Order[I] = static_cast<uint32_t>(I);
  for (size_t I = 0; I + 1 < Count; ++I) {
    uint32_t Current = Order[I];
    for (size_t J = I + 1; J < Count; ++J)
      if (Before(Keys[Order[J]], Keys[Current])) std::swap(Current, Order[J]);
    Order[I] = Current;
  }
  std::vector<TItem> Sorted;
  Sorted.reserve(Count);
  for (const uint32_t Index : Order) Sorted.push_back(std::move(Items[Index]));
  Items = std::move(Sorted);
}

void SortPool(TPool& Pool) {
  std::vector<std::u16string> Keys;
  Keys.reserve(Pool.size());
  for (const auto& Account : Pool) Keys.push_back(FoldedKey(Account.DisplayName));
  ExchangeSort(Pool, Keys, [](const std::u16string& A, const std::u16string& B) { return A < B; });
}

// ---- Caches ------------------------------------------------------------------------------------

TTimedCache<TPool> GPoolCache(DatabaseListLifetime);
TTimedCache<TLinks> GLinkCache(DatabaseListLifetime);

// ---- Account lookups ---------------------------------------------------------------------------

// Account lookups by login, remembered for the length of one link walk: every link of the list is
// compared against the same customer account, whose lookup would otherwise cost requests per link.
class TAccountLookups {
 public:
  bool Find(const std::string& Login, TFirebaseManagedAccount& Account) {
    auto It = FFound.find(Login);
    if (It == FFound.end()) {
      TFirebaseManagedAccount Found;
      std::string Message;  // a failed lookup is no error here
      const bool Ok = FindAccountByLogin(Login, Found, Message);
      It = FFound.emplace(Login, std::make_pair(Ok, std::move(Found))).first;
    }
    Account = It->second.second;
    return It->second.first;
  }

 private:
  std::map<std::string, std::pair<bool, TFirebaseManagedAccount>> FFound;
};

bool ResolveLoginName(const std::string& LoginName, std::string& Canonical, TAccountLookups& Lookups) {
  Canonical = Trim(LoginName);
  if (Canonical.empty()) return false;
  TFirebaseManagedAccount Account;
  if (Lookups.Find(Canonical, Account)) {
    if (!Trim(Account.LoginName).empty())
      Canonical = Trim(Account.LoginName);
    else if (!Trim(Account.Email).empty())
      Canonical = Trim(Account.Email);
  }
  return true;
}

bool LinkBelongs(const std::string& LinkLoginName, const std::string& AccountLoginName, TAccountLookups& Lookups) {
  const std::string LinkName = Trim(LinkLoginName);
  if (SameText(LinkName, Trim(AccountLoginName))) return true;
  std::string Canonical;
  ResolveLoginName(AccountLoginName, Canonical, Lookups);
  if (SameText(LinkName, Canonical)) return true;
  TFirebaseManagedAccount Account;
  if (!Lookups.Find(AccountLoginName, Account)) return false;
  return SameText(LinkName, Trim(Account.Email)) || SameText(LinkName, Trim(Account.NodeName)) ||
         SameText(LinkName, Trim(Account.LoginName));
}

// The full link list: the cached one, or read afresh (and cached).
bool LoadAllLinks(TLinks& Links, std::string& Message) {
  Links.clear();
  Message.clear();
  if (auto Cached = GLinkCache.Get()) {
    Links = std::move(*Cached);
    return true;
  }
  try {
    std::string Reply;
    if (!TFirebaseServiceAuth::ReadNode(GoogleAccountLinksNodeName, Reply, Message)) return false;
    if (IsNullNodeReply(Reply)) {
      GLinkCache.Store({});
      return true;
    }
    TLinks Read;
    if (!ReadGoogleAccountLinks(Reply, Read)) {
      Message = LinksUnreadableMessage;
      return false;
    }
    GLinkCache.Store(Read);
    Links = std::move(Read);
    return true;
  } catch (const std::exception& E) {
    Links.clear();
    Message = std::string(LinksReadErrorPrefix) + E.what();
    return false;
  }
}

}  // namespace

// ---- Readers -----------------------------------------------------------------------------------

bool ReadGoogleAccountPool(std::string_view Text, std::vector<TGoogleDriveAuthorizedAccount>& Pool) {
  if (!ReadNodeEntries(Text, Pool, MakePoolAccount)) return false;
  SortPool(Pool);
  return true;
}

bool ReadGoogleAccountLinks(std::string_view Text, std::vector<TGoogleDriveAccountLink>& Links) {
  return ReadNodeEntries(Text, Links, MakeLink);
}

bool ReadGoogleAccountEntry(std::string_view Text, const std::string& GoogleAccountID,
                            TGoogleDriveAuthorizedAccount& Account, TTokenData& TokenData) {
  Account = {};
  TokenData = {};
  const auto Read = [&](const TJsonRecord& Entry) {
    Account = MakePoolAccount(GoogleAccountID, Entry.Members);
    TokenData.AccessToken = TextOf(Entry.Members, emAccessToken);
    TokenData.RefreshToken = TextOf(Entry.Members, emRefreshToken);
    TokenData.ExpiresAt = DateValueOf(Entry.Members, emExpiresAt);
  };
  if (ReadEntries(Text, TJsonRecordScope::TopObject, Read)) return true;
  Account = {};
  TokenData = {};
  return false;
}

void SortGoogleAccountLinks(std::vector<TGoogleDriveAccountLink>& Links) {
  struct TLinkKey {
    bool IsDefault;
    std::u16string Name;
  };
  std::vector<TLinkKey> Keys;
  Keys.reserve(Links.size());
  for (const auto& Link : Links) Keys.push_back({Link.IsDefault, FoldedKey(Link.GoogleDisplayName)});
  ExchangeSort(Links, Keys, [](const TLinkKey& A, const TLinkKey& B) {
    if (A.IsDefault != B.IsDefault) return A.IsDefault;
    return A.Name < B.Name;
  });
}

// ---- Operations --------------------------------------------------------------------------------

std::string SanitizeDatabaseKey(const std::string& Text) {
  // The account node rule, whose only difference is the word for an empty key.
  if (Trim(Text).empty()) return EmptyKeyReplacement;
  return SanitizeAccountNodeName(Text);
}

bool ReadGoogleDriveAccount(const std::string& GoogleAccountID, TGoogleDriveAuthorizedAccount& Account,
                            TTokenData& TokenData, std::string& Message) {
  Account = {};
  TokenData = {};
  Message.clear();
  if (Trim(GoogleAccountID).empty()) {
    Message = EmptyAccountIdMessage;
    return false;
  }
  try {
    // The key may still hold "%", "?", "@" or non-ASCII letters.
    std::string Reply;
    if (!TFirebaseServiceAuth::ReadNode(
            std::string(GoogleAccountsNodeName) + "/" + UrlEncode(SanitizeDatabaseKey(GoogleAccountID)), Reply,
            Message))
      return false;
    if (IsNullNodeReply(Reply)) {
      Message = AccountNotFoundMessage;
      return false;
    }
    if (!ReadGoogleAccountEntry(Reply, GoogleAccountID, Account, TokenData)) {
      Message = AccountUnreadableMessage;
      return false;
    }
    return true;
  } catch (const std::exception& E) {
    Account = {};
    TokenData = {};
    Message = std::string(AccountReadErrorPrefix) + E.what();
    return false;
  }
}

bool LoadGoogleAccountPool(std::vector<TGoogleDriveAuthorizedAccount>& Pool, std::string& Message) {
  Pool.clear();
  Message.clear();
  // An empty pool is never served from the cache.
  if (auto Cached = GPoolCache.Get(); Cached && !Cached->empty()) {
    Pool = std::move(*Cached);
    return true;
  }
  try {
    std::string Reply;
    if (!TFirebaseServiceAuth::ReadNode(GoogleAccountsNodeName, Reply, Message)) return false;
    if (IsNullNodeReply(Reply)) return true;
    TPool Read;
    if (!ReadGoogleAccountPool(Reply, Read)) {
      Message = PoolUnreadableMessage;
      return false;
    }
    GPoolCache.Store(Read);
    Pool = std::move(Read);
    return true;
  } catch (const std::exception& E) {
    Pool.clear();
    Message = std::string(PoolReadErrorPrefix) + E.what();
    return false;
  }
}

bool FindPoolAccount(const std::string& GoogleAccountID, const std::vector<TGoogleDriveAuthorizedAccount>& Pool,
                     TGoogleDriveAuthorizedAccount& Account) {
  Account = {};
  for (const auto& Candidate : Pool)
    if (SameText(Candidate.GoogleAccountID, GoogleAccountID)) {
      Account = Candidate;
      return true;
    }
  return false;
}

bool ResolveAccountLoginName(const std::string& LoginName, std::string& CanonicalLoginName) {
  TAccountLookups Lookups;
  return ResolveLoginName(LoginName, CanonicalLoginName, Lookups);
}

bool LinkBelongsToAccount(const std::string& LinkLoginName, const std::string& AccountLoginName) {
  TAccountLookups Lookups;
  return LinkBelongs(LinkLoginName, AccountLoginName, Lookups);
}

bool ListAccountGoogleLinks(const std::string& LoginName, std::vector<TGoogleDriveAccountLink>& Links,
                            std::string& Message) {
  Links.clear();
  Message.clear();
  if (Trim(LoginName).empty()) {
    Message = EmptyLinkLoginMessage;
    return false;
  }
  TAccountLookups Lookups;
  std::string Canonical;
  ResolveLoginName(LoginName, Canonical, Lookups);

  TPool Pool;
  if (!LoadGoogleAccountPool(Pool, Message)) return false;
  TLinks All;
  if (!LoadAllLinks(All, Message)) return false;

  for (TGoogleDriveAccountLink& Link : All) {
    if (!LinkBelongs(Link.AccountLoginName, Canonical, Lookups)) continue;
    TGoogleDriveAuthorizedAccount Entry;
    if (FindPoolAccount(Link.GoogleAccountID, Pool, Entry)) {
      Link.GoogleDisplayName = Entry.DisplayName;
      Link.GoogleDriveEmail = Entry.GoogleDriveEmail;
      Link.UpdatedAtText = Entry.UpdatedAtText;
    }
    Links.push_back(std::move(Link));
  }
  SortGoogleAccountLinks(Links);
  return true;
}

bool LoadDefaultGoogleToken(const std::string& LoginName, TTokenData& TokenData, TGoogleDriveAccountLink& Link,
                            std::string& Message) {
  TokenData = {};
  Link = {};
  Message.clear();
  TLinks Links;
  if (!ListAccountGoogleLinks(LoginName, Links, Message)) return false;
  if (Links.empty()) return true;

  // Defaults sort first, so this is the first link; the rule is kept as the choice is meant.
  size_t Chosen = Links.size();
  for (size_t I = 0; I < Links.size(); ++I)
    if (Links[I].IsDefault) {
      Chosen = I;
      break;
    }
  if (Chosen == Links.size() || Trim(Links[Chosen].LinkID).empty()) Chosen = 0;
  Link = Links[Chosen];

  TGoogleDriveAuthorizedAccount Account;
  if (!ReadGoogleDriveAccount(Link.GoogleAccountID, Account, TokenData, Message)) return false;
  Link.GoogleDisplayName = Account.DisplayName;
  Link.GoogleDriveEmail = Account.GoogleDriveEmail;
  Link.UpdatedAtText = Account.UpdatedAtText;
  return true;
}

void ResetGoogleAccountPoolCacheForTests() { GPoolCache.Clear(); }
void ResetGoogleAccountLinksCacheForTests() { GLinkCache.Clear(); }

}  // namespace kelvo
