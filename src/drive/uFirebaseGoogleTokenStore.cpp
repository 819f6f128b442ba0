// The choice of a customer account's Google accounts: which links of the directory belong to it
// (by login name, e-mail address or node name), their order, and the default among them.
#include "drive/uFirebaseGoogleTokenStore.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "account/uFirebaseAccountStore.h"
#include "core/TextRules.h"
#include "drive/GoogleTokenDirectory.h"

namespace kelvo {

namespace {

constexpr char EmptyLinkLoginMessage[] = "Musteri hesap baglanti listesi icin kullanici adi bos.";

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

}  // namespace

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

  TGoogleAccountPool Pool;
  if (!LoadGoogleAccountPool(Pool, Message)) return false;
  TGoogleAccountLinks All;
  if (!LoadAllGoogleAccountLinks(All, Message)) return false;

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
  TGoogleAccountLinks Links;
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

}  // namespace kelvo
