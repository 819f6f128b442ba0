#pragma once
// One cancellation flag for a piece of long work: the operator's click sets it on the GUI thread;
// the transfer checks it while bytes flow and a retry wait ends on it at once.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include "platform/Errors.h"

namespace kelvo {

// Raised where work stops because its token was cancelled.
class EOperationCancelled : public EKelvoError {
 public:
  EOperationCancelled() : EKelvoError("Islem iptal edildi.") {}
};

class TCancelToken {
 public:
  void Cancel();
  bool Cancelled() const { return FCancelled.load(std::memory_order_relaxed); }
  // Raises EOperationCancelled when cancelled.
  void ThrowIfCancelled() const;
  // Waits Duration; false, at once, when the token is or becomes cancelled.
  bool WaitFor(std::chrono::milliseconds Duration) const;

 private:
  std::atomic<bool> FCancelled{false};
  mutable std::mutex FMutex;
  mutable std::condition_variable FWake;
};

}  // namespace kelvo
