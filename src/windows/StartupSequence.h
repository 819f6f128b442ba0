#pragma once
// What happens before the main window opens: a remembered sign-in is checked again silently; when
// the directory rejects it (wrong password, account gone) the sign-in window opens with the reason
// and the login filled in; when the check cannot be made the program goes on (logged). Without a
// remembered sign-in the sign-in window is shown.
#include <functional>
#include <string>

namespace kelvo {

// True when the program goes on to its main window; false when the operator cancelled the sign-in.
// ShowSignInWindow runs the sign-in window modally, with a login to fill in and a reason to show
// (both empty at a first sign-in), and says whether it completed. A saved sign-in that cannot be
// read raises (the caller shows the message and ends with a failure code).
using TShowSignInWindow = std::function<bool(const std::string& Login, const std::string& Reason)>;
bool PrepareSignIn(const TShowSignInWindow& ShowSignInWindow);

}  // namespace kelvo
