// Hidden child processes on Windows.
#include <windows.h>
// after windows.h
#include <sddl.h>

#include "platform/Process.h"
#include "platform/win32/Wide.h"

// From werapi.h, which the MinGW headers cannot compile on their own; the function is kernel32's.
extern "C" HRESULT WINAPI WerSetFlags(DWORD Flags);
#ifndef WER_FAULT_REPORTING_FLAG_NOHEAP
#define WER_FAULT_REPORTING_FLAG_NOHEAP 1
#endif

namespace kelvo::platform {

bool IsRunnableFile(const std::string& Path) {
  const DWORD Attributes = ::GetFileAttributesW(win32::Utf8ToWide(Path).c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int RunHiddenProcess(const std::string& Program, const std::vector<std::string>& Args, const std::string& ErrorPrefix) {
  // No application name: the system finds Program the way a command line would (the program's own
  // folder, the current folder, the system folders, then PATH; ".exe" is added to a bare name).
  std::wstring CommandLine = win32::Utf8ToWide(WindowsCommandLine(Program, Args));
  STARTUPINFOW Startup{};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Info{};
  if (!::CreateProcessW(nullptr, CommandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &Startup, &Info))
    throw EProcessStartError(ErrorPrefix + win32::LastErrorMessage());
  const win32::THandle Process(Info.hProcess);
  const win32::THandle Thread(Info.hThread);
  DWORD ExitCode = 0;
  if (::WaitForSingleObject(Process.Get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(Process.Get(), &ExitCode))
    return -1;
  return static_cast<int>(ExitCode);
}

bool KeepSecretsOutOfCoreDumps() {
  // Dumps that error reporting makes of this process leave the heap out.
  const bool NoHeapInDumps = SUCCEEDED(::WerSetFlags(WER_FAULT_REPORTING_FLAG_NOHEAP));
  // The user's processes may see, wait for and end this one, nothing more; OWNER RIGHTS (OW) keeps
  // the owner from granting itself more by rewriting the list. SYSTEM keeps everything.
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  bool Closed = false;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;0x00101001;;;OW)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                             &Descriptor, nullptr)) {
    BOOL Present = FALSE;
    BOOL Defaulted = FALSE;
    PACL Dacl = nullptr;
    Closed = ::GetSecurityDescriptorDacl(Descriptor, &Present, &Dacl, &Defaulted) &&
             ::SetKernelObjectSecurity(::GetCurrentProcess(), DACL_SECURITY_INFORMATION, Descriptor);
    ::LocalFree(Descriptor);
  }
  return NoHeapInDumps && Closed;
}

}  // namespace kelvo::platform
