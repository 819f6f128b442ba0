#include "core/Retry.h"

#include <curl/curl.h>

#include <algorithm>
#include <ctime>
#include <random>

#include "core/ProcessDefault.h"
#include "core/TextRules.h"

namespace kelvo {

namespace {

TProcessDefault<TRetryPolicy> GDefault;

}  // namespace

std::chrono::milliseconds TRetryPolicy::DelayFor(int Retry, std::optional<std::chrono::milliseconds> RetryAfter) const {
  if (RetryAfter) return std::clamp(*RetryAfter, std::chrono::milliseconds(0), MaxRetryAfter);
  const int Shift = std::clamp(Retry - 1, 0, 30);
  const int64_t Ceiling = std::min<int64_t>(MaxDelay.count(), FirstDelay.count() << std::min(Shift, 20));
  if (Ceiling <= 0) return std::chrono::milliseconds(0);
  static thread_local std::mt19937_64 Rng{std::random_device{}()};
  return std::chrono::milliseconds(std::uniform_int_distribution<int64_t>(0, Ceiling)(Rng));
}

void TRetryPolicy::Sleep(std::chrono::milliseconds Delay, const TCancelToken& Cancel) const {
  Cancel.ThrowIfCancelled();
  const bool Waited = Wait ? Wait(Delay, Cancel) : Cancel.WaitFor(Delay);
  if (!Waited || Cancel.Cancelled()) throw EOperationCancelled();
}

TRetryPolicy TRetryPolicy::Default() { return GDefault.Get(); }

void TRetryPolicy::SetDefault(const TRetryPolicy& Policy) { GDefault.Set(Policy); }

std::optional<std::chrono::milliseconds> ParseRetryAfter(const std::string& Value) {
  const std::string Text = Trim(Value);
  if (Text.empty()) return std::nullopt;
  if (std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; })) {
    if (Text.size() > 9) return std::chrono::milliseconds(INT64_MAX / 2);
    return std::chrono::seconds(std::stoll(Text));
  }
  const time_t At = curl_getdate(Text.c_str(), nullptr);
  if (At < 0) return std::nullopt;
  const time_t Now = std::time(nullptr);
  return std::chrono::seconds(At > Now ? At - Now : 0);
}

}  // namespace kelvo
