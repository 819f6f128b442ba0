// Regional settings on Windows: the user's choices in the system settings, read at each call.
#include "platform/Regional.h"

#include <windows.h>

#include <iomanip>
#include <locale>
#include <sstream>

#include "platform/SystemParts.h"
#include "platform/win32/Wide.h"

namespace kelvo::platform {

namespace {

std::string LocaleInfo(LCTYPE Item) {
  wchar_t Buffer[128];
  const int Len = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, Item, Buffer, static_cast<int>(std::size(Buffer)));
  return Len > 1 ? win32::WideToUtf8(Buffer, static_cast<size_t>(Len - 1)) : std::string();
}

}  // namespace

TRegionalSettings system::RegionalSettings() {
  TRegionalSettings Settings;
  const std::string Decimal = LocaleInfo(LOCALE_SDECIMAL);
  if (Decimal.size() == 1) Settings.DecimalSeparator = Decimal[0];
  const std::string Date = LocaleInfo(LOCALE_SSHORTDATE);
  if (!Date.empty()) Settings.ShortDateFormat = WindowsPictureToFormat(Date);
  const std::string Time = LocaleInfo(LOCALE_STIMEFORMAT);
  if (!Time.empty()) Settings.LongTimeFormat = WindowsPictureToFormat(Time);
  return Settings;
}

bool ParseByPattern(const std::string& Text, const std::string& Pattern, std::tm& Out) {
  std::istringstream In(Text);
  In.imbue(std::locale::classic());
  In >> std::get_time(&Out, Pattern.c_str());
  return !In.fail() && In.peek() == std::char_traits<char>::eof();
}

}  // namespace kelvo::platform
