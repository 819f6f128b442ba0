#include "core/CancelToken.h"

namespace kelvo {

void TCancelToken::Cancel() {
  {
    std::lock_guard Lock(FMutex);
    FCancelled = true;
  }
  FWake.notify_all();
}

void TCancelToken::ThrowIfCancelled() const {
  if (Cancelled()) throw EOperationCancelled();
}

bool TCancelToken::WaitFor(std::chrono::milliseconds Duration) const {
  std::unique_lock Lock(FMutex);
  return !FWake.wait_for(Lock, Duration, [this] { return FCancelled.load(); });
}

}  // namespace kelvo
