#include "windows/BackgroundWork.h"

#include <QEventLoop>
#include <QTimer>
#include <exception>
#include <mutex>
#include <thread>

namespace kelvo {

namespace {

// How often the latest progress is carried over to the window thread.
constexpr int ProgressTickMs = 40;

}  // namespace

void RunOffGuiThread(const std::function<void(const TCloudJobProgressHandler&)>& Work,
                     const std::function<void(const TCloudJobProgress&)>& OnProgress, bool AcceptInput) {
  // The latest report from the work's thread; Serial changes with every report.
  std::mutex Mutex;
  TCloudJobProgress Latest;
  uint64_t Serial = 0, Shown = 0;
  const TCloudJobProgressHandler Report = [&](const TCloudJobProgress& Progress) {
    std::lock_guard Lock(Mutex);
    Latest = Progress;
    ++Serial;
  };
  auto Carry = [&] {
    TCloudJobProgress Progress;
    {
      std::lock_guard Lock(Mutex);
      if (Serial == Shown) return;
      Shown = Serial;
      Progress = Latest;
    }
    if (OnProgress) OnProgress(Progress);
  };

  QEventLoop Loop;
  QTimer Tick;
  Tick.setInterval(ProgressTickMs);
  QObject::connect(&Tick, &QTimer::timeout, &Loop, Carry);
  std::exception_ptr Raised;
  std::thread Worker([&] {
    try {
      Work(Report);
    } catch (...) {
      Raised = std::current_exception();
    }
    // Queued: the loop below quits once it runs, even when the work was quicker than its start.
    QMetaObject::invokeMethod(
        &Loop, [&Loop] { Loop.quit(); }, Qt::QueuedConnection);
  });
  Tick.start();
  Loop.exec(AcceptInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
  Worker.join();
  Tick.stop();
  Carry();
  if (Raised) std::rethrow_exception(Raised);
}

void RunOffGuiThread(const std::function<void()>& Work) {
  RunOffGuiThread([&](const TCloudJobProgressHandler&) { Work(); }, {}, false);
}

}  // namespace kelvo
