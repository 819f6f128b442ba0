#pragma once
// When and how long to wait before repeating a request that failed for a passing reason:
// exponential backoff with full jitter, a server's Retry-After honoured, every wait cut short by a
// cancel.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/CancelToken.h"

namespace kelvo {

struct TRetryPolicy {
  int MaxAttempts = 5;                              // the first try included
  std::chrono::milliseconds FirstDelay{1000};       // upper bound of the first wait
  std::chrono::milliseconds MaxDelay{32000};        // upper bound of any computed wait
  std::chrono::milliseconds MaxRetryAfter{120000};  // a longer Retry-After is cut to this
  // Waits the delay; false when the token was cancelled meanwhile. Empty: the token's own wait.
  // Tests put a quick one here.
  std::function<bool(std::chrono::milliseconds Delay, const TCancelToken& Cancel)> Wait;

  // Wait before repeat number Retry (1 for the first repeat): a random time up to
  // FirstDelay * 2^(Retry-1), capped by MaxDelay; a server's Retry-After instead when it gave one.
  std::chrono::milliseconds DelayFor(int Retry, std::optional<std::chrono::milliseconds> RetryAfter) const;
  // Waits as above; raises EOperationCancelled when the token is cancelled before or during it.
  void Sleep(std::chrono::milliseconds Delay, const TCancelToken& Cancel) const;

  // The policy new clients start with; tests replace it, the product keeps the built-in one.
  static TRetryPolicy Default();
  static void SetDefault(const TRetryPolicy& Policy);
};

// A Retry-After header's value (delay seconds, or an HTTP date) as a wait from now; none when it is
// absent or unreadable.
std::optional<std::chrono::milliseconds> ParseRetryAfter(const std::string& Value);

}  // namespace kelvo
