#include "support/SystemSkips.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kelvo::test {

bool RunningUnderWine() {
#ifdef _WIN32
  static const bool Wine = [] {
    const HMODULE Ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return Ntdll != nullptr && ::GetProcAddress(Ntdll, "wine_get_version") != nullptr;
  }();
  return Wine;
#else
  return false;
#endif
}

bool RunningOnWindows() {
#ifdef _WIN32
  return true;
#else
  return false;
#endif
}

}  // namespace kelvo::test
