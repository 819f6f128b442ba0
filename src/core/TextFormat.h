#pragma once
// Message templates with "%s" and "%d" places filled in order ("%%" is a percent sign).
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kelvo {

std::string FormatTemplate(std::string_view Template, const std::vector<std::string>& Values);

namespace detail {
inline std::string FormatArg(const std::string& V) { return V; }
inline std::string FormatArg(std::string_view V) { return std::string(V); }
inline std::string FormatArg(const char* V) { return V ? V : ""; }
template <typename T>
requires std::is_integral_v<T> std::string FormatArg(T V) { return std::to_string(V); }
}  // namespace detail

// "1023 B", "1,0 KB", "1,5 MB", "1,0 GB" with the regional decimal separator.
std::string FormatFileSize(int64_t Size);
// A number as the regional settings write it, with Separator as the decimal separator: optional
// sign, digits with at most one separator, optional exponent. Anything else (thousands separators,
// blanks, "nan", an infinite value) fails and leaves Value alone.
bool TryParseRegionalFloat(std::string_view Text, char Separator, double& Value);

template <typename... Args>
std::string Fmt(std::string_view Template, const Args&... Values) {
  return FormatTemplate(Template, {detail::FormatArg(Values)...});
}

}  // namespace kelvo
