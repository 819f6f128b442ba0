#pragma once
// UTF-8 sequences read one at a time and written from code points. The readers in the program differ
// only in how much they ask of a sequence, so the rule is named where it is used.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvo {

enum class TUtf8Rule : uint8_t {
  // A character as the standard defines it: no overlong form, no surrogate, nothing above U+10FFFF.
  Strict,
  // Only the form: a lead byte C2-F4 followed by its continuation bytes. Overlong three-byte forms,
  // surrogates and values up to F4 BF BF BF pass; text written by older tools can hold them.
  Form,
};

// Length of the sequence at Text[I] (1 for an ASCII byte) with its value in Code; 0 when the bytes
// there are not a sequence under Rule. I must be inside Text.
size_t DecodeUtf8(std::string_view Text, size_t I, char32_t& Code, TUtf8Rule Rule = TUtf8Rule::Strict);
// True when the whole of Text is made of sequences under Rule.
bool IsUtf8(std::string_view Text, TUtf8Rule Rule = TUtf8Rule::Strict);
// Appends the UTF-8 form of Code (at most U+10FFFF).
void AppendUtf8(std::string& Out, char32_t Code);

}  // namespace kelvo
