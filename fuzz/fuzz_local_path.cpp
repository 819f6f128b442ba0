// Drive names decide where downloaded and restored files land: whatever the bytes, an accepted path
// stays below the chosen folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "catalogue/uLocalPathCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Relative(reinterpret_cast<const char*>(Data), Size);
  const std::string Base = "/srv/hedef";
  std::string Path, Message;
  if (kelvo::BuildSafeLocalPath(Base, Relative, Path, Message)) {
    if (Path.compare(0, Base.size() + 1, Base + "/") != 0) std::abort();
    if (Path.find("/../") != std::string::npos || Path.find("/./") != std::string::npos) std::abort();
    if (Path.size() >= 3 && Path.compare(Path.size() - 3, 3, "/..") == 0) std::abort();
    if (Path.find('\0') != std::string::npos) std::abort();
  } else if (!Path.empty() || Message.empty()) {
    std::abort();
  }
  return 0;
}
