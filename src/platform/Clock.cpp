#include "platform/Clock.h"

#include <memory>
#include <mutex>

namespace kelvo::platform {

namespace {

std::mutex GClockMutex;
// Shared so that a caller keeps the source it read alive while SetClock replaces it.
std::shared_ptr<const ClockSource> GClock;

}  // namespace

std::chrono::system_clock::time_point Now() {
  std::shared_ptr<const ClockSource> Source;
  {
    std::lock_guard Lock(GClockMutex);
    Source = GClock;
  }
  return Source ? (*Source)() : std::chrono::system_clock::now();
}

void SetClock(ClockSource Source) {
  std::shared_ptr<const ClockSource> Next;
  if (Source) Next = std::make_shared<const ClockSource>(std::move(Source));
  std::lock_guard Lock(GClockMutex);
  GClock.swap(Next);
}

std::tm LocalCalendarTime(std::time_t Secs) {
  std::tm T{};
#ifdef _WIN32
  ::localtime_s(&T, &Secs);
#else
  ::localtime_r(&Secs, &T);
#endif
  return T;
}

}  // namespace kelvo::platform
