#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "ChildProcess.h"
#include "platform/MachineProtection.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using test::ReadBytes;
using test::RunPlatformChild;
using test::ScopedEnv;
using test::TempDir;
using test::WriteBytes;

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& Text) { return Bytes(Text.begin(), Text.end()); }
std::string ToText(const Bytes& Data) { return std::string(Data.begin(), Data.end()); }

// The machine id as the operating system documents it, read here independently of the unit.
std::string SystemMachineId() {
  for (const char* Path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::string Line;
    std::ifstream In(Path);
    std::getline(In, Line);
    while (!Line.empty() && static_cast<unsigned char>(Line.back()) <= 32) Line.pop_back();
    if (!Line.empty()) return Line;
  }
  return {};
}

class PlatformProtection : public ::testing::Test {
 protected:
  void TearDown() override { SetMachineIdentitySource({}); }

  // On a machine without an identity, both this process and the helper play the same one.
  void UseSameIdentityInChildren() {
    if (!SystemMachineId().empty()) return;
    setenv("KELVO_TEST_MACHINE_ID", "test-machine-without-identity", 1);
    SetMachineIdentitySource([] { return std::string("test-machine-without-identity"); });
  }

  static Bytes Sample() {
    Bytes Plain;
    for (int I = 0; I < 300; ++I) Plain.push_back(static_cast<uint8_t>(I * 7));
    return Plain;
  }

  // Unprotect must fail and leave both outputs empty, even when they held something before.
  static void ExpectRejected(const Bytes& Blob) {
    Bytes Plain = ToBytes("previous");
    std::string Description = "previous";
    EXPECT_FALSE(UnprotectMachineData(Blob, Plain, &Description));
    EXPECT_TRUE(Plain.empty());
    EXPECT_TRUE(Description.empty());
  }

  ScopedEnv FEnv{"KELVO_TEST_MACHINE_ID", nullptr};
};

TEST_F(PlatformProtection, RoundTripKeepsDataAndDescription) {
  const Bytes Plain = Sample();
  const std::string Description = "Kay\xC4\xB1tl\xC4\xB1 parola";
  const Bytes Blob = ProtectMachineData(Plain, Description);

  Bytes Back;
  std::string BackDescription;
  ASSERT_TRUE(UnprotectMachineData(Blob, Back, &BackDescription));
  EXPECT_EQ(Back, Plain);
  EXPECT_EQ(BackDescription, Description);

  // The data does not appear in clear, and a fresh nonce makes every blob different.
  EXPECT_EQ(std::search(Blob.begin(), Blob.end(), Plain.begin(), Plain.begin() + 16), Blob.end());
  EXPECT_NE(ProtectMachineData(Plain, Description), Blob);
}

TEST_F(PlatformProtection, EmptyDataAndDescriptionRoundTrip) {
  const Bytes Blob = ProtectMachineData({}, "");
  Bytes Back = ToBytes("x");
  std::string Description = "x";
  ASSERT_TRUE(UnprotectMachineData(Blob, Back, &Description));
  EXPECT_TRUE(Back.empty());
  EXPECT_TRUE(Description.empty());

  // The description is optional for the caller.
  ASSERT_TRUE(UnprotectMachineData(ProtectMachineData(ToBytes("secret"), "d"), Back));
  EXPECT_EQ(ToText(Back), "secret");
}

TEST_F(PlatformProtection, LongestDescriptionFitsAndLongerIsRefused) {
  const std::string Longest(0xFFFF, 'd');
  Bytes Back;
  std::string Description;
  ASSERT_TRUE(UnprotectMachineData(ProtectMachineData(ToBytes("v"), Longest), Back, &Description));
  EXPECT_EQ(Description, Longest);
  EXPECT_THROW(ProtectMachineData(ToBytes("v"), Longest + "d"), ProtectionError);
}

TEST_F(PlatformProtection, AnotherProcessUnprotectsAndProtects) {
  UseSameIdentityInChildren();
  TempDir Dir;
  const Bytes Plain = Sample();

  WriteBytes(Dir / "blob", ToText(ProtectMachineData(Plain, "from the test")));
  ASSERT_EQ(RunPlatformChild({"unprotect", Dir / "blob", Dir / "plain", Dir / "description"}), 0);
  EXPECT_EQ(ReadBytes(Dir / "plain"), ToText(Plain));
  EXPECT_EQ(ReadBytes(Dir / "description"), "from the test");

  WriteBytes(Dir / "input", "made by the child");
  ASSERT_EQ(RunPlatformChild({"protect", Dir / "input", "from the child", Dir / "child-blob"}), 0);
  Bytes Back;
  std::string Description;
  ASSERT_TRUE(UnprotectMachineData(ToBytes(ReadBytes(Dir / "child-blob")), Back, &Description));
  EXPECT_EQ(ToText(Back), "made by the child");
  EXPECT_EQ(Description, "from the child");
}

TEST_F(PlatformProtection, AnotherUserOfThisMachineUnprotects) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to start the helper as another user";
  if (SystemMachineId().empty()) GTEST_SKIP() << "this machine has no machine id";
  TempDir Dir;
  WriteBytes(Dir / "blob", ToText(ProtectMachineData(ToBytes("shared secret"), "machine scope")));
  // 65534 is "nobody": no home, no access to root's files, only the machine id.
  ASSERT_EQ(RunPlatformChild({"unprotect", Dir / "blob", Dir / "plain", Dir / "description", "65534"}), 0);
  EXPECT_EQ(ReadBytes(Dir / "plain"), "shared secret");
  EXPECT_EQ(ReadBytes(Dir / "description"), "machine scope");
}

TEST_F(PlatformProtection, AnotherComputerCannotUnprotect) {
  SetMachineIdentitySource([] { return std::string("0123456789abcdef0123456789abcdef"); });
  const Bytes Foreign = ProtectMachineData(ToBytes("elsewhere"), "d");
  Bytes Back;
  ASSERT_TRUE(UnprotectMachineData(Foreign, Back));  // the same computer can

  SetMachineIdentitySource([] { return std::string("fedcba9876543210fedcba9876543210"); });
  ExpectRejected(Foreign);
  const Bytes Local = ProtectMachineData(ToBytes("here"), "d");

  SetMachineIdentitySource([] { return std::string("0123456789abcdef0123456789abcdef"); });
  ExpectRejected(Local);
}

TEST_F(PlatformProtection, RealSourceIsTheMachineId) {
  const std::string Id = SystemMachineId();
  if (Id.empty()) GTEST_SKIP() << "this machine has no machine id";
  SetMachineIdentitySource([Id] { return Id; });
  const Bytes Blob = ProtectMachineData(ToBytes("v"), "d");
  SetMachineIdentitySource({});
  Bytes Back;
  EXPECT_TRUE(UnprotectMachineData(Blob, Back));
  EXPECT_EQ(ToText(Back), "v");
}

TEST_F(PlatformProtection, MissingIdentityRaisesAndFails) {
  const Bytes Blob = ProtectMachineData(ToBytes("v"), "d");
  SetMachineIdentitySource([] { return std::string(); });
  try {
    ProtectMachineData(ToBytes("v"), "d");
    FAIL() << "expected ProtectionError";
  } catch (const ProtectionError& E) {
    EXPECT_STREQ(E.what(), "makine kimligi okunamadi");
  }
  ExpectRejected(Blob);
}

TEST_F(PlatformProtection, EveryFlippedBitFails) {
  // Short enough to try every byte: magic, version, description length, description, nonce,
  // ciphertext and tag each get their turn.
  const Bytes Blob = ProtectMachineData(ToBytes("parola123"), "desc");
  for (size_t I = 0; I < Blob.size(); ++I) {
    for (uint8_t Bit : {uint8_t{0x01}, uint8_t{0x80}}) {
      Bytes Tampered = Blob;
      Tampered[I] ^= Bit;
      SCOPED_TRACE("byte " + std::to_string(I) + " bit " + std::to_string(Bit));
      ExpectRejected(Tampered);
    }
  }
}

TEST_F(PlatformProtection, TruncatedOrExtendedBlobFails) {
  const Bytes Blob = ProtectMachineData(ToBytes("parola123"), "desc");
  for (size_t Size = 0; Size < Blob.size(); ++Size) {
    SCOPED_TRACE("size " + std::to_string(Size));
    ExpectRejected(Bytes(Blob.begin(), Blob.begin() + static_cast<std::ptrdiff_t>(Size)));
  }
  Bytes Longer = Blob;
  Longer.push_back(0);
  ExpectRejected(Longer);
}

TEST_F(PlatformProtection, MalformedInputFails) {
  ExpectRejected({});
  ExpectRejected(ToBytes("KVP1"));
  // Right magic and version, a description said to be 65535 bytes long in a short blob.
  Bytes Header = {'K', 'V', 'P', '1', 1, 0xFF, 0xFF};
  Header.resize(64, 0);
  ExpectRejected(Header);
  // Right magic and version, room for everything, but zeros instead of a nonce, data and tag.
  Bytes Zeros = {'K', 'V', 'P', '1', 1, 0, 0};
  Zeros.resize(Zeros.size() + 12 + 16 + 8, 0);
  ExpectRejected(Zeros);

  std::mt19937 Random(20240501);
  for (size_t Size : {1, 7, 31, 32, 33, 100, 1000}) {
    Bytes Garbage(Size);
    for (auto& B : Garbage) B = static_cast<uint8_t>(Random());
    SCOPED_TRACE("garbage of " + std::to_string(Size));
    ExpectRejected(Garbage);
    // Garbage behind a valid-looking header as well.
    Garbage.insert(Garbage.begin(), {'K', 'V', 'P', '1', 1, 0, 2, 'a', 'b'});
    ExpectRejected(Garbage);
  }
}

}  // namespace
}  // namespace kelvo::platform
