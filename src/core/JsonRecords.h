#pragma once
// Objects of a JSON document read as records: for each name of the caller's table, the value of the
// first member of that name (document order). One pass of parser events (JsonSax.h) with bounded
// nesting; nothing else of the document is kept.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// Which objects of the document are records.
enum class TJsonRecordScope : uint8_t {
  TopObject,    // the top value, when it is an object
  TopMembers,   // each member of the top object whose value is an object
  EveryObject,  // every object at any depth: the top one, members and array elements
};

// How a member's name is compared with the table's names.
enum class TJsonNameMatch : uint8_t {
  Exact,
  Loose,  // with every double quote removed and trimmed, ASCII case ignored
};

// How a reader reads its records' members.
struct TJsonRecordRules {
  std::span<const std::string_view> Names;
  TJsonNameMatch Match;
  std::string_view NullText;  // what a null value reads as
  size_t MaxDepth;            // documents with containers nested deeper are not read
};

struct TJsonMember {
  bool Present = false;
  bool IsNumber = false;
  // A string's content, a number's literal, "true"/"false" or the null text; empty for an object
  // or array.
  std::string Text;
};

struct TJsonRecord {
  std::string Path;     // EveryObject: the names from the top down, joined by "/"; else empty
  std::string Name;     // member name, or array index as decimal text; empty for the top value
  size_t Sequence = 0;  // the order in which the record's object opened (among all containers)
  // One per name of the table, in its order.
  std::vector<TJsonMember> Members;
};

// The shape of the top value, for telling replies of the wrong kind.
struct TJsonTop {
  bool IsObject = false;
  size_t MemberCount = 0;
  std::string FirstName;  // the top object's first member name
  bool FirstHoldsContainer = false;
};

// Reads Text and hands each record (the objects Scope names) to OnRecord when its object closes (an
// inner record before the one that holds it). False when Text is not strict JSON or nests deeper
// than Rules.MaxDepth; records handed over before that was found are not taken back. Top, when
// given, is filled.
bool ReadJsonRecords(std::string_view Text, const TJsonRecordRules& Rules, TJsonRecordScope Scope,
                     const std::function<void(TJsonRecord&)>& OnRecord, TJsonTop* Top = nullptr);

}  // namespace kelvo
