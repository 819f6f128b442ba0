#pragma once
// Strict JSON fed to a SAX handler, for readers that must bound nesting or pick members without
// building the whole document.
#include <nlohmann/json.hpp>
#include <string_view>

namespace kelvo {

// False when the text is not (strict) JSON or the handler stops the parse.
template <typename THandler>
bool ParseJsonSax(std::string_view Text, THandler& Handler) {
  try {
    return nlohmann::json::sax_parse(Text.begin(), Text.end(), &Handler, nlohmann::detail::input_format_t::json,
                                     /*strict=*/true, /*ignore_comments=*/false);
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace kelvo
