// A restore script's result file holds whatever the script wrote: the reader must take any bytes and
// either answer or raise its one error.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "restore/RestoreResult.h"
#include "restore/uRestoreEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  nlohmann::ordered_json Result;
  std::string Message;
  try {
    const bool Success =
        kelvo::ReadRestoreResult(std::string_view(reinterpret_cast<const char*>(Data), Size), Result, Message);
    // A failure always carries a message for the user.
    if (!Success && Message.empty()) __builtin_trap();
  } catch (const kelvo::ERestoreScriptError&) {
  }
  return 0;
}
