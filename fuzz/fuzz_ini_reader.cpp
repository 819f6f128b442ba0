// config.ini comes from the operator's disk and the backup side: the reader must take any bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/IniFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const auto Lines = kelvo::SplitLines(Text);
  for (const char* Section : {"Google", "MSSQLBackup", "FirebirdBackup", ""})
    for (const char* Key : {"ClientID", "Password", "Port", ""}) (void)kelvo::ReadIniRawValue(Lines, Section, Key);
  return 0;
}
