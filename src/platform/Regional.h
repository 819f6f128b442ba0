#pragma once
// Regional settings of the process locale (setlocale(LC_ALL, "") is done once at program start).
#include <ctime>
#include <string>

namespace kelvo::platform {

struct TRegionalSettings {
  char DecimalSeparator = '.';
  // strftime/strptime patterns; the short date always carries a four-digit year (%Y).
  std::string ShortDateFormat = "%m/%d/%Y";
  std::string LongTimeFormat = "%H:%M:%S";
};

// Read from the current locale at each call (nl_langinfo), unless replaced for tests. On Windows
// from the user's regional settings (GetLocaleInfoEx: LOCALE_SDECIMAL, LOCALE_SSHORTDATE,
// LOCALE_STIMEFORMAT); a decimal separator that is not one ASCII character keeps '.'.
TRegionalSettings GetRegionalSettings();

// A Windows date or time picture ("dd.MM.yyyy", "h:mm:ss tt", "d/M/yyyy", 'quoted' text) as the
// strftime/strptime pattern TRegionalSettings holds. d and dd become %d, M and MM %m, h and hh %I,
// H and HH %H, m and mm %M, s and ss %S (the patterns have no form without a leading zero, and
// strptime reads both); ddd %a, dddd %A, MMM %b, MMMM %B; every run of y %Y (four-digit years
// always); t and tt %p; the era (g, gg) is left out. Quoted text and every other character stay
// literal, a literal % becomes %%. Pure text, on every system.
std::string WindowsPictureToFormat(const std::string& Picture);
// Reads Text by a pattern of TRegionalSettings into the calendar fields of Out; true when the whole of
// Text matched. strptime on POSIX; on Windows, which has none, the C++ library's get_time in the
// classic locale.
bool ParseByPattern(const std::string& Text, const std::string& Pattern, std::tm& Out);
// Tests pin the settings; nullptr returns to the locale.
void SetRegionalSettingsForTests(const TRegionalSettings* Settings);

}  // namespace kelvo::platform
