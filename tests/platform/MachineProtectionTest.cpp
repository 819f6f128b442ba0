#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "PlatformChild.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "platform/SecretFiles.h"
#include "support/FileModes.h"
#include "support/ProcessFacts.h"
#include "support/ProcessState.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using test::ReadBytes;
using test::RunPlatformChild;
using test::ScopedEnv;
using test::TempDir;
using test::WriteBytes;

using Bytes = std::vector<uint8_t>;

constexpr char kNoKeyFileOnWindows[] = "the machine key file; Windows keeps the machine's protection key itself";
namespace fs = std::filesystem;

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
  test::IsolatedProcessState Process;

  void SetUp() override {
    // A group of that name does not exist: the key takes the folder's group, as without the package.
    SetMachineGroupNameForTests("kelvo-test-no-such-group");
    SetProtectionWarningSink([this](const std::string& Text) { FWarnings.push_back(Text); });
  }

  // On a machine without an identity, both this process and the helper play the same one.
  void UseSameIdentityInChildren() {
    if (!SystemMachineId().empty()) return;
    Process.SetEnv("KELVO_TEST_MACHINE_ID", "test-machine-without-identity");
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

  static uint8_t VersionOf(const Bytes& Blob) { return Blob.size() > 4 ? Blob[4] : 0; }

  static std::string RandomKey(size_t Size = 32) {
    std::random_device Random;
    std::string Key(Size, '\0');
    for (char& C : Key) C = static_cast<char>(Random());
    return Key;
  }

  // Puts a key file of the test's choosing in place (Mode where file modes exist).
  static void PlaceKey(const std::string& Bytes, unsigned Mode) {
    fs::remove(MachineKeyPath());
    WriteBytes(MachineKeyPath(), Bytes);
    if (test::PosixModesApply()) {
      ASSERT_TRUE(test::SetMode(MachineKeyPath(), Mode));
    }
  }

  ScopedEnv FEnv{"KELVO_TEST_MACHINE_ID", nullptr};
  // The machine folder and its key live in the test's own folder, never in the real one.
  TempDir FProgramData;
  ScopedEnv FProgramDataEnv{"PROGRAMDATA", FProgramData.path().c_str()};
  std::vector<std::string> FWarnings;
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
  KELVO_SKIP_UNDER_WINE("its data protection refuses empty data, which Windows protects");
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
  EXPECT_THROW(ProtectMachineData(ToBytes("v"), Longest + "d"), EProtectionError);
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
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to start the helper as another user";
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
  KELVO_SKIP_ON_WINDOWS("the machine-id file; Windows binds protection to the machine itself");
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
    FAIL() << "expected EProtectionError";
  } catch (const EProtectionError& E) {
    EXPECT_STREQ(E.what(), "makine kimligi okunamadi");
  }
  ExpectRejected(Blob);
}

TEST_F(PlatformProtection, EveryFlippedBitOrAddedByteFails) {
  KELVO_SKIP_UNDER_WINE(test::kWineProtectionChecksOnlyTheData);
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
  Bytes Longer = Blob;
  Longer.push_back(0);
  ExpectRejected(Longer);
}

TEST_F(PlatformProtection, TruncatedBlobFails) {
  const Bytes Blob = ProtectMachineData(ToBytes("parola123"), "desc");
  for (size_t Size = 0; Size < Blob.size(); ++Size) {
    SCOPED_TRACE("size " + std::to_string(Size));
    ExpectRejected(Bytes(Blob.begin(), Blob.begin() + static_cast<std::ptrdiff_t>(Size)));
  }
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

namespace kelvo::platform {
namespace {

TEST_F(PlatformProtection, MachineKeyProtectsNewBlobsAndOldOnesStillOpen) {
  KELVO_SKIP_ON_WINDOWS(kNoKeyFileOnWindows);
  // No key yet: the machine identity protects, and the operator is told why.
  const Bytes Old = ProtectMachineData(ToBytes("old"), "d");
  EXPECT_EQ(VersionOf(Old), 1);
  ASSERT_EQ(FWarnings.size(), 1u);
  EXPECT_NE(FWarnings[0].find(MachineKeyPath()), std::string::npos) << FWarnings[0];

  ASSERT_TRUE(EnsureMachineKey());
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(MachineKeyPath())));
  EXPECT_EQ(fs::file_size(MachineKeyPath()), 32u);
  if (test::PosixModesApply()) {
    const auto Key = test::FileFacts(MachineKeyPath(), false);
    EXPECT_EQ(Key.Uid, test::EffectiveUserId());
    // Readable by the group only when that group is root's; here no machine group exists.
    EXPECT_EQ(Key.Mode, Key.Gid == 0 ? 0640u : 0600u);
    const auto Dir = test::FileFacts(MachineDataDir());
    ASSERT_TRUE(Dir.Exists);
    EXPECT_EQ(Dir.Mode, 02770u);
  }
  // An existing key is never replaced.
  const std::string Key = ReadBytes(MachineKeyPath());
  EXPECT_TRUE(EnsureMachineKey());
  EXPECT_EQ(ReadBytes(MachineKeyPath()), Key);

  FWarnings.clear();
  const Bytes New = ProtectMachineData(ToBytes("new"), "d");
  EXPECT_EQ(VersionOf(New), 2);
  EXPECT_TRUE(FWarnings.empty());
  Bytes Back;
  ASSERT_TRUE(UnprotectMachineData(Old, Back));
  EXPECT_EQ(ToText(Back), "old");
  ASSERT_TRUE(UnprotectMachineData(New, Back));
  EXPECT_EQ(ToText(Back), "new");

  // The version names the key and is authenticated: a blob cannot be passed off as the other kind.
  Bytes Relabelled = New;
  Relabelled[4] = 1;
  ExpectRejected(Relabelled);
  Relabelled = Old;
  Relabelled[4] = 2;
  ExpectRejected(Relabelled);

  // Version 2 owes nothing to the machine identity, which every local user can read.
  SetMachineIdentitySource([] { return std::string("another-identity"); });
  EXPECT_TRUE(UnprotectMachineData(New, Back));
  ExpectRejected(Old);
  SetMachineIdentitySource({});

  // Without its key, or with another one, a version-2 blob does not open; older blobs still do and
  // new ones fall back to the identity.
  fs::rename(MachineKeyPath(), MachineKeyPath() + ".away");
  ExpectRejected(New);
  EXPECT_TRUE(UnprotectMachineData(Old, Back));
  EXPECT_EQ(VersionOf(ProtectMachineData(ToBytes("x"), "d")), 1);
  EXPECT_FALSE(FWarnings.empty());
  PlaceKey(RandomKey(), 0600);
  ExpectRejected(New);
  fs::rename(MachineKeyPath() + ".away", MachineKeyPath());
  EXPECT_TRUE(UnprotectMachineData(New, Back));
}

TEST_F(PlatformProtection, UnsafeOrMalformedKeyIsNeverUsed) {
  KELVO_SKIP_ON_WINDOWS(kNoKeyFileOnWindows);
  ASSERT_TRUE(EnsureMachineKey());
  const std::string Good = ReadBytes(MachineKeyPath());
  const Bytes Made = ProtectMachineData(ToBytes("v"), "d");
  ASSERT_EQ(VersionOf(Made), 2);

  struct TCase {
    const char* Name;
    std::function<void()> Place;
  };
  const std::string Elsewhere = FProgramData / "good.key";
  const std::vector<TCase> Cases = {
      {"31 bytes", [] { PlaceKey(RandomKey(31), 0600); }},
      {"33 bytes", [&] { PlaceKey(Good + "x", 0600); }},
      {"group may write", [&] { PlaceKey(Good, 0660); }},
      {"others may write", [&] { PlaceKey(Good, 0602); }},
      {"a link to a good key",
       [&] {
         fs::remove(MachineKeyPath());
         WriteBytes(Elsewhere, Good);
         fs::create_symlink(Elsewhere, MachineKeyPath());
       }},
      {"a folder",
       [] {
         fs::remove(MachineKeyPath());
         fs::create_directory(MachineKeyPath());
       }},
      {"another user's",
       [&] {
         PlaceKey(Good, 0600);
         if (test::IsRoot()) {
           ASSERT_TRUE(test::ChangeOwner(MachineKeyPath(), 65534, 0));
         }
       }},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    const std::string Name = Case.Name;
    if (Name == "another user's" && !test::IsRoot()) continue;  // only root can give it away
    if ((Name == "group may write" || Name == "others may write") && !test::PosixModesApply()) continue;
    Case.Place();
    const std::string Before = fs::is_regular_file(MachineKeyPath()) ? ReadBytes(MachineKeyPath()) : "";
    FWarnings.clear();
    EXPECT_FALSE(EnsureMachineKey());
    EXPECT_EQ(VersionOf(ProtectMachineData(ToBytes("v"), "d")), 1);
    EXPECT_FALSE(FWarnings.empty());
    ExpectRejected(Made);
    // What is there is the administrator's to mend, not ours to replace.
    if (!Before.empty()) {
      EXPECT_EQ(ReadBytes(MachineKeyPath()), Before);
    }
    fs::remove(MachineKeyPath());
  }
  PlaceKey(Good, 0600);
  Bytes Back;
  EXPECT_TRUE(UnprotectMachineData(Made, Back));
}

TEST_F(PlatformProtection, ProcessesRacingToMakeTheKeyShareOne) {
  KELVO_SKIP_ON_WINDOWS(kNoKeyFileOnWindows);
  WriteBytes(FProgramData / "plain", "raced");
  std::vector<std::unique_ptr<test::ChildProcess>> Children;
  for (int I = 0; I < 6; ++I)
    Children.push_back(std::make_unique<test::ChildProcess>(
        test::PlatformChildProgram(),
        std::vector<std::string>{"ensure-key", FProgramData / "plain", FProgramData / ("blob" + std::to_string(I))}));
  for (auto& Child : Children) EXPECT_EQ(Child->ExitCode(), 0);
  for (int I = 0; I < 6; ++I) {
    SCOPED_TRACE("child " + std::to_string(I));
    const Bytes Blob = ToBytes(ReadBytes(FProgramData / ("blob" + std::to_string(I))));
    EXPECT_EQ(VersionOf(Blob), 2);
    Bytes Back;
    EXPECT_TRUE(UnprotectMachineData(Blob, Back));
    EXPECT_EQ(ToText(Back), "raced");
  }
  // Nothing but the key is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(MachineDataDir()), {}), 1);
}

// A group of the test's own, removed at the end.
class ScopedGroup {
 public:
  ScopedGroup() : FName("kvt" + std::to_string(test::ProcessId())) {
    for (int Try = 0; Try < 20 && !FMade; ++Try) {
      FMade = std::system(("/usr/sbin/groupadd " + FName + " 2>/dev/null").c_str()) == 0;
      if (!FMade) std::this_thread::sleep_for(std::chrono::milliseconds(100));  // another tool may hold /etc/group
    }
  }
  ~ScopedGroup() {
    if (FMade && std::system(("/usr/sbin/groupdel " + FName + " 2>/dev/null").c_str()) != 0)
      ADD_FAILURE() << "the test group " << FName << " could not be removed";
  }
  ScopedGroup(const ScopedGroup&) = delete;
  ScopedGroup& operator=(const ScopedGroup&) = delete;
  bool Made() const { return FMade; }
  const std::string& Name() const { return FName; }
  unsigned Gid() const { return test::GroupIdByName(FName).value_or(0); }

 private:
  std::string FName;
  bool FMade = false;
};

// A user id no account uses, for a process that is nobody in particular.
unsigned UnusedUid() {
  for (unsigned Uid = 61000 + static_cast<unsigned>(test::ProcessId() % 1000);; ++Uid)
    if (!test::UserIdInUse(Uid)) return Uid;
}

TEST_F(PlatformProtection, MachineGroupReadsTheKeyAndOtherUsersFallBack) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to make a group and start helpers as other users";
  ScopedGroup Group;
  ASSERT_TRUE(Group.Made()) << "groupadd " << Group.Name() << " failed";
  SetMachineGroupNameForTests(Group.Name());
  // The other users must reach the machine folder, as they reach /var/lib.
  fs::permissions(FProgramData.path(), fs::perms(0755));

  ASSERT_TRUE(EnsureMachineKey());
  auto St = test::FileFacts(MachineDataDir());
  ASSERT_TRUE(St.Exists);
  EXPECT_EQ(St.Mode, 02770u);
  EXPECT_EQ(St.Gid, Group.Gid());
  St = test::FileFacts(MachineKeyPath());
  ASSERT_TRUE(St.Exists);
  EXPECT_EQ(St.Mode, 0640u);
  EXPECT_EQ(St.Uid, 0u);
  EXPECT_EQ(St.Gid, Group.Gid());

  const std::string Uid = std::to_string(UnusedUid());
  const std::string Member = Uid + ":" + std::to_string(Group.Gid());
  WriteBytes(FProgramData / "blob", ToText(ProtectMachineData(ToBytes("group secret"), "machine scope")));
  WriteBytes(FProgramData / "plain", "from another user");

  // A member opens what root protected, and protects with the key itself.
  ASSERT_EQ(RunPlatformChild({"unprotect", FProgramData / "blob", FProgramData / "out", FProgramData / "desc", Member}),
            0);
  EXPECT_EQ(ReadBytes(FProgramData / "out"), "group secret");
  ASSERT_EQ(RunPlatformChild({"protect", FProgramData / "plain", "d", FProgramData / "member-blob", Member}), 0);
  EXPECT_EQ(VersionOf(ToBytes(ReadBytes(FProgramData / "member-blob"))), 2);

  // Anyone else cannot, but still protects: with the machine identity.
  EXPECT_EQ(RunPlatformChild({"unprotect", FProgramData / "blob", FProgramData / "out", FProgramData / "desc", Uid}),
            1);
  EXPECT_EQ(ReadBytes(FProgramData / "out"), "");
  ASSERT_EQ(RunPlatformChild({"protect", FProgramData / "plain", "d", FProgramData / "other-blob", Uid}), 0);
  const Bytes Other = ToBytes(ReadBytes(FProgramData / "other-blob"));
  EXPECT_EQ(VersionOf(Other), 1);
  Bytes Back;
  EXPECT_TRUE(UnprotectMachineData(Other, Back));
  EXPECT_EQ(ToText(Back), "from another user");
}

}  // namespace
}  // namespace kelvo::platform
