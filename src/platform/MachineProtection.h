#pragma once
// Machine-scope data protection: what it protects opens on this computer only, never on another.
// AES-256-GCM under a key derived (HKDF-SHA256) from one of two secrets, and the blob's version
// says which:
//  - version 2: the machine key, 32 random bytes in "<machine folder>/machine.key" (owner root,
//    group "kelvo", mode 0640), so only root and the machine group can unprotect;
//  - version 1: the machine identity (/etc/machine-id), which every local user can read. Made only
//    while the machine key cannot be read, and always read.
// On Windows the system does it: CryptProtectData in machine scope (CRYPTPROTECT_LOCAL_MACHINE, no
// extra entropy, no prompt), the description stored in the blob. There is no key file there:
// MachineKeyPath is empty and EnsureMachineKey is true (the system keeps its own key). A replaced
// identity source (tests only) is handed to the system as the extra entropy, so tests play another
// computer there as well.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Errors.h"

namespace kelvo::platform {

// Raised when protection itself fails; what() is the system's error text.
class EProtectionError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

// Encrypts Plain into a self-describing blob that carries the description.
// Uses the machine key when it can be read; else falls back to the machine identity and reports the
// reason to the warning sink, so that a missing key never stops the program.
std::vector<uint8_t> ProtectMachineData(const std::vector<uint8_t>& Plain, const std::string& Description);

// Decrypts a blob made by ProtectMachineData on this machine. False for anything else (foreign
// machine, a version-2 blob without its machine key, tampered or truncated data, not a blob at
// all); Plain and Description are cleared first. Never raises: an unexpected failure (memory, the
// identity source) is reported to the warning sink and gives false.
bool UnprotectMachineData(const std::vector<uint8_t>& Blob, std::vector<uint8_t>& Plain,
                          std::string* Description = nullptr);

// Where the machine identity comes from: /etc/machine-id, else /var/lib/dbus/machine-id.
// Tests replace it to play another computer; an empty function restores the real source. A source
// that returns an empty text has no identity: protecting without the machine key then raises
// EProtectionError, and version-1 blobs do not open.
using MachineIdentitySource = std::function<std::string()>;
void SetMachineIdentitySource(MachineIdentitySource Source);

// Path of the machine key: MachineDataDir() + "/machine.key" (tests move it with $PROGRAMDATA). A
// key that is not a regular file of exactly 32 bytes, belongs to neither root nor this user, or
// that group or others may write is not used: whoever could replace it would choose the key of
// every secret protected after.
std::string MachineKeyPath();

// Makes the machine key when there is none and this process has the rights (root, or a writable
// machine folder and membership of the machine group): 32 random bytes, mode 0640, group "kelvo"
// when that group exists (0600 when the group would be another user group). The key appears
// complete or not at all, and of processes racing to make it one wins and all use its key. True
// when a usable key is there afterwards. Called once at start, before anything is protected.
bool EnsureMachineKey();

// Receives the warnings of the protection (the machine key could not be used); the log installs
// itself here. An empty function drops them.
using ProtectionWarningSink = std::function<void(const std::string& Text)>;
void SetProtectionWarningSink(ProtectionWarningSink Sink);

}  // namespace kelvo::platform
