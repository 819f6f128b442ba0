// The pool and link lists kept for a while after each read, so that a customer account's links and
// their pool entries cost no requests while they are fresh. A single pool entry is never kept: its
// tokens are always read afresh.
#include <string>
#include <utility>
#include <vector>

#include "core/TimedCache.h"
#include "drive/GoogleTokenDirectory.h"

namespace kelvo {

namespace {

TTimedCache<TGoogleAccountPool> GPoolCache(DatabaseListLifetime);
TTimedCache<TGoogleAccountLinks> GLinkCache(DatabaseListLifetime);

// The kept list while it is fresh, else the list read afresh, which is then kept. Unless KeepEmpty,
// an empty list is never served from the cache and a node that does not exist is not kept.
template <typename TItem>
bool LoadKeptList(TTimedCache<std::vector<TItem>>& Cache, bool KeepEmpty,
                  TServiceRead (*Fetch)(std::vector<TItem>&, std::string&), std::vector<TItem>& Items,
                  std::string& Message) {
  Items.clear();
  Message.clear();
  if (auto Kept = Cache.Get(); Kept && (KeepEmpty || !Kept->empty())) {
    Items = std::move(*Kept);
    return true;
  }
  const TServiceRead Result = Fetch(Items, Message);
  if (Result == TServiceRead::Failed) return false;
  if (Result == TServiceRead::Read || KeepEmpty) Cache.Store(Items);
  return true;
}

}  // namespace

bool LoadGoogleAccountPool(std::vector<TGoogleDriveAuthorizedAccount>& Pool, std::string& Message) {
  return LoadKeptList(GPoolCache, /*KeepEmpty=*/false, FetchGoogleAccountPool, Pool, Message);
}

bool LoadAllGoogleAccountLinks(TGoogleAccountLinks& Links, std::string& Message) {
  return LoadKeptList(GLinkCache, /*KeepEmpty=*/true, FetchGoogleAccountLinks, Links, Message);
}

void ResetGoogleAccountPoolCacheForTests() { GPoolCache.Clear(); }
void ResetGoogleAccountLinksCacheForTests() { GLinkCache.Clear(); }

}  // namespace kelvo
