#pragma once
// A test's own copy of the program's process-wide state. When made, an IsolatedProcessState puts
// that state at the program's defaults: every cache empty, no test hook set, the HTTP time-outs and
// the retry policy as it found them. When it goes, it does so again and gives back the environment
// variables it set. That state is everything the program keeps for the whole process:
//   platform  program folder, clock, regional settings, machine identity and group name, the
//             protection warning sink (the configuration sets one)
//   core      configuration instance, log, default HTTP time-outs and retry policy
//   account   account list, saved sign-in and service token caches; the saved sign-in's pause
//             between attempts and its file reader
//   drive     Google account pool and link caches, the sink for the Google side's user messages
//   restore   script host, the system folders searched for RAR programs
#include <deque>
#include <string>

#include "core/HttpClient.h"
#include "core/Retry.h"
#include "support/TempDir.h"

namespace kelvo::test {

class IsolatedProcessState {
 public:
  IsolatedProcessState();
  // As above, with the program's folders below Root: it runs from ProgramDir (Root/program, made,
  // where the configuration is read from), its machine folder is below PROGRAMDATA=Root/programdata,
  // the user's below APPDATA=Root/appdata, and its private temporary folder below
  // XDG_RUNTIME_DIR=Root/run (made).
  explicit IsolatedProcessState(const TempDir& Root);
  ~IsolatedProcessState();
  IsolatedProcessState(const IsolatedProcessState&) = delete;
  IsolatedProcessState& operator=(const IsolatedProcessState&) = delete;

  // Name is Value (nullptr: unset) until this object goes.
  void SetEnv(const std::string& Name, const char* Value);
  // Cloud requests give up within seconds and are repeated after milliseconds (Retry-After
  // included), as suits a cloud on this machine.
  void UseShortCloudWaits();
  // Numbers, dates and times as a Turkish Windows writes them ("1,5", "10.03.2025 09:00:00"),
  // whatever this machine's locale.
  void UseTurkishRegionalSettings() const;

  const std::string ProgramDir;  // empty without Root

 private:
  void Reset() const;

  std::deque<ScopedEnv> FEnv;
  const THttpTimeouts FHttpTimeouts = THttpClient::DefaultTimeouts();
  const TRetryPolicy FRetryPolicy = TRetryPolicy::Default();
};

}  // namespace kelvo::test
