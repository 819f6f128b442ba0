// Restore information files are downloaded from the account's cloud folder: any bytes must give a
// record, false, or the one documented error; a record must survive its own write and read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "catalogue/uRestoreMetadata.h"
#include "core/AsciiJson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  kelvo::TRestoreMetadata Record;
  try {
    if (!kelvo::ParseRestoreMetadata(Text, Record)) return 0;
  } catch (const std::runtime_error&) {
    return 0;
  }
  const std::string Written = kelvo::ToAsciiJson(kelvo::RestoreMetadataToJson(Record));
  for (const char C : Written)
    if (static_cast<unsigned char>(C) >= 0x80) std::abort();
  kelvo::TRestoreMetadata Again;
  if (!kelvo::ParseRestoreMetadata(Written, Again)) std::abort();
  // Saving what was read back gives the same file; every field but the time compares exactly (the
  // time is compared through its written form).
  if (kelvo::ToAsciiJson(kelvo::RestoreMetadataToJson(Again)) != Written) std::abort();
  Again.CreatedAt = Record.CreatedAt;
  if (!(Again == Record)) std::abort();
  return 0;
}
