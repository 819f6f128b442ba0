// A Drive listing reply comes from the network: whatever it holds must read as entries, the end of
// the listing, or the one reply error the client expects, never a crash or another exception.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "drive/uGoogleDrive.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Times are converted to local time; a fixed zone keeps runs comparable.
  setenv("TZ", "<+03>-3", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Body(reinterpret_cast<const char*>(Data), Size);
  std::vector<kelvo::TDriveFileInfo> Files(1);
  std::string Next = "stale";
  try {
    const bool Read = kelvo::ReadDriveListPage(Body, Files, Next);
    if (!Read && (Files.size() != 1 || !Next.empty())) std::abort();
  } catch (const kelvo::EDriveReplyError&) {
    return 0;
  }
  for (const auto& F : Files) {
    if (F.Size < 0 || !std::isfinite(F.ModifiedTime) || !F.RelativePath.empty()) std::abort();
  }
  return 0;
}
