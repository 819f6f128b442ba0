#pragma once
// Machine-scope data protection: any user of this computer can unprotect what it protects, no other
// computer can. AES-256-GCM under a key derived (HKDF-SHA256) from the machine identity.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelvo::platform {

// Raised when protection itself fails; what() is the system's error text.
class ProtectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encrypts Plain into a self-describing blob that carries the description.
std::vector<uint8_t> ProtectMachineData(const std::vector<uint8_t>& Plain, const std::string& Description);

// Decrypts a blob made by ProtectMachineData on this machine. False for anything else (foreign
// machine, tampered or truncated data, not a blob at all); Plain and Description are cleared first.
bool UnprotectMachineData(const std::vector<uint8_t>& Blob, std::vector<uint8_t>& Plain,
                          std::string* Description = nullptr);

// Where the machine identity comes from: /etc/machine-id, else /var/lib/dbus/machine-id.
// Tests replace it to play another computer; an empty function restores the real source. A source
// that returns an empty text has no identity: protecting then raises ProtectionError and
// unprotecting fails.
using MachineIdentitySource = std::function<std::string()>;
void SetMachineIdentitySource(MachineIdentitySource Source);

}  // namespace kelvo::platform
