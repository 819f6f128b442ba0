#include "drive/FormUrlEncoding.h"

#include "core/PercentEncoding.h"

namespace kelvo {

std::string FormUrlEncode(std::string_view Text) { return PercentEncode(Text, TPercentSet::Form); }

}  // namespace kelvo
