#include "platform/Regional.h"

#include <langinfo.h>

#include "platform/SystemParts.h"

namespace kelvo::platform {

namespace {

// The program shows and parses years with four digits whatever the locale says; "%%y" is a
// literal percent sign followed by "y" and stays as it is.
std::string WithFourDigitYear(const std::string& Format) {
  std::string Result;
  Result.reserve(Format.size());
  for (size_t I = 0; I < Format.size(); ++I) {
    Result += Format[I];
    if (Format[I] != '%' || I + 1 >= Format.size()) continue;
    const char Next = Format[++I];
    Result += Next == 'y' ? 'Y' : Next;
  }
  return Result;
}

std::string LangInfo(nl_item Item) {
  const char* Value = nl_langinfo(Item);
  return Value ? std::string(Value) : std::string();
}

}  // namespace

TRegionalSettings system::RegionalSettings() {
  TRegionalSettings Settings;
  const std::string Radix = LangInfo(RADIXCHAR);
  if (!Radix.empty()) Settings.DecimalSeparator = Radix[0];
  const std::string Date = LangInfo(D_FMT);
  if (!Date.empty()) Settings.ShortDateFormat = WithFourDigitYear(Date);
  const std::string Time = LangInfo(T_FMT);
  if (!Time.empty()) Settings.LongTimeFormat = Time;
  return Settings;
}

bool ParseByPattern(const std::string& Text, const std::string& Pattern, std::tm& Out) {
  const char* End = ::strptime(Text.c_str(), Pattern.c_str(), &Out);
  return End != nullptr && *End == '\0';
}

}  // namespace kelvo::platform
