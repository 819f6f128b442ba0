#include <gtest/gtest.h>

#include "core/Base64.h"
#include "core/uSecureString.h"
#include "platform/MachineProtection.h"
#include "support/SystemSkips.h"

using namespace kelvo;

namespace {
// Plays another computer for the life of the object.
struct OtherMachine {
  OtherMachine() {
    platform::SetMachineIdentitySource([] { return std::string("0123456789abcdef0123456789abcdef"); });
  }
  ~OtherMachine() { platform::SetMachineIdentitySource(nullptr); }
};
}  // namespace

TEST(SecureString, RoundTripsUtf8AndRandomises) {
  const std::string Turkish = "\xC5\x9Fifre \xC4\x9E\xC3\xBC\xC3\xA7l\xC3\xBC \xC4\xB0\xC4\xB1";
  const std::string A = ProtectString(Turkish);
  const std::string B = ProtectString(Turkish);
  EXPECT_TRUE(IsProtectedString(A));
  EXPECT_NE(A, B);
  EXPECT_EQ(A.find_first_of("\r\n"), std::string::npos);
  std::string Plain = "stale";
  ASSERT_TRUE(TryUnprotectString(A, Plain));
  EXPECT_EQ(Plain, Turkish);
  UnprotectString(B, Plain);
  EXPECT_EQ(Plain, Turkish);
}

TEST(SecureString, PlainEmptyAndPrefixRules) {
  EXPECT_EQ(ProtectString(""), "");
  std::string Plain = "stale";
  EXPECT_TRUE(TryUnprotectString("", Plain));
  EXPECT_EQ(Plain, "");
  EXPECT_TRUE(TryUnprotectString("  plain text ", Plain));
  EXPECT_EQ(Plain, "  plain text ");
  EXPECT_FALSE(IsProtectedString("DPAPI:abc"));
  EXPECT_TRUE(TryUnprotectString("DPAPI:abc", Plain));
  EXPECT_EQ(Plain, "DPAPI:abc");
  EXPECT_FALSE(TryUnprotectString("dpapi:", Plain));
  EXPECT_EQ(Plain, "");
}

TEST(SecureString, WrappedOrSpacedBase64StillUnprotects) {
  const std::string P = ProtectString("gizli");
  std::string Body = P.substr(6);
  std::string Wrapped = "dpapi:";
  for (size_t I = 0; I < Body.size(); I += 10) Wrapped += Body.substr(I, 10) + (I % 20 ? "\r\n" : " \t");
  std::string Plain;
  ASSERT_TRUE(TryUnprotectString(Wrapped, Plain));
  EXPECT_EQ(Plain, "gizli");
}

TEST(SecureString, DamagedOrForeignValuesFailWithTheFixedMessage) {
  const std::string Good = ProtectString("parola");
  std::string Plain;
  std::string Foreign;
  {
    OtherMachine Other;
    Foreign = ProtectString("parola");
    EXPECT_FALSE(TryUnprotectString(Good, Plain)) << "a value from this computer must not open elsewhere";
  }
  EXPECT_FALSE(TryUnprotectString(Foreign, Plain));
  EXPECT_EQ(Plain, "");
  try {
    UnprotectString(Foreign, Plain);
    FAIL() << "expected an error";
  } catch (const std::exception& E) {
    EXPECT_STREQ(E.what(), "Gizli bilgi okunamadi: Veri gecersiz");
  }
  std::vector<uint8_t> Blob;
  ASSERT_TRUE(Base64Decode(Good.substr(6), Blob));
  for (size_t Cut : {size_t(1), Blob.size() / 2, Blob.size() - 1}) {
    std::vector<uint8_t> Short(Blob.begin(), Blob.begin() + static_cast<std::ptrdiff_t>(Cut));
    EXPECT_FALSE(TryUnprotectString("dpapi:" + Base64Encode(Short), Plain)) << Cut;
  }
  for (const char* Bad : {"dpapi:!!!!", "dpapi:abc", "dpapi:AAAA", "dpapi:====", "dpapi:\xC5\x9F\xC5\x9F"})
    EXPECT_FALSE(TryUnprotectString(Bad, Plain)) << Bad;
  KELVO_SKIP_UNDER_WINE(test::kWineProtectionChecksOnlyTheData);
  for (size_t At : {size_t(0), Blob.size() / 2, Blob.size() - 1}) {
    std::vector<uint8_t> Tampered = Blob;
    Tampered[At] ^= 0x01;
    EXPECT_FALSE(TryUnprotectString("dpapi:" + Base64Encode(Tampered), Plain)) << At;
  }
}
