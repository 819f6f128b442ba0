#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "PlatformChild.h"
#include "platform/MachineLock.h"
#include "support/FileModes.h"
#include "support/SystemSkips.h"
#include "support/TempDir.h"

namespace kelvo::platform {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::PlatformChildProgram;
using test::ScopedEnv;
using test::TempDir;

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point Start) {
  return std::chrono::duration<double>(SteadyClock::now() - Start).count();
}

class PlatformLock : public ::testing::Test {
 protected:
  // Starts the helper holding the lock Name for HoldMs; returns once it holds it.
  std::unique_ptr<ChildProcess> StartHolder(const std::string& Name, int HoldMs) {
    test::TChildOptions Options;
    Options.PipeOutput = true;
    auto Holder = std::make_unique<ChildProcess>(
        PlatformChildProgram(), std::vector<std::string>{"hold-lock", Name, std::to_string(HoldMs)}, Options);
    char Ready = 0;
    const bool Held = Holder->ReadByte(Ready, 10000);
    Holder->CloseOutput();
    if (!Held) throw std::runtime_error("the helper did not take the lock");
    return Holder;
  }

  TempDir FDir;
  const std::string FLockDir = FDir / "locks";
  ScopedEnv FEnv{"KELVO_LOCK_DIR", FLockDir.c_str()};
};

TEST_F(PlatformLock, CreatesWorldUsableFolderAndFile) {
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  const unsigned OldMask = test::SetUmask(022);  // the usual umask would strip the write bits
  {
    MachineLock Lock("Kelvo.Restore");
    ASSERT_TRUE(Lock.Acquire(0ms));
    EXPECT_EQ(Lock.Path(), FLockDir + "/Kelvo.Restore.lock");
  }
  test::SetUmask(OldMask);
  auto St = test::FileFacts(FLockDir, false);
  ASSERT_TRUE(St.Exists);
  EXPECT_TRUE(St.IsDir);
  EXPECT_EQ(St.Mode, 01777u);
  St = test::FileFacts(FLockDir + "/Kelvo.Restore.lock", false);
  ASSERT_TRUE(St.Exists);
  EXPECT_TRUE(St.IsFile);
  EXPECT_EQ(St.Mode, 0666u);
}

TEST_F(PlatformLock, NameBecomesOneSafeFileName) {
  KELVO_SKIP_ON_WINDOWS("lock files; Windows locks with a named mutex");
  MachineLock Lock("../a b/c:\\d\xC3\xA7");
  EXPECT_EQ(Lock.Path(), FLockDir + "/.._a_b_c__d__.lock");
  ASSERT_TRUE(Lock.Acquire(0ms));
  EXPECT_TRUE(std::filesystem::is_regular_file(Lock.Path()));
  EXPECT_FALSE(std::filesystem::exists(FDir / "a b"));
}

TEST_F(PlatformLock, ExcludesWithinTheProcessAndReleases) {
  MachineLock First("shared");
  MachineLock Second("shared");
  ASSERT_TRUE(First.Acquire(0ms));
  EXPECT_TRUE(First.Held());
  EXPECT_TRUE(First.Acquire(0ms));  // already ours

  const auto Start = SteadyClock::now();
  EXPECT_FALSE(Second.Acquire(300ms));
  EXPECT_GE(SecondsSince(Start), 0.28);
  EXPECT_FALSE(Second.Held());

  First.Release();
  EXPECT_FALSE(First.Held());
  EXPECT_TRUE(Second.Acquire(0ms));
  Second.Release();

  // Destroying the holder releases as well; a waiter gets it while it is still waiting.
  {
    MachineLock Scoped("shared");
    ASSERT_TRUE(Scoped.Acquire(0ms));
    EXPECT_FALSE(First.Acquire(0ms));
  }
  EXPECT_TRUE(First.Acquire(0ms));
}

TEST_F(PlatformLock, HeldByAnotherProcessTimesOut) {
  auto Holder = StartHolder("busy", 6000);
  MachineLock Lock("busy");
  const auto Start = SteadyClock::now();
  EXPECT_FALSE(Lock.Acquire(5000ms));
  const double Elapsed = SecondsSince(Start);
  EXPECT_GE(Elapsed, 4.5);
  EXPECT_LE(Elapsed, 7.0);
  EXPECT_FALSE(Lock.Held());
}

TEST_F(PlatformLock, DeadHolderLetsItGoAtOnce) {
  auto Holder = StartHolder("abandoned", 60000);
  MachineLock Lock("abandoned");
  ASSERT_FALSE(Lock.Acquire(0ms));
  Holder->Kill();
  Holder->Wait();

  const auto Start = SteadyClock::now();
  EXPECT_TRUE(Lock.Acquire(5000ms));
  EXPECT_LT(SecondsSince(Start), 1.0);
}

TEST_F(PlatformLock, WaiterGetsTheLockWhenTheHolderEnds) {
  auto Holder = StartHolder("handover", 700);
  MachineLock Lock("handover");
  const auto Start = SteadyClock::now();
  EXPECT_TRUE(Lock.Acquire(5000ms));
  const double Elapsed = SecondsSince(Start);
  EXPECT_GE(Elapsed, 0.3);
  EXPECT_LT(Elapsed, 3.0);
}

TEST_F(PlatformLock, PlantedSymlinkIsNotFollowed) {
  KELVO_SKIP_WITHOUT_POSIX_MODES();
  // Someone else plants a link under the lock's name, pointing at a private file.
  ASSERT_TRUE(test::MakeFolder(FLockDir, 01777));
  const std::string Target = FDir / "private";
  test::WriteBytes(Target, "mine");
  ASSERT_TRUE(test::SetMode(Target, 0600));
  std::filesystem::create_symlink(Target, FLockDir + "/planted.lock");

  MachineLock Lock("planted");
  EXPECT_FALSE(Lock.Acquire(100ms));
  EXPECT_EQ(test::ModeOf(Target), 0600u);
}

}  // namespace
}  // namespace kelvo::platform
