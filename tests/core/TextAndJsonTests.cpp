#include <gtest/gtest.h>

#include "core/AsciiJson.h"
#include "core/PercentEncoding.h"
#include "core/Base64.h"
#include "core/TextFormat.h"
#include "core/TextRules.h"
#include "core/Utf8.h"

using namespace kelvo;

TEST(TextRules, FoldOnlyAsciiLettersAndTrimControlBytes) {
  EXPECT_TRUE(SameText("Yedek_DB.BAK", "yedek_db.bak"));
  // "Ş" and "ş" are different UTF-8 bytes: only a-z fold.
  EXPECT_FALSE(SameText("\xC5\x9E", "\xC5\x9F"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_TRUE(StartsText("RestoreInfo.json", "restoreinfo"));
  EXPECT_TRUE(EndsText("a_restoreinfo.JSON", "restoreinfo.json"));
  EXPECT_EQ(FindText("xxAbC", "abc"), 2u);
  EXPECT_EQ(AsciiLower("I\xC4\xB0Z"), "i\xC4\xB0z");
  EXPECT_EQ(Trim("\t\r\n \x01 a b \x1F "), "a b");
  // A UTF-8 non-breaking space is not ASCII white space and stays.
  EXPECT_EQ(Trim("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0");
  EXPECT_EQ(Trim(""), "");
}

TEST(TextRules, CompareTextFoldsToUpperCase) {
  struct TCase {
    const char* A;
    const char* B;
    int Sign;
  };
  // "_" lies between "Z" and "a": folding to upper case puts it after every letter.
  const TCase Cases[] = {{"abc", "ABC", 0}, {"a_b", "aZb", 1}, {"ab", "abc", -1}, {"", "", 0},
                         {"b", "A", 1},     {"\xC5\x9E", "\xC5\x9F", -1}, {"Z", "\xC3", -1}};
  for (const TCase& Case : Cases) {
    const int Result = CompareText(Case.A, Case.B);
    EXPECT_EQ((Result > 0) - (Result < 0), Case.Sign) << Case.A << " / " << Case.B;
    const int Reverse = CompareText(Case.B, Case.A);
    EXPECT_EQ((Reverse > 0) - (Reverse < 0), -Case.Sign) << Case.B << " / " << Case.A;
  }
  EXPECT_EQ(TrimView(" \x01x y\t"), "x y");
}

TEST(Utf8, StrictAndFormRules) {
  struct TCase {
    const char* Bytes;
    size_t Strict;  // length read at the first byte under each rule, 0 for none
    size_t Form;
    char32_t Code;  // when Strict is not 0
  };
  const TCase Cases[] = {
      {"A", 1, 1, U'A'},
      {"\xC5\x9F", 2, 2, U'\u015F'},
      {"\xE2\x80\xA8", 3, 3, U'\u2028'},
      {"\xF0\x9F\x98\x80", 4, 4, U'\U0001F600'},
      {"\xE0\x80\xAF", 0, 3, 0},      // overlong
      {"\xED\xA0\x80", 0, 3, 0},      // surrogate
      {"\xF4\x90\x80\x80", 0, 4, 0},  // above U+10FFFF
      {"\xC0\xAF", 0, 0, 0},           // never a lead byte
      {"\xC5", 0, 0, 0},                // cut short
      {"\xE2\x28\xA1", 0, 0, 0},      // continuation missing
      {"\x80", 0, 0, 0},
  };
  for (const TCase& Case : Cases) {
    char32_t Code = 0;
    EXPECT_EQ(DecodeUtf8(Case.Bytes, 0, Code), Case.Strict) << Case.Bytes;
    EXPECT_EQ(DecodeUtf8(Case.Bytes, 0, Code, TUtf8Rule::Form), Case.Form) << Case.Bytes;
    EXPECT_EQ(IsUtf8(Case.Bytes, TUtf8Rule::Form), Case.Form != 0) << Case.Bytes;
    if (Case.Strict != 0) {
      EXPECT_EQ(DecodeUtf8(Case.Bytes, 0, Code), Case.Strict);
      EXPECT_EQ(Code, Case.Code) << Case.Bytes;
      std::string Written;
      AppendUtf8(Written, Case.Code);
      EXPECT_EQ(Written, Case.Bytes);
    }
  }
}

TEST(PercentEncoding, EachSetKeepsItsOwnBytes) {
  struct TCase {
    const char* Text;
    const char* Unreserved;
    const char* Form;
    const char* UnsafeInUrl;
  };
  const TCase Cases[] = {
      {"aZ09-._", "aZ09-._", "aZ09-._", "aZ09-._"},
      {"~*", "~%2A", "%7E*", "~*"},
      {"a b", "a%20b", "a+b", "a%20b"},
      {"'x' in=&%", "%27x%27%20in%3D%26%25", "%27x%27+in%3D%26%25", "'x'%20in=&%"},
      {"#\xC5\x9F", "%23%C5%9F", "%23%C5%9F", "%23%C5%9F"},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(PercentEncode(Case.Text, TPercentSet::Unreserved), Case.Unreserved);
    EXPECT_EQ(PercentEncode(Case.Text, TPercentSet::Form), Case.Form);
    EXPECT_EQ(PercentEncode(Case.Text, TPercentSet::UnsafeInUrl), Case.UnsafeInUrl);
  }
}

TEST(TextRules, IntegersAreDecimal32Bit) {
  EXPECT_EQ(StrToIntDef("3050", 1), 3050);
  EXPECT_EQ(StrToIntDef("  -12", 1), -12);
  EXPECT_EQ(StrToIntDef("abc", 3050), 3050);
  EXPECT_EQ(StrToIntDef("12 ", 7), 7);
  EXPECT_EQ(StrToIntDef("", 7), 7);
  EXPECT_EQ(StrToIntDef("-", 7), 7);
  EXPECT_EQ(StrToIntDef("2147483647", 7), 2147483647);
  EXPECT_EQ(StrToIntDef("-2147483648", 7), INT32_MIN);
  EXPECT_EQ(StrToIntDef("2147483648", 7), 7);
  EXPECT_EQ(StrToIntDef("99999999999999999999", 7), 7);
}

TEST(TextFormat, FillsPlacesInOrder) {
  EXPECT_EQ(Fmt("%d dosya %s", 3, "indirildi"), "3 dosya indirildi");
  EXPECT_EQ(Fmt("%s | %s: %s", "a", "E", "m"), "a | E: m");
  EXPECT_EQ(Fmt("100%% %s", "tamam"), "100% tamam");
  // Missing values leave the place empty rather than reading past the list.
  EXPECT_EQ(Fmt("%s-%s", "x"), "x-");
}

TEST(AsciiJson, EscapesEverythingOutsidePrintableAscii) {
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json("C:\\Yedek\\Muhasebe 2024\\db.bak")),
            R"("C:\\Yedek\\Muhasebe 2024\\db.bak")");
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json("ba\xC5\x9F")), R"("ba\u015F")");
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json("a/b")), R"("a\/b")");
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json("\xF0\x9F\x98\x80")), R"("\uD83D\uDE00")");
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json(std::string("\b\t\n\f\r\x01\x1F\"", 8))),
            R"("\b\t\n\f\r\u0001\u001F\"")");
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json(std::string("\x00", 1))), R"("\u0000")");
  // Broken UTF-8 never produces non-ASCII output.
  EXPECT_EQ(ToAsciiJson(nlohmann::ordered_json::parse("\"x\"")), R"("x")");
  std::string Out;
  AppendAsciiJsonString(Out, "\xC3(\xE2\x82");
  EXPECT_EQ(Out, R"("\uFFFD(\uFFFD\uFFFD")");
}

TEST(AsciiJson, CompactWithMemberOrderKept) {
  nlohmann::ordered_json J;
  J["server"] = "SRV\\SQL";
  J["port"] = 1433;
  J["restoreToOriginal"] = false;
  J["list"] = nlohmann::ordered_json::array({1, "\xC4\xB0", nullptr});
  J["empty"] = nlohmann::ordered_json::object();
  EXPECT_EQ(ToAsciiJson(J),
            R"({"server":"SRV\\SQL","port":1433,"restoreToOriginal":false,"list":[1,"\u0130",null],"empty":{}})");
  // What we write, a JSON parser reads back to the same value.
  EXPECT_EQ(nlohmann::ordered_json::parse(ToAsciiJson(J)), J);
}

TEST(Base64, StrictDecodingAndWrappedEncoding) {
  const std::vector<uint8_t> Data = {0x00, 0xFF, 0x10, 0x20, 0x30};
  std::vector<uint8_t> Back;
  ASSERT_TRUE(Base64Decode(Base64Encode(Data), Back));
  EXPECT_EQ(Back, Data);
  EXPECT_TRUE(Base64Decode("AP8Q\r\n IDA=\t", Back));
  EXPECT_EQ(Back, Data);
  for (const char* Bad : {"AP8", "AP8Q!DA=", "A=P8", "AP8Q====", "====", "AP=Q"})
    EXPECT_FALSE(Base64Decode(Bad, Back)) << Bad;
  EXPECT_TRUE(Back.empty());
  std::vector<uint8_t> Big(100, 0xAB);
  const std::string Wrapped = Base64EncodeWrapped(Big);
  EXPECT_EQ(Wrapped.find("\r\n"), 76u);
  EXPECT_NE(Wrapped.substr(Wrapped.size() - 2), "\r\n");
  ASSERT_TRUE(Base64Decode(Wrapped, Back));
  EXPECT_EQ(Back, Big);
}
