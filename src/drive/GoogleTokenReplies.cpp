// Reading the directory's replies: the pool and link nodes, one entry per member whose value is an
// object, and a single pool entry with its tokens.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "account/Firebase.Client.h"
#include "core/DateTimes.h"
#include "core/JsonRecords.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "drive/GoogleTokenDirectory.h"
#include "platform/Regional.h"

namespace kelvo {

namespace {

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

}  // namespace

bool ReadGoogleAccountPool(std::string_view Text, std::vector<TGoogleDriveAuthorizedAccount>& Pool) {
  if (!ReadNodeEntries(Text, Pool, MakePoolAccount)) return false;
  SortGoogleAccountPool(Pool);
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

}  // namespace kelvo
