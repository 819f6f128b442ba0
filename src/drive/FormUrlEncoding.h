#pragma once
// Form-URL encoding (application/x-www-form-urlencoded) of the token endpoint's request body and of
// the Drive's query values: letters, digits and "*-._" stay, a blank becomes "+", every other byte
// of the UTF-8 text becomes "%XX".
#include <string>
#include <string_view>

namespace kelvo {

std::string FormUrlEncode(std::string_view Text);

}  // namespace kelvo
