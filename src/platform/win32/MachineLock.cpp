// The machine-wide lock on Windows: a named mutex in the global namespace, so that every session
// and every user of the computer meets the same one.
#include <windows.h>
// after windows.h
#include <sddl.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/MachineLock.h"
#include "platform/Paths.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// A mutex name may hold any character but the backslash, which would name a namespace.
std::string MutexName(const std::string& Name) {
  std::string Safe = Name.empty() ? std::string("_") : Name;
  const std::string Scope = MachineLockDir();
  if (!Scope.empty()) Safe = Scope + "." + Safe;
  std::replace(Safe.begin(), Safe.end(), '\\', '_');
  return "Global\\" + Safe;
}

// A mutex admits its owning thread again and again, where a lock file admits one descriptor: the
// names held by a MachineLock of this process are kept here, so that a second lock of the same name
// in this process waits as it would for another process, on any thread.
std::mutex GHeldMutex;
std::condition_variable GHeldChanged;
std::set<std::string> GHeld;

bool EnterProcessGate(const std::string& Name, std::chrono::steady_clock::time_point Deadline) {
  std::unique_lock Lock(GHeldMutex);
  if (!GHeldChanged.wait_until(Lock, Deadline, [&] { return GHeld.count(Name) == 0; })) return false;
  GHeld.insert(Name);
  return true;
}

void LeaveProcessGate(const std::string& Name) {
  {
    std::lock_guard Lock(GHeldMutex);
    GHeld.erase(Name);
  }
  GHeldChanged.notify_all();
}

HANDLE AsHandle(intptr_t Handle) { return reinterpret_cast<HANDLE>(Handle); }

// Creates the mutex, or opens it when another user created it. Everybody may wait for it and release
// it (SYNCHRONIZE | MUTEX_MODIFY_STATE for Everyone), nobody may change its access list: without that
// a user who came first could make the mutex one that others cannot open.
intptr_t OpenMutex(const std::string& Name) {
  const std::wstring WideName = win32::Utf8ToWide(Name);
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;0x00100001;;;WD)", SDDL_REVISION_1, &Descriptor,
                                                              nullptr))
    return -1;
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), Descriptor, FALSE};
  HANDLE Mutex = ::CreateMutexExW(&Attributes, WideName.c_str(), 0, kMutexRights);
  ::LocalFree(Descriptor);
  if (!Mutex) Mutex = ::OpenMutexW(kMutexRights, FALSE, WideName.c_str());
  return Mutex ? reinterpret_cast<intptr_t>(Mutex) : -1;
}

}  // namespace

std::string MachineLockDir() { return GetEnv("KELVO_LOCK_DIR"); }

MachineLock::MachineLock(const std::string& Name) : FPath(MutexName(Name)) { FHandle = OpenMutex(FPath); }

MachineLock::~MachineLock() {
  Release();
  if (FHandle != -1) ::CloseHandle(AsHandle(FHandle));
}

bool MachineLock::Acquire(std::chrono::milliseconds Timeout) {
  if (FHeld) return true;
  if (FHandle == -1) FHandle = OpenMutex(FPath);
  if (FHandle == -1) return false;
  const auto Deadline = std::chrono::steady_clock::now() + std::max(Timeout, std::chrono::milliseconds(0));
  if (!EnterProcessGate(FPath, Deadline)) return false;
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
  const auto Millis = std::clamp<std::chrono::milliseconds::rep>(Left.count(), 0, INFINITE - 1);
  const DWORD Result = ::WaitForSingleObject(AsHandle(FHandle), static_cast<DWORD>(Millis));
  // An abandoned mutex: its holder ended without releasing it, and it is ours now.
  FHeld = Result == WAIT_OBJECT_0 || Result == WAIT_ABANDONED;
  if (!FHeld) LeaveProcessGate(FPath);
  return FHeld;
}

void MachineLock::Release() {
  if (!FHeld) return;
  ::ReleaseMutex(AsHandle(FHandle));
  FHeld = false;
  LeaveProcessGate(FPath);
}

}  // namespace kelvo::platform
