#pragma once
// Hidden child processes: an argument vector (no shell), standard streams on /dev/null, no inherited
// descriptors, an unlimited wait.
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace kelvo::platform {

// Raised when the program cannot be started; what() is the caller's prefix followed by strerror.
class EProcessStartError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

// Runs Program (a path, or a bare name looked up on PATH) with Args (Args[0] is NOT the program name)
// in the current folder and environment, waits for it and returns its exit code; -1 when it was ended
// by a signal. A start failure raises EProcessStartError(ErrorPrefix + strerror(errno)).
int RunHiddenProcess(const std::string& Program, const std::vector<std::string>& Args, const std::string& ErrorPrefix);

// True when Path names a file this user may run as a program.
bool IsRunnableFile(const std::string& Path);

// Passwords and tokens live in this process's memory: no core dump is written of it and other
// processes of the same user cannot attach to read it. Called once at start; false when the system
// refused (the program goes on).
bool KeepSecretsOutOfCoreDumps();

}  // namespace kelvo::platform
