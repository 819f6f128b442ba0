// The central Google token directory reads whatever the database (or something in its place)
// answers for the account pool, the link list and one pool entry. Checks that hold for every input:
// a refused reply leaves nothing behind, the pool comes out in display-name order, the link order
// puts defaults first and is stable under a second sort, an entry's token flag matches its tokens,
// its expiry is a finite number, and sanitised keys are safe database keys.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/TextRules.h"
#include "drive/uFirebaseGoogleTokenStore.h"

namespace {

void Check(bool Condition) {
  if (!Condition) std::abort();
}

std::vector<std::string> LinkIds(const std::vector<kelvo::TGoogleDriveAccountLink>& Links) {
  std::vector<std::string> Ids;
  for (const auto& Link : Links) Ids.push_back(Link.LinkID);
  return Ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);

  std::vector<kelvo::TGoogleDriveAuthorizedAccount> Pool;
  if (!kelvo::ReadGoogleAccountPool(Text, Pool)) Check(Pool.empty());
  // A list already in order is left as it is by the sort, so sorting the pool's names again as
  // links must not move anything.
  std::vector<kelvo::TGoogleDriveAccountLink> ByName;
  for (size_t I = 0; I < Pool.size(); ++I) {
    Check(!Pool[I].DisplayName.empty() || Pool[I].GoogleDriveEmail.empty());
    kelvo::TGoogleDriveAccountLink Link;
    Link.LinkID = std::to_string(I);
    Link.GoogleDisplayName = Pool[I].DisplayName;
    ByName.push_back(Link);
  }
  const auto PoolOrder = LinkIds(ByName);
  kelvo::SortGoogleAccountLinks(ByName);
  Check(LinkIds(ByName) == PoolOrder);

  std::vector<kelvo::TGoogleDriveAccountLink> Links;
  if (!kelvo::ReadGoogleAccountLinks(Text, Links)) Check(Links.empty());
  kelvo::SortGoogleAccountLinks(Links);
  for (size_t I = 1; I < Links.size(); ++I) Check(Links[I - 1].IsDefault || !Links[I].IsDefault);
  const auto Sorted = LinkIds(Links);
  kelvo::SortGoogleAccountLinks(Links);
  Check(LinkIds(Links) == Sorted);

  kelvo::TGoogleDriveAuthorizedAccount Account;
  kelvo::TTokenData Tokens;
  if (kelvo::ReadGoogleAccountEntry(Text, "id", Account, Tokens)) {
    Check(Account.GoogleAccountID == "id");
    Check(Account.HasToken == (!kelvo::Trim(Tokens.AccessToken).empty() || !kelvo::Trim(Tokens.RefreshToken).empty()));
    Check(std::isfinite(Tokens.ExpiresAt));
  } else {
    Check(Account.GoogleAccountID.empty() && Tokens.AccessToken.empty() && Tokens.ExpiresAt == 0);
  }

  const std::string Key = kelvo::SanitizeDatabaseKey(Text.substr(0, 512));
  Check(!Key.empty() && Key.find_first_of("#$./[\\] \t\r\n\v\f") == std::string::npos);
  return 0;
}
