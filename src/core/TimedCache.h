#pragma once
// A value kept for a short while: served while less than its lifetime has passed on the program
// clock, either way (a clock set back does not keep it alive for ever). Safe to use from the GUI
// thread and the workers at once.
#include <chrono>
#include <mutex>
#include <optional>

#include "platform/Clock.h"

namespace kelvo {

// How long a list read from the cloud database (the account tree, the Google token pool and its
// links) is served before the database is asked again. One value, so the lists never disagree on
// how old they may be.
inline constexpr std::chrono::seconds DatabaseListLifetime{120};

template <typename T>
class TTimedCache {
 public:
  explicit TTimedCache(std::chrono::seconds Lifetime) : FLifetime(Lifetime) {}

  // The value while it is fresh, else nothing.
  std::optional<T> Get() const {
    std::lock_guard Lock(FMutex);
    if (!FValue) return std::nullopt;
    const auto Age = platform::Now() - FStoredAt;
    if (Age >= FLifetime || Age <= -FLifetime) return std::nullopt;
    return FValue;
  }
  void Store(T Value) {
    std::lock_guard Lock(FMutex);
    FValue = std::move(Value);
    FStoredAt = platform::Now();
  }
  void Clear() {
    std::lock_guard Lock(FMutex);
    FValue.reset();
  }

 private:
  const std::chrono::seconds FLifetime;
  mutable std::mutex FMutex;
  std::optional<T> FValue;
  std::chrono::system_clock::time_point FStoredAt{};
};

}  // namespace kelvo
