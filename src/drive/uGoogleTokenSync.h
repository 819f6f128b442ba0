#pragma once
// Copies the signed-in account's default Google tokens from the central token directory into the
// local token cache file, after every sign-in. The tokens are written as the directory holds them;
// the token store refreshes them at first use when needed.
#include <string>

namespace kelvo {

// True when the cache file now matches the directory: written with the default link's tokens, or
// deleted when the account has no link or its default entry holds no token. False with a Turkish
// message when nothing is remembered or the directory cannot be read; the file is then unchanged.
// Errors writing or deleting the file, and those of the saved sign-in, are raised.
bool SyncActiveAccountGoogleToken(std::string& Message);

}  // namespace kelvo
