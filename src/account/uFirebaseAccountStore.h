#pragma once
// The account directory: customer accounts under the database node "Lisanslar", found by login name,
// e-mail address or node name. A lookup reads the login's own node first (one small request); only
// when that node does not exist does it download the whole tree, whose accounts are then kept for
// 120 seconds.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

struct TFirebaseManagedAccount {
  std::string NodePath;  // "Lisanslar/<node>" when read directly, else relative to "Lisanslar" ("group/acme")
  std::string NodeName;  // member name, or array index as decimal text, of the account node
  std::string LoginName;
  std::string Email;
  std::string Password;  // plain text, as the directory keeps it
  std::string DisplayName;
  std::string OAuthClientID;      // empty: the configured default
  std::string OAuthClientSecret;  // empty: the configured default
  std::string TotpSecret;         // Base32
  bool TotpEnabledFlag = false;
};

// The database node that holds the directory.
inline constexpr char AccountsNodeName[] = "Lisanslar";
// Replies nested deeper than this are not read (they are treated as text that is not JSON).
inline constexpr size_t MaxAccountTreeDepth = 512;

// Finds the account whose login name, e-mail address or node name is Login (ASCII case ignored).
// Account and Message are emptied first; false with a Turkish message when there is none or the
// directory cannot be read.
bool FindAccountByLogin(const std::string& Login, TFirebaseManagedAccount& Account, std::string& Message);
// The account asks for one-time codes: a secret is set and the flag is on.
bool IsTotpEnabled(const TFirebaseManagedAccount& Account);
// The text made safe as a database key: trimmed, "# $ . / [ \ ]" and every white-space character
// (Unicode ones included) replaced by "_"; "hesap" when nothing is left.
std::string SanitizeAccountNodeName(const std::string& Text);

// Reading of replies, apart from the transfer (also used by the fuzz target and the benchmark).

// Every account node of a "Lisanslar" reply, at any depth (inside accounts and arrays too), sorted by
// login name, then node path (ASCII case ignored), then document order. False, with Accounts empty,
// when Text is not JSON or nests deeper than MaxAccountTreeDepth.
bool ReadAccountTree(std::string_view Text, std::vector<TFirebaseManagedAccount>& Accounts);
// The account in the reply for one node: true when Text is a JSON object (no account test is made),
// except the database's error reply (an object holding only "error"), which is no account.
bool ReadAccountNode(std::string_view Text, const std::string& Path, const std::string& Name,
                     TFirebaseManagedAccount& Account);
// The first account of the sorted list whose login name, e-mail or node name equals Login (ASCII
// case ignored, Login as given).
bool FindAccountInList(const std::vector<TFirebaseManagedAccount>& Accounts, const std::string& Login,
                       TFirebaseManagedAccount& Account);

// Forgets the account list kept from the last full read (tests and benchmarks only).
void ResetAccountCacheForTests();

}  // namespace kelvo
