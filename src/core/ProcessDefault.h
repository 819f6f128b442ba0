#pragma once
// A process-wide setting that new objects start with and tests may replace (time-outs, retry
// waits), read and written under a lock of its own.
#include <mutex>

namespace kelvo {

template <typename T>
class TProcessDefault {
 public:
  T Get() const {
    std::lock_guard Lock(FMutex);
    return FValue;
  }
  void Set(const T& Value) {
    std::lock_guard Lock(FMutex);
    FValue = Value;
  }

 private:
  mutable std::mutex FMutex;
  T FValue{};
};

}  // namespace kelvo
