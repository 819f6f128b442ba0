#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "account/uFirebaseActiveAccount.h"
#include "core/FileIO.h"
#include "core/uAppConfig.h"
#include "platform/Clock.h"
#include "platform/MachineLock.h"
#include "platform/MachineProtection.h"
#include "platform/Paths.h"
#include "support/ChildProcess.h"
#include "support/FileModes.h"
#include "support/ProcessState.h"
#include "support/TempDir.h"

namespace kelvo {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Names the product uses for the file and the lock; other processes of the computer rely on them.
constexpr char FileName[] = "saved_signin.dat";
constexpr char LockName[] = "Kelvo.SavedSignIn";

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point Start) {
  return std::chrono::duration<double>(SteadyClock::now() - Start).count();
}

// The helper program holding the lock; killed if still running at the end.
class LockHolder {
 public:
  LockHolder(const std::string& Name, int HoldMs)
      : FChild(KELVO_ACCOUNT_CHILD, {"hold-lock", Name, std::to_string(HoldMs)}, Piped()) {
    char Ready = 0;
    const bool Held = FChild.ReadByte(Ready, 10000);
    FChild.CloseOutput();
    if (!Held) throw std::runtime_error("the helper did not take the lock");
  }

 private:
  static test::TChildOptions Piped() {
    test::TChildOptions Options;
    Options.PipeOutput = true;
    return Options;
  }

  test::ChildProcess FChild;
};

// A configuration folder, a lock folder and a machine of the test's own; the clock stands still
// unless a test moves it; pauses between file attempts are recorded instead of slept.
class SavedSignIn : public ::testing::Test {
 protected:
  test::TempDir Root;
  test::IsolatedProcessState Process{Root};
  const std::string& ProgramDir = Process.ProgramDir;
  std::chrono::system_clock::time_point ClockNow =
      std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  std::vector<std::chrono::milliseconds> Pauses;
  std::function<void()> OnPause;

  void SetUp() override {
    Process.SetEnv("KELVO_LOCK_DIR", (Root / "locks").c_str());
    platform::SetMachineIdentitySource([] { return std::string("this-computer"); });
    platform::SetClock([this] { return ClockNow; });
    SetSavedSignInSleepForTests([this](std::chrono::milliseconds Duration) {
      Pauses.push_back(Duration);
      if (OnPause) OnPause();
    });
  }

  std::string FilePath() const { return ProgramDir + "/config/" + FileName; }
  void Advance(std::chrono::milliseconds By) { ClockNow += By; }
  // As if the program had been started anew: nothing cached.
  static void Restart() { ResetSavedSignInCacheForTests(); }

  static bool LockIsFree() {
    platform::MachineLock Probe(LockName);
    return Probe.Acquire(0ms);
  }
  static std::string UnprotectedText(const std::string& Path, std::string* Description = nullptr) {
    const std::string Blob = test::ReadBytes(Path);
    std::vector<uint8_t> Plain;
    if (!platform::UnprotectMachineData(std::vector<uint8_t>(Blob.begin(), Blob.end()), Plain, Description))
      return "<not unprotectable>";
    return std::string(Plain.begin(), Plain.end());
  }
  static std::string Protected(const std::string& Text) {
    const auto Blob = platform::ProtectMachineData(std::vector<uint8_t>(Text.begin(), Text.end()), "test");
    return std::string(Blob.begin(), Blob.end());
  }
};

TSavedSignIn Acme() {
  return {"acme", "p@ss \"w\xC3\xB6rd\"",
          "Acme Ltd. \xC5\x9E"
          "irketi"};
}

void ExpectSame(const TSavedSignIn& Got, const TSavedSignIn& Want) {
  EXPECT_EQ(Got.LoginName, Want.LoginName);
  EXPECT_EQ(Got.Password, Want.Password);
  EXPECT_EQ(Got.DisplayName, Want.DisplayName);
}

TEST_F(SavedSignIn, NothingSavedYet) {
  EXPECT_FALSE(HasSavedSignIn());
  TSavedSignIn Got{"x", "y", "z"};
  EXPECT_FALSE(LoadSavedSignIn(Got));
  ExpectSame(Got, {});
  EXPECT_STREQ(NoSavedSignInMessage, "Kayitli oturum bulunamadi.");
}

TEST_F(SavedSignIn, FileIsTheProtectedAsciiRecordAndSurvivesARestart) {
  SaveSavedSignIn(Acme());
  EXPECT_TRUE(HasSavedSignIn());
  std::string Description;
  EXPECT_EQ(UnprotectedText(FilePath(), &Description),
            "{\"Email\":\"acme\",\"Sifre\":\"p@ss \\\"w\\u00F6rd\\\"\",\"Musteri\":\"Acme Ltd. \\u015Eirketi\"}");
  EXPECT_FALSE(Description.empty());
  EXPECT_EQ(test::ReadBytes(FilePath()).find("acme"), std::string::npos) << "nothing readable in the file";

  ASSERT_TRUE(fs::exists(FilePath()));
  if (test::PosixModesApply()) {
    EXPECT_EQ(test::ModeOf(FilePath()), 0600u) << "in a folder of one user's the saved sign-in is that user's";
  }

  Restart();
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());
  EXPECT_TRUE(Pauses.empty());
  EXPECT_TRUE(LockIsFree()) << "the lock is let go after the read";

  // A narrower mode that an administrator gave the file is kept when it is replaced.
  if (test::PosixModesApply()) {
    ASSERT_TRUE(test::SetMode(FilePath(), 0400));
  }
  SaveSavedSignIn({"other", "pw", ""});
  ASSERT_TRUE(fs::exists(FilePath()));
  if (test::PosixModesApply()) {
    EXPECT_EQ(test::ModeOf(FilePath()), 0400u);
  }
  Restart();
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, {"other", "pw", ""});
}

TEST_F(SavedSignIn, InTheMachineFolderItIsSharedWithTheMachineGroup) {
  // No configuration folder beside the program: the machine folder holds it.
  test::WriteBytes(ProgramDir + "/config", "not a folder");
  TAppConfig::ResetInstanceForTests();
  SaveSavedSignIn(Acme());
  const std::string Folder = Root / "programdata/Korvessa";
  ASSERT_TRUE(fs::exists(Folder + "/" + FileName));
  if (test::PosixModesApply()) {
    EXPECT_EQ(test::ModeOf(Folder + "/" + FileName), 0660u);
    EXPECT_EQ(test::ModeOf(Folder), 02770u) << "what is made in it takes the folder's group";
  }
  Restart();
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());
}

TEST_F(SavedSignIn, ServedFromTheCacheForSixtySeconds) {
  SaveSavedSignIn(Acme());
  fs::remove(FilePath());  // a load that reads the file would now find nothing
  TSavedSignIn Got;
  Advance(59999ms);
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());
  Advance(1ms);
  EXPECT_FALSE(LoadSavedSignIn(Got)) << "60 seconds after the save the file is read again";

  // A load fills the cache as well; a clock set back is measured the same way.
  SaveSavedSignIn({"changed", "by another process", ""});
  Restart();
  ASSERT_TRUE(LoadSavedSignIn(Got));
  test::WriteBytes(FilePath(), Protected("{\"Email\":\"newer\",\"Sifre\":\"x\"}"));
  Advance(-59s);
  ASSERT_TRUE(LoadSavedSignIn(Got));
  EXPECT_EQ(Got.LoginName, "changed");
  Advance(-2s);
  ASSERT_TRUE(LoadSavedSignIn(Got));
  EXPECT_EQ(Got.LoginName, "newer");
}

TEST_F(SavedSignIn, CacheAgeIsRealTimeAcrossADaylightSavingChange) {
  if (!fs::exists("/usr/share/zoneinfo/Europe/Berlin")) GTEST_SKIP() << "no time zone data";
  test::ScopedTimeZone Zone("Europe/Berlin");
  // 02:59:50 summer time; an hour later the wall clock reads 02:59:55 again (winter time).
  ClockNow = std::chrono::system_clock::time_point(std::chrono::seconds(1698541190));
  SaveSavedSignIn(Acme());
  test::WriteBytes(FilePath(), Protected("{\"Email\":\"newer\",\"Sifre\":\"x\"}"));
  Advance(3605s);
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got));
  EXPECT_EQ(Got.LoginName, "newer") << "a record an hour old is not served from the cache";
}

TEST_F(SavedSignIn, RecordWithoutPasswordOrLoginIsNoSignIn) {
  SaveSavedSignIn({"acme", "", "Acme"});
  EXPECT_TRUE(HasSavedSignIn());
  TSavedSignIn Got;
  EXPECT_FALSE(LoadSavedSignIn(Got)) << "not even straight after saving it";
  Restart();
  EXPECT_FALSE(LoadSavedSignIn(Got));
  EXPECT_EQ(Got.LoginName, "acme") << "what was read is handed back";
  EXPECT_EQ(Got.DisplayName, "Acme");

  SaveSavedSignIn({"", "pw", ""});
  Restart();
  EXPECT_FALSE(LoadSavedSignIn(Got));
  // Fields are taken as they are, without trimming.
  SaveSavedSignIn({" acme ", " ", ""});
  Restart();
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, {" acme ", " ", ""});
}

TEST_F(SavedSignIn, FileFromAnotherComputerOrDamagedRaises) {
  platform::SetMachineIdentitySource([] { return std::string("another-computer"); });
  SaveSavedSignIn(Acme());
  platform::SetMachineIdentitySource([] { return std::string("this-computer"); });
  Restart();
  EXPECT_TRUE(HasSavedSignIn());
  TSavedSignIn Got;
  try {
    LoadSavedSignIn(Got);
    FAIL() << "expected an exception";
  } catch (const std::exception& E) {
    EXPECT_STREQ(E.what(), "Oturum bilgisi okunamadi: Veri gecersiz");
  }
  EXPECT_TRUE(LockIsFree());

  test::WriteBytes(FilePath(), "{\"Email\":\"acme\",\"Sifre\":\"plain\"}");
  EXPECT_THROW(LoadSavedSignIn(Got), std::runtime_error) << "an unprotected file is not accepted";
  std::string Blob = Protected("{\"Email\":\"acme\",\"Sifre\":\"pw\"}");
  Blob[Blob.size() / 2] ^= 1;
  test::WriteBytes(FilePath(), Blob);
  EXPECT_THROW(LoadSavedSignIn(Got), std::runtime_error);
}

TEST_F(SavedSignIn, ContentThatIsNotARecord) {
  TSavedSignIn Got;
  test::WriteBytes(FilePath(), "");
  EXPECT_FALSE(LoadSavedSignIn(Got)) << "an empty file";
  test::WriteBytes(FilePath(), Protected("Email=acme"));
  EXPECT_FALSE(LoadSavedSignIn(Got)) << "text that is not JSON";
  test::WriteBytes(FilePath(), Protected("{\"Email\":\"acme\",\"Sifre\":"));
  EXPECT_FALSE(LoadSavedSignIn(Got)) << "a cut record";
  for (const char* NotAnObject : {"[\"acme\",\"pw\"]", "\"acme\"", "null", "42"}) {
    test::WriteBytes(FilePath(), Protected(NotAnObject));
    EXPECT_THROW(LoadSavedSignIn(Got), std::runtime_error) << NotAnObject;
  }
  // Missing, null and non-text members read as empty; other members are ignored.
  test::WriteBytes(FilePath(),
                   Protected("{\"Musteri\":null,\"Extra\":{\"Email\":\"x\"},\"Sifre\":\"pw\",\"Email\":\"acme\"}"));
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, {"acme", "pw", ""});
  Restart();
  test::WriteBytes(FilePath(), Protected("{\"Email\":12345,\"Sifre\":\"pw\"}"));
  EXPECT_FALSE(LoadSavedSignIn(Got));
  test::WriteBytes(FilePath(), Protected("{\"email\":\"acme\",\"sifre\":\"pw\"}"));
  EXPECT_FALSE(LoadSavedSignIn(Got)) << "member names are case-sensitive";
  // Escaped and raw UTF-8 text both read back as UTF-8.
  test::WriteBytes(FilePath(), Protected("{\"Email\":\"a\\u00E7\",\"Sifre\":\"\xC3\xA7\"}"));
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, {"a\xC3\xA7", "\xC3\xA7", ""});
}

TEST_F(SavedSignIn, ReadFailingTwiceThenSucceedingWaitsTwoPauses) {
  SaveSavedSignIn(Acme());
  Restart();
  int Calls = 0;
  bool LockedDuringRead = true;
  SetSavedSignInReaderForTests([&](const std::string& Path) {
    LockedDuringRead = LockedDuringRead && !LockIsFree();
    if (++Calls <= 2) throw EFileError("Dosya okunamadi: " + Path + " (Resource temporarily unavailable)");
    return ReadFileBytes(Path);
  });
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());
  EXPECT_EQ(Calls, 3);
  EXPECT_EQ(Pauses, (std::vector<std::chrono::milliseconds>{150ms, 150ms}));
  EXPECT_TRUE(LockedDuringRead) << "every attempt runs under the lock";
  EXPECT_TRUE(LockIsFree());
}

TEST_F(SavedSignIn, ReadFailingTenTimesRaisesTheLastError) {
  SaveSavedSignIn(Acme());
  Restart();
  int Calls = 0;
  SetSavedSignInReaderForTests(
      [&](const std::string&) -> std::string { throw EFileError("attempt " + std::to_string(++Calls)); });
  TSavedSignIn Got;
  try {
    LoadSavedSignIn(Got);
    FAIL() << "expected an exception";
  } catch (const EFileError& E) {
    EXPECT_STREQ(E.what(), "attempt 10");
  }
  EXPECT_EQ(Calls, 10);
  EXPECT_EQ(Pauses, std::vector<std::chrono::milliseconds>(9, 150ms));
  EXPECT_TRUE(LockIsFree()) << "the lock is let go when the read fails";
}

TEST_F(SavedSignIn, WriteRetriesUntilThePathIsFree) {
  // A folder where the file should be cannot be replaced, not even by root.
  fs::create_directories(FilePath());
  bool LockedDuringPause = true;
  OnPause = [&] {
    LockedDuringPause = LockedDuringPause && !LockIsFree();
    if (Pauses.size() == 2) fs::remove(FilePath());
  };
  SaveSavedSignIn(Acme());
  EXPECT_EQ(Pauses, (std::vector<std::chrono::milliseconds>{150ms, 150ms}));
  EXPECT_TRUE(LockedDuringPause);
  EXPECT_TRUE(LockIsFree());
  Restart();
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());
}

TEST_F(SavedSignIn, FailedSaveLeavesFileAndCacheAsTheyWere) {
  SaveSavedSignIn(Acme());
  const std::string Before = test::ReadBytes(FilePath());

  // Protection refused: raised before the file is touched.
  platform::SetMachineIdentitySource([] { return std::string(); });
  try {
    SaveSavedSignIn({"new", "pw", ""});
    FAIL() << "expected an exception";
  } catch (const std::exception& E) {
    EXPECT_STREQ(E.what(), "Oturum bilgisi sifrelenemedi: makine kimligi okunamadi");
  }
  platform::SetMachineIdentitySource([] { return std::string("this-computer"); });
  EXPECT_EQ(test::ReadBytes(FilePath()), Before);
  EXPECT_TRUE(Pauses.empty());
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());

  // Writing impossible in all ten attempts.
  fs::remove(FilePath());
  fs::create_directories(FilePath());
  EXPECT_THROW(SaveSavedSignIn({"new", "pw", ""}), EFileError);
  EXPECT_EQ(Pauses, std::vector<std::chrono::milliseconds>(9, 150ms));
  EXPECT_TRUE(LockIsFree());
  ASSERT_TRUE(LoadSavedSignIn(Got));
  ExpectSame(Got, Acme());
}

TEST_F(SavedSignIn, LockHeldByAnotherProcessDelaysByFiveSecondsOnly) {
  SaveSavedSignIn(Acme());
  Restart();
  LockHolder Holder(LockName, 20000);
  ASSERT_FALSE(LockIsFree());
  const auto Start = SteadyClock::now();
  TSavedSignIn Got;
  ASSERT_TRUE(LoadSavedSignIn(Got)) << "the read goes ahead without the lock";
  const double Elapsed = SecondsSince(Start);
  ExpectSame(Got, Acme());
  EXPECT_GE(Elapsed, 4.5);
  EXPECT_LT(Elapsed, 10.0);
}

}  // namespace
}  // namespace kelvo
