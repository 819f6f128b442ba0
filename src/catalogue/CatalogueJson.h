#pragma once
// JSON reading shared by the catalogue files (restore information, plan files). These files come from
// the cloud or from other programs, so the parser bounds the nesting depth and stays linear in the
// size of the input, also for objects with very many (or repeated) keys.
#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "platform/Errors.h"

namespace kelvo {

// A catalogue file whose content cannot be read as what it should hold (a plan record that is not an
// object, an object or array where text belongs); what() says which field.
class ECatalogueDataError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

// Containers nested deeper than this are refused as invalid JSON.
inline constexpr size_t MaxCatalogueJsonDepth = 512;

// Strict JSON (no comments, nothing after the value; a leading UTF-8 byte-order mark is skipped).
// False for invalid JSON, invalid UTF-8 in strings and nesting deeper than MaxCatalogueJsonDepth;
// Value is then null. A key repeated within one object keeps its first position and the last value.
bool TryParseCatalogueJson(std::string_view Text, nlohmann::ordered_json& Value);

// The text form of a value: a string's characters, a number's digits, "true"/"false", "null";
// an object or array gives empty text.
std::string JsonTextForm(const nlohmann::ordered_json& Value);

// True for objects and arrays.
inline bool IsJsonContainer(const nlohmann::ordered_json& Value) { return Value.is_object() || Value.is_array(); }

}  // namespace kelvo
