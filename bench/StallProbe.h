#pragma once
// How long the window thread goes without running its event loop, for the window benchmarks.
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace kelvo::bench {

// Gaps between passes of the event loop, seen by a timer that asks to run every 2 ms.
class TStallProbe {
 public:
  TStallProbe() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      const qint64 Now = FClock.nsecsElapsed();
      if (FLast >= 0) Longest = std::max(Longest, (Now - FLast) / 1e6);
      FLast = Now;
    });
  }
  void Start() {
    Longest = 0;
    FLast = -1;
    FClock.start();
    FTimer.start(2);
  }
  void Stop() { FTimer.stop(); }
  double Longest = 0;  // ms

 private:
  QTimer FTimer;
  QElapsedTimer FClock;
  qint64 FLast = -1;
};

}  // namespace kelvo::bench
