#pragma once
// Hidden child processes: an argument vector (no shell), standard streams on /dev/null, no inherited
// descriptors, an unlimited wait. On Windows: CreateProcessW without a window (CREATE_NO_WINDOW) and
// without inherited handles, the vector joined into one command line by WindowsCommandLine.
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
// by a signal. A start failure raises EProcessStartError(ErrorPrefix + strerror(errno)); on Windows
// the prefix is followed by the system's message for the error (FormatMessageW), and the exit code is
// what GetExitCodeProcess reports.
int RunHiddenProcess(const std::string& Program, const std::vector<std::string>& Args, const std::string& ErrorPrefix);

// True when Path names a file this user may run as a program. On Windows: an existing file that is
// not a folder (running is decided by the access list and the name's extension, not by a bit).
bool IsRunnableFile(const std::string& Path);

// Passwords and tokens live in this process's memory: no core dump is written of it and other
// processes of the same user cannot attach to read it. Called once at start; false when the system
// refused (the program goes on).
// On Windows: error reporting leaves the heap out of the dump it makes of this process (WerSetFlags
// with WER_FAULT_REPORTING_FLAG_NOHEAP; a dump without heap still has the stacks, but passwords and
// tokens live in strings on the heap), and the process's access list gives the user's other
// processes, the owner included, no right to read or write its memory or to debug it (an "OWNER
// RIGHTS" entry takes away the owner's implied right to change the list back). Administrators with
// the debug privilege are not kept out, as root is not on Linux.
bool KeepSecretsOutOfCoreDumps();

// The Windows command line for Program and Args, quoted so that CommandLineToArgvW and the C
// runtime give back exactly Program and Args: an argument that is empty or holds a space, tab,
// line break or quote is put in quotes, its quotes become \" and the backslashes right before a
// quote or the closing quote are doubled; other arguments stay as they are. Pure text, on every
// system (the tests check it everywhere).
std::string QuoteWindowsArgument(const std::string& Arg);
std::string WindowsCommandLine(const std::string& Program, const std::vector<std::string>& Args);

}  // namespace kelvo::platform
