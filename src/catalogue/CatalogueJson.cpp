#include "catalogue/CatalogueJson.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "core/AsciiJson.h"
#include "core/JsonSax.h"

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;
using ObjectItems = Json::object_t::Container;

// Builds the document from parser events. nlohmann's own builder looks keys up linearly in an
// ordered object (quadratic for large objects) and has no depth limit; this one indexes the keys of
// each open object and stops at MaxCatalogueJsonDepth.
class TBoundedDomBuilder {
 public:
  explicit TBoundedDomBuilder(Json& Root) : FRoot(Root) {}

  bool null() { return Add(Json(nullptr)); }
  bool boolean(bool Value) { return Add(Json(Value)); }
  bool number_integer(Json::number_integer_t Value) { return Add(Json(Value)); }
  bool number_unsigned(Json::number_unsigned_t Value) { return Add(Json(Value)); }
  bool number_float(Json::number_float_t Value, const std::string&) { return Add(Json(Value)); }
  bool string(std::string& Value) { return Add(Json(std::move(Value))); }
  bool binary(Json::binary_t&) { return false; }

  bool start_object(std::size_t) { return Open(Json::object()); }
  bool start_array(std::size_t) { return Open(Json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(std::string& Key) {
    FStack.back().PendingKey = std::move(Key);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  struct TFrame {
    Json* Container;
    std::unordered_map<std::string, size_t> KeyIndex;
    std::string PendingKey;
  };

  // Places Value in the open container (or as the root) and returns where it now lives.
  Json* Place(Json&& Value) {
    if (FStack.empty()) {
      FRoot = std::move(Value);
      return &FRoot;
    }
    TFrame& Top = FStack.back();
    if (Top.Container->is_array()) {
      auto& Items = Top.Container->get_ref<Json::array_t&>();
      Items.push_back(std::move(Value));
      return &Items.back();
    }
    ObjectItems& Items = Top.Container->get_ref<Json::object_t&>();
    const auto [It, Inserted] = Top.KeyIndex.try_emplace(Top.PendingKey, Items.size());
    if (!Inserted) {
      Items[It->second].second = std::move(Value);
      return &Items[It->second].second;
    }
    Items.emplace_back(std::move(Top.PendingKey), std::move(Value));
    return &Items.back().second;
  }

  bool Add(Json&& Value) {
    Place(std::move(Value));
    return true;
  }

  bool Open(Json&& Value) {
    if (FStack.size() >= MaxCatalogueJsonDepth) return false;
    Json* Where = Place(std::move(Value));
    FStack.push_back(TFrame{Where, {}, {}});
    return true;
  }

  bool Close() {
    FStack.pop_back();
    return true;
  }

  Json& FRoot;
  std::vector<TFrame> FStack;
};

}  // namespace

bool TryParseCatalogueJson(std::string_view Text, nlohmann::ordered_json& Value) {
  Value = nullptr;
  Json Parsed;
  TBoundedDomBuilder Builder(Parsed);
  if (!ParseJsonSax(Text, Builder)) return false;
  Value = std::move(Parsed);
  return true;
}

std::string JsonTextForm(const nlohmann::ordered_json& Value) {
  switch (Value.type()) {
    case Json::value_t::string:
      return Value.get_ref<const std::string&>();
    case Json::value_t::boolean:
      return Value.get<bool>() ? "true" : "false";
    case Json::value_t::null:
      return "null";
    case Json::value_t::object:
    case Json::value_t::array:
    case Json::value_t::discarded:
    case Json::value_t::binary:
      return {};
    default:
      // Numbers: their digits, the way the writer prints them.
      return ToAsciiJson(Value);
  }
}

}  // namespace kelvo
