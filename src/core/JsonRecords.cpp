#include "core/JsonRecords.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

#include "core/JsonSax.h"
#include "core/TextRules.h"

namespace kelvo {

namespace {

using Json = nlohmann::json;

constexpr size_t NoMember = static_cast<size_t>(-1);

// The parser's events, one container at a time: each open object that is a record gathers the
// members the caller names, and is handed over when it closes.
class TRecordCollector {
 public:
  TRecordCollector(const TJsonRecordRules& Rules, TJsonRecordScope Scope,
                   const std::function<void(TJsonRecord&)>& OnRecord)
      : FRules(Rules), FScope(Scope), FOnRecord(OnRecord) {
    for (const std::string_view Name : Rules.Names) {
      FShortestName = std::min(FShortestName, Name.size());
      FLongestName = std::max(FLongestName, Name.size());
    }
  }

  bool null() {
    return Scalar(false, [this] { return std::string(FRules.NullText); });
  }
  bool boolean(bool Value) {
    return Scalar(false, [Value] { return std::string(Value ? "true" : "false"); });
  }
  bool number_integer(Json::number_integer_t Value) {
    return Scalar(true, [Value] { return std::to_string(Value); });
  }
  bool number_unsigned(Json::number_unsigned_t Value) {
    return Scalar(true, [Value] { return std::to_string(Value); });
  }
  // A number keeps the digits it was written with.
  bool number_float(Json::number_float_t, const std::string& Literal) {
    return Scalar(true, [&Literal] { return Literal; });
  }
  bool string(std::string& Value) {
    return Scalar(false, [&Value] { return std::move(Value); });
  }
  bool binary(Json::binary_t&) { return false; }

  bool start_object(std::size_t) { return Open(false); }
  bool start_array(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(std::string& Key) {
    if (FDepth == 1 && ++Top.MemberCount == 1) Top.FirstName = Key;
    TFrame& Frame = FFrames[FDepth - 1];
    Frame.PendingMember = Frame.IsRecord ? MatchName(Key) : NoMember;
    Frame.PendingKey.swap(Key);
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

  TJsonTop Top;

 private:
  struct TFrame {
    bool IsArray = false;
    bool IsRecord = false;
    size_t NextIndex = 0;    // arrays: index of the next element
    std::string PendingKey;  // objects: name of the member whose value comes next
    size_t PendingMember = NoMember;
    TJsonRecord Record;  // Path and Name kept for every container, the members for records only
  };

  // The table entry a member name is read under, or NoMember.
  size_t MatchName(std::string_view Key) const {
    std::string Unquoted;
    if (FRules.Match == TJsonNameMatch::Loose) {
      if (Key.find('"') != std::string_view::npos) {
        Unquoted.reserve(Key.size());
        for (char C : Key)
          if (C != '"') Unquoted.push_back(C);
        Key = Unquoted;
      }
      Key = TrimView(Key);
    }
    if (Key.size() < FShortestName || Key.size() > FLongestName) return NoMember;
    for (size_t I = 0; I < FRules.Names.size(); ++I)
      if (FRules.Match == TJsonNameMatch::Loose ? SameText(Key, FRules.Names[I]) : Key == FRules.Names[I]) return I;
    return NoMember;
  }

  bool IsRecordAt(size_t Depth, bool IsArray, const TFrame* Parent) const {
    if (IsArray) return false;
    switch (FScope) {
      case TJsonRecordScope::TopObject:
        return Depth == 0;
      case TJsonRecordScope::TopMembers:
        return Depth == 1 && !Parent->IsArray;
      case TJsonRecordScope::EveryObject:
        return true;
    }
    return false;
  }

  // A value of the open container: counted in an array; in a record, kept when the caller names its
  // member and no earlier member of that name came first.
  template <typename TMakeText>
  bool Scalar(bool IsNumber, TMakeText MakeText) {
    if (FDepth == 0) return true;
    TFrame& Frame = FFrames[FDepth - 1];
    if (Frame.IsArray) {
      ++Frame.NextIndex;
      return true;
    }
    if (Frame.PendingMember != NoMember) {
      TJsonMember& Member = Frame.Record.Members[Frame.PendingMember];
      if (!Member.Present) {
        Member.Present = true;
        Member.IsNumber = IsNumber;
        Member.Text = MakeText();
      }
    }
    return true;
  }

  bool Open(bool IsArray) {
    if (FDepth >= FRules.MaxDepth) return false;
    if (FDepth == FFrames.size()) FFrames.emplace_back();
    TFrame* Parent = FDepth == 0 ? nullptr : &FFrames[FDepth - 1];
    TFrame& Frame = FFrames[FDepth];
    Frame.IsArray = IsArray;
    Frame.IsRecord = IsRecordAt(FDepth, IsArray, Parent);
    Frame.NextIndex = 0;
    Frame.PendingMember = NoMember;
    TJsonRecord& Record = Frame.Record;
    Record.Sequence = FSequence++;
    if (Frame.IsRecord) {
      Record.Members.resize(FRules.Names.size());
      for (TJsonMember& Member : Record.Members) {
        Member.Present = false;
        Member.IsNumber = false;
        Member.Text.clear();
      }
    }
    if (Parent == nullptr) {
      Top.IsObject = !IsArray;
      Record.Path.clear();
      Record.Name.clear();
    } else {
      if (Parent->IsArray) {
        Record.Name = std::to_string(Parent->NextIndex++);
      } else {
        Record.Name.swap(Parent->PendingKey);
        if (FDepth == 1 && Top.MemberCount == 1) Top.FirstHoldsContainer = true;
        // An object or array where a member's text is expected reads as empty text.
        if (Parent->PendingMember != NoMember) Parent->Record.Members[Parent->PendingMember].Present = true;
      }
      if (FScope == TJsonRecordScope::EveryObject)
        Record.Path = Parent->Record.Path.empty() ? Record.Name : Parent->Record.Path + "/" + Record.Name;
    }
    ++FDepth;
    return true;
  }

  bool Close() {
    TFrame& Frame = FFrames[FDepth - 1];
    if (Frame.IsRecord) FOnRecord(Frame.Record);
    --FDepth;
    return true;
  }

  const TJsonRecordRules& FRules;
  const TJsonRecordScope FScope;
  const std::function<void(TJsonRecord&)>& FOnRecord;
  size_t FShortestName = static_cast<size_t>(-1);
  size_t FLongestName = 0;
  std::vector<TFrame> FFrames;  // frames are reused, so their strings keep their buffers
  size_t FDepth = 0;
  size_t FSequence = 0;
};

}  // namespace

bool ReadJsonRecords(std::string_view Text, const TJsonRecordRules& Rules, TJsonRecordScope Scope,
                     const std::function<void(TJsonRecord&)>& OnRecord, TJsonTop* Top) {
  TRecordCollector Collector(Rules, Scope, OnRecord);
  const bool Read = ParseJsonSax(Text, Collector);
  if (Top != nullptr) *Top = std::move(Collector.Top);
  return Read;
}

}  // namespace kelvo
