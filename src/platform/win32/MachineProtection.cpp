// Machine-scope protection on Windows is the system's data protection in machine scope
// (CryptProtectData with CRYPTPROTECT_LOCAL_MACHINE): what it protects opens on this computer only,
// for every user of it. There is no machine key file here, and the identity source only serves
// tests (see ReplacedIdentity); the functions that manage them say what they come to on Windows.
#include <windows.h>
// after windows.h
#include <dpapi.h>

#include "platform/MachineProtection.h"
#include "platform/SystemParts.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

using win32::Utf8ToWide;
using win32::WideToUtf8;

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

// Tests play another computer, or one without an identity, by replacing the identity source (the
// real program never does). Its text is then handed to the system as the optional entropy, so that
// a blob made under one source opens under that source only. False when no source is replaced:
// the real program protects without entropy.
bool ReplacedIdentity(std::string& Identity) {
  const MachineIdentitySource Source = system::ReplacedMachineIdentity();
  if (!Source) return false;
  Identity = Source();
  return true;
}

DATA_BLOB BlobOf(const std::string& Text) {
  return DATA_BLOB{static_cast<DWORD>(Text.size()), reinterpret_cast<BYTE*>(const_cast<char*>(Text.data()))};
}

}  // namespace

std::vector<uint8_t> ProtectMachineData(const std::vector<uint8_t>& Plain, const std::string& Description) {
  system::CheckProtectable(Plain, Description);
  std::string Identity;
  const bool Replaced = ReplacedIdentity(Identity);
  if (Replaced && Identity.empty()) throw EProtectionError(system::kNoMachineIdentity);
  DATA_BLOB Entropy = BlobOf(Identity);
  DATA_BLOB In{static_cast<DWORD>(Plain.size()), const_cast<BYTE*>(Plain.data())};
  DATA_BLOB Out{0, nullptr};
  const std::wstring WideDescription = Utf8ToWide(Description);
  if (!::CryptProtectData(&In, WideDescription.c_str(), Replaced ? &Entropy : nullptr, nullptr, nullptr,
                          CRYPTPROTECT_LOCAL_MACHINE, &Out))
    throw EProtectionError(win32::LastErrorMessage());
  TLocalMemory<BYTE> Free(Out.pbData);
  return std::vector<uint8_t>(Out.pbData, Out.pbData + Out.cbData);
}

bool UnprotectMachineData(const std::vector<uint8_t>& Blob, std::vector<uint8_t>& Plain, std::string* Description) {
  Plain.clear();
  if (Description) Description->clear();
  try {
    std::string Identity;
    const bool Replaced = ReplacedIdentity(Identity);
    if (Replaced && Identity.empty()) return false;
    DATA_BLOB Entropy = BlobOf(Identity);
    DATA_BLOB In{static_cast<DWORD>(Blob.size()), const_cast<BYTE*>(Blob.data())};
    DATA_BLOB Out{0, nullptr};
    wchar_t* WideDescription = nullptr;
    if (!::CryptUnprotectData(&In, &WideDescription, Replaced ? &Entropy : nullptr, nullptr, nullptr,
                              CRYPTPROTECT_LOCAL_MACHINE, &Out))
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
    system::WarnProtection(std::string("Korunan veri acilamadi: ") + E.what());
    return false;
  }
}

// There is no key file on Windows: the system keeps the machine's protection key itself.
std::string MachineKeyPath() { return {}; }

// The system's machine key always exists; nothing to make.
bool EnsureMachineKey() { return true; }

}  // namespace kelvo::platform
