#pragma once
// Between the portable files beside the headers and the system files in posix/ and win32/: what
// each system answers for the portable part, and what the portable part keeps for both. Nothing
// outside src/platform uses it.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/MachineProtection.h"
#include "platform/Regional.h"

namespace kelvo::platform::system {

// The folder of the running program file, without a trailing separator. Raises EFileError.
std::string ProgramDir();
// The regional settings of the locale, read now.
TRegionalSettings RegionalSettings();
// Whether two paths name the same existing folder, whatever the path that names it (links, case).
bool SameFolder(const std::string& A, const std::string& B);

// Kept by the portable part (MachineProtection.cpp) for both systems:
// the text of EProtectionError when there is no machine identity;
extern const char kNoMachineIdentity[];
// hands a warning to the sink the log installed;
void WarnProtection(const std::string& Text);
// the identity source tests put in place, empty when they did not;
MachineIdentitySource ReplacedMachineIdentity();
// raises EProtectionError for what no blob can hold (a description over 65535 bytes, data over 2 GiB).
void CheckProtectable(const std::vector<uint8_t>& Plain, const std::string& Description);

}  // namespace kelvo::platform::system
