#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "account/uTotp.h"
#include "platform/Clock.h"
#include "support/Fixtures.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace kelvo {
namespace {

// "12345678901234567890", the key of the published test vectors.
constexpr char VectorSecret[] = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";

std::vector<uint8_t> Bytes(const std::string& Text) { return {Text.begin(), Text.end()}; }

std::vector<uint8_t> Decoded(const std::string& Text) {
  std::vector<uint8_t> Key{0xEE};
  DecodeBase32(Text, Key);
  return Key;
}

// Sets the local time zone for the life of the object and restores the old one after.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* Zone) : FEnv(std::make_unique<test::ScopedEnv>("TZ", Zone)) { tzset(); }
  ~ScopedTimeZone() {
    FEnv.reset();
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::unique_ptr<test::ScopedEnv> FEnv;
};

// Codes are checked against a clock the test sets, in UTC seconds.
class TotpClock : public ::testing::Test {
 protected:
  test::IsolatedProcessState Process;
  static void SetTime(int64_t UnixSeconds) {
    const auto At = std::chrono::system_clock::time_point(std::chrono::seconds(UnixSeconds));
    platform::SetClock([At] { return At; });
  }
};

TEST(Base32, NormalizeKeepsOnlyAlphabetCharacters) {
  EXPECT_EQ(NormalizeBase32("  gezd-gnbv gy3t====\t"), "GEZDGNBVGY3T");
  // 0, 1, 8 and 9 are not Base32 digits; non-ASCII letters and punctuation go too.
  EXPECT_EQ(NormalizeBase32("a0b1c8d9e.f,\xC3\xA7\xC4\xB1g"), "ABCDEFG");
  EXPECT_EQ(NormalizeBase32(""), "");
  EXPECT_EQ(NormalizeBase32(" = - "), "");
}

TEST(Base32, DecodesKnownValues) {
  // RFC 4648 test vectors, with and without padding.
  EXPECT_EQ(Decoded("MY======"), Bytes("f"));
  EXPECT_EQ(Decoded("MZXQ===="), Bytes("fo"));
  EXPECT_EQ(Decoded("MZXW6==="), Bytes("foo"));
  EXPECT_EQ(Decoded("MZXW6YQ="), Bytes("foob"));
  EXPECT_EQ(Decoded("MZXW6YTB"), Bytes("fooba"));
  EXPECT_EQ(Decoded("MZXW6YTBOI======"), Bytes("foobar"));
  EXPECT_EQ(Decoded(VectorSecret), Bytes("12345678901234567890"));
  // Every value of a character reaches the right bits.
  EXPECT_EQ(Decoded("77777777"), std::vector<uint8_t>(5, 0xFF));
  EXPECT_EQ(Decoded("AAAAAAAA"), std::vector<uint8_t>(5, 0x00));
}

TEST(Base32, WrittenFormsGiveTheSameKey) {
  const std::vector<uint8_t> Plain = Decoded(VectorSecret);
  EXPECT_EQ(Decoded("gezdgnbvgy3tqojqgezdgnbvgy3tqojq"), Plain);
  EXPECT_EQ(Decoded("GEZD GNBV GY3T QOJQ GEZD GNBV GY3T QOJQ"), Plain);
  EXPECT_EQ(Decoded("gezd-gnbv-gy3t-qojq-gezd-gnbv-gy3t-qojq===="), Plain);
  EXPECT_EQ(Decoded("\r\n GEZDGNBVGY3TQOJQ\xC3\xBC GEZDGNBVGY3TQOJQ 1890 \t"), Plain);
}

TEST(Base32, TooShortOrEmptyGivesNoKey) {
  std::vector<uint8_t> Key{1, 2, 3};
  EXPECT_FALSE(DecodeBase32("", Key));
  EXPECT_TRUE(Key.empty()) << "the key is emptied first";
  Key = {1};
  EXPECT_FALSE(DecodeBase32("A", Key));
  EXPECT_TRUE(Key.empty());
  EXPECT_FALSE(DecodeBase32(" a = 0189 ", Key));
  EXPECT_FALSE(DecodeBase32("====", Key));
  EXPECT_TRUE(DecodeBase32("AB", Key));  // 10 bits: one byte, two bits dropped
  EXPECT_EQ(Key, std::vector<uint8_t>{0x00});
  EXPECT_EQ(Decoded("MZXW6YQ"), Bytes("foob")) << "leftover bits are dropped";
}

TEST(TotpCode, PublishedSha1VectorsHold) {
  KELVO_REQUIRE_FIXTURE(Csv, "totp/rfc6238_appendixB_sha1.csv");
  std::ifstream In(Csv);
  std::string Line;
  ASSERT_TRUE(std::getline(In, Line));
  ASSERT_EQ(Line.rfind("unix_time,", 0), 0u) << "unexpected header: " << Line;
  int Rows = 0;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Line.empty()) continue;
    std::vector<std::string> Fields;
    std::stringstream Parts(Line);
    for (std::string Field; std::getline(Parts, Field, ',');) Fields.push_back(Field);
    ASSERT_EQ(Fields.size(), 11u) << Line;
    if (Fields[4] != "SHA1") continue;
    const int64_t Time = std::stoll(Fields[0]);
    const std::string Expected = Fields[3].substr(Fields[3].size() - 6);
    EXPECT_EQ(GenerateTotpCode(Fields[10], Time), Expected) << "time " << Time;
    ++Rows;
  }
  EXPECT_GE(Rows, 6);
}

TEST(TotpCode, LeadingZerosAndUnusableSecrets) {
  // From the published vectors: values below 100000 keep their zeros.
  EXPECT_EQ(GenerateTotpCode(VectorSecret, 1111111109), "081804");
  EXPECT_EQ(GenerateTotpCode(VectorSecret, 1234567890), "005924");
  EXPECT_EQ(GenerateTotpCode("gezd gnbv gy3t qojq gezd gnbv gy3t qojq", 59), "287082");
  EXPECT_EQ(GenerateTotpCode("", 59), "");
  EXPECT_EQ(GenerateTotpCode("A", 59), "");
  EXPECT_EQ(GenerateTotpCode("0189", 59), "");
}

TEST(TotpCode, StepsAreThirtySecondsAndCountTowardZero) {
  EXPECT_EQ(GenerateTotpCode(VectorSecret, 30), GenerateTotpCode(VectorSecret, 59));
  EXPECT_EQ(GenerateTotpCode(VectorSecret, 59), "287082");
  EXPECT_NE(GenerateTotpCode(VectorSecret, 60), "287082");
  // Before 1970 the step count is cut toward zero: -29 s still belongs to step 0.
  EXPECT_EQ(GenerateTotpCode(VectorSecret, -29), GenerateTotpCode(VectorSecret, 0));
  const std::string Negative = GenerateTotpCode(VectorSecret, -30);
  EXPECT_EQ(Negative.size(), 6u);
  EXPECT_NE(Negative, GenerateTotpCode(VectorSecret, 0));
  EXPECT_EQ(GenerateTotpCode(VectorSecret, 20000000000), "353130") << "times past 2038 need 64 bits";
}

TEST_F(TotpClock, AcceptsTheNeighbouringStepsOfTheWindow) {
  SetTime(1111111111);  // the middle of a step (1111111110 .. 1111111139)
  const std::string Current = GenerateTotpCode(VectorSecret, 1111111111);
  const std::string Previous = GenerateTotpCode(VectorSecret, 1111111111 - 30);
  const std::string Next = GenerateTotpCode(VectorSecret, 1111111111 + 30);
  const std::string TwoBack = GenerateTotpCode(VectorSecret, 1111111111 - 60);
  const std::string TwoAhead = GenerateTotpCode(VectorSecret, 1111111111 + 60);
  EXPECT_EQ(Current, "050471");

  EXPECT_TRUE(VerifyTotpCode(VectorSecret, Current, 0));
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, Previous, 0));
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, Next, 0));

  EXPECT_TRUE(VerifyTotpCode(VectorSecret, Previous, 1));
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, Next, 1));
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, TwoBack, 1));
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, TwoAhead, 1));
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, TwoAhead, 2));

  EXPECT_FALSE(VerifyTotpCode(VectorSecret, Current, -1)) << "a negative window accepts nothing";
  EXPECT_TRUE(VerifyTotpCode("gezd-gnbv-gy3t-qojq-gezd-gnbv-gy3t-qojq", Current, 0));
}

TEST_F(TotpClock, MovingTheClockAcrossStepBoundaries) {
  const std::string StepOne = GenerateTotpCode(VectorSecret, 30);  // seconds 30..59
  SetTime(29);
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, StepOne, 1)) << "the next step is accepted";
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, StepOne, 0));
  SetTime(30);
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, StepOne, 0));
  SetTime(59);
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, StepOne, 0));
  SetTime(89);
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, StepOne, 0));
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, StepOne, 1)) << "the previous step is accepted";
  SetTime(90);
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, StepOne, 1)) << "two steps away";

  // Sub-second parts of the clock do not move the step.
  const auto JustBefore = std::chrono::system_clock::time_point(std::chrono::seconds(60)) -
                          std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::milliseconds(1));
  platform::SetClock([JustBefore] { return JustBefore; });
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, StepOne, 0));
}

TEST_F(TotpClock, CodeIsUtcWhateverTheLocalZone) {
  ScopedTimeZone Zone("Europe/Istanbul");
  SetTime(59);
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, "287082", 0));
  ScopedTimeZone Other("America/New_York");
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, "287082", 0));
}

TEST_F(TotpClock, EnteredCodeIsCleanedOfBlanksOnly) {
  SetTime(1111111109);
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, "081804", 0));
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, "081 804", 0));
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, "  081804 ", 0));
  EXPECT_TRUE(VerifyTotpCode(VectorSecret, "\t0 8 1 8 0 4\r\n", 0)) << "tabs and line ends are trimmed";
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, "081\t804", 0)) << "a tab inside is not a blank";
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, "81804", 0)) << "leading zero missing";
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, "0081804", 0));
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, "081-804", 0));
  EXPECT_FALSE(VerifyTotpCode(VectorSecret, "", 0));
  // Without a usable secret there is no code to match, not even an empty one.
  EXPECT_FALSE(VerifyTotpCode("", "081804", 1));
  EXPECT_FALSE(VerifyTotpCode("A", "      ", 1));
}

}  // namespace
}  // namespace kelvo
