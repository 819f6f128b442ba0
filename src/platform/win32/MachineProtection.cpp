// Machine-scope protection on Windows is the system's data protection in machine scope
// (CryptProtectData with CRYPTPROTECT_LOCAL_MACHINE): what it protects opens on this computer only,
// for every user of it. There is no machine key file and no identity source here; the functions
// that manage them say what they come to on Windows.
#include <windows.h>
// after windows.h
#include <dpapi.h>

#include <mutex>

#include "platform/MachineProtection.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

using win32::Utf8ToWide;
using win32::WideToUtf8;

std::mutex GSinkMutex;
ProtectionWarningSink GWarningSink;

// Frees what the system allocated for an output blob or description.
template <typename T>
class TLocalMemory {
 public:
  explicit TLocalMemory(T* Memory) : FMemory(Memory) {}
  ~TLocalMemory() {
    if (FMemory) ::LocalFree(FMemory);
  }
  TLocalMemory(const TLocalMemory&) = delete;
  TLocalMemory& operator=(const TLocalMemory&) = delete;

 private:
  T* FMemory;
};

void Warn(const std::string& Text) {
  ProtectionWarningSink Sink;
  {
    std::lock_guard Lock(GSinkMutex);
    Sink = GWarningSink;
  }
  if (Sink) Sink(Text);
}

}  // namespace

std::vector<uint8_t> ProtectMachineData(const std::vector<uint8_t>& Plain, const std::string& Description) {
  DATA_BLOB In{static_cast<DWORD>(Plain.size()), const_cast<BYTE*>(Plain.data())};
  DATA_BLOB Out{0, nullptr};
  const std::wstring WideDescription = Utf8ToWide(Description);
  if (!::CryptProtectData(&In, WideDescription.c_str(), nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &Out))
    throw EProtectionError(win32::LastErrorMessage());
  TLocalMemory<BYTE> Free(Out.pbData);
  return std::vector<uint8_t>(Out.pbData, Out.pbData + Out.cbData);
}

bool UnprotectMachineData(const std::vector<uint8_t>& Blob, std::vector<uint8_t>& Plain, std::string* Description) {
  Plain.clear();
  if (Description) Description->clear();
  try {
    DATA_BLOB In{static_cast<DWORD>(Blob.size()), const_cast<BYTE*>(Blob.data())};
    DATA_BLOB Out{0, nullptr};
    wchar_t* WideDescription = nullptr;
    if (!::CryptUnprotectData(&In, &WideDescription, nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &Out))
      return false;
    TLocalMemory<BYTE> FreeData(Out.pbData);
    TLocalMemory<wchar_t> FreeDescription(WideDescription);
    Plain.assign(Out.pbData, Out.pbData + Out.cbData);
    ::SecureZeroMemory(Out.pbData, Out.cbData);
    if (Description && WideDescription) *Description = WideToUtf8(WideDescription, ::wcslen(WideDescription));
    return true;
  } catch (const std::exception& E) {
    Plain.clear();
    if (Description) Description->clear();
    Warn(E.what());
    return false;
  }
}

// The system protects in machine scope without a machine identity of ours: the source has no effect.
void SetMachineIdentitySource(MachineIdentitySource) {}

// There is no key file on Windows: the system keeps the machine's protection key itself.
std::string MachineKeyPath() { return {}; }

// The system's machine key always exists; nothing to make.
bool EnsureMachineKey() { return true; }

void SetProtectionWarningSink(ProtectionWarningSink Sink) {
  std::lock_guard Lock(GSinkMutex);
  GWarningSink = std::move(Sink);
}

}  // namespace kelvo::platform
