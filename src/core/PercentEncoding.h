#pragma once
// Percent-encoding ("%XX", upper-case hex) of the bytes of a text. The places that need it differ
// only in which bytes may stay as they are, so that set is named at each use.
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvo {

enum class TPercentSet : uint8_t {
  // One path segment or query value: only A-Z a-z 0-9 - . _ ~ stay.
  Unreserved,
  // A form body (application/x-www-form-urlencoded): A-Z a-z 0-9 * - . _ stay, a blank becomes "+".
  Form,
  // A whole URL: only the bytes that may never appear in one are encoded (controls, blank,
  // non-ASCII, " < > \ ^ ` { | } and #); "%" and the delimiters stay.
  UnsafeInUrl,
};

std::string PercentEncode(std::string_view Text, TPercentSet Set);

}  // namespace kelvo
