#pragma once
// The one way work leaves a window's thread: network calls, child processes and cloud jobs run on
// a thread of their own while the window thread's event loop keeps running, so windows repaint and
// the progress the work reports reaches them (the latest report, a few times a second).
#include <functional>

#include "catalogue/uCloudJobs.h"

namespace kelvo {

// Runs Work on a thread of its own and returns when it has ended, passing on what it raised. What
// Work reports through the handler it is given reaches OnProgress (may be unset) on this thread.
// With AcceptInput false, clicks and keys wait until the work has ended (the window still
// repaints); with it true the caller's own controls must keep a second start out.
void RunOffGuiThread(const std::function<void(const TCloudJobProgressHandler&)>& Work,
                     const std::function<void(const TCloudJobProgress&)>& OnProgress, bool AcceptInput);

// The same for work that reports nothing; no input reaches the windows meanwhile.
void RunOffGuiThread(const std::function<void()>& Work);

}  // namespace kelvo
