#include <gtest/gtest.h>

#include <string>

#include "catalogue/CatalogueJson.h"

using namespace kelvo;
using Json = nlohmann::ordered_json;

namespace {

std::string Nested(size_t Depth, const char* Open = "[", const char* Close = "]") {
  std::string Text;
  for (size_t I = 0; I < Depth; ++I) Text += Open;
  for (size_t I = 0; I < Depth; ++I) Text += Close;
  return Text;
}

}  // namespace

TEST(CatalogueJson, NestingIsBoundedWithoutExhaustingTheStack) {
  Json Value;
  EXPECT_TRUE(TryParseCatalogueJson(Nested(MaxCatalogueJsonDepth), Value));
  EXPECT_TRUE(Value.is_array());
  EXPECT_FALSE(TryParseCatalogueJson(Nested(MaxCatalogueJsonDepth + 1), Value));
  EXPECT_TRUE(Value.is_null());
  EXPECT_FALSE(TryParseCatalogueJson(Nested(100000), Value));
  std::string Objects;
  for (int I = 0; I < 100000; ++I) Objects += "{\"a\":";
  EXPECT_FALSE(TryParseCatalogueJson(Objects, Value)) << "truncated and too deep";
  EXPECT_FALSE(TryParseCatalogueJson(Nested(100000, "{\"k\":[", "]}"), Value));
}

TEST(CatalogueJson, RepeatedKeysKeepTheFirstPlaceAndTheLastValue) {
  Json Value;
  ASSERT_TRUE(TryParseCatalogueJson(R"({"a":1,"b":2,"a":{"x":[1]},"a":3})", Value));
  ASSERT_EQ(Value.size(), 2u);
  EXPECT_EQ(Value.begin().key(), "a");
  EXPECT_EQ(Value["a"], 3);
  EXPECT_EQ(Value["b"], 2);
  ASSERT_TRUE(TryParseCatalogueJson(R"([{"k":"first","k":"last"},{"k":null}])", Value));
  EXPECT_EQ(Value[0]["k"], "last");
  EXPECT_TRUE(Value[1]["k"].is_null());
}

TEST(CatalogueJson, RejectsWhatIsNotStrictUtf8Json) {
  Json Value;
  for (const std::string& Bad : {std::string(""), std::string("   "), std::string("[1,2"), std::string("{\"a\":1} x"),
                                 std::string("// c\n{}"), std::string("[\"\xC5\"]"), std::string("[\"\xFF\xFE\"]"),
                                 std::string("{'a':1}"), std::string("[1e999]"), std::string("\"a\0b\"", 5)}) {
    EXPECT_FALSE(TryParseCatalogueJson(Bad, Value)) << Bad;
  }
  EXPECT_TRUE(TryParseCatalogueJson("\xEF\xBB\xBF{\"a\":\"\xC5\x9F\"}", Value)) << "byte-order mark skipped";
  EXPECT_EQ(Value["a"], "\xC5\x9F");
}

TEST(CatalogueJson, ManyKeysParseInLinearTime) {
  // 200000 keys: a parser that looks each key up linearly would need minutes here, and the run's
  // time-out would end the test.
  std::string Text = "{";
  for (int I = 0; I < 200000; ++I)
    Text += (I ? ",\"k" : "\"k") + std::to_string(I % 150000) + "\":" + std::to_string(I);
  Text += "}";
  Json Value;
  ASSERT_TRUE(TryParseCatalogueJson(Text, Value));
  EXPECT_EQ(Value.size(), 150000u);
  EXPECT_EQ(Value["k7"], 150007) << "the repeated key keeps its last value";
}

TEST(CatalogueJson, TextFormOfEveryKind) {
  Json Value;
  ASSERT_TRUE(TryParseCatalogueJson(R"(["s",-12,18446744073709551615,1.5,true,false,null,{},[]])", Value));
  const char* Expected[] = {"s", "-12", "18446744073709551615", "1.5", "true", "false", "null", "", ""};
  for (size_t I = 0; I < Value.size(); ++I) EXPECT_EQ(JsonTextForm(Value[I]), Expected[I]) << I;
}
