#pragma once
// What happens before the main window opens: a remembered sign-in is checked again silently (a
// failure is only logged), otherwise the sign-in window is shown.
#include <functional>

namespace kelvo {

// True when the program goes on to its main window; false when the operator cancelled the sign-in.
// ShowSignInWindow runs the sign-in window modally and says whether it completed. A saved sign-in
// that cannot be read raises (the caller shows the message and ends with a failure code).
bool PrepareSignIn(const std::function<bool()>& ShowSignInWindow);

}  // namespace kelvo
