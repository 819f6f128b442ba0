#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "support/ProcessState.h"

namespace kelvo::platform {
namespace {

using namespace std::chrono_literals;

class PlatformClock : public ::testing::Test {
 protected:
  test::IsolatedProcessState Process;
};

TEST_F(PlatformClock, ReplacedClockIsFollowedAndRestored) {
  auto Fake =
      std::make_shared<std::chrono::system_clock::time_point>(std::chrono::sys_days{std::chrono::year{2024} / 3 / 1});
  SetClock([Fake] { return *Fake; });
  EXPECT_EQ(Now(), *Fake);
  *Fake += 121s;  // tests move time instead of sleeping
  EXPECT_EQ(Now(), *Fake);

  SetClock({});
  const auto Before = std::chrono::system_clock::now();
  const auto Read = Now();
  const auto After = std::chrono::system_clock::now();
  EXPECT_GE(Read, Before);
  EXPECT_LE(Read, After);
}

TEST_F(PlatformClock, SwappingWhileReadingIsSafe) {
  const auto A = std::chrono::system_clock::time_point(1000s);
  const auto B = std::chrono::system_clock::time_point(2000s);
  SetClock([A] { return A; });
  std::atomic<bool> Stop{false};
  std::atomic<int> Unexpected{0};
  std::vector<std::thread> Readers;
  for (int I = 0; I < 4; ++I) {
    Readers.emplace_back([&] {
      while (!Stop) {
        const auto T = Now();
        if (T != A && T != B) ++Unexpected;
      }
    });
  }
  for (int I = 0; I < 2000; ++I) {
    if (I % 2)
      SetClock([A] { return A; });
    else
      SetClock([B] { return B; });
  }
  Stop = true;
  for (auto& T : Readers) T.join();
  EXPECT_EQ(Unexpected, 0);
}

}  // namespace
}  // namespace kelvo::platform
