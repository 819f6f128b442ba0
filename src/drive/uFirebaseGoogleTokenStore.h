#pragma once
// The central Google token directory: the Google Drive accounts authorised for the product, with
// their tokens ("GoogleDriveAccounts"), and the links that attach customer accounts to them
// ("GoogleDriveAccountLinks"), both read from the cloud database through the service session. It
// decides which Google account is a customer account's default one. The pool and the link list are
// kept for 120 seconds; a single pool entry (with its tokens) is always read afresh.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "drive/uGoogleAuth.h"

namespace kelvo {

struct TGoogleDriveAuthorizedAccount {
  std::string GoogleAccountID;  // member name in "GoogleDriveAccounts"
  std::string DisplayName;      // the e-mail address when the entry has no display name
  std::string GoogleDriveEmail;
  std::string ConnectedAtText;
  std::string UpdatedAtText;
  bool HasToken = false;  // an access or a refresh token that is not blank
};

struct TGoogleDriveAccountLink {
  std::string LinkID;            // member name in "GoogleDriveAccountLinks"
  std::string AccountLoginName;  // login name, e-mail address or node name of the customer account
  std::string GoogleAccountID;
  std::string GoogleDisplayName;  // from the pool entry
  std::string GoogleDriveEmail;   // from the pool entry
  std::string LinkedAtText;
  std::string UpdatedAtText;  // the pool entry's when it is found
  bool IsDefault = false;
};

inline constexpr char GoogleAccountsNodeName[] = "GoogleDriveAccounts";
inline constexpr char GoogleAccountLinksNodeName[] = "GoogleDriveAccountLinks";
// Replies nested deeper than this are not read (they count as replies that are not JSON).
inline constexpr size_t MaxTokenDirectoryDepth = 512;

// The text made safe as a database key: trimmed, "# $ . / [ \ ]" and every white-space character
// (Unicode ones included) replaced by "_"; "kayit" when nothing is left.
std::string SanitizeDatabaseKey(const std::string& Text);

// One pool entry and its tokens, read afresh. Account, TokenData and Message are emptied first.
bool ReadGoogleDriveAccount(const std::string& GoogleAccountID, TGoogleDriveAuthorizedAccount& Account,
                            TTokenData& TokenData, std::string& Message);
// Every pool entry, sorted by display name (ASCII case ignored).
bool LoadGoogleAccountPool(std::vector<TGoogleDriveAuthorizedAccount>& Pool, std::string& Message);
// The customer account's links, with the pool entries' names, defaults first, then by display name.
bool ListAccountGoogleLinks(const std::string& LoginName, std::vector<TGoogleDriveAccountLink>& Links,
                            std::string& Message);
// The customer account's default link and its tokens; true with nothing when the account has no link.
bool LoadDefaultGoogleToken(const std::string& LoginName, TTokenData& TokenData, TGoogleDriveAccountLink& Link,
                            std::string& Message);
// The first entry whose ID equals GoogleAccountID (ASCII case ignored).
bool FindPoolAccount(const std::string& GoogleAccountID, const std::vector<TGoogleDriveAuthorizedAccount>& Pool,
                     TGoogleDriveAuthorizedAccount& Account);
// The login name the directory stores for the account (its login name, else its e-mail address);
// the trimmed input when the account is not found. False only for a blank login.
bool ResolveAccountLoginName(const std::string& LoginName, std::string& CanonicalLoginName);
// Whether a link's login name names this customer account (by login name, e-mail or node name).
bool LinkBelongsToAccount(const std::string& LinkLoginName, const std::string& AccountLoginName);

// Reading of replies, apart from the transfer (also used by the fuzz target).

// A "GoogleDriveAccounts" reply: one entry per member whose value is an object, sorted. False (Pool
// empty) when Text is not a JSON object, nests too deeply, or is the database's error reply.
bool ReadGoogleAccountPool(std::string_view Text, std::vector<TGoogleDriveAuthorizedAccount>& Pool);
// A "GoogleDriveAccountLinks" reply: one link per member whose value is an object, in document order.
// False as for the pool.
bool ReadGoogleAccountLinks(std::string_view Text, std::vector<TGoogleDriveAccountLink>& Links);
// The reply for one pool entry. False when Text is not a JSON object, nests too deeply, or is the
// database's error reply.
bool ReadGoogleAccountEntry(std::string_view Text, const std::string& GoogleAccountID,
                            TGoogleDriveAuthorizedAccount& Account, TTokenData& TokenData);
// Sorts links as the default choice needs them: defaults first, then by display name.
void SortGoogleAccountLinks(std::vector<TGoogleDriveAccountLink>& Links);

// Forget the pool and the link list kept from the last reads (tests only).
void ResetGoogleAccountPoolCacheForTests();
void ResetGoogleAccountLinksCacheForTests();

}  // namespace kelvo
