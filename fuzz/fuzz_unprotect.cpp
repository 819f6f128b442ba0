// Protected values come from files that may be damaged or brought from another computer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/uSecureString.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  std::string Plain;
  (void)kelvo::TryUnprotectString(Text, Plain);
  (void)kelvo::TryUnprotectString("dpapi:" + Text, Plain);
  return 0;
}
