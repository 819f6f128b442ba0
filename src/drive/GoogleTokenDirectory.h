#pragma once
// What the parts of the central Google token directory share among themselves; callers use
// uFirebaseGoogleTokenStore.h. The parts: reading replies (GoogleTokenReplies), the order of
// entries and links (GoogleTokenOrder), the node reads through the service session
// (GoogleTokenRequests), the lists kept for a while (GoogleTokenCache) and the choice of a
// customer account's links and default (uFirebaseGoogleTokenStore).
#include <string>
#include <vector>

#include "account/uFirebaseServiceAuth.h"
#include "drive/uFirebaseGoogleTokenStore.h"

namespace kelvo {

using TGoogleAccountPool = std::vector<TGoogleDriveAuthorizedAccount>;
using TGoogleAccountLinks = std::vector<TGoogleDriveAccountLink>;

// Pool entries by display name, in the order the directory's exchange sort leaves them.
void SortGoogleAccountPool(TGoogleAccountPool& Pool);

// The pool and link nodes read afresh. The list is empty unless the node was Read; Failed with a
// Turkish message.
TServiceRead FetchGoogleAccountPool(TGoogleAccountPool& Pool, std::string& Message);
TServiceRead FetchGoogleAccountLinks(TGoogleAccountLinks& Links, std::string& Message);

// Every link of the directory: the list kept from the last read, or read afresh (and kept).
bool LoadAllGoogleAccountLinks(TGoogleAccountLinks& Links, std::string& Message);

}  // namespace kelvo
