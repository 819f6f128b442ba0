#pragma once
// The sign-in remembered on this computer, so later starts sign in silently: one machine-scope
// protected file in the configuration folder, shared by every user and process of the machine under
// a machine-wide lock, with a short in-process cache.
#include <chrono>
#include <functional>
#include <string>

#include "account/uFirebaseAccountStore.h"

namespace kelvo {

struct TSavedSignIn {
  std::string LoginName;
  std::string Password;
  std::string DisplayName;
};

// For callers that report a missing saved sign-in.
inline constexpr char NoSavedSignInMessage[] = "Kayitli oturum bulunamadi.";

// True when the storage file exists; its content is not examined.
bool HasSavedSignIn();
// True when a record with a login name and a password is remembered. Served from the cache for 60
// seconds after a load or save. Raises when the file cannot be read or unprotected, or holds JSON
// that is not an object. SignIn is emptied first.
bool LoadSavedSignIn(TSavedSignIn& SignIn);
// Replaces the storage file as a whole. Raises when protection or writing fails; the file and the
// cache are then unchanged.
void SaveSavedSignIn(const TSavedSignIn& SignIn);

// The remembered account as the directory has it now (looked up by the saved login name; the password
// is not checked). False with NoSavedSignInMessage when nothing is remembered, or with the lookup's
// message. Raises as LoadSavedSignIn does. Account and Message are emptied first.
bool GetActiveAccount(TFirebaseManagedAccount& Account, std::string& Message);

// Reads the record from the unprotected file text: false when the text is not JSON or lacks the
// login name or the password; raises when it is JSON but not an object. SignIn is emptied first.
bool ParseSavedSignIn(const std::string& Text, TSavedSignIn& SignIn);

// Test seams: forget the cache; replace the pause between file attempts and the file reader (an
// empty function restores the real one).
void ResetSavedSignInCacheForTests();
void SetSavedSignInSleepForTests(std::function<void(std::chrono::milliseconds)> Sleep);
void SetSavedSignInReaderForTests(std::function<std::string(const std::string&)> Reader);

}  // namespace kelvo
