#pragma once
// What the window benchmarks share: the program pointed at a local cloud with its folders in a
// scratch folder, a window's controls by name, and how long the window thread goes without running
// its event loop.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Paths.h"
#include "support/ProcessFacts.h"

namespace kelvo::bench {

// The program's cloud services on cloudsim at Port; its machine, user and program folders, and the
// private temporary folder, inside Dir; windows offscreen.
inline void UseLocalCloud(const std::string& Dir, int Port) {
  const std::string Host = "127.0.0.1:" + std::to_string(Port);
  kelvo::test::SetEnv("FIREBASE_AUTH_EMULATOR_HOST", Host.c_str());
  kelvo::test::SetEnv("FIREBASE_DATABASE_EMULATOR_HOST", Host.c_str());
  kelvo::test::SetEnv("PROGRAMDATA", (Dir + "/programdata").c_str());
  kelvo::test::SetEnv("APPDATA", (Dir + "/appdata").c_str());
  kelvo::test::SetEnv("XDG_RUNTIME_DIR", Dir.c_str());
  kelvo::test::SetEnv("QT_QPA_PLATFORM", "offscreen");
  std::filesystem::create_directories(Dir + "/program/config");
  platform::SetProgramDirForTests(Dir + "/program");
}

// The control of Window named Name (the name of the member that holds it, "FUserEdit"); a window
// without one ends the benchmark.
template <typename T>
T* Control(QWidget& Window, const char* Name) {
  T* Found = Window.findChild<T*>(QString::fromUtf8(Name));
  if (!Found) {
    std::fprintf(stderr, "the window has no control %s\n", Name);
    std::exit(1);
  }
  return Found;
}

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
